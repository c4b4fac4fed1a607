// The option scan on arbitrary argument vectors, one argument per input field (the first being
// the program). Besides what the sanitizers catch, the options must be explainable by the
// arguments: a flag needs its option word, matched with ASCII-only case folding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "tests/fuzz/fuzz_input.h"

namespace sp::fuzz {
namespace {

bool FoldsTo(const std::u16string& argument, const std::u16string& word) {
    if (argument.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char16_t c = argument[i];
        if (c >= u'A' && c <= u'Z') c += u'a' - u'A';
        if (c != word[i]) return false;
    }
    return true;
}

bool AnyFoldsTo(const std::vector<std::u16string>& arguments, const std::u16string& word) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (FoldsTo(arguments[i], word)) return true;
    }
    return false;
}

// Whether `path` is an argument that directly follows an "/e".
bool FollowsAnExtractOption(const std::vector<std::u16string>& arguments,
                            const std::u16string& path) {
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        if (arguments[i] == path && FoldsTo(arguments[i - 1], u"/e")) return true;
    }
    return false;
}

void CheckExplained(const std::vector<std::u16string>& arguments, const LaunchOptions& options) {
    const bool anyModeWord = AnyFoldsTo(arguments, u"/e") || AnyFoldsTo(arguments, u"/i") ||
                             AnyFoldsTo(arguments, u"/pi");
    Require(options.install != anyModeWord, "install mode exactly when no mode word is given");
    Require(!options.quiet || AnyFoldsTo(arguments, u"/q"), "quiet only from /q");
    Require(!options.extract || AnyFoldsTo(arguments, u"/e"), "extraction only from /e");
    Require(!options.info || AnyFoldsTo(arguments, u"/i"), "information only from /i");
    Require(options.extractPath.empty() ||
                (options.extract && FollowsAnExtractOption(arguments, options.extractPath)),
            "an extract path is the argument after an /e");
}

bool SameOptions(const LaunchOptions& a, const LaunchOptions& b) {
    return a.quiet == b.quiet && a.install == b.install && a.extract == b.extract &&
           a.info == b.info && a.extractPath == b.extractPath;
}

}  // namespace
}  // namespace sp::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sp::fuzz;
    std::vector<std::u16string> arguments = DecodeFields(data, size);
    sp::LaunchOptions options;
    sp::ScanArguments(arguments, options);
    CheckExplained(arguments, options);

    // Argument 0 is the program, whatever it says.
    arguments[0] = u"/i";
    sp::LaunchOptions again;
    sp::ScanArguments(arguments, again);
    Require(SameOptions(options, again), "argument 0 is never an option");
    return 0;
}

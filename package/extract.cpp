#include "package/extract.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "launcher/process_state.h"
#include "platform/platform.h"

namespace sp {
namespace {

constexpr std::uint32_t kTempPathCapacity = 1024;

// Lives as long as the process: a later extraction goes on counting where the previous stopped.
std::uint32_t nextTemporaryNumber = 1;

// TMP as Windows resolves a name: spaces and dots at its end dropped, a relative or
// drive-relative value made absolute. Used as typed, "C:\Deploy\Temp " would pass the existence
// test, which resolves it, while "C:\Deploy\Temp \MSP1" names nothing. Nullopt when TMP is
// unset, empty or cannot be resolved within the buffer.
std::optional<std::u16string> ResolvedTmp(FileSystem& files) {
    auto tmp = files.GetEnvironmentVariable(u"TMP");
    if (!tmp || tmp->empty()) return std::nullopt;
    std::array<char16_t, kTempPathCapacity> buffer{};
    const std::uint32_t length =
        files.GetFullPathName(tmp->c_str(), kTempPathCapacity, buffer.data());
    if (length == 0 || length >= kTempPathCapacity) return std::nullopt;
    return std::u16string(buffer.data(), length);
}

// Only "not found" sends the rule on to the next folder. A folder whose test fails otherwise
// (access refused, a volume error) is still the folder that was asked for, and a failure to
// write there is reported as what it is, not hidden by a package in some other folder.
bool IsThere(FileSystem& files, const std::u16string& folder) {
    return files.Probe(folder) != PathState::Missing;
}

// The folder temporary names go in: TMP when it names something that is there, else the
// system's temporary directory if it is there, else the root of the current drive, else the
// current directory.
std::u16string TemporaryDirectory(FileSystem& files, const std::u16string& systemTemp) {
    if (auto tmp = ResolvedTmp(files); tmp && IsThere(files, *tmp)) return *tmp;
    if (!systemTemp.empty() && IsThere(files, systemTemp)) return systemTemp;
    if (IsThere(files, u"\\")) return u"\\";
    return u".";
}

// The next candidate in `directory` that nothing occupies; a name whose test is refused
// counts as occupied. Nullopt once the counter is used up.
std::optional<std::u16string> NextTemporaryName(FileSystem& files,
                                                const std::u16string& directory) {
    std::u16string prefix = directory;
    if (prefix.empty() || (prefix.back() != u'\\' && prefix.back() != u'/')) prefix += u'\\';
    prefix += u"MSP";
    while (nextTemporaryNumber <= kTemporaryNameLimit) {
        std::u16string candidate = prefix;
        for (char c : std::to_string(nextTemporaryNumber++)) candidate += static_cast<char16_t>(c);
        // A test that fails for another reason leaves the exclusive creation to tell.
        const PathState state = files.Probe(candidate);
        if (state == PathState::Missing || state == PathState::Failed) return candidate;
    }
    // Every name is taken: that, not whatever the last test left, is why nothing was written.
    CurrentPlatform().thread->SetLastError(kErrorFileExists);
    return std::nullopt;
}

}  // namespace

void SetTemporaryNameCounter(std::uint32_t next) { nextTemporaryNumber = next; }

bool ExtractPatchPackage(std::u16string& path) {
    Platform& platform = CurrentPlatform();
    FileSystem& files = *platform.files;

    std::u16string directory;
    const bool generated = path.empty();
    if (generated) {
        std::array<char16_t, kTempPathCapacity> buffer{};
        const std::uint32_t length = files.GetTempPath(kTempPathCapacity, buffer.data());
        if (length == 0 || length > kTempPathCapacity) return false;
        // Up to the terminator, and never past the buffer.
        const std::u16string systemTemp(buffer.begin(),
                                        std::find(buffer.begin(), buffer.end(), u'\0'));
        // SYSTEM's package goes where its logs go, to the folder only SYSTEM and administrators
        // can write: in the folder TMP names for it (C:\Windows\Temp) any user could take every
        // name beforehand, or reach the file.
        directory = files.TempPathIsSystems() && IsThere(files, systemTemp)
                        ? systemTemp
                        : TemporaryDirectory(files, systemTemp);
        auto name = NextTemporaryName(files, directory);
        if (!name) return false;
        path = *name;
    }

    auto resource = platform.resources->LockResource(ModuleInstance, u"MSP", u"IDR_MSP");
    if (!resource || resource->size == 0 || resource->data == nullptr) return false;

    std::unique_ptr<OutputFile> file;
    if (generated) {
        // A generated name is created only where nothing exists yet: something that took the
        // name since it was tested (a planted file or link) is never written through; the
        // next number is tried instead.
        for (;;) {
            bool taken = false;
            // An elevated run's package is for the installer alone: the user's own unelevated
            // processes must not be able to open it for writing, not even before it is held.
            file = files.CreateExclusively(path, taken, files.RunsPrivileged());
            if (file || !taken) break;
            auto name = NextTemporaryName(files, directory);
            if (!name) return false;
            path = *name;
        }
    } else {
        file = files.OpenForWriting(path);
    }
    if (!file) return false;

    // Straight from the loaded image in one write; the package is never copied.
    if (file->Write(resource->data, resource->size) < resource->size) return false;
    return true;
}

}  // namespace sp

#include "launcher/launcher.h"

#include <cstddef>
#include <string_view>

#include "package/extract.h"
#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "targeting/install.h"
#include "ui/info.h"

namespace sp {
namespace {

// Session 0 holds the services and nobody's desktop, whatever its window station reports: a
// service allowed to interact, or a tool that starts programs on that session's default
// desktop, makes its WinSta0 look visible while no user can ever see it.
bool UserCanSeeBoxes(MessageBoxes& boxes) {
    if (boxes.SessionId() == 0u) return false;
    return boxes.StationIsVisible();
}

}  // namespace

LaunchModes LaunchModes::Real() {
    return LaunchModes{&InstallPatch, &ExtractPatchPackage, &ShowPatchInfo};
}

void ScanArguments(const std::vector<std::u16string>& arguments, LaunchOptions& options) {
    const std::size_t count = arguments.size();
    for (std::size_t i = 1; i < count; ++i) {
        const std::u16string& argument = arguments[i];
        if (EqualsIgnoringAsciiCase(argument, u"/q")) {
            options.quiet = true;
        } else if (EqualsIgnoringAsciiCase(argument, u"/e")) {
            // The flags change before the path is copied, so a copy that runs out of memory
            // still leaves extract mode selected.
            options.extract = true;
            options.install = false;
            if (i + 1 < count) {
                ++i;
                options.extractPath = arguments[i];
            }
        } else if (EqualsIgnoringAsciiCase(argument, u"/i")) {
            options.install = false;
            options.info = true;
            return;
        } else if (EqualsIgnoringAsciiCase(argument, u"/pi")) {
            options.install = false;
            options.info = false;
            return;
        }
    }
}

void ApplyArguments(CommandLine& commandLine, LaunchOptions& options, ArgumentScanner scan) {
    options.quiet = false;
    options.extract = false;
    options.extractPath.clear();
    options.install = true;
    // The info flag starts false with the process and is left as it is.
    std::vector<std::u16string> arguments;
    bool split = true;
    try {
        split = commandLine.Arguments(arguments);
    } catch (...) {
        // Out of memory while copying: the arguments copied before are scanned all the same.
    }
    if (!split) return;
    try {
        scan(arguments, options);
    } catch (...) {
        // The scan stops at the failing argument; what it set so far stays.
    }
}

void ParseCommandLine() { ApplyArguments(*CurrentPlatform().commandLine, Options); }

void RunSelectedModes(LaunchOptions& options, const LaunchModes& modes) {
    if (options.install) {
        modes.install();
        return;
    }
    if (options.extract) modes.extract(options.extractPath);
    if (options.info) modes.info();
}

std::int32_t LauncherMain(ModuleHandle instance) {
    ModuleInstance = instance;
    BoxesAreSeen = UserCanSeeBoxes(*CurrentPlatform().boxes);
    ParseCommandLine();
    RunSelectedModes(Options, LaunchModes::Real());
    Targets.clear();
    return 0;
}

}  // namespace sp

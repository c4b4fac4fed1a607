#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/process_state.h"
#include "platform/platform.h"
#include "platform/types.h"

namespace sp {

// The program's entry: stores the module handle, scans the options, runs the chosen mode(s),
// empties the target list. Always answers 0.
std::int32_t LauncherMain(ModuleHandle instance);

// Fills Options from the process command line.
void ParseCommandLine();

// The option scan itself, a pure function of the argument vector (argument 0 is skipped).
// May throw (out of memory while copying the extract path); ParseCommandLine catches that.
void ScanArguments(const std::vector<std::u16string>& arguments, LaunchOptions& options);

// What ParseCommandLine does with the platform's command line: resets every option but the info
// flag, copies the arguments and scans them with `scan`. Whatever the copy or the scan throws is
// swallowed: a failed copy scans the arguments copied before it, a failed scan keeps the options
// it set. A line that cannot be split scans nothing.
using ArgumentScanner = void (*)(const std::vector<std::u16string>&, LaunchOptions&);
void ApplyArguments(CommandLine& commandLine, LaunchOptions& options,
                    ArgumentScanner scan = &ScanArguments);

// The three modes the launcher dispatches to. The defaults are the real ones; tests put
// recorders in their place.
struct LaunchModes {
    std::function<bool()> install;
    std::function<bool(std::u16string&)> extract;
    std::function<void()> info;
    static LaunchModes Real();
};

// Install mode alone when its flag is set; otherwise extraction (to the extract path itself,
// which may receive a temporary name) and then the information box, each if selected.
void RunSelectedModes(LaunchOptions& options, const LaunchModes& modes);

}  // namespace sp

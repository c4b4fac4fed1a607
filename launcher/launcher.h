#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/process_state.h"
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

// What ParseCommandLine does once it has the split command line: resets every option but the
// info flag, scans with `scan`, and swallows whatever the scan throws so that the options set
// before the failing argument stay in effect. No vector (the line could not be split) scans
// nothing.
using ArgumentScanner = void (*)(const std::vector<std::u16string>&, LaunchOptions&);
void ApplyArguments(const std::optional<std::vector<std::u16string>>& arguments,
                    LaunchOptions& options, ArgumentScanner scan = &ScanArguments);

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

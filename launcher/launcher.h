#pragma once

#include <cstdint>
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

}  // namespace sp

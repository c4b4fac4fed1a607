// Process-wide state. All of it lives in one translation unit so that it is created in a fixed
// order (targets, product name, options) and destroyed in the reverse order.
#pragma once

#include <string>

#include "platform/types.h"
#include "targeting/patch_target.h"

namespace sp {

struct LaunchOptions {
    bool quiet = false;
    bool install = true;
    bool extract = false;
    bool info = false;
    std::u16string extractPath;
};

// Written once, first thing in LauncherMain; read to find the package and the string tables.
extern ModuleHandle ModuleInstance;
extern TargetList Targets;
extern std::u16string CurrentProductName;
extern LaunchOptions Options;
// Decided once at start-up: false where no user can see a box this process shows. Result
// boxes are then silenced as in a quiet run, and the running-application prompt, which nobody
// could answer, counts as cancelled.
extern bool BoxesAreSeen;

}  // namespace sp

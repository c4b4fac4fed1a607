#include "launcher/launcher.h"

namespace sp {

std::int32_t LauncherMain(ModuleHandle instance) {
    ModuleInstance = instance;
    return 0;
}

void ParseCommandLine() {}

void ScanArguments(const std::vector<std::u16string>&, LaunchOptions&) {}

}  // namespace sp

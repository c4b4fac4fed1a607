#include "launcher/process_state.h"

namespace sp {

// Definition order is construction order; destruction runs the other way.
ModuleHandle ModuleInstance = nullptr;
TargetList Targets;
std::u16string CurrentProductName;
LaunchOptions Options;

}  // namespace sp

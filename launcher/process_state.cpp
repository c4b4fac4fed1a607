#include "launcher/process_state.h"

namespace sp {

// Definition order is construction order; destruction runs the other way.
ModuleHandle ModuleInstance = nullptr;
TargetList Targets;
std::u16string CurrentProductName;
LaunchOptions Options;
// A plain value, set before anything reads it; true until start-up says otherwise.
bool BoxesAreSeen = true;

}  // namespace sp

#include "targeting/install.h"

namespace sp {

// The installation run is not built yet; the launcher already dispatches to it.
bool InstallPatch() { return false; }

}  // namespace sp

// Whether the process's windows can reach a user at all.
#pragma once

namespace sp::win32 {

// False when the process's window station is not visible: a service's station (session 0 on
// current Windows) or any other station nobody is shown. True when the question cannot be
// answered. Leaves the last-error value as it was.
bool ProcessWindowStationIsVisible();

}  // namespace sp::win32

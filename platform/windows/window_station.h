// Whether the process's windows can reach a user at all.
#pragma once

#include <cstdint>
#include <optional>

namespace sp::win32 {

// False when the process's window station is not visible: a service's station (session 0 on
// current Windows) or any other station nobody is shown. True when the question cannot be
// answered. Leaves the last-error value as it was.
bool ProcessWindowStationIsVisible();

// The session the process runs in; nullopt when the system cannot tell. Leaves the last-error
// value as it was.
std::optional<std::uint32_t> ProcessSessionId();

}  // namespace sp::win32

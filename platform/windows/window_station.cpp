#include "platform/windows/window_station.h"

#include "platform/windows/windows_api.h"

namespace sp::win32 {

bool ProcessWindowStationIsVisible() {
    // Asked at start-up, before anything whose failure a report shows; a failed query must not
    // become that report's error code.
    const DWORD error = ::GetLastError();
    bool visible = true;
    if (HWINSTA station = ::GetProcessWindowStation()) {
        USEROBJECTFLAGS flags{};
        DWORD needed = 0;
        if (::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) {
            visible = (flags.dwFlags & WSF_VISIBLE) != 0;
        }
    }
    ::SetLastError(error);
    return visible;
}

std::optional<std::uint32_t> ProcessSessionId() {
    const DWORD error = ::GetLastError();
    DWORD session = 0;
    const bool known = ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) != 0;
    ::SetLastError(error);
    if (!known) return std::nullopt;
    return session;
}

}  // namespace sp::win32

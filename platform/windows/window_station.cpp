#include "platform/windows/window_station.h"

#include "platform/windows/system_function.h"
#include "platform/windows/windows_api.h"

namespace sp::win32 {
namespace {

using GetProcessWindowStationFn = HWINSTA(WINAPI*)();
using GetUserObjectInformationFn = BOOL(WINAPI*)(HANDLE, int, PVOID, DWORD, LPDWORD);

}  // namespace

bool ProcessWindowStationIsVisible() {
    // Asked at start-up, before anything whose failure a report shows; a failed query must not
    // become that report's error code.
    const DWORD error = ::GetLastError();
    bool visible = true;
    const auto getStation =
        SystemFunction<GetProcessWindowStationFn>(L"user32.dll", "GetProcessWindowStation");
    const auto getInformation =
        SystemFunction<GetUserObjectInformationFn>(L"user32.dll", "GetUserObjectInformationW");
    HWINSTA station = getStation != nullptr && getInformation != nullptr ? getStation() : nullptr;
    if (station != nullptr) {
        USEROBJECTFLAGS flags{};
        DWORD needed = 0;
        if (getInformation(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) {
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

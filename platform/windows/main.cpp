// The executable's entry: restrict where libraries come from, plug in the Win32 providers and
// hand over to the launcher.
#include "launcher/launcher.h"
#include "platform/windows/win32_platform.h"
#include "platform/windows/windows_api.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    sp::win32::RestrictLibrarySearch();
    sp::win32::UseWin32Platform();
    return sp::LauncherMain(instance);
}

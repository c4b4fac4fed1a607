// The system's own DLLs, loaded at run time from the system directory and nowhere else.
#pragma once

#include "platform/windows/windows_api.h"

namespace sp::win32 {

// The DLL `fileName` (L"msi.dll", say) from the system directory, its own dependencies searched
// there too; null with the thread's last error saying why where it cannot be loaded. The
// program asks for the highest available rights and usually runs from a downloads folder: a
// DLL of that name planted beside it must never be picked up.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

}  // namespace sp::win32

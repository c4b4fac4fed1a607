// Functions that only some versions of Windows have, looked up when first needed, so that the
// executable still starts where one is missing.
#pragma once

#include "platform/windows/windows_api.h"

namespace sp::win32 {

// `name` (or an ordinal made with MAKEINTRESOURCEA) of `module` as a function of type Fn;
// null where the module does not export it. GetProcAddress answers a generic function
// pointer; going through void(*)() is the one cast between function types the compiler
// accepts silently.
template <typename Fn>
Fn ExportedFunction(HMODULE module, LPCSTR name) {
    if (module == nullptr) return nullptr;
    FARPROC proc = ::GetProcAddress(module, name);
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// The system library `name` (such as L"msi.dll") from the system directory, never from anywhere
// else; null with the last-error value set when it cannot be loaded. The program asks for the
// highest available rights and usually runs from a downloads folder, where a planted library of
// that name would otherwise run with those rights.
HMODULE LoadSystemLibrary(const wchar_t* name);

template <typename Fn>
Fn Kernel32Function(LPCSTR name) {
    return ExportedFunction<Fn>(::GetModuleHandleW(L"kernel32.dll"), name);
}

}  // namespace sp::win32

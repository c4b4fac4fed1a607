// Functions looked up when first needed: those that only some versions of Windows have, so that
// the executable still starts where one is missing, and those of system DLLs the executable does
// not import, so that nothing the loader maps before the entry point comes from its folder.
#pragma once

#include "platform/windows/system_library.h"
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

template <typename Fn>
Fn Kernel32Function(LPCSTR name) {
    return ExportedFunction<Fn>(::GetModuleHandleW(L"kernel32.dll"), name);
}

// `name` of the system DLL `fileName`, which is loaded from the system directory on first use
// and stays loaded; null where either is missing. KERNEL32 and the C runtime are the only
// imports: USER32 and SHELL32 load DLLs of their own as they start (SHELL32 pulls in shcore.dll,
// for one), and at start-up those would be searched for in the program's folder first.
template <typename Fn>
Fn SystemFunction(const wchar_t* fileName, LPCSTR name) {
    return ExportedFunction<Fn>(LoadSystemLibrary(fileName), name);
}

}  // namespace sp::win32

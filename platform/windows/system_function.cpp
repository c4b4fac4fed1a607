#include "platform/windows/system_function.h"

#include <cwchar>

namespace sp::win32 {

HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // Systems without the search flags reject it as an invalid parameter; a full path into
    // the system directory is just as safe there.
    wchar_t path[MAX_PATH + 16];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || std::wcslen(name) > 14) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ::lstrcpyW(path + length, L"\\");
    ::lstrcpyW(path + length + 1, name);
    return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace sp::win32

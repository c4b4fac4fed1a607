#include "platform/windows/system_library.h"

#include <iterator>

namespace sp::win32 {

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    HMODULE module = ::LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // Systems without the search flags reject them as an invalid parameter; a full path into
    // the system directory is just as safe there.
    wchar_t path[MAX_PATH + 32];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    const auto nameLength = static_cast<UINT>(::lstrlenW(fileName));
    if (length == 0 || length >= MAX_PATH || length + 1 + nameLength >= std::size(path)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    path[length] = L'\\';
    ::lstrcpyW(path + length + 1, fileName);
    return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace sp::win32

// Test probe: loads a library by bare name, as a system library loads its own dependencies,
// after restricting the search the way servicepack.exe does first thing, or without that.
//   library_probe [--unrestricted] NAME    loaded=, last_error=
#include <cwchar>

#include "platform/windows/win32_platform.h"
#include "tests/support/probes/probe_output.h"

using sp::probes::PrintLine;

int wmain(int argc, wchar_t** argv) {
    const bool unrestricted = argc == 3 && std::wcscmp(argv[1], L"--unrestricted") == 0;
    if (argc != (unrestricted ? 3 : 2)) {
        sp::probes::PrintError("usage: library_probe [--unrestricted] NAME");
        return 2;
    }
    if (!unrestricted) sp::win32::RestrictLibrarySearch();
    SetLastError(0);
    HMODULE module = LoadLibraryW(argv[argc - 1]);
    const DWORD error = GetLastError();
    PrintLine("loaded", module != nullptr ? 1 : 0);
    PrintLine("last_error", module != nullptr ? 0 : error);
    return 0;
}

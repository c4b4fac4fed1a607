// Test probe: extracts a package through the real Win32 providers and prints what the
// extraction answered and the last-error value it left, the one install mode would report.
//   extract_probe [--module EXE | --replace-own-file WITH] PATH    ok=, last_error=, path=
// The package is the MSP resource of EXE (loaded as a data file), or of the probe itself:
// extract_probe.exe has none, extract_probe_packaged.exe the sample package. With
// --replace-own-file the probe first moves its own file aside (to its name plus ".old") and
// puts a copy of WITH at its name, as someone could while it runs. An empty PATH ("") asks
// for a temporary name.
#include <cwchar>
#include <string>

#include "launcher/process_state.h"
#include "package/extract.h"
#include "platform/windows/win32_platform.h"
#include "tests/support/probes/probe_output.h"

using sp::probes::PrintLine;

namespace {

bool ReplaceOwnFile(const wchar_t* with) {
    wchar_t own[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 4) return false;
    const std::wstring aside = std::wstring(own) + L".old";
    return MoveFileExW(own, aside.c_str(), 0) && CopyFileW(with, own, TRUE);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    sp::win32::UseWin32Platform();
    sp::ModuleInstance = GetModuleHandleW(nullptr);
    int next = 1;
    if (argc == 4 && std::wcscmp(argv[1], L"--replace-own-file") == 0) {
        if (!ReplaceOwnFile(argv[2])) {
            sp::probes::PrintError("cannot replace the probe's own file");
            return 3;
        }
        next = 3;
    } else if (argc == 4 && std::wcscmp(argv[1], L"--module") == 0) {
        HMODULE module = LoadLibraryExW(argv[2], nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (module == nullptr) {
            sp::probes::PrintError("cannot load the module");
            return 3;
        }
        sp::ModuleInstance = module;
        next = 3;
    }
    if (argc != next + 1) {
        sp::probes::PrintError(
            "usage: extract_probe [--module EXE | --replace-own-file WITH] PATH");
        return 2;
    }
    std::u16string path = sp::probes::Text(argv[next]);
    SetLastError(0);
    const bool ok = sp::ExtractPatchPackage(path);
    const DWORD error = GetLastError();
    PrintLine("ok", ok ? 1 : 0);
    PrintLine("last_error", error);
    PrintLine("path", path);
    return 0;
}

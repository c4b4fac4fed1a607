// tamperer.exe: plays an unelevated process of the same user that wants to swap a file another
// process is about to hand to the installer.
//
//   tamperer.exe TARGET REPLACEMENT
//
// Tries, in this order and each whatever the one before gave: to open TARGET for writing while
// sharing everything (so only the holder's own sharing can refuse), to move REPLACEMENT over
// TARGET, and to delete TARGET. Prints one line per attempt, "write=", "replace=", "delete=",
// each "ok" or "fail" followed by " error=N" with the last-error value (0 after a success).
// Exit status 0 whatever happened; 2 for a wrong command line.
#include <windows.h>

#include <string>

#include "write_out.h"

namespace {

void Report(const wchar_t* attempt, bool ok, DWORD error) {
    WriteOut(std::wstring(attempt) + L"=" + (ok ? L"ok" : L"fail") + L" error=" +
             std::to_wstring(error) + L"\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        WriteOut(L"usage: tamperer.exe TARGET REPLACEMENT\n");
        return 2;
    }
    const wchar_t* target = argv[1];
    const wchar_t* replacement = argv[2];

    HANDLE file =
        CreateFileW(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool opened = file != INVALID_HANDLE_VALUE;
    DWORD error = opened ? 0 : GetLastError();
    // Closed at once: holding it would make the attempts below fail for our own sake.
    if (opened) CloseHandle(file);
    Report(L"write", opened, error);

    bool moved = MoveFileExW(replacement, target, MOVEFILE_REPLACE_EXISTING) != 0;
    Report(L"replace", moved, moved ? 0 : GetLastError());

    bool deleted = DeleteFileW(target) != 0;
    Report(L"delete", deleted, deleted ? 0 : GetLastError());
    return 0;
}

// Starting the program under test from the harness programs, through Wine's occasional lost
// start: now and then (twice in eleven runs of the suite, thousands of starts each; on the
// default desktop and on a new window station) the new process dies inside Wine's own start-up
// and CreateProcess fails with ERROR_INTERNAL_ERROR, Wine's word for "the process ended before
// it had started". None of the program's own code has run then, so starting it again hides
// nothing a test looks at; each lost start is noted on the standard error, where the harness
// reports it on failure. A start on a desktop that Wine is closing (one second after its last
// user ended) is lost the same way, so the attempts are spread over two seconds: the desktop
// is then gone and the next start makes a new one.
#pragma once

#include <windows.h>

#include <string>

#include "write_out.h"

inline BOOL StartChild(wchar_t* commandLine, DWORD flags, void* environment, const wchar_t* cwd,
                       STARTUPINFOW* startup, PROCESS_INFORMATION* process) {
    constexpr int kAttempts = 5;
    constexpr DWORD kPauseMs = 500;
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, flags, environment, cwd,
                           startup, process)) {
            return TRUE;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == kAttempts) {
            SetLastError(error);
            return FALSE;
        }
        WriteOut(L"lost start " + std::to_wstring(attempt) + L" (error " + std::to_wstring(error) +
                     L"), starting again\n",
                 STD_ERROR_HANDLE);
        Sleep(kPauseMs);
    }
}

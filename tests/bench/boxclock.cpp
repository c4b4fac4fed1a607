// boxclock.exe: times a program from its start to its first message box, or to its end, from
// inside Wine, so that the start-up of the timer itself is never part of the figure.
//
//   boxclock.exe box PROGRAM [ARGUMENT...]    until a visible box of the program exists; the
//                                             box is then answered with OK
//   boxclock.exe exit PROGRAM [ARGUMENT...]   until the program has ended
//   boxclock.exe MODE --copy FROM TO PROGRAM [ARGUMENT...]
//                                             copies FROM to TO (CopyFileW) first, inside the
//                                             time: what a program handed a file on disk
//                                             would do before it could start on it
//
// Prints "us=<microseconds>" and exits with 0; exits with 1 when the program cannot be started
// or does not get there within a minute (it is then terminated), 2 on a usage error, 3 when
// Wine lost the start (see start_child.h): the caller times that run again, from the start.
#include <windows.h>

#include <cwchar>
#include <string>

#include "write_out.h"

namespace {

constexpr ULONGLONG kTimeoutMs = 60000;
constexpr int kLostStart = 3;

struct BoxSearch {
    DWORD pid;
    HWND box;
};

BOOL CALLBACK FindBoxOf(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (pid != search->pid || !IsWindowVisible(window) || std::wcscmp(className, L"#32770") != 0)
        return TRUE;
    search->box = window;
    return FALSE;
}

// Looks every millisecond: the figures this serves are read to a few milliseconds.
HWND WaitForBox(const PROCESS_INFORMATION& child, ULONGLONG deadline) {
    for (;;) {
        BoxSearch search{child.dwProcessId, nullptr};
        EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&search));
        if (search.box) return search.box;
        if (WaitForSingleObject(child.hProcess, 1) == WAIT_OBJECT_0) return nullptr;
        if (GetTickCount64() > deadline) return nullptr;
    }
}

std::wstring CommandLineOf(int count, wchar_t** arguments) {
    std::wstring line;
    for (int i = 0; i < count; ++i) {
        if (i > 0) line += L' ';
        line += L'"' + std::wstring(arguments[i]) + L'"';
    }
    return line;
}

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 /
           static_cast<double>(frequency.QuadPart);
}

// The box, once found, is answered and the program waited for, outside the time measured.
bool Reached(const PROCESS_INFORMATION& child, bool untilBox) {
    const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
    if (!untilBox) return WaitForSingleObject(child.hProcess, kTimeoutMs) == WAIT_OBJECT_0;
    HWND box = WaitForBox(child, deadline);
    if (!box) return false;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool untilBox = argc >= 3 && std::wcscmp(argv[1], L"box") == 0;
    if (argc < 3 || (!untilBox && std::wcscmp(argv[1], L"exit") != 0)) {
        WriteOut(L"usage: boxclock.exe box|exit [--copy FROM TO] PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    const bool copyFirst = std::wcscmp(argv[2], L"--copy") == 0;
    const int program = copyFirst ? 5 : 2;
    if (argc <= program) return 2;
    std::wstring commandLine = CommandLineOf(argc - program, argv + program);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (copyFirst && !CopyFileW(argv[3], argv[4], FALSE)) return 1;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        const DWORD error = GetLastError();
        WriteOut(L"cannot start the program: error " + std::to_wstring(error) + L"\n",
                 STD_ERROR_HANDLE);
        return error == ERROR_INTERNAL_ERROR ? kLostStart : 1;
    }
    const bool reached = Reached(child, untilBox);
    QueryPerformanceCounter(&end);
    const bool ended = reached && WaitForSingleObject(child.hProcess, kTimeoutMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(child.hProcess, 1);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    if (!ended) return 1;
    WriteOut(L"us=" + std::to_wstring(static_cast<long long>(Microseconds(start, end))) + L"\n");
    return 0;
}

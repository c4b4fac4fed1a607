// boxhelper.exe: finds, reads and answers message boxes of other processes in the same prefix.
//
//   boxhelper.exe list [--pid N | --exe NAME]
//   boxhelper.exe wait [--pid N | --exe NAME] [--timeout MS]
//   boxhelper.exe answer HWND BUTTON_ID [--timeout MS]
//   boxhelper.exe hold LINUX_PID
//
// "list" prints one JSON object per visible "#32770" window, one per line (UTF-8):
//   {"hwnd":N,"pid":N,"exe":"...","caption":"...","text":"...","buttons":[ids]}
// "wait" polls until at least one matching box exists and then lists like "list"; it exits
// with 1 when the timeout passes first. "answer" posts WM_COMMAND(BUTTON_ID, BN_CLICKED) to
// the box, exactly what a click on that button sends, and waits until the box has closed:
// exit 0 when it has, 1 when HWND was no open box to begin with, 3 when the post failed
// ("error=N" on the output), 4 when the box is still open after the timeout (default 10 s).
// Waiting here rather than listing from the harness again and again saves a Wine start per
// look, which on a loaded machine can take longer than the box takes to close.
// "hold" keeps the desktop in use until the Linux process LINUX_PID has ended. Wine closes a
// desktop, and ends its explorer.exe, one second after the last program using it has gone; a
// program that starts in that moment can open the dying desktop and lose its windows or fail
// to start (CreateProcess error 1359). On a loaded machine such gaps between two test
// programs are common. The Linux process is watched so that a harness that is killed leaves
// no holder, and with it no wineserver, behind.
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <map>
#include <string>
#include <vector>

#include "write_out.h"

namespace {

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

std::wstring StaticText(HWND box) {
    // Message boxes keep their text in the static control 0xFFFF.
    HWND label = GetDlgItem(box, 0xFFFF);
    if (label == nullptr) return L"";
    return WindowText(label);
}

std::map<DWORD, std::wstring> ProcessNames() {
    std::map<DWORD, std::wstring> names;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return names;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        names[entry.th32ProcessID] = entry.szExeFile;
    }
    CloseHandle(snapshot);
    return names;
}

struct Filter {
    DWORD pid = 0;
    std::wstring exe;
};

struct Box {
    HWND window;
    DWORD pid;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM state) {
    if (IsWindowVisible(window) && ClassOf(window) == L"#32770") {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        reinterpret_cast<std::vector<Box>*>(state)->push_back({window, pid});
    }
    return TRUE;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM state) {
    if (ClassOf(child) == L"Button") {
        reinterpret_cast<std::vector<int>*>(state)->push_back(GetDlgCtrlID(child));
    }
    return TRUE;
}

std::vector<std::wstring> FindBoxes(const Filter& filter) {
    std::vector<Box> boxes;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
    std::map<DWORD, std::wstring> names = ProcessNames();
    std::vector<std::wstring> lines;
    for (const Box& box : boxes) {
        const std::wstring& exe = names[box.pid];
        if (filter.pid != 0 && box.pid != filter.pid) continue;
        if (!filter.exe.empty() && lstrcmpiW(exe.c_str(), filter.exe.c_str()) != 0) continue;
        std::vector<int> buttons;
        EnumChildWindows(box.window, CollectButton, reinterpret_cast<LPARAM>(&buttons));
        std::wstring line =
            L"{\"hwnd\":" + std::to_wstring(reinterpret_cast<std::uintptr_t>(box.window)) +
            L",\"pid\":" + std::to_wstring(box.pid) + L",\"exe\":" + JsonString(exe) +
            L",\"caption\":" + JsonString(WindowText(box.window)) + L",\"text\":" +
            JsonString(StaticText(box.window)) + L",\"buttons\":[";
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            if (i > 0) line += L",";
            line += std::to_wstring(buttons[i]);
        }
        line += L"]}\n";
        lines.push_back(line);
    }
    return lines;
}

int Usage() {
    WriteOut(
        L"usage: boxhelper.exe list|wait [--pid N | --exe NAME] [--timeout MS]\n"
        L"       boxhelper.exe answer HWND BUTTON_ID [--timeout MS]\n"
        L"       boxhelper.exe hold LINUX_PID\n");
    return 2;
}

// A box is open while it is a visible window: a dialog that has ended is hidden before it is
// destroyed, and "list" no longer shows it either.
bool IsOpen(HWND box) { return IsWindow(box) && IsWindowVisible(box); }

int Answer(const wchar_t* hwndText, const wchar_t* idText, DWORD timeout) {
    HWND box =
        reinterpret_cast<HWND>(static_cast<std::uintptr_t>(_wcstoui64(hwndText, nullptr, 10)));
    int id = _wtoi(idText);
    if (!IsOpen(box)) return 1;
    HWND button = GetDlgItem(box, id);
    if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button))) {
        WriteOut(L"error=" + std::to_wstring(GetLastError()) + L"\n");
        return 3;
    }
    ULONGLONG deadline = GetTickCount64() + timeout;
    while (IsOpen(box)) {
        if (GetTickCount64() >= deadline) return 4;
        Sleep(20);
    }
    return 0;
}

// Loading user32 made this process a user of the desktop; it stays one while it runs. Asking
// for the desktop window starts explorer.exe now rather than with the first test program.
int Hold(const wchar_t* linuxPid) {
    GetDesktopWindow();
    std::wstring watched = std::wstring(L"Z:\\proc\\") + linuxPid;
    while (GetFileAttributesW(watched.c_str()) != INVALID_FILE_ATTRIBUTES) Sleep(500);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    std::wstring command = argv[1];

    if (command == L"answer") {
        if (argc == 6 && std::wstring(argv[4]) == L"--timeout") {
            return Answer(argv[2], argv[3], wcstoul(argv[5], nullptr, 10));
        }
        return argc == 4 ? Answer(argv[2], argv[3], 10000) : Usage();
    }
    if (command == L"hold") return argc == 3 ? Hold(argv[2]) : Usage();
    if (command != L"list" && command != L"wait") return Usage();

    Filter filter;
    DWORD timeout = 10000;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::wstring option = argv[i];
        if (option == L"--pid") {
            filter.pid = wcstoul(argv[i + 1], nullptr, 10);
        } else if (option == L"--exe") {
            filter.exe = argv[i + 1];
        } else if (option == L"--timeout") {
            timeout = wcstoul(argv[i + 1], nullptr, 10);
        } else {
            return Usage();
        }
    }
    if ((argc - 2) % 2 != 0) return Usage();

    ULONGLONG deadline = GetTickCount64() + timeout;
    for (;;) {
        std::vector<std::wstring> lines = FindBoxes(filter);
        if (command == L"list" || !lines.empty()) {
            for (const std::wstring& line : lines) WriteOut(line);
            return 0;
        }
        if (GetTickCount64() >= deadline) return 1;
        Sleep(50);
    }
}

// boxhelper.exe: finds, reads and answers message boxes of other processes in the same prefix.
//
//   boxhelper.exe list [--pid N | --exe NAME]
//   boxhelper.exe wait [--pid N | --exe NAME] [--timeout MS]
//   boxhelper.exe answer HWND BUTTON_ID
//
// "list" prints one JSON object per visible "#32770" window, one per line (UTF-8):
//   {"hwnd":N,"pid":N,"exe":"...","caption":"...","text":"...","buttons":[ids]}
// "wait" polls until at least one matching box exists and then lists like "list"; it exits
// with 1 when the timeout passes first. "answer" posts WM_COMMAND(BUTTON_ID, BN_CLICKED) to
// the box, exactly what a click on that button sends; exit 1 when HWND is no window.
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
        L"       boxhelper.exe answer HWND BUTTON_ID\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    std::wstring command = argv[1];

    if (command == L"answer") {
        if (argc != 4) return Usage();
        HWND box =
            reinterpret_cast<HWND>(static_cast<std::uintptr_t>(_wcstoui64(argv[2], nullptr, 10)));
        int id = _wtoi(argv[3]);
        if (!IsWindow(box)) return 1;
        HWND button = GetDlgItem(box, id);
        return PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                            reinterpret_cast<LPARAM>(button))
                   ? 0
                   : 1;
    }
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

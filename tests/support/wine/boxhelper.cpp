// boxhelper.exe: finds, reads and answers message boxes of other processes in the same prefix.
//
//   boxhelper.exe list [--pid N | --exe NAME]
//   boxhelper.exe wait [--pid N | --exe NAME] [--timeout MS]
//   boxhelper.exe answer HWND BUTTON_ID [--timeout MS]
//   boxhelper.exe serve
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
// "serve" reads commands from its standard input, one per line with the arguments of the
// three above separated by tabs, and answers each with that command's output followed by
// "done=EXIT_CODE"; it ends at the end of its input. A command costs a line instead of a Wine
// process start (about a tenth of a CPU second here). While it runs it also keeps the desktop
// in use: Wine closes a desktop, and ends its explorer.exe, one second after the last program
// using it has gone, and a program that starts in that moment can open the dying desktop and
// lose its windows or fail to start (CreateProcess error 1359). On a loaded machine such gaps
// between two test programs are common. Its input ends when the harness does, even when the
// harness is killed, so a serving helper, and with it the wineserver, is never left behind.
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
        L"       boxhelper.exe serve\n");
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

int ListBoxes(const std::vector<std::wstring>& args) {
    const std::wstring& command = args[0];
    if (args.size() % 2 != 1) return Usage();
    Filter filter;
    DWORD timeout = 10000;
    for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
        const std::wstring& option = args[i];
        if (option == L"--pid") {
            filter.pid = wcstoul(args[i + 1].c_str(), nullptr, 10);
        } else if (option == L"--exe") {
            filter.exe = args[i + 1];
        } else if (option == L"--timeout") {
            timeout = wcstoul(args[i + 1].c_str(), nullptr, 10);
        } else {
            return Usage();
        }
    }
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

int RunCommand(const std::vector<std::wstring>& args) {
    if (args.empty()) return Usage();
    if (args[0] == L"answer") {
        if (args.size() == 5 && args[3] == L"--timeout") {
            return Answer(args[1].c_str(), args[2].c_str(), wcstoul(args[4].c_str(), nullptr, 10));
        }
        return args.size() == 3 ? Answer(args[1].c_str(), args[2].c_str(), 10000) : Usage();
    }
    if (args[0] == L"list" || args[0] == L"wait") return ListBoxes(args);
    return Usage();
}

// One line of standard input without its end, as UTF-8 decoded; false at the end of input.
bool ReadCommandLine(std::wstring& line) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string bytes;
    char c = 0;
    DWORD read = 0;
    while (ReadFile(in, &c, 1, &read, nullptr) && read == 1) {
        if (c == '\n') break;
        bytes.push_back(c);
    }
    if (read != 1 && bytes.empty()) return false;
    if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
    int length =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    line.assign(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), line.data(),
                        length);
    return true;
}

std::vector<std::wstring> SplitAtTabs(const std::wstring& line) {
    std::vector<std::wstring> args;
    std::size_t begin = 0;
    for (;;) {
        std::size_t tab = line.find(L'\t', begin);
        args.push_back(line.substr(begin, tab - begin));
        if (tab == std::wstring::npos) return args;
        begin = tab + 1;
    }
}

// Loading user32 made this process a user of the desktop; it stays one while it runs. Asking
// for the desktop window starts explorer.exe now rather than with the first test program.
int Serve() {
    GetDesktopWindow();
    std::wstring line;
    while (ReadCommandLine(line)) {
        int code = RunCommand(SplitAtTabs(line));
        WriteOut(L"done=" + std::to_wstring(code) + L"\n");
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"serve") return Serve();
    return RunCommand(std::vector<std::wstring>(argv + 1, argv + argc));
}

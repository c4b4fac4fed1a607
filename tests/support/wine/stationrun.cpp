// stationrun.exe: runs a command line on a window station of its own, one that no user is shown,
// as a service's programs run, and reports every box that appears there.
//
//   stationrun.exe flags
//   stationrun.exe [--cwd DIR] [--timeout MS] --cmdline "COMMAND LINE"
//
// "flags" prints what this process reads about its own window station:
//   station=<name>
//   flags=<dwFlags of UOI_FLAGS, decimal>    or    flags=error <last error>
// "--cmdline" creates a window station and a desktop on it, prints
//   created=<station>\<desktop> flags=<the new station's dwFlags as read here>
// and starts the command line there through STARTUPINFO.lpDesktop: "pid=<n>". While it runs,
// that desktop is looked at every 20 ms, and each dialog window ("#32770") found there is
// printed once, visible or not (boxhelper, on the default desktop, never sees them):
//   box={"pid":N,"caption":"...","text":"..."}
// At the end: "exit=<status>" (unsigned decimal), or "exit=timeout" after terminating a program
// that outlived --timeout. Under Wine 8 a program started without lpDesktop lands on WinSta0
// again, even from a parent on another station; so this program starts the command itself
// rather than through runner.exe. Exit status 0 when the command ran, 2 for bad usage, 3 when
// the station, the desktop or the process could not be made ("error=<last error>").
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "start_child.h"
#include "write_out.h"

namespace {

std::wstring ObjectName(HANDLE object) {
    wchar_t name[256] = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(object, UOI_NAME, name, sizeof(name), &needed)) return L"?";
    return name;
}

std::wstring FlagsOf(HWINSTA station) {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) {
        return L"error " + std::to_wstring(GetLastError());
    }
    return std::to_wstring(flags.dwFlags);
}

int PrintOwnFlags() {
    HWINSTA station = GetProcessWindowStation();
    WriteOut(L"station=" + ObjectName(station) + L"\nflags=" + FlagsOf(station) + L"\n");
    return 0;
}

std::wstring Text(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

// The dialog windows met on the desktop, each printed once. A box is found while it is still
// being made, before its texts are set: it is printed once its caption reads, or after 0.5 s,
// or when the program ends.
struct Boxes {
    std::map<HWND, int> pending;  // not yet printed: how often it was met
    std::set<HWND> printed;

    void Print(HWND window) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        HWND label = GetDlgItem(window, 0xFFFF);  // a message box's text
        WriteOut(L"box={\"pid\":" + std::to_wstring(pid) + L",\"caption\":" +
                 JsonString(Text(window)) + L",\"text\":" +
                 JsonString(label ? Text(label) : std::wstring()) + L"}\n");
        printed.insert(window);
        pending.erase(window);
    }
    void Meet(HWND window) {
        if (printed.count(window)) return;
        if (++pending[window] >= 25 || !Text(window).empty()) Print(window);
    }
    void PrintPending() {
        while (!pending.empty()) Print(pending.begin()->first);
    }
};

BOOL CALLBACK MeetBox(HWND window, LPARAM state) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wstring(name) == L"#32770") reinterpret_cast<Boxes*>(state)->Meet(window);
    return TRUE;
}

// A station and a desktop nobody is shown; the desktop handle, or null.
HDESK CreateUnseenDesktop(const std::wstring& stationName, const std::wstring& desktopName) {
    HWINSTA station =
        CreateWindowStationW(stationName.c_str(), CWF_CREATE_ONLY, WINSTA_ALL_ACCESS, nullptr);
    if (station == nullptr) return nullptr;
    // A desktop is made on the calling process's station: switch over for that call only.
    HWINSTA own = GetProcessWindowStation();
    if (!SetProcessWindowStation(station)) return nullptr;
    HDESK desktop = CreateDesktopW(desktopName.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    WriteOut(L"created=" + stationName + L"\\" + desktopName + L" flags=" + FlagsOf(station) +
             L"\n");
    return desktop;
}

struct Command {
    std::wstring cwd;
    DWORD timeout = INFINITE;
    std::wstring line;
};

int Fail() {
    WriteOut(L"error=" + std::to_wstring(GetLastError()) + L"\n");
    return 3;
}

// Waits for the program, reporting the boxes of `desktop` as they appear.
void WatchUntilEnd(HANDLE process, HDESK desktop, DWORD timeout) {
    Boxes boxes;
    const ULONGLONG deadline = GetTickCount64() + timeout;
    while (WaitForSingleObject(process, 20) == WAIT_TIMEOUT) {
        EnumDesktopWindows(desktop, MeetBox, reinterpret_cast<LPARAM>(&boxes));
        if (timeout != INFINITE && GetTickCount64() > deadline) {
            boxes.PrintPending();
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            WriteOut(L"exit=timeout\n");
            return;
        }
    }
    boxes.PrintPending();
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    WriteOut(L"exit=" + std::to_wstring(status) + L"\n");
}

int RunUnseen(Command command) {
    const std::wstring stationName = L"Unseen" + std::to_wstring(GetCurrentProcessId());
    HDESK desktop = CreateUnseenDesktop(stationName, L"Default");
    if (desktop == nullptr) return Fail();
    std::wstring desktopPath = stationName + L"\\Default";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktopPath.data();
    PROCESS_INFORMATION process{};
    if (!StartChild(command.line.data(), 0, nullptr,
                    command.cwd.empty() ? nullptr : command.cwd.c_str(), &startup, &process)) {
        return Fail();
    }
    WriteOut(L"pid=" + std::to_wstring(process.dwProcessId) + L"\n");
    WatchUntilEnd(process.hProcess, desktop, command.timeout);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

int Usage() {
    WriteOut(
        L"usage: stationrun.exe flags\n"
        L"       stationrun.exe [--cwd DIR] [--timeout MS] --cmdline \"COMMAND LINE\"\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == L"flags") return PrintOwnFlags();
    Command command;
    bool haveCommand = false;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == L"--cwd") {
            command.cwd = args[i + 1];
        } else if (args[i] == L"--timeout") {
            command.timeout = static_cast<DWORD>(wcstoul(args[i + 1].c_str(), nullptr, 10));
        } else if (args[i] == L"--cmdline") {
            command.line = args[i + 1];
            haveCommand = true;
        } else {
            return Usage();
        }
    }
    if (!haveCommand || args.size() % 2 != 0) return Usage();
    return RunUnseen(command);
}

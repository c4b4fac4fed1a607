// Bench probe: what information mode cannot avoid and nothing more. Loads msi.dll from the
// system directory, reads the template and keywords of a package already on disk from its
// summary information, and shows them in one box (warning icon, as the information box).
//   info_floor PACKAGE
// A GUI program with the executable's manifest, so that its box costs what that one does.
#include <string>

#include "platform/windows/windows_api.h"

namespace {

using SummaryOpen = UINT(WINAPI*)(ULONG, LPCWSTR, UINT, ULONG*);
using SummaryProperty = UINT(WINAPI*)(ULONG, UINT, UINT*, INT*, FILETIME*, LPWSTR, DWORD*);
using CloseHandleOf = UINT(WINAPI*)(ULONG);

FARPROC Ordinal(HMODULE module, WORD ordinal) {
    return GetProcAddress(module, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(ordinal)));
}

std::wstring Property(SummaryProperty get, ULONG summary, UINT id) {
    wchar_t buffer[2048] = {};
    DWORD capacity = 2048;
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    if (get(summary, id, &type, &number, &time, buffer, &capacity) != 0) return {};
    return buffer;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 2) return 2;
    HMODULE msi = LoadLibraryExW(L"msi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (msi == nullptr) return 3;
    auto open = reinterpret_cast<SummaryOpen>(reinterpret_cast<void*>(Ordinal(msi, 78)));
    auto get = reinterpret_cast<SummaryProperty>(reinterpret_cast<void*>(Ordinal(msi, 150)));
    auto close = reinterpret_cast<CloseHandleOf>(reinterpret_cast<void*>(Ordinal(msi, 8)));
    ULONG summary = 0;
    if (!open || !get || !close || open(0, arguments[1], 0, &summary) != 0) return 4;
    const std::wstring text = Property(get, summary, 7) + L"\n" + Property(get, summary, 5);
    close(summary);
    MessageBoxW(nullptr, text.c_str(), L"info_floor",
                MB_OK | MB_ICONWARNING | MB_TOPMOST | MB_SETFOREGROUND);
    return 0;
}

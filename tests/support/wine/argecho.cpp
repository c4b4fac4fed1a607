// argecho.exe: prints what arrived, so that a test can see the text Wine hands a program.
//
//   argecho.exe [ARG]...
//
// One line per argument ("arg=TEXT"), then one per environment variable whose name starts
// with ECHO_ ("env=NAME=VALUE"), then the temporary folder ("temp=PATH"), all as UTF-8.
// Wine converts the Linux command line and environment with the code page of the locale
// the program runs under; a locale that is not generated turns non-ASCII text into '?'s.
#include <windows.h>

#include <string>

#include "write_out.h"

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) WriteOut(std::wstring(L"arg=") + argv[i] + L"\n");
    if (LPWCH block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            if (wcsncmp(p, L"ECHO_", 5) == 0) WriteOut(std::wstring(L"env=") + p + L"\n");
        }
        FreeEnvironmentStringsW(block);
    }
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    WriteOut(std::wstring(L"temp=") + temp + L"\n");
    return 0;
}

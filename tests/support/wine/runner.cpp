// runner.exe: starts one command line, waits for it and reports its full 32-bit exit status.
//
//   runner.exe [--cwd DIR] [--env NAME=VALUE]... [--timeout MS] -- PROGRAM [ARG]...
//   runner.exe [options] --cmdline "COMMAND LINE"
//
// Prints "pid=<n>" as soon as the child runs, then "exit=<n>" (unsigned decimal) when it has
// ended, or "exit=timeout" after terminating a child that outlived --timeout. The exit status
// of runner itself is 0 when the child ran (whatever it returned), 2 for bad usage and 3 when
// the child could not be started. `wine prog.exe` alone keeps only the low 8 bits of a
// status; this program keeps them all.
#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

#include "start_child.h"
#include "write_out.h"

namespace {

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The current environment with the given NAME=VALUE entries replacing or adding variables.
std::vector<wchar_t> BuildEnvironment(const std::vector<std::wstring>& overrides) {
    std::vector<std::wstring> entries;
    if (LPWCH block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) entries.emplace_back(p);
        FreeEnvironmentStringsW(block);
    }
    for (const std::wstring& assignment : overrides) {
        std::wstring name = assignment.substr(0, assignment.find(L'='));
        std::erase_if(entries, [&](const std::wstring& entry) {
            // Entries such as "=C:=C:\" hide a drive's directory; never treat them as names.
            std::size_t eq = entry.find(L'=', 1);
            return eq != std::wstring::npos && SameName(entry.substr(0, eq), name);
        });
        entries.push_back(assignment);
    }
    std::vector<wchar_t> block;
    for (const std::wstring& entry : entries) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

int Usage() {
    WriteOut(
        L"usage: runner.exe [--cwd DIR] [--env NAME=VALUE]... [--timeout MS] "
        L"(-- PROGRAM [ARG]... | --cmdline TEXT)\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring cwd;
    std::vector<std::wstring> env;
    DWORD timeout = INFINITE;
    std::wstring commandLine;
    bool haveCommand = false;

    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == L"--cwd" && hasValue) {
            cwd = argv[++i];
        } else if (arg == L"--env" && hasValue) {
            std::wstring assignment = argv[++i];
            if (assignment.find(L'=') == std::wstring::npos || assignment[0] == L'=') {
                return Usage();
            }
            env.push_back(assignment);
        } else if (arg == L"--timeout" && hasValue) {
            timeout = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
        } else if (arg == L"--cmdline" && hasValue) {
            commandLine = argv[++i];
            haveCommand = true;
        } else if (arg == L"--" && hasValue) {
            for (int j = i + 1; j < argc; ++j) {
                if (j > i + 1) commandLine.push_back(L' ');
                commandLine += QuoteArgument(argv[j]);
            }
            haveCommand = true;
            break;
        } else {
            return Usage();
        }
    }
    if (!haveCommand) return Usage();

    std::vector<wchar_t> environment;
    if (!env.empty()) environment = BuildEnvironment(env);
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!StartChild(mutableLine.data(), CREATE_UNICODE_ENVIRONMENT,
                    environment.empty() ? nullptr : environment.data(),
                    cwd.empty() ? nullptr : cwd.c_str(), &startup, &process)) {
        WriteOut(L"error=" + std::to_wstring(GetLastError()) + L"\n");
        return 3;
    }
    WriteOut(L"pid=" + std::to_wstring(process.dwProcessId) + L"\n");

    if (WaitForSingleObject(process.hProcess, timeout) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        WriteOut(L"exit=timeout\n");
    } else {
        DWORD status = 0;
        GetExitCodeProcess(process.hProcess, &status);
        WriteOut(L"exit=" + std::to_wstring(status) + L"\n");
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

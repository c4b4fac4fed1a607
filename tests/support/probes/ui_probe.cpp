// Test probe: shows catalogued messages and runs the running-application guard from the real
// string tables, printing what the user answered.
//   ui_probe [--thread-locale LCID] message ID [LASTERROR [PRODUCTNAME [quiet]]]   answer=
//   ui_probe [--thread-locale LCID] guard [quiet]                                   result=
// --thread-locale sets the thread locale first: the table must not follow it, since Windows'
// own choice of texts does not.
#include <cwchar>

#include "launcher/process_state.h"
#include "platform/windows/win32_platform.h"
#include "tests/support/probes/probe_output.h"
#include "ui/catalog.h"
#include "ui/guard.h"

namespace {

bool IsQuiet(const wchar_t* argument) { return std::wcscmp(argument, L"quiet") == 0; }

int Message(int argc, wchar_t** argv) {
    std::uint32_t id = 0;
    std::uint32_t lastError = 0;
    if (argc < 3 || argc > 6 || !sp::probes::ParseNumber(argv[2], id) ||
        (argc > 3 && !sp::probes::ParseNumber(argv[3], lastError)) ||
        (argc > 5 && !IsQuiet(argv[5]))) {
        return -1;
    }
    if (argc > 4) sp::CurrentProductName = sp::probes::Text(argv[4]);
    sp::Options.quiet = argc > 5;
    SetLastError(lastError);
    std::int32_t answer = sp::ShowMessage(id);
    sp::probes::PrintLine("answer", answer);
    return 0;
}

int Guard(int argc, wchar_t** argv) {
    if (argc > 3 || (argc == 3 && !IsQuiet(argv[2]))) return -1;
    sp::Options.quiet = argc == 3;
    bool result = sp::WaitForBlockingApplications();
    sp::probes::PrintLine("result", result ? 1 : 0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    sp::win32::UseWin32Platform();
    sp::ModuleInstance = GetModuleHandleW(nullptr);
    int status = -1;
    std::uint32_t locale = 0;
    if (argc >= 3 && std::wcscmp(argv[1], L"--thread-locale") == 0 &&
        sp::probes::ParseNumber(argv[2], locale)) {
        SetThreadLocale(locale);
        argc -= 2;  // the command follows as if it came first
        argv += 2;
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"message") == 0) status = Message(argc, argv);
    if (argc >= 2 && std::wcscmp(argv[1], L"guard") == 0) status = Guard(argc, argv);
    if (status < 0) {
        sp::probes::PrintError(
            "usage: ui_probe [--thread-locale LCID] message ID [LASTERROR [PRODUCTNAME [quiet]]] | "
            "guard [quiet]");
        return 2;
    }
    return status;
}

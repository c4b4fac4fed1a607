// Test probe: reads a package's summary information and discovers its installed targets with
// the real installer service, printing what the readers answered.
//   summary_probe codes PATH      ok=, last_error=, value=
//   summary_probe versions PATH   ok=, last_error=, upgrade=, accepted=
//   summary_probe discover PATH   count=, then target=code|name|installed|upgrade|accepted
#include <cwchar>
#include <string>

#include "launcher/process_state.h"
#include "package/summary.h"
#include "platform/windows/win32_platform.h"
#include "targeting/discovery.h"
#include "tests/support/probes/probe_output.h"

using sp::probes::PrintLine;

namespace {

int Codes(const std::u16string& path) {
    std::u16string value;
    SetLastError(0);
    bool ok = sp::ReadTargetProductCodes(path, value);
    DWORD error = GetLastError();
    PrintLine("ok", ok ? 1 : 0);
    PrintLine("last_error", error);
    PrintLine("value", value);
    return 0;
}

int Versions(const std::u16string& path) {
    std::u16string upgrade;
    std::u16string accepted;
    SetLastError(0);
    bool ok = sp::ReadPatchVersions(path, upgrade, accepted);
    DWORD error = GetLastError();
    PrintLine("ok", ok ? 1 : 0);
    PrintLine("last_error", error);
    PrintLine("upgrade", upgrade);
    PrintLine("accepted", accepted);
    return 0;
}

int Discover(const std::u16string& path) {
    sp::PatchTarget templateRecord;
    sp::ReadPatchVersions(path, templateRecord.upgradeVersion, templateRecord.acceptedVersions);
    std::u16string codes;
    sp::ReadTargetProductCodes(path, codes);
    sp::DiscoverTargets(templateRecord, codes);
    PrintLine("count", static_cast<std::int64_t>(sp::Targets.size()));
    for (const sp::PatchTarget& target : sp::Targets) {
        PrintLine("target", target.productCode + u"|" + target.productName + u"|" +
                                target.installedVersion + u"|" + target.upgradeVersion + u"|" +
                                target.acceptedVersions);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    sp::win32::UseWin32Platform();
    sp::ModuleInstance = GetModuleHandleW(nullptr);
    if (argc == 3) {
        std::u16string path = sp::probes::Text(argv[2]);
        if (std::wcscmp(argv[1], L"codes") == 0) return Codes(path);
        if (std::wcscmp(argv[1], L"versions") == 0) return Versions(path);
        if (std::wcscmp(argv[1], L"discover") == 0) return Discover(path);
    }
    sp::probes::PrintError("usage: summary_probe codes|versions|discover PATH");
    return 2;
}

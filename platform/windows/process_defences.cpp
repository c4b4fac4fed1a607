#include "platform/windows/load_config.h"
#include "platform/windows/system_function.h"
#include "platform/windows/win32_platform.h"
#include "platform/windows/windows_api.h"

namespace sp::win32 {
namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetProcessMitigationPolicyFn = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

// Each where the system knows it; a system that refuses one is no reason not to run.
void ApplyMitigations() {
    auto setPolicy = Kernel32Function<SetProcessMitigationPolicyFn>("SetProcessMitigationPolicy");
    if (setPolicy == nullptr) return;
    // Links that someone without administrator rights planted (a junction in a temporary
    // folder, say) are not followed by this process.
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY trust{};
    trust.EnforceRedirectionTrust = 1;
    setPolicy(ProcessRedirectionTrustPolicy, &trust, sizeof(trust));
    // No image from a network share or of low integrity, and system images before any other
    // of the same name.
    PROCESS_MITIGATION_IMAGE_LOAD_POLICY images{};
    images.NoRemoteImages = 1;
    images.NoLowMandatoryLabelImages = 1;
    images.PreferSystem32Images = 1;
    setPolicy(ProcessImageLoadPolicy, &images, sizeof(images));
}

}  // namespace

void RestrictLibrarySearch() {
    // Looked up, not imported: a system without it (Windows 7 before the update that added
    // it) would otherwise refuse to start the program at all. There, the current folder at
    // least leaves the search order. Where the system has it, every later load searches where
    // the loader searched for the imports: the image's load configuration holds the one setting.
    auto setDefault = Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault == nullptr || !setDefault(_load_config_used.dependentLoadFlags)) {
        ::SetDllDirectoryW(L"");
    }
    ApplyMitigations();
}

}  // namespace sp::win32

#include "targeting/install.h"

#include <cstdint>
#include <string>

#include "launcher/process_state.h"
#include "package/summary.h"
#include "package/temporary_package.h"
#include "platform/platform.h"
#include "targeting/accepted_versions.h"
#include "targeting/discovery.h"
#include "targeting/installer_log.h"
#include "targeting/patch_command.h"
#include "targeting/version_quad.h"
#include "ui/catalog.h"
#include "ui/guard.h"

namespace sp {
namespace {

constexpr std::uint32_t kMessageFailure = 300;
constexpr std::uint32_t kMessageSuccess = 301;
constexpr std::uint32_t kMessageUpToDate = 306;
constexpr std::uint32_t kMessageNoTarget = 307;
constexpr std::uint32_t kMessageNotDesignedFor = 308;
constexpr std::uint32_t kFilesInUseText = 320;
constexpr std::int32_t kFilesInUseCapacity = 512;

constexpr std::uint32_t kLogStop = 0x4000;
constexpr std::int32_t kUiLevelBasicHideCancel = 35;  // progress only, without a Cancel button
constexpr std::int32_t kUiLevelNone = 2;
constexpr std::int32_t kInstallLevelDefault = 0;
constexpr std::int32_t kInstallStateDefault = 5;
constexpr std::uint32_t kLocaleUserDefault = 0x400;

constexpr ErrorCode kErrorInstallLogFailure = 1622;
constexpr ErrorCode kRebootInitiated = 1641;
constexpr ErrorCode kRebootRequired = 3010;

bool IsSuccess(ErrorCode result) {
    // The installer has started or asked for the restart itself (REBOOTPROMPT=S): a success.
    return result == kErrorSuccess || result == kRebootInitiated || result == kRebootRequired;
}

std::int32_t ReportFailure(ErrorCode code) {
    CurrentPlatform().thread->SetLastError(code);
    return ShowMessage(kMessageFailure);
}

ErrorCode Configure(const PatchTarget& record) {
    return CurrentPlatform().installer->ConfigureProductWithCommandLine(
        record.productCode.c_str(), kInstallLevelDefault, kInstallStateDefault,
        record.commandLine.c_str());
}

void ApplyPatch(PatchTarget& record, const std::u16string& packagePath, InstallerLogs& logs) {
    std::u16string filesInUseText;
    LoadResourceString(ModuleInstance, kFilesInUseText, filesInUseText, kFilesInUseCapacity);
    if (!FormatPatchCommandLine(packagePath, filesInUseText, record.commandLine)) {
        // The installer is not asked at all with a command line that could not be formed.
        ShowMessage(kMessageFailure);
        return;
    }
    logs.Enable(record);

    InstallerService& installer = *CurrentPlatform().installer;
    // The basic interface still shows the installer's errors, its files-in-use question and
    // "another installation is in progress" as boxes: where nobody sees them, the run would wait
    // for an answer until it is killed. There the installer gets no interface at all.
    const std::int32_t level = BoxesAreSeen ? kUiLevelBasicHideCancel : kUiLevelNone;
    const std::int32_t previous = installer.SetInstallerUiLevel(level, nullptr);
    ErrorCode result = Configure(record);
    if (result == kErrorInstallLogFailure) {
        // The installer could not write the log it was given (how it opens a log that this run
        // holds is not documented): the product is not to go unpatched for its log's sake.
        logs.Disable();
        result = Configure(record);
    }
    logs.Release();
    installer.SetInstallerUiLevel(previous, nullptr);

    if (IsSuccess(result)) {
        ShowMessage(kMessageSuccess);
    } else {
        ReportFailure(result);
    }
}

enum class Walk { Continue, Stop };

// Decides one record and acts on it; up-to-date records are only counted.
Walk HandleRecord(PatchTarget& record, const std::u16string& packagePath, InstallerLogs& logs,
                  std::int32_t& upToDateCount) {
    CurrentProductName = record.productName;
    const VersionQuad installed = ParseVersionQuad(record.installedVersion);
    const VersionQuad upgrade = ParseVersionQuad(record.upgradeVersion);
    if (installed == upgrade) {
        ++upToDateCount;
        return Walk::Continue;
    }
    switch (WalkAcceptedVersions(record.acceptedVersions, installed, upgrade)) {
        case PatchVerdict::Apply:
            ApplyPatch(record, packagePath, logs);
            break;
        case PatchVerdict::NotAccepted:
            ShowMessage(kMessageNotDesignedFor);
            break;
        case PatchVerdict::UpgradeMetFirst:
            ShowMessage(kMessageUpToDate);
            return Walk::Stop;
    }
    return Walk::Continue;
}

// Extraction, reading and discovery; false (with its report shown) when the run cannot go on.
bool PrepareTargets(TemporaryPackage& package) {
    if (!ExtractTemporaryPackage(package)) {
        ShowMessage(kMessageFailure);
        return false;
    }
    PatchTarget templateRecord;
    std::u16string productCodes;
    if (!ReadPatchVersions(package.path, templateRecord.upgradeVersion,
                           templateRecord.acceptedVersions) ||
        !ReadTargetProductCodes(package.path, productCodes)) {
        ShowMessage(kMessageFailure);
        return false;
    }
    DiscoverTargets(templateRecord, productCodes);
    if (Targets.empty()) {
        ShowMessage(kMessageNoTarget);
        return false;
    }
    if (!WaitForBlockingApplications()) {
        // Whatever code an earlier call left behind would otherwise be shown.
        ReportFailure(kErrorInstallUserExit);
        return false;
    }
    return true;
}

}  // namespace

// An early stop leaves the temporary package where it is, no longer held.
bool InstallPatch() {
    TemporaryPackage package;
    if (!PrepareTargets(package)) return false;

    std::int32_t upToDateCount = 0;
    InstallerLogs logs;
    for (PatchTarget& record : Targets) {
        if (HandleRecord(record, package.path, logs, upToDateCount) == Walk::Stop) return false;
    }
    CurrentPlatform().installer->EnableInstallerLog(kLogStop, nullptr, 0);

    if (static_cast<std::size_t>(upToDateCount) == Targets.size()) {
        CurrentPlatform().thread->SetThreadLocale(kLocaleUserDefault);
        ShowMessage(kMessageUpToDate);
    }
    DeleteTemporaryPackage(package);
    return true;
}

}  // namespace sp

#include "targeting/installer_log.h"

#include <algorithm>
#include <optional>

#include "targeting/patch_command.h"

namespace sp {
namespace {

constexpr std::uint32_t kLogVerbose = 0x1000;

}  // namespace

bool InstallerLogs::Given(const std::u16string& path) const {
    FileSystem& files = *CurrentPlatform().files;
    return std::any_of(given_.begin(), given_.end(),
                       [&](const std::u16string& given) { return files.SameName(given, path); });
}

bool InstallerLogs::Hold(const std::u16string& path) {
    FileSystem& files = *CurrentPlatform().files;
    if (Given(path) || !files.RemoveEntry(path)) return false;
    held_ = files.CreateHeldLog(path);
    if (!held_) return false;
    given_.push_back(path);
    return true;
}

void InstallerLogs::Enable(const PatchTarget& record) {
    held_.reset();
    // A name that was given before in this run, or that cannot be freed (someone holds the stale
    // file open without letting it be deleted), gives way to the name with the product code.
    std::optional<std::u16string> path;
    for (const std::u16string& name :
         {record.productName, record.productName + u" " + record.productCode}) {
        path = InstallerLogPath(name);
        if (path && Hold(*path)) break;
        path.reset();
    }
    CurrentPlatform().installer->EnableInstallerLog(kLogVerbose, path ? path->c_str() : nullptr, 0);
}

void InstallerLogs::Disable() {
    held_.reset();
    CurrentPlatform().installer->EnableInstallerLog(kLogVerbose, nullptr, 0);
}

void InstallerLogs::Release() { held_.reset(); }

}  // namespace sp

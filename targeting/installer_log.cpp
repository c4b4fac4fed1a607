#include "targeting/installer_log.h"

#include <algorithm>
#include <optional>

#include "targeting/patch_command.h"

namespace sp {
namespace {

constexpr std::uint32_t kLogVerbose = 0x1000;

// File names compare without regard to case; ASCII and Latin-1 letters cover what a product
// name usually holds.
std::u16string FoldedCase(std::u16string text) {
    for (char16_t& c : text) {
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c -= 0x20;
    }
    return text;
}

}  // namespace

void InstallerLogs::Enable(const PatchTarget& record) {
    held_.reset();
    std::optional<std::u16string> path = InstallerLogPath(record.productName);
    if (path && std::count(given_.begin(), given_.end(), FoldedCase(*path))) {
        path = InstallerLogPath(record.productName + u" " + record.productCode);
        // The same product listed twice: rather no file than the first one's log lost.
        if (path && std::count(given_.begin(), given_.end(), FoldedCase(*path))) path.reset();
    }
    FileSystem& files = *CurrentPlatform().files;
    if (path && files.RemoveEntry(*path)) held_ = files.CreateHeldLog(*path);
    if (held_) given_.push_back(FoldedCase(*path));
    CurrentPlatform().installer->EnableInstallerLog(kLogVerbose, held_ ? path->c_str() : nullptr,
                                                    0);
}

void InstallerLogs::Release() { held_.reset(); }

}  // namespace sp

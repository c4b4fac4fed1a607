#include "package/summary.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "platform/installer_service.h"
#include "platform/platform.h"

namespace sp {
namespace {

constexpr std::uint32_t kFullPathCapacity = 260;
constexpr std::uint32_t kPropertyCapacity = 2048;

// The installer's result as the reason of a failed read: the box shows it, not whatever some
// earlier call left behind.
std::nullopt_t Failed(ErrorCode result) {
    CurrentPlatform().thread->SetLastError(result);
    return std::nullopt;
}

// One text property of the package's summary information, up to its first NUL; nullopt when
// the package cannot be opened or the property cannot be read.
std::optional<std::u16string> ReadSummaryText(std::u16string path, std::uint32_t property) {
    ScopedInstallerHandle summary(OpenPatchSummary(std::move(path)));
    if (summary.get() == 0) return std::nullopt;

    InstallerService& installer = *CurrentPlatform().installer;
    std::uint32_t dataType = 0;
    std::int32_t integerValue = 0;
    FileTime fileTime;
    std::uint32_t length = kPropertyCapacity;
    std::vector<char16_t> buffer(length, u'\0');
    ErrorCode result = installer.GetSummaryProperty(summary.get(), property, dataType, integerValue,
                                                    fileTime, buffer.data(), length);
    if (result == kErrorMoreData) {
        // `length` is what the value needs without its terminator; one more try with room for
        // it, and no third.
        if (length == std::numeric_limits<std::uint32_t>::max()) return Failed(result);
        ++length;
        buffer.assign(length, u'\0');
        result = installer.GetSummaryProperty(summary.get(), property, dataType, integerValue,
                                              fileTime, buffer.data(), length);
    }
    // After a failed call the buffer holds nothing worth reading.
    if (result != kErrorSuccess) return Failed(result);
    return std::u16string(buffer.begin(), std::find(buffer.begin(), buffer.end(), u'\0'));
}

}  // namespace

ScopedInstallerHandle::~ScopedInstallerHandle() {
    if (handle_ != 0) CurrentPlatform().installer->CloseInstallerHandle(handle_);
}

InstallerHandle OpenPatchSummary(std::u16string path) {
    std::array<char16_t, kFullPathCapacity> fullPath{};
    const std::uint32_t length =
        CurrentPlatform().files->GetFullPathName(path.c_str(), kFullPathCapacity, fullPath.data());
    // Zero or a length that does not fit means the buffer holds no path: treat the package as
    // one that cannot be opened rather than hand over whatever the buffer holds.
    if (length == 0) return 0;
    if (length >= kFullPathCapacity) {
        CurrentPlatform().thread->SetLastError(kErrorFilenameTooLong);
        return 0;
    }
    fullPath[length] = u'\0';

    InstallerHandle handle = 0;
    const ErrorCode result =
        CurrentPlatform().installer->OpenSummaryInfo(0, fullPath.data(), 0, handle);
    if (result != kErrorSuccess) {
        Failed(result);
        return 0;
    }
    return handle;
}

bool ReadTargetProductCodes(std::u16string path, std::u16string& productCodes) {
    auto value = ReadSummaryText(std::move(path), kSummaryTemplate);
    if (!value) return false;
    productCodes = std::move(*value);
    return true;
}

bool ReadPatchVersions(std::u16string path, std::u16string& upgradeVersion,
                       std::u16string& acceptedVersions) {
    auto value = ReadSummaryText(std::move(path), kSummaryKeywords);
    if (!value) return false;
    // Split at the first ';' only; the upgrade version must not be empty.
    const std::size_t separator = value->find(u';');
    if (separator == std::u16string::npos || separator == 0) {
        CurrentPlatform().thread->SetLastError(kErrorInvalidData);
        return false;
    }
    upgradeVersion = value->substr(0, separator);
    acceptedVersions = value->substr(separator + 1);
    return true;
}

}  // namespace sp

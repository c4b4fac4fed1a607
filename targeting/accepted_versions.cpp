#include "targeting/accepted_versions.h"

namespace sp {

PatchVerdict WalkAcceptedVersions(const std::u16string& acceptedVersions,
                                  const VersionQuad& installed, const VersionQuad& upgrade) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = acceptedVersions.find(u',', start);
        if (comma == std::u16string::npos) return PatchVerdict::NotAccepted;
        const VersionQuad token = ParseVersionQuad(acceptedVersions.substr(start, comma - start));
        if (token == installed) return PatchVerdict::Apply;
        if (token == upgrade) return PatchVerdict::UpgradeMetFirst;
        start = comma + 1;
    }
}

}  // namespace sp

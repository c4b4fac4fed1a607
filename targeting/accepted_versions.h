#pragma once

#include <string>

#include "targeting/version_quad.h"

namespace sp {

enum class PatchVerdict {
    Apply,            // the installed version is accepted
    NotAccepted,      // the list ran out first
    UpgradeMetFirst,  // the upgrade version came before the installed one
};

// Reads the accepted versions from the front as a run of versions each ended by ',' and stops
// at the first that equals the installed or the upgrade version. Text after the last ',' is
// never compared.
PatchVerdict WalkAcceptedVersions(const std::u16string& acceptedVersions,
                                  const VersionQuad& installed, const VersionQuad& upgrade);

}  // namespace sp

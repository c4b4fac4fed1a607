#pragma once

#include <string>
#include <vector>

namespace sp {

// The record of one installed target product. Every slot is text; a new record is all empty.
struct PatchTarget {
    std::u16string productCode;
    std::u16string upgradeVersion;
    std::u16string productName;
    std::u16string language;
    std::u16string commandLine;
    std::u16string acceptedVersions;
    std::u16string installedVersion;
};

// Ordered by discovery; records are only appended.
using TargetList = std::vector<PatchTarget>;

}  // namespace sp

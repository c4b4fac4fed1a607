#pragma once

#include <string>

#include "targeting/patch_target.h"

namespace sp {

// Appends to Targets one copy of `templateRecord` per present product of `productCodes`
// (codes separated by ';'), in list order, stopping at the first empty entry.
void DiscoverTargets(PatchTarget& templateRecord, const std::u16string& productCodes);

bool IsProductPresent(const std::u16string& productCode);
std::u16string GetProductVersionString(const std::u16string& productCode);
bool GetProductName(const std::u16string& productCode, std::u16string& productName,
                    std::u16string& language);

}  // namespace sp

#include "targeting/discovery.h"

#include <algorithm>
#include <cstdint>

#include "launcher/process_state.h"
#include "platform/platform.h"

namespace sp {

namespace {

constexpr std::uint32_t kPropertyBufferLength = 1024;

// A failed read (no such property, or a value of 1024 characters or more) leaves the buffer's
// content undefined, so it yields the empty text rather than whatever the buffer holds. A
// successful read is taken up to its first NUL and never past the buffer.
std::u16string ReadProductProperty(const std::u16string& productCode, const char16_t* property) {
    char16_t buffer[kPropertyBufferLength] = {};
    std::uint32_t length = kPropertyBufferLength;
    ErrorCode result = CurrentPlatform().installer->GetProductProperty(productCode.c_str(),
                                                                       property, buffer, length);
    if (result != kErrorSuccess) return {};
    const char16_t* end = std::find(buffer, buffer + kPropertyBufferLength, u'\0');
    return std::u16string(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace

bool IsProductPresent(const std::u16string& productCode) {
    std::int32_t state = CurrentPlatform().installer->QueryProductState(productCode.c_str());
    return state == kProductStateAdvertised || state == kProductStateInstalled;
}

std::u16string GetProductVersionString(const std::u16string& productCode) {
    return ReadProductProperty(productCode, u"VersionString");
}

// The language slot is handed in but left alone: discovery keeps it empty, and nothing reads it
// per product. The installation run sets the thread's locale once, to the user's default,
// before the up-to-date box.
bool GetProductName(const std::u16string& productCode, std::u16string& productName,
                    std::u16string& /*language*/) {
    productName = ReadProductProperty(productCode, u"ProductName");
    return true;
}

void DiscoverTargets(PatchTarget& templateRecord, const std::u16string& productCodes) {
    // The list is read through a cursor and kept out of the template during the walk, so that
    // a step costs the same however long the list is: neither cutting an entry off the front
    // nor copying the template moves the rest of the list. Afterwards the template's
    // product-code slot holds what is left of the list, from the first empty entry on.
    const std::u16string working = productCodes + u";";
    templateRecord.productCode.clear();
    std::size_t start = 0;
    for (;;) {
        std::size_t separator = working.find(u';', start);
        // The end of the list and the first empty entry both stop the walk.
        if (separator == std::u16string::npos || separator == start) break;
        PatchTarget record = templateRecord;
        record.productCode = working.substr(start, separator - start);
        if (IsProductPresent(record.productCode)) {
            record.installedVersion = GetProductVersionString(record.productCode);
            GetProductName(record.productCode, record.productName, record.language);
            Targets.push_back(std::move(record));
        }
        start = separator + 1;
    }
    templateRecord.productCode = working.substr(start);
}

}  // namespace sp

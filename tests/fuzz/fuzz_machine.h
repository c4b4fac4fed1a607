// A machine for the targets that read a package and find products: the fakes, an installer
// that records exactly which codes it was asked about, and products described by the input.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/fakes/fake_platform.h"
#include "tests/fuzz/fuzz_input.h"

namespace sp::fuzz {

// Keeps the codes as they were passed, where the fake's call log narrows them.
class RecordingInstaller : public fakes::FakeInstaller {
  public:
    std::vector<std::u16string> queried;
    std::vector<std::u16string> configured;
    std::map<std::u16string, ErrorCode> configureResults;  // by product code; 0 otherwise

    std::int32_t QueryProductState(const char16_t* productCode) override {
        queried.emplace_back(productCode);
        return FakeInstaller::QueryProductState(productCode);
    }

    ErrorCode ConfigureProductWithCommandLine(const char16_t* productCode, std::int32_t level,
                                              std::int32_t state,
                                              const char16_t* commandLine) override {
        configured.emplace_back(productCode);
        FakeInstaller::ConfigureProductWithCommandLine(productCode, level, state, commandLine);
        auto it = configureResults.find(productCode);
        return it == configureResults.end() ? 0 : it->second;
    }
};

struct FuzzPlatform : fakes::FakePlatform {
    RecordingInstaller recorder;
    FuzzPlatform() { CurrentPlatform().installer = &recorder; }
};

// The text up to its first NUL, as a summary property reads.
inline std::u16string UpToNul(const std::u16string& text) {
    return text.substr(0, text.find(u'\0'));
}

// The entries of a product-code list, every one, empty ones included.
inline std::vector<std::u16string> SplitEntries(const std::u16string& list) {
    std::vector<std::u16string> entries(1);
    for (char16_t c : list) {
        if (c == u';') {
            entries.emplace_back();
        } else {
            entries.back() += c;
        }
    }
    return entries;
}

inline bool IsPresentState(std::int32_t state) {
    return state == kProductStateAdvertised || state == kProductStateInstalled;
}

// Registers the product of template entry i from field first + i, its description:
// "<state><VersionString>[\t<ProductName>[\t<configure result>]]", the state being the first
// code unit ('5' installed, '1' advertised, anything else absent). An empty description
// registers nothing; without a tab the product has no name.
inline void AddProducts(RecordingInstaller& installer, const std::u16string& productCodes,
                        const std::vector<std::u16string>& fields, std::size_t first) {
    const std::vector<std::u16string> entries = SplitEntries(UpToNul(productCodes));
    for (std::size_t i = 0; i < entries.size() && first + i < fields.size(); ++i) {
        const std::u16string& description = fields[first + i];
        if (description.empty()) continue;
        auto& product = installer.products[entries[i]];
        product.state = description[0] == u'5'   ? kProductStateInstalled
                        : description[0] == u'1' ? kProductStateAdvertised
                                                 : -static_cast<std::int32_t>(description[0]);
        const std::size_t nameStart = description.find(u'\t', 1);
        product.properties[u"VersionString"] = description.substr(1, nameStart - 1);
        if (nameStart == std::u16string::npos) continue;
        const std::size_t resultStart = description.find(u'\t', nameStart + 1);
        product.properties[u"ProductName"] =
            description.substr(nameStart + 1, resultStart - nameStart - 1);
        if (resultStart == std::u16string::npos) continue;
        ErrorCode result = 0;
        for (char16_t c : description.substr(resultStart + 1)) result = result * 10 + (c - u'0');
        installer.configureResults[entries[i]] = result;
    }
}

// The package at `packagePath` and the installed products as the fields say: the keywords
// value, the template value, then one product description per template entry.
inline void DescribeMachine(FuzzPlatform& machine, const std::u16string& packagePath,
                            const std::vector<std::u16string>& fields) {
    auto& summary = machine.recorder.packages[packagePath];
    summary.properties[kSummaryKeywords] = Field(fields, 0);
    summary.properties[kSummaryTemplate] = Field(fields, 1);
    AddProducts(machine.recorder, summary.properties[kSummaryTemplate], fields, 2);
}

}  // namespace sp::fuzz

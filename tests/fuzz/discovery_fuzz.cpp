// Reading a package's keywords and template, then the template walk of discovery, through the
// fake installer. Fields: the keywords value, the template value, then one product
// description per template entry (see AddProducts). Out-of-buffer reads are the sanitizers'
// part; the target checks the split, the order of the records, and that no entry after the
// first empty one is ever asked about.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/process_state.h"
#include "package/summary.h"
#include "targeting/discovery.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzz_machine.h"

namespace sp::fuzz {
namespace {

const std::u16string kPackage = u"C:\\patch.msp";
constexpr std::size_t kPropertyBufferLength = 1024;

void CheckKeywordsSplit(FuzzPlatform& machine, const std::u16string& keywords,
                        PatchTarget& templateRecord) {
    const std::u16string value = UpToNul(keywords);
    const bool read =
        ReadPatchVersions(kPackage, templateRecord.upgradeVersion, templateRecord.acceptedVersions);
    const std::size_t separator = value.find(u';');
    Require(read == (separator != std::u16string::npos && separator != 0),
            "keywords are usable exactly when a ';' follows a non-empty upgrade version");
    if (read) {
        Require(templateRecord.upgradeVersion + u";" + templateRecord.acceptedVersions == value,
                "the split loses and adds nothing");
        Require(templateRecord.upgradeVersion.find(u';') == std::u16string::npos,
                "the split is at the first ';'");
    } else {
        Require(machine.thread.lastError == kErrorInvalidData, "unusable keywords say 4316");
    }
}

// A property as discovery must read it: up to its first NUL, and nothing at all from a value
// the buffer cannot hold or a property the product lacks.
std::u16string Readable(const fakes::FakeInstaller::Product& product, const char16_t* name) {
    auto it = product.properties.find(name);
    if (it == product.properties.end() || it->second.size() >= kPropertyBufferLength) return {};
    return UpToNul(it->second);
}

void CheckWalk(const RecordingInstaller& installer, const std::u16string& productCodes,
               const PatchTarget& templateRecord) {
    std::vector<std::u16string> expectedQueries;
    for (const std::u16string& entry : SplitEntries(productCodes)) {
        if (entry.empty()) break;
        expectedQueries.push_back(entry);
    }
    Require(installer.queried == expectedQueries,
            "every entry before the first empty one is asked about once, in list order");
    std::size_t next = 0;
    for (const std::u16string& code : expectedQueries) {
        auto product = installer.products.find(code);
        if (product == installer.products.end() || !IsPresentState(product->second.state)) continue;
        Require(next < Targets.size(), "every present product has a record");
        const PatchTarget& record = Targets[next++];
        Require(record.productCode == code, "records are in list order");
        Require(record.upgradeVersion == templateRecord.upgradeVersion &&
                    record.acceptedVersions == templateRecord.acceptedVersions,
                "records copy the template's versions");
        Require(record.installedVersion == Readable(product->second, u"VersionString") &&
                    record.productName == Readable(product->second, u"ProductName"),
                "records hold what the installer answered, and no garbage");
        Require(record.language.empty() && record.commandLine.empty(), "other slots stay empty");
    }
    Require(next == Targets.size(), "no record without a present product");
}

}  // namespace
}  // namespace sp::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sp::fuzz;
    const std::vector<std::u16string> fields = DecodeFields(data, size);
    FuzzPlatform machine;
    DescribeMachine(machine, kPackage, fields);

    sp::PatchTarget templateRecord;
    CheckKeywordsSplit(machine, Field(fields, 0), templateRecord);
    std::u16string productCodes;
    Require(sp::ReadTargetProductCodes(kPackage, productCodes) &&
                productCodes == UpToNul(Field(fields, 1)),
            "the template reads up to its first NUL");
    Require(machine.recorder.openHandles.empty(), "every summary handle is closed");

    sp::Targets.clear();
    const sp::PatchTarget templateCopy = templateRecord;
    sp::DiscoverTargets(templateRecord, productCodes);
    CheckWalk(machine.recorder, productCodes, templateCopy);
    sp::Targets.clear();
    return 0;
}

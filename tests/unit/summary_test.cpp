#include "package/summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/installer_service.h"
#include "tests/fakes/fake_platform.h"

namespace sp {
namespace {

using fakes::FakeInstaller;
using fakes::FakePlatform;
using fakes::Narrow;

const std::u16string kPackagePath = u"C:\\users\\me\\Temp\\MSP1";
const std::u16string kSampleCodes =
    u"{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9};{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53};"
    u"{5D6E7F80-9A1B-4C2D-8E3F-405162738495}";

class SummaryReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Summary().properties[kSummaryKeywords] = u"15.0.205.0;15.0.106.0,";
        Summary().properties[kSummaryTemplate] = kSampleCodes;
    }
    FakeInstaller::Summary& Summary() { return platform.installer.packages[kPackagePath]; }
    void ExpectAllClosed() {
        EXPECT_TRUE(platform.installer.openHandles.empty());
        int opens = 0;
        for (const auto& call : platform.installer.calls)
            opens += call.rfind("OpenSummaryInfo", 0) == 0;
        EXPECT_EQ(platform.installer.closeCount, opens);
    }
    FakePlatform platform;
};

TEST_F(SummaryReaderTest, KeywordsSplitAtTheFirstSemicolonOnly) {
    struct Case {
        std::u16string keywords;
        bool ok;
        std::string upgrade;
        std::string accepted;
    };
    const Case cases[] = {
        {u"15.0.205.0;15.0.106.0,", true, "15.0.205.0", "15.0.106.0,"},
        {u"15.0.205.0;", true, "15.0.205.0", ""},
        {u"15.0.205.0;15.0.106.0,;15.0.107.0,", true, "15.0.205.0", "15.0.106.0,;15.0.107.0,"},
        {u"15,0,205,0;15.0.106.0,", true, "15,0,205,0", "15.0.106.0,"},
        {u" 15.0.205.0 ; 15.0.106.0, ", true, " 15.0.205.0 ", " 15.0.106.0, "},
        {u"15.0.205.0", false, "", ""},
        {u";15.0.106.0,", false, "", ""},
        {u";", false, "", ""},
        {u"", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.keywords));
        Summary().properties[kSummaryKeywords] = c.keywords;
        platform.thread.lastError = 7;
        std::u16string upgrade = u"keep-upgrade", accepted = u"keep-accepted";
        EXPECT_EQ(ReadPatchVersions(kPackagePath, upgrade, accepted), c.ok);
        if (c.ok) {
            EXPECT_EQ(Narrow(upgrade), c.upgrade);
            EXPECT_EQ(Narrow(accepted), c.accepted);
            EXPECT_EQ(platform.thread.lastError, 7u);
        } else {
            EXPECT_EQ(Narrow(upgrade), "keep-upgrade");
            EXPECT_EQ(Narrow(accepted), "keep-accepted");
            EXPECT_EQ(platform.thread.lastError, kErrorInvalidData);
        }
    }
    ExpectAllClosed();
}

TEST_F(SummaryReaderTest, TemplateIsHandedOverUnchanged) {
    std::u16string codes;
    ASSERT_TRUE(ReadTargetProductCodes(kPackagePath, codes));
    EXPECT_EQ(codes, kSampleCodes);
    EXPECT_EQ(
        platform.installer.calls,
        (std::vector<std::string>{"OpenSummaryInfo(C:\\users\\me\\Temp\\MSP1)",
                                  "GetSummaryProperty(100,7,2048)", "CloseInstallerHandle(100)"}));
}

TEST_F(SummaryReaderTest, ValueEndsAtItsFirstNul) {
    Summary().properties[kSummaryTemplate] = std::u16string(u"{A};{B}\0{C}", 11);
    std::u16string codes;
    ASSERT_TRUE(ReadTargetProductCodes(kPackagePath, codes));
    EXPECT_EQ(Narrow(codes), "{A};{B}");
}

TEST_F(SummaryReaderTest, LongValueTakesExactlyOneRetry) {
    struct Case {
        std::size_t size;
        std::vector<std::string> propertyCalls;
    };
    const Case cases[] = {
        {2047, {"GetSummaryProperty(100,7,2048)"}},
        {2048, {"GetSummaryProperty(100,7,2048)", "GetSummaryProperty(100,7,2049)"}},
        {5000, {"GetSummaryProperty(100,7,2048)", "GetSummaryProperty(100,7,5001)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        FakePlatform fresh;
        fresh.installer.packages[kPackagePath].properties[kSummaryTemplate] =
            std::u16string(c.size, u'c');
        std::u16string codes;
        ASSERT_TRUE(ReadTargetProductCodes(kPackagePath, codes));
        EXPECT_EQ(codes.size(), c.size);
        EXPECT_EQ(codes.find_first_not_of(u'c'), std::u16string::npos);
        std::vector<std::string> expected{"OpenSummaryInfo(C:\\users\\me\\Temp\\MSP1)"};
        expected.insert(expected.end(), c.propertyCalls.begin(), c.propertyCalls.end());
        expected.push_back("CloseInstallerHandle(100)");
        EXPECT_EQ(fresh.installer.calls, expected);
    }
}

// Answers "more data" to the first call and fails the second, leaving its buffer scribbled.
struct SecondCallFails : FakeInstaller {
    int propertyCalls = 0;
    ErrorCode GetSummaryProperty(InstallerHandle handle, std::uint32_t property,
                                 std::uint32_t& type, std::int32_t& integer, FileTime& time,
                                 char16_t* buffer, std::uint32_t& length) override {
        if (++propertyCalls == 1) {
            length = 3000;
            return kErrorMoreData;
        }
        for (std::uint32_t i = 0; i < length; ++i) buffer[i] = u'#';
        FakeInstaller::GetSummaryProperty(handle, property, type, integer, time, buffer, length);
        return 1627;
    }
};

TEST_F(SummaryReaderTest, FailedReadsAssignNothingAndCloseOnce) {
    {
        SecondCallFails installer;
        installer.packages = platform.installer.packages;
        CurrentPlatform().installer = &installer;
        std::u16string codes = u"keep", upgrade = u"keep", accepted = u"keep";
        EXPECT_FALSE(ReadTargetProductCodes(kPackagePath, codes));
        EXPECT_EQ(installer.propertyCalls, 2);
        EXPECT_EQ(installer.closeCount, 1);
        installer.propertyCalls = 0;
        EXPECT_FALSE(ReadPatchVersions(kPackagePath, upgrade, accepted));
        EXPECT_EQ(installer.propertyCalls, 2);
        EXPECT_EQ(installer.closeCount, 2);
        EXPECT_EQ(Narrow(codes + upgrade + accepted), "keepkeepkeep");
        CurrentPlatform().installer = &platform.installer;
    }

    // A first call failing with anything but "more data" is not retried.
    Summary().forcedResult[kSummaryTemplate] = 1610;
    std::u16string codes = u"keep";
    EXPECT_FALSE(ReadTargetProductCodes(kPackagePath, codes));
    EXPECT_EQ(Narrow(codes), "keep");
    EXPECT_EQ(platform.thread.lastError, 1610u);  // the installer's result is the reason
    EXPECT_EQ(
        platform.installer.calls,
        (std::vector<std::string>{"OpenSummaryInfo(C:\\users\\me\\Temp\\MSP1)",
                                  "GetSummaryProperty(100,7,2048)", "CloseInstallerHandle(100)"}));
}

TEST_F(SummaryReaderTest, UnopenablePackageReadsNothing) {
    Summary().openResult = 1620;
    std::u16string codes = u"keep", upgrade = u"keep", accepted = u"keep";
    // Each failure leaves the installer's own result, never what an earlier call left.
    platform.thread.lastError = 203;
    EXPECT_EQ(OpenPatchSummary(kPackagePath), 0u);
    EXPECT_EQ(platform.thread.lastError, 1620u);
    platform.thread.lastError = 203;
    EXPECT_FALSE(ReadTargetProductCodes(kPackagePath, codes));
    EXPECT_EQ(platform.thread.lastError, 1620u);
    EXPECT_FALSE(ReadPatchVersions(kPackagePath, upgrade, accepted));
    EXPECT_FALSE(ReadPatchVersions(u"C:\\not\\there.msp", upgrade, accepted));
    EXPECT_EQ(platform.thread.lastError, 1627u);
    EXPECT_EQ(Narrow(codes + upgrade + accepted), "keepkeepkeep");
    EXPECT_EQ(platform.installer.closeCount, 0);
    for (const auto& call : platform.installer.calls)
        EXPECT_EQ(call.rfind("OpenSummaryInfo", 0), 0u) << call;
}

TEST_F(SummaryReaderTest, PathIsMadeAbsoluteWithin260Characters) {
    platform.files.currentDirectory = u"C:\\users\\me\\Temp\\";
    std::u16string codes;
    EXPECT_TRUE(ReadTargetProductCodes(u"MSP1", codes));
    EXPECT_EQ(platform.installer.calls.front(), "OpenSummaryInfo(C:\\users\\me\\Temp\\MSP1)");

    // 259 characters fit the buffer with the terminator; 260 do not, and nothing is opened.
    const std::u16string longest = u"C:\\" + std::u16string(256, u'p');
    platform.installer.packages[longest].properties[kSummaryTemplate] = u"{A}";
    EXPECT_TRUE(ReadTargetProductCodes(longest, codes));
    EXPECT_EQ(Narrow(codes), "{A}");

    platform.installer.calls.clear();
    const std::u16string tooLong = longest + u"p";
    platform.installer.packages[tooLong].properties[kSummaryTemplate] = u"{B}";
    EXPECT_FALSE(ReadTargetProductCodes(tooLong, codes));
    EXPECT_EQ(platform.thread.lastError, 206u);
    EXPECT_EQ(OpenPatchSummary(u""), 0u);        // what information mode passes after no extraction
    EXPECT_EQ(platform.thread.lastError, 123u);  // as GetFullPathNameW leaves it
    EXPECT_TRUE(platform.installer.calls.empty());
    EXPECT_EQ(Narrow(codes), "{A}");
}

TEST_F(SummaryReaderTest, EachReadOpensAndClosesItsOwnHandle) {
    std::u16string codes, upgrade, accepted;
    EXPECT_TRUE(ReadTargetProductCodes(kPackagePath, codes));
    EXPECT_TRUE(ReadPatchVersions(kPackagePath, upgrade, accepted));
    EXPECT_TRUE(ReadPatchVersions(kPackagePath, upgrade, accepted));
    EXPECT_TRUE(ReadTargetProductCodes(kPackagePath, codes));
    EXPECT_EQ(codes, kSampleCodes);
    EXPECT_EQ(Narrow(upgrade), "15.0.205.0");
    EXPECT_EQ(platform.installer.closeCount, 4);
    ExpectAllClosed();
}

TEST_F(SummaryReaderTest, OpenedHandleBelongsToTheCaller) {
    const InstallerHandle handle = OpenPatchSummary(kPackagePath);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(platform.installer.closeCount, 0);
    {
        ScopedInstallerHandle owner(handle);
        ScopedInstallerHandle none;
    }
    EXPECT_EQ(platform.installer.calls.back(),
              "CloseInstallerHandle(" + std::to_string(handle) + ")");
    EXPECT_EQ(platform.installer.closeCount, 1);
}

}  // namespace
}  // namespace sp

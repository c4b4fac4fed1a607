#include "targeting/discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/process_state.h"
#include "tests/fakes/fake_platform.h"

namespace sp {
namespace {

using fakes::FakeInstaller;

constexpr char16_t kP1[] = u"{11111111-1111-1111-1111-111111111111}";
constexpr char16_t kP2[] = u"{22222222-2222-2222-2222-222222222222}";
constexpr char16_t kP3[] = u"{33333333-3333-3333-3333-333333333333}";

class DiscoveryTest : public ::testing::Test {
  protected:
    DiscoveryTest() {
        Targets.clear();
        templateRecord.upgradeVersion = u"15.0.205.0";
        templateRecord.acceptedVersions = u"15.0.106.0,";
    }
    ~DiscoveryTest() override { Targets.clear(); }

    void Install(const std::u16string& code, const std::u16string& name,
                 const std::u16string& version, std::int32_t state = kProductStateInstalled) {
        FakeInstaller::Product product;
        product.state = state;
        product.properties[u"ProductName"] = name;
        product.properties[u"VersionString"] = version;
        fake.installer.products[code] = product;
    }

    std::vector<std::string> Codes() const {
        std::vector<std::string> codes;
        for (const PatchTarget& t : Targets) codes.push_back(fakes::Narrow(t.productCode));
        return codes;
    }

    static std::string N(const char16_t* s) { return fakes::Narrow(s); }
    static std::string Query(const char16_t* code) { return "QueryProductState(" + N(code) + ")"; }

    fakes::FakePlatform fake;
    PatchTarget templateRecord;
};

TEST_F(DiscoveryTest, KeepsPresentProductsInListOrderWithTheirProperties) {
    Install(kP1, u"Product One", u"15.0.106.0");
    Install(kP2, u"Product Two", u"15.0.100.0", kProductStateAdvertised);

    DiscoverTargets(templateRecord, std::u16string(kP2) + u";" + kP1);

    ASSERT_EQ(Targets.size(), 2u);
    EXPECT_EQ(Targets[0].productCode, kP2);
    EXPECT_EQ(Targets[0].productName, u"Product Two");
    EXPECT_EQ(Targets[0].installedVersion, u"15.0.100.0");
    EXPECT_EQ(Targets[1].productCode, kP1);
    EXPECT_EQ(Targets[1].productName, u"Product One");
    EXPECT_EQ(Targets[1].installedVersion, u"15.0.106.0");
    for (const PatchTarget& t : Targets) {
        EXPECT_EQ(t.upgradeVersion, u"15.0.205.0");
        EXPECT_EQ(t.acceptedVersions, u"15.0.106.0,");
        EXPECT_TRUE(t.language.empty());
        EXPECT_TRUE(t.commandLine.empty());
    }
}

TEST_F(DiscoveryTest, AsksTheInstallerStateThenVersionThenNamePerEntry) {
    Install(kP2, u"Two", u"1.0");
    fake.installer.products[kP3].state = 3;  // registered but absent

    DiscoverTargets(templateRecord, std::u16string(kP1) + u";" + kP2 + u";" + kP3);

    EXPECT_EQ(Codes(), std::vector<std::string>{N(kP2)});
    std::vector<std::string> expected = {
        Query(kP1),
        Query(kP2),
        "GetProductProperty(" + N(kP2) + ",VersionString,1024)",
        "GetProductProperty(" + N(kP2) + ",ProductName,1024)",
        Query(kP3),
    };
    EXPECT_EQ(fake.installer.calls, expected);
}

TEST_F(DiscoveryTest, StopsAtTheEndOrAtTheFirstEmptyEntry) {
    Install(kP1, u"One", u"1");
    Install(kP2, u"Two", u"2");
    struct Case {
        std::u16string list;
        std::vector<std::string> queried;
    };
    const std::vector<Case> cases = {
        {std::u16string(kP1) + u";" + kP2 + u";", {Query(kP1), Query(kP2)}},
        {kP1, {Query(kP1)}},
        {std::u16string(u";") + kP1, {}},
        {std::u16string(kP1) + u";;" + kP2, {Query(kP1)}},
        {u"", {}},
        {u";", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fakes::Narrow(c.list));
        Targets.clear();
        fake.installer.calls.clear();
        DiscoverTargets(templateRecord, c.list);
        std::vector<std::string> queried;
        for (const std::string& call : fake.installer.calls)
            if (call.rfind("QueryProductState", 0) == 0) queried.push_back(call);
        EXPECT_EQ(queried, c.queried);
        EXPECT_EQ(Targets.size(), c.queried.size());
        // Both products are present: state, version and name for each, nothing else.
        EXPECT_EQ(fake.installer.calls.size(), 3 * c.queried.size());
    }
}

TEST_F(DiscoveryTest, KeepsDuplicatesAndEntriesVerbatim) {
    Install(kP1, u"One", u"1");
    const std::u16string spaced = std::u16string(u" ") + kP2;
    Install(spaced, u"Spaced", u"2");
    Install(kP2, u"Unspaced", u"3");

    DiscoverTargets(templateRecord, std::u16string(kP1) + u";" + kP1 + u";" + spaced);

    ASSERT_EQ(Targets.size(), 3u);
    EXPECT_EQ(Targets[0].productCode, kP1);
    EXPECT_EQ(Targets[1].productCode, kP1);
    EXPECT_EQ(Targets[2].productCode, spaced);
    EXPECT_EQ(Targets[2].productName, u"Spaced");
}

TEST_F(DiscoveryTest, OnlyAdvertisedAndInstalledStatesArePresent) {
    for (std::int32_t state : {-2, -1, 0, 1, 2, 3, 4, 5, 6}) {
        fake.installer.products[kP1].state = state;
        EXPECT_EQ(IsProductPresent(kP1), state == 1 || state == 5) << state;
    }
    EXPECT_FALSE(IsProductPresent(kP2));  // never registered
}

TEST_F(DiscoveryTest, FailedPropertyReadGivesEmptyText) {
    Install(kP1, u"One", u"1.0");
    fake.installer.products[kP1].propertyResult = 1605;
    Install(kP2, std::u16string(1024, u'n'), std::u16string(1023, u'7'));

    DiscoverTargets(templateRecord, std::u16string(kP1) + u";" + kP2);

    ASSERT_EQ(Targets.size(), 2u);
    EXPECT_EQ(Targets[0].productName, u"");
    EXPECT_EQ(Targets[0].installedVersion, u"");
    // 1024 characters do not fit with their terminator; 1023 do.
    EXPECT_EQ(Targets[1].productName, u"");
    EXPECT_EQ(Targets[1].installedVersion, std::u16string(1023, u'7'));
}

}  // namespace
}  // namespace sp

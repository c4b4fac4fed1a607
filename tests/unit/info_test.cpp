#include "ui/info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/process_state.h"
#include "package/extract.h"
#include "tests/fakes/fake_platform.h"

namespace sp {
namespace {

// The first temporary name the extraction picks in the fake temporary directory.
constexpr char16_t kTemporaryPackage[] = u"C:\\users\\me\\Temp\\MSP1";

class InfoTest : public ::testing::Test {
  protected:
    InfoTest() {
        Options = LaunchOptions{};
        SetTemporaryNameCounter(1);
    }
    ~InfoTest() override { Options = LaunchOptions{}; }

    void Package(const std::u16string& codes, const std::u16string& keywords) {
        auto& summary = fake.installer.packages[kTemporaryPackage];
        summary.properties[kSummaryTemplate] = codes;
        summary.properties[kSummaryKeywords] = keywords;
    }

    std::u16string ShownText() {
        ShowPatchInfo();
        EXPECT_EQ(fake.boxes.shown.size(), 1u);
        if (fake.boxes.shown.empty()) return u"<no box>";
        EXPECT_EQ(fake.boxes.shown[0].caption, u"Info");
        EXPECT_EQ(fake.boxes.shown[0].flags, 0x50030u);
        return fake.boxes.shown[0].text;
    }

    fakes::FakePlatform fake;
};

TEST_F(InfoTest, ListsCodesTargetAndUpgrade) {
    Package(u"{A};{B};{C}", u"15.0.205.0;15.0.106.0,");
    EXPECT_EQ(ShownText(),
              u"Products:\n{A}\n{B}\n{C}\nTarget:\n\t15.0.106.0,\nUpgrade:\n\t15.0.205.0)");
    // The temporary package stays behind.
    EXPECT_EQ(fake.files.files.count(kTemporaryPackage), 1u);
    // The codes are read first, then the versions; the box is the same in every language.
    std::vector<std::string> reads;
    for (const std::string& call : fake.installer.calls) {
        if (call.rfind("GetSummaryProperty", 0) == 0) reads.push_back(call.substr(call.find(',')));
    }
    EXPECT_EQ(reads, (std::vector<std::string>{",7,2048)", ",5,2048)"}));
    EXPECT_TRUE(fake.resources.loadedIds.empty());
}

TEST_F(InfoTest, EverySemicolonOfTheCodesBecomesALineBreak) {
    struct Case {
        std::u16string codes;
        std::u16string productLines;
    };
    const Case cases[] = {
        {u"{A}", u"{A}"},    {u";{A}", u"\n{A}"}, {u"{A};;{B}", u"{A}\n\n{B}"},
        {u"{A};", u"{A}\n"}, {u"", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fakes::Narrow(c.codes));
        fake.boxes.shown.clear();
        fake.files.files.clear();
        SetTemporaryNameCounter(1);
        Package(c.codes, u"2.0;1.0,");
        EXPECT_EQ(ShownText(),
                  u"Products:\n" + c.productLines + u"\nTarget:\n\t1.0,\nUpgrade:\n\t2.0)");
    }
}

TEST_F(InfoTest, AcceptedVersionsAreShownUnchanged) {
    Package(u"{A}", u"2,0;1.0,;1.5,");
    EXPECT_EQ(ShownText(), u"Products:\n{A}\nTarget:\n\t1.0,;1.5,\nUpgrade:\n\t2,0)");
}

TEST_F(InfoTest, UnusableKeywordsLeaveBothVersionsEmpty) {
    Package(u"{A}", u";1.0,");
    EXPECT_EQ(ShownText(), u"Products:\n{A}\nTarget:\n\t\nUpgrade:\n\t)");
}

TEST_F(InfoTest, ShowsTheBareFrameWhenNothingCanBeRead) {
    Options.quiet = true;  // the information box ignores the quiet flag
    fake.resources.hasPackage = false;
    EXPECT_EQ(ShownText(), u"Products:\n\nTarget:\n\t\nUpgrade:\n\t)");

    fake.boxes.shown.clear();
    fake.resources.hasPackage = true;
    fake.files.tempPathFails = true;  // not even a temporary name
    EXPECT_EQ(ShownText(), u"Products:\n\nTarget:\n\t\nUpgrade:\n\t)");
}

TEST_F(InfoTest, ThePackageIsHeldUntilTheBoxIsClosed) {
    Package(u"{A}", u"2.0;1.0,");
    bool heldWhileShown = false;
    fake.boxes.onShow = [&](const fakes::FakeBoxes::Box&) {
        heldWhileShown = fake.files.held.count(kTemporaryPackage) == 1;
    };
    ShownText();
    EXPECT_TRUE(heldWhileShown);
    EXPECT_TRUE(fake.files.held.empty());
    EXPECT_EQ(fake.files.files.count(kTemporaryPackage), 1u);
}

TEST_F(InfoTest, APackageSwappedBeforeTheHoldIsNotRead) {
    Package(u"{A}", u"2.0;1.0,");
    fake.files.beforeHold = [&](const std::u16string& path) {
        fake.files.files[path] = "another package";
    };
    EXPECT_EQ(ShownText(), u"Products:\n\nTarget:\n\t\nUpgrade:\n\t)");
    for (const std::string& call : fake.installer.calls) {
        EXPECT_EQ(call.find("OpenSummaryInfo"), std::string::npos);
    }
}

}  // namespace
}  // namespace sp

#include "ui/catalog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/process_state.h"
#include "tests/fakes/fake_platform.h"
#include "ui/format.h"

namespace sp {
namespace {

TEST(FormatText, FillsPlaceholdersInOrder) {
    EXPECT_EQ(FormatText(u"%s and %s", {u"one", u"two"}), u"one and two");
    EXPECT_EQ(FormatText(u"code %d.", {std::int32_t{4316}}), u"code 4316.");
    EXPECT_EQ(FormatText(u"%d %i", {std::int32_t{-5}, std::int32_t{0}}), u"-5 0");
    EXPECT_EQ(FormatText(u"%d", {std::int32_t{-2147483647 - 1}}), u"-2147483648");
    EXPECT_EQ(FormatText(u"100%% %s", {u"sure"}), u"100% sure");
    EXPECT_EQ(FormatText(u"", {u"unused"}), u"");
}

TEST(FormatText, NeverReadsBeyondTheInserts) {
    EXPECT_EQ(FormatText(u"[%s][%d][%s]", {u"a"}), u"[a][0][]");
    EXPECT_EQ(FormatText(u"[%s]", {}), u"[]");
}

TEST(FormatText, KeepsUnknownSequencesAndALoneTrailingPercent) {
    EXPECT_EQ(FormatText(u"%q %s 50%", {u"x"}), u"%q x 50%");
}

TEST(FormatText, CutsToTheLimitLessTheTerminator) {
    bool truncated = false;
    std::u16string longInsert(2000, u'x');
    std::u16string out = FormatText(u"<%s>", {longInsert}, kFormatLimit, &truncated);
    EXPECT_EQ(out.size(), 1023u);
    EXPECT_EQ(out.front(), u'<');
    EXPECT_TRUE(truncated);

    // Exactly 1023 characters fit.
    out = FormatText(u"%s", {std::u16string(1023, u'y')}, kFormatLimit, &truncated);
    EXPECT_EQ(out.size(), 1023u);
    EXPECT_FALSE(truncated);
    out = FormatText(u"%s", {std::u16string(1024, u'y')}, kFormatLimit, &truncated);
    EXPECT_EQ(out.size(), 1023u);
    EXPECT_TRUE(truncated);

    EXPECT_EQ(FormatText(u"abcdef", {}, 4), u"abc");
}

// English texts as the string tables carry them.
const std::map<std::uint32_t, std::u16string> kEnglish = {
    {300,
     u"A problem prevented the %s from being installed. Contact your system administrator. "
     u"\n\n Error Code: %d"},
    {301, u"The %s has been successfully installed."},
    {306, u"Your version of %s is up-to-date and this %s is not necessary."},
    {307,
     u"The %s could not be installed because the expected Corvane product could not be located "
     u"on your computer.\nMake sure that you are using the correct %s for the product."},
    {308, u"The %s could not be installed because it is designed for %s - Update 1 (Version 2)."},
    {309, u"The command line that you supplied is incorrect. Please check it for errors."},
    {310, u"You must supply a patch list with the command line to install this %s installation."},
    {311, u"Installation Error"},
    {312, u"Installation Successful"},
    {313, u"Installation Unnecessary"},
};

class CatalogTest : public ::testing::Test {
  protected:
    CatalogTest() {
        fake.resources.strings = kEnglish;
        Options = LaunchOptions{};
        CurrentProductName = u"Corvane Sample";
        fake.thread.lastError = 4316;
    }
    ~CatalogTest() override {
        Options = LaunchOptions{};
        BoxesAreSeen = true;
        CurrentProductName.clear();
    }

    const fakes::FakeBoxes::Box& OnlyBox() {
        EXPECT_EQ(fake.boxes.shown.size(), 1u);
        return fake.boxes.shown.back();
    }

    fakes::FakePlatform fake;
};

TEST_F(CatalogTest, LoadResourceStringReplacesTheDestinationWhole) {
    std::u16string text = u"previous content that is longer";
    EXPECT_EQ(LoadResourceString(nullptr, 312, text, 512), 23);
    EXPECT_EQ(text, u"Installation Successful");

    EXPECT_EQ(LoadResourceString(nullptr, 999, text, 512), 0);
    EXPECT_EQ(text, u"");

    // The loader keeps capacity - 1 characters.
    EXPECT_EQ(LoadResourceString(nullptr, 311, text, 6), 5);
    EXPECT_EQ(text, u"Insta");

    text = u"kept?";
    EXPECT_EQ(LoadResourceString(nullptr, 311, text, 0), 0);
    EXPECT_EQ(text, u"");
}

TEST_F(CatalogTest, TextsAndCaptionsComeFromTheTableOfTheUsersLanguage) {
    fake.thread.uiLanguage = 0x080A;  // Spanish (Mexico): the Spanish table, 1034
    std::u16string text;
    LoadResourceString(nullptr, 320, text, 512);
    ShowMessage(306);
    fake.thread.uiLanguage = 0x0C04;  // Chinese (Hong Kong): Traditional, 1028
    ShowMessage(300);
    EXPECT_EQ(fake.resources.loadedIds, (std::vector<std::uint32_t>{320, 306, 313, 300, 311}));
    EXPECT_EQ(fake.resources.loadedLanguages,
              (std::vector<std::uint16_t>{1034, 1034, 1034, 1028, 1028}));
}

TEST_F(CatalogTest, EveryMessageHasItsTextCaptionAndKind) {
    struct Row {
        std::uint32_t id;
        std::u16string text;
        std::u16string caption;
        std::uint32_t flags;
    };
    const std::vector<Row> rows = {
        {300,
         u"A problem prevented the service pack from being installed. Contact your system "
         u"administrator. \n\n Error Code: 4316",
         u"Installation Error", 0x50010},
        {301, u"The service pack has been successfully installed.", u"Installation Successful",
         0x50040},
        {306,
         u"Your version of Corvane Sample is up-to-date and this service pack is not necessary.",
         u"Installation Unnecessary", 0x50040},
        {307,
         u"The service pack could not be installed because the expected Corvane product could "
         u"not be located on your computer.\nMake sure that you are using the correct service "
         u"pack for the product.",
         u"Installation Error", 0x50010},
        {308,
         u"The service pack could not be installed because it is designed for Corvane Sample - "
         u"Update 1 (Version 2).",
         u"Installation Error", 0x50010},
        {309, u"The command line that you supplied is incorrect. Please check it for errors.",
         u"Installation Error", 0x50010},
        {310,
         u"You must supply a patch list with the command line to install this service pack "
         u"installation.",
         u"Installation Error", 0x50010},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        fake.boxes.shown.clear();
        fake.resources.loadedIds.clear();
        fake.boxes.answers = {1};
        EXPECT_EQ(ShowMessage(row.id), 1);
        ASSERT_EQ(fake.boxes.shown.size(), 1u);
        EXPECT_EQ(fake.boxes.shown[0].text, row.text);
        EXPECT_EQ(fake.boxes.shown[0].caption, row.caption);
        EXPECT_EQ(fake.boxes.shown[0].flags, row.flags);
        // The text first, then its caption.
        const std::uint32_t captionId = row.caption == u"Installation Successful"    ? 312
                                        : row.caption == u"Installation Unnecessary" ? 313
                                                                                     : 311;
        EXPECT_EQ(fake.resources.loadedIds, (std::vector<std::uint32_t>{row.id, captionId}));
    }
}

TEST_F(CatalogTest, QuietAnswersNoWithoutReadingAnything) {
    Options.quiet = true;
    for (std::uint32_t id : {300u, 301u, 306u, 307u, 308u, 309u, 310u, 42u}) {
        EXPECT_EQ(ShowMessage(id), kAnswerNo);
    }
    EXPECT_TRUE(fake.boxes.shown.empty());
    EXPECT_TRUE(fake.resources.loadedIds.empty());
    EXPECT_EQ(fake.thread.lastErrorReads, 0);
}

TEST_F(CatalogTest, BoxesNobodySeesAnswerAsQuietRunsDo) {
    BoxesAreSeen = false;
    for (bool quiet : {false, true}) {
        Options.quiet = quiet;
        for (std::uint32_t id : {300u, 301u, 306u, 307u, 308u, 309u, 310u}) {
            EXPECT_EQ(ShowMessage(id), kAnswerNo) << id;
        }
    }
    BoxesAreSeen = true;
    EXPECT_TRUE(fake.boxes.shown.empty());
    EXPECT_TRUE(fake.resources.loadedIds.empty());
    EXPECT_EQ(fake.thread.lastErrorReads, 0);
    // Only where they are seen do they show again.
    Options.quiet = false;
    ShowMessage(300);
    EXPECT_EQ(fake.boxes.shown.size(), 1u);
}

// A loader that leaves its own last-error value behind, as a failing platform lookup does.
struct ClobberingResources : fakes::FakeResources {
    fakes::FakeThread* thread = nullptr;
    std::int32_t LoadString(ModuleHandle module, std::uint32_t id, std::uint16_t language,
                            char16_t* buffer, std::int32_t capacity) override {
        thread->SetLastError(1814);
        return FakeResources::LoadString(module, id, language, buffer, capacity);
    }
};

TEST_F(CatalogTest, ErrorCodeIsTheLastErrorBeforeAnythingLoads) {
    ClobberingResources resources;
    resources.strings = kEnglish;
    resources.thread = &fake.thread;
    CurrentPlatform().resources = &resources;
    fake.thread.lastError = 0x80070005u;
    fake.boxes.answers = {0};
    EXPECT_EQ(ShowMessage(300), 0);  // a box that could not be shown answers 0
    const std::u16string& text = OnlyBox().text;
    EXPECT_TRUE(text.ends_with(u"\n\n Error Code: -2147024891")) << fakes::Narrow(text);
    EXPECT_EQ(fake.thread.lastErrorReads, 1);
}

TEST_F(CatalogTest, SuccessPassesTheProductNameSecond) {
    fake.resources.strings[301] = u"%s installed on %s.";
    ShowMessage(301);
    EXPECT_EQ(OnlyBox().text, u"service pack installed on Corvane Sample.");
}

TEST_F(CatalogTest, TranslationWithSurplusPlaceholdersShowsThemEmpty) {
    fake.resources.strings[309] = u"Bad command line %s%d.";
    ShowMessage(309);
    EXPECT_EQ(OnlyBox().text, u"Bad command line 0.");
}

TEST_F(CatalogTest, LongProductNameIsCutAtTheFormatterLimit) {
    CurrentProductName = std::u16string(3000, u'p');
    ShowMessage(306);
    EXPECT_EQ(OnlyBox().text.size(), 1023u);
}

TEST_F(CatalogTest, MissingEntriesShowEmptyTexts) {
    fake.resources.strings.clear();
    ShowMessage(307);
    EXPECT_EQ(OnlyBox().text, u"");
    EXPECT_EQ(OnlyBox().caption, u"");
}

TEST_F(CatalogTest, IdOutsideTheCatalogShowsNothing) {
    for (std::uint32_t id : {0u, 299u, 302u, 311u, 320u, 321u, 70000u}) {
        EXPECT_EQ(ShowMessage(id), 0) << id;
    }
    EXPECT_TRUE(fake.boxes.shown.empty());
    EXPECT_TRUE(fake.resources.loadedIds.empty());
}

}  // namespace
}  // namespace sp

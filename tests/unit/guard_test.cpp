#include "ui/guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/process_state.h"
#include "tests/fakes/fake_platform.h"
#include "ui/catalog.h"

namespace sp {
namespace {

constexpr char16_t kPromptFormat[] =
    u"The installer has detected that the following programs\nare running.\n\n%s\nIn order to "
    u"complete installation, these programs must\nbe closed.\n%s";
constexpr char16_t kFirstPrompt[] =
    u"The installer has detected that the following programs\nare running.\n\nDraftmill\n\nIn "
    u"order to complete installation, these programs must\nbe closed.\n";
constexpr char16_t kSecondPrompt[] =
    u"The installer has detected that the following programs\nare running.\n\nPartsmith\n\nIn "
    u"order to complete installation, these programs must\nbe closed.\n";

class GuardTest : public ::testing::Test {
  protected:
    GuardTest() {
        Options = LaunchOptions{};
        fake.resources.strings[311] = u"Installation Error";
        fake.resources.strings[321] = kPromptFormat;
        fake.processes.running = {{4, u"System"}, {1200, u"explorer.exe"}};
    }
    ~GuardTest() override {
        Options = LaunchOptions{};
        BoxesAreSeen = true;
    }

    void Run(const std::u16string& exe, std::uint32_t pid = 3000) {
        fake.processes.running.push_back({pid, exe});
    }
    void Stop(const std::u16string& exe) {
        std::erase_if(fake.processes.running,
                      [&](const ProcessEntry& e) { return e.exeFile == exe; });
    }
    std::vector<std::u16string> PromptTexts() const {
        std::vector<std::u16string> texts;
        for (const auto& box : fake.boxes.shown) texts.push_back(box.text);
        return texts;
    }

    fakes::FakePlatform fake;
};

TEST_F(GuardTest, NothingRunningMeansNoPrompt) {
    EXPECT_TRUE(WaitForBlockingApplications());
    EXPECT_TRUE(fake.boxes.shown.empty());
    EXPECT_EQ(fake.processes.snapshots, 2);
    EXPECT_EQ(std::u16string(FirstWatchedExe), u"dmill.exe");
    EXPECT_EQ(std::u16string(SecondWatchedExe), u"partsmith.exe");
    // Caption, then one prompt per application, loaded every call.
    EXPECT_EQ(fake.resources.loadedIds, (std::vector<std::uint32_t>{311, 321, 321}));
}

TEST_F(GuardTest, RetryAfterClosingMovesOnToTheSecondApplication) {
    Run(u"dmill.exe");
    Run(u"partsmith.exe");
    fake.boxes.answers = {kAnswerRetry, kAnswerRetry, kAnswerRetry};
    int shownCount = 0;
    fake.boxes.onShow = [&](const fakes::FakeBoxes::Box&) {
        // The user needs two tries to close the first, one for the second.
        ++shownCount;
        if (shownCount == 2) Stop(u"dmill.exe");
        if (shownCount == 3) Stop(u"partsmith.exe");
    };
    EXPECT_TRUE(WaitForBlockingApplications());
    EXPECT_EQ(PromptTexts(),
              (std::vector<std::u16string>{kFirstPrompt, kFirstPrompt, kSecondPrompt}));
    for (const auto& box : fake.boxes.shown) {
        EXPECT_EQ(box.caption, u"Installation Error");
        EXPECT_EQ(box.flags, 0x50015u);
    }
}

TEST_F(GuardTest, CancelOnOneApplicationStillChecksTheOther) {
    struct Case {
        bool firstRuns, secondRuns;
        std::vector<std::int32_t> answers;
        std::size_t prompts;
    };
    const std::vector<Case> cases = {
        {true, false, {kAnswerCancel}, 1},
        {false, true, {kAnswerCancel}, 1},
        {true, true, {kAnswerCancel, kAnswerCancel}, 2},
    };
    for (const Case& c : cases) {
        fakes::FakePlatform local;
        local.resources.strings = fake.resources.strings;
        if (c.firstRuns) local.processes.running.push_back({10, u"dmill.exe"});
        if (c.secondRuns) local.processes.running.push_back({11, u"partsmith.exe"});
        local.boxes.answers = c.answers;
        EXPECT_FALSE(WaitForBlockingApplications());
        EXPECT_EQ(local.boxes.shown.size(), c.prompts);
    }
}

TEST_F(GuardTest, CancelIsRememberedAfterTheSecondIsClosed) {
    Run(u"dmill.exe");
    Run(u"partsmith.exe");
    fake.boxes.answers = {kAnswerCancel, kAnswerRetry};
    fake.boxes.onShow = [&](const fakes::FakeBoxes::Box& box) {
        if (box.text == kSecondPrompt) Stop(u"partsmith.exe");
    };
    EXPECT_FALSE(WaitForBlockingApplications());
    EXPECT_EQ(PromptTexts(), (std::vector<std::u16string>{kFirstPrompt, kSecondPrompt}));
}

TEST_F(GuardTest, PromptsEvenWhenQuiet) {
    Options.quiet = true;
    Run(u"partsmith.exe");
    fake.boxes.answers = {kAnswerCancel};
    EXPECT_FALSE(WaitForBlockingApplications());
    EXPECT_EQ(fake.boxes.shown.size(), 1u);
}

// Nobody could answer the prompt: each watched application that runs counts as cancelled at its
// first check, without a box, a retry or a second look.
TEST_F(GuardTest, WhereNobodySeesThePromptARunningApplicationIsCancelledAtOnce) {
    struct Case {
        const char* what;
        std::vector<ProcessEntry> running;
        bool unreadable;
        bool answer;
    };
    const std::vector<Case> cases = {
        {"none", {}, false, true},
        {"first", {{10, u"dmill.exe"}}, false, false},
        {"second", {{11, u"Partsmith.exe"}}, false, false},
        {"both", {{10, u"dmill.exe"}, {11, u"partsmith.exe"}}, false, false},
        {"unreadable list", {}, true, false},
    };
    for (const Case& c : cases) {
        fakes::FakePlatform local;
        local.resources.strings = fake.resources.strings;
        local.processes.running = c.running;
        local.processes.unreadable = c.unreadable;
        local.boxes.answers = {kAnswerRetry, kAnswerRetry};  // never asked
        BoxesAreSeen = false;
        EXPECT_EQ(WaitForBlockingApplications(), c.answer) << c.what;
        EXPECT_TRUE(local.boxes.shown.empty()) << c.what;
        EXPECT_EQ(local.processes.snapshots, 2) << c.what;
    }
}

TEST_F(GuardTest, BoxThatCannotBeShownEndsTheLoop) {
    Run(u"dmill.exe");
    Run(u"partsmith.exe");
    fake.boxes.answers = {0, 1};  // no box, then an unexpected OK
    EXPECT_FALSE(WaitForBlockingApplications());
    EXPECT_EQ(fake.boxes.shown.size(), 2u);
}

TEST_F(GuardTest, UnreadableProcessListCountsAsRunningUntilCancel) {
    fake.processes.unreadable = true;
    fake.boxes.answers = {kAnswerRetry, kAnswerRetry, kAnswerCancel, kAnswerCancel};
    EXPECT_FALSE(WaitForBlockingApplications());
    EXPECT_EQ(fake.boxes.shown.size(), 4u);
    EXPECT_EQ(fake.processes.snapshots, 4);  // a fresh snapshot for every check
}

TEST_F(GuardTest, MissingCaptionEntryLeavesAnEmptyCaption) {
    fake.resources.strings.erase(311);
    Run(u"dmill.exe");
    fake.boxes.answers = {kAnswerCancel};
    WaitForBlockingApplications();
    // Loading replaces the caption whole, also with an empty text.
    EXPECT_EQ(fake.boxes.shown.at(0).caption, u"");
}

TEST_F(GuardTest, ProcessMatchIgnoresCaseAndSkipsProcessIdZero) {
    EXPECT_FALSE(IsProcessRunning(u"dmill.exe"));
    Run(u"dmill.exe", 0);
    EXPECT_FALSE(IsProcessRunning(u"dmill.exe"));
    Run(u"DMill.EXE");
    EXPECT_TRUE(IsProcessRunning(u"dmill.exe"));
    EXPECT_FALSE(IsProcessRunning(u"dmill.ex"));
    EXPECT_FALSE(IsProcessRunning(u"dmill.exe2"));
    EXPECT_FALSE(IsProcessRunning(u"explorer"));
    fake.processes.unreadable = true;
    EXPECT_TRUE(IsProcessRunning(u"anything.exe"));
}

}  // namespace
}  // namespace sp

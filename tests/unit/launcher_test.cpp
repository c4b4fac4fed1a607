#include "launcher/launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "package/extract.h"
#include "tests/fakes/failing_allocation.h"
#include "tests/fakes/fake_platform.h"
#include "tests/unit/param_names.h"
#include "ui/catalog.h"

namespace sp {
namespace {

using fakes::FakePlatform;
using fakes::Narrow;

struct ScanCase {
    const char* name;
    std::vector<std::u16string> arguments;  // after argument 0
    bool quiet;
    bool install;
    bool extract;
    bool info;
    std::u16string extractPath;
};

std::ostream& operator<<(std::ostream& os, const ScanCase& c) { return os << c.name; }

class ScanArgumentsTable : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanArgumentsTable, SetsOptions) {
    const ScanCase& c = GetParam();
    std::vector<std::u16string> arguments{u"C:\\dist\\servicepack.exe"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    LaunchOptions options;
    ScanArguments(arguments, options);
    EXPECT_EQ(options.quiet, c.quiet);
    EXPECT_EQ(options.install, c.install);
    EXPECT_EQ(options.extract, c.extract);
    EXPECT_EQ(options.info, c.info);
    EXPECT_EQ(Narrow(options.extractPath), Narrow(c.extractPath));
}

//                       quiet  install extract info   path
INSTANTIATE_TEST_SUITE_P(
    Options, ScanArgumentsTable,
    ::testing::Values(
        ScanCase{"NoArguments", {}, false, true, false, false, u""},
        ScanCase{"QuietAlone", {u"/q"}, true, true, false, false, u""},
        ScanCase{"ExtractWithPath", {u"/e", u"out.msp"}, false, false, true, false, u"out.msp"},
        ScanCase{"ExtractLast", {u"/e"}, false, false, true, false, u""},
        ScanCase{"ExtractEmptyPathArgument", {u"/e", u"", u"/q"}, true, false, true, false, u""},
        ScanCase{"ExtractConsumesOptionWord", {u"/e", u"/q"}, false, false, true, false, u"/q"},
        ScanCase{"ExtractConsumesInfoWord", {u"/e", u"/i"}, false, false, true, false, u"/i"},
        ScanCase{"SecondExtractWins", {u"/e", u"a", u"/e", u"b"}, false, false, true, false, u"b"},
        ScanCase{"TrailingExtractKeepsPath", {u"/e", u"a", u"/e"}, false, false, true, false, u"a"},
        ScanCase{"ExtractThenInfo", {u"/e", u"a", u"/i"}, false, false, true, true, u"a"},
        ScanCase{"InfoEndsScan", {u"/i", u"/e", u"a"}, false, false, false, true, u""},
        ScanCase{"QuietThenInfo", {u"/q", u"/i"}, true, false, false, true, u""},
        ScanCase{"InfoThenQuietUnscanned", {u"/i", u"/q"}, false, false, false, true, u""},
        ScanCase{"NeitherAlone", {u"/pi"}, false, false, false, false, u""},
        ScanCase{"ExtractThenNeither", {u"/e", u"a", u"/pi"}, false, false, true, false, u"a"},
        ScanCase{"InfoThenNeitherUnscanned", {u"/i", u"/pi"}, false, false, false, true, u""},
        ScanCase{"NeitherEndsScan", {u"/pi", u"/i", u"/q"}, false, false, false, false, u""},
        ScanCase{"UnknownWordsIgnored",
                 {u"/x", u"-q", u"/quiet", u"q", u"/e:", u"/ q", u"/q ", u"/p", u"/pii"},
                 false,
                 true,
                 false,
                 false,
                 u""},
        ScanCase{"UpperCase", {u"/Q", u"/E", u"X.MSP"}, true, false, true, false, u"X.MSP"},
        ScanCase{"UpperInfo", {u"/I"}, false, false, false, true, u""},
        ScanCase{"MixedCaseNeither", {u"/e", u"a", u"/Pi"}, false, false, true, false, u"a"},
        ScanCase{"UpperNeither", {u"/PI", u"/q"}, false, false, false, false, u""},
        // Only A-Z fold: dotted capital I, dotless i and full-width letters are other words.
        ScanCase{"NonAsciiLettersDoNotFold",
                 {u"/\u0130", u"/\u0131", u"/\uFF51", u"\uFF0Fq"},
                 false,
                 true,
                 false,
                 false,
                 u""}),
    [](const auto& info) {
        // The case's own name keeps the names unique; the arguments show what it scans.
        const std::vector<std::u16string>& arguments = info.param.arguments;
        std::string name = info.param.name;
        return arguments.empty() ? name : name + "_" + testnames::ReadableArguments(arguments);
    });

TEST(ScanArguments, SkipsArgumentZeroAndKeepsUnscannedOptions) {
    LaunchOptions options;
    options.info = true;
    ScanArguments({u"/i"}, options);  // only the program path
    EXPECT_TRUE(options.install);
    EXPECT_TRUE(options.info);  // the scan only ever changes what an option word names
    ScanArguments({}, options);
    EXPECT_TRUE(options.install);
}

TEST(ScanArguments, ApplyResetsAllButInfoAndToleratesNoVector) {
    LaunchOptions options{true, false, true, true, u"old"};
    fakes::FakeCommandLine unsplittable;
    unsplittable.arguments = std::nullopt;
    ApplyArguments(unsplittable, options);
    EXPECT_FALSE(options.quiet);
    EXPECT_TRUE(options.install);
    EXPECT_FALSE(options.extract);
    EXPECT_TRUE(options.extractPath.empty());
    EXPECT_TRUE(options.info);  // starts false with the process, never reset by a scan
}

TEST(ScanArguments, RunningOutOfMemoryKeepsWhatWasSetAndCopied) {
    // The path copy fails: "/e" has already set its flags, and "/i" is never scanned.
    const std::u16string longPath(100000, u'p');
    fakes::FakeCommandLine commandLine;
    commandLine.arguments = std::vector<std::u16string>{u"sp.exe", u"/q", u"/e", longPath, u"/i"};
    LaunchOptions options;
    // The first copy of the path, from the command line, succeeds; the scan's own copy fails.
    fakes::FailAllocationOf(longPath.size() * sizeof(char16_t), 1);
    EXPECT_NO_THROW(ApplyArguments(commandLine, options));
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.extract);
    EXPECT_FALSE(options.install);
    EXPECT_FALSE(options.info);
    EXPECT_TRUE(options.extractPath.empty());
}

TEST(ScanArguments, ApplySwallowsAFailedScanAndAFailedCopy) {
    fakes::FakeCommandLine commandLine;
    commandLine.arguments = std::vector<std::u16string>{u"sp.exe", u"/q", u"/e", u"p", u"/i"};
    LaunchOptions options;
    ArgumentScanner failing = [](const std::vector<std::u16string>& arguments, LaunchOptions& o) {
        ScanArguments({arguments.begin(), arguments.begin() + 3}, o);
        throw std::bad_alloc();
    };
    EXPECT_NO_THROW(ApplyArguments(commandLine, options, failing));
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.extract);
    EXPECT_FALSE(options.info);

    // The copy fails after "/e": what came before it is scanned all the same.
    commandLine.failAfter = 3;
    options = LaunchOptions{};
    EXPECT_NO_THROW(ApplyArguments(commandLine, options));
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.extract);
    EXPECT_TRUE(options.extractPath.empty());
    EXPECT_FALSE(options.info);
}

TEST(ScanArguments, ParseCommandLineReadsThePlatformCommandLine) {
    FakePlatform platform;
    Options = LaunchOptions{};
    platform.commandLine.arguments =
        std::vector<std::u16string>{u"servicepack.exe", u"/Q", u"/e", u"C:\\x.msp"};
    ParseCommandLine();
    EXPECT_TRUE(Options.quiet);
    EXPECT_TRUE(Options.extract);
    EXPECT_EQ(Narrow(Options.extractPath), "C:\\x.msp");

    platform.commandLine.arguments = std::nullopt;  // the line could not be split
    ParseCommandLine();
    EXPECT_TRUE(Options.install);
    EXPECT_FALSE(Options.quiet);
    Options = LaunchOptions{};
}

// Records the order in which modes run and what the extraction was handed.
struct ModeRecorder {
    std::vector<std::string> ran;
    LaunchModes Modes() {
        return LaunchModes{[this] {
                               ran.push_back("install");
                               return true;
                           },
                           [this](std::u16string& path) {
                               ran.push_back("extract(" + Narrow(path) + ")");
                               if (path.empty()) path = u"C:\\tmp\\MSP1";
                               return false;
                           },
                           [this] { ran.push_back("info"); }};
    }
};

TEST(LauncherDispatch, InstallRunsAloneAndOtherModesInOrder) {
    struct Case {
        LaunchOptions options;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {{false, true, false, false, u""}, {"install"}},
        // An install flag still set means no mode option was scanned; nothing else runs.
        {{false, true, true, true, u"a"}, {"install"}},
        {{false, false, true, false, u"a"}, {"extract(a)"}},
        {{false, false, false, true, u""}, {"info"}},
        {{false, false, true, true, u"a"}, {"extract(a)", "info"}},
        {{false, false, false, false, u""}, {}},
    };
    for (const Case& c : cases) {
        ModeRecorder recorder;
        LaunchOptions options = c.options;
        RunSelectedModes(options, recorder.Modes());
        EXPECT_EQ(recorder.ran, c.expected);
    }
}

TEST(LauncherDispatch, ExtractionReceivesTheExtractPathItself) {
    ModeRecorder recorder;
    LaunchOptions options{false, false, true, false, u""};
    RunSelectedModes(options, recorder.Modes());
    EXPECT_EQ(Narrow(options.extractPath), "C:\\tmp\\MSP1");
}

class LauncherMainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Options = LaunchOptions{};
        Targets.clear();
        SetTemporaryNameCounter(1);
        platform.files.directories.insert(u"C:\\out\\");
    }
    void TearDown() override {
        Options = LaunchOptions{};
        Targets.clear();
        BoxesAreSeen = true;
    }
    void CommandLine(std::vector<std::u16string> arguments) {
        arguments.insert(arguments.begin(), u"servicepack.exe");
        platform.commandLine.arguments = arguments;
    }
    // A package that targets {A} and accepts 1.0; {A} installed at 1.0 when `installed`.
    static void SamplePackage(FakePlatform& machine, bool installed = true) {
        auto& summary = machine.installer.packages[u"C:\\users\\me\\Temp\\MSP1"];
        summary.properties[kSummaryKeywords] = u"2.0;1.0,";
        summary.properties[kSummaryTemplate] = u"{A}";
        if (installed) {
            machine.installer.products[u"{A}"].properties = {{u"VersionString", u"1.0"},
                                                             {u"ProductName", u"Alpha"}};
        }
        SetTemporaryNameCounter(1);
    }
    FakePlatform platform;
    int moduleToken = 0;
};

TEST_F(LauncherMainTest, ExtractModeWritesThePackageAndEmptiesTargets) {
    CommandLine({u"/e", u"C:\\out\\sp.msp"});
    Targets.emplace_back();
    EXPECT_EQ(LauncherMain(&moduleToken), 0);
    EXPECT_EQ(ModuleInstance, &moduleToken);
    EXPECT_EQ(platform.files.files.at(u"C:\\out\\sp.msp"), platform.resources.package);
    EXPECT_TRUE(Targets.empty());
    EXPECT_TRUE(platform.boxes.shown.empty());
}

TEST_F(LauncherMainTest, ExtractModeWithoutPathUsesATemporaryNameSilently) {
    CommandLine({u"/e"});
    EXPECT_EQ(LauncherMain(&moduleToken), 0);
    EXPECT_EQ(Narrow(Options.extractPath), "C:\\users\\me\\Temp\\MSP1");
    EXPECT_EQ(platform.files.files.count(u"C:\\users\\me\\Temp\\MSP1"), 1u);
    EXPECT_TRUE(platform.boxes.shown.empty());
}

TEST_F(LauncherMainTest, FailedExtractionStillAnswersZeroAndShowsNothing) {
    CommandLine({u"/e", u"C:\\missing\\sp.msp"});
    EXPECT_EQ(LauncherMain(&moduleToken), 0);
    EXPECT_TRUE(platform.files.files.empty());
    EXPECT_TRUE(platform.boxes.shown.empty());
}

TEST_F(LauncherMainTest, NeitherModeRunsNothing) {
    CommandLine({u"/pi", u"/e", u"C:\\out\\sp.msp"});
    EXPECT_EQ(LauncherMain(&moduleToken), 0);
    EXPECT_TRUE(platform.files.calls.empty());
    EXPECT_TRUE(platform.installer.calls.empty());
    EXPECT_TRUE(platform.boxes.shown.empty());
}

TEST_F(LauncherMainTest, InstallModeAnswersZeroWhateverItsOutcome) {
    CommandLine({u"/q"});
    auto& summary = platform.installer.packages[u"C:\\users\\me\\Temp\\MSP1"];
    summary.properties[kSummaryKeywords] = u"2.0;1.0,";
    summary.properties[kSummaryTemplate] = u"{A}";
    platform.installer.products[u"{A}"].properties = {{u"VersionString", u"1.0"},
                                                      {u"ProductName", u"Alpha"}};
    platform.installer.configureResult = 1603;  // the installation fails
    EXPECT_EQ(LauncherMain(&moduleToken), 0);
    EXPECT_TRUE(Options.install);
    const auto& calls = platform.installer.calls;
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const std::string& call) {
                                return call.rfind("ConfigureProductWithCommandLine({A}", 0) == 0;
                            }),
              1);
    EXPECT_TRUE(platform.boxes.shown.empty());
    EXPECT_TRUE(Targets.empty());
}

// The platform's answer "nobody can see this process's boxes", as for a service: no mode shows
// a box, quiet or not, whatever the run meets. It is asked once per run.
TEST_F(LauncherMainTest, WhereNobodySeesTheBoxesNoModeShowsOne) {
    struct Case {
        const char* what;
        std::vector<std::u16string> arguments;
        bool productInstalled;
        bool draftmillRuns;
        ErrorCode configureResult;
    };
    const std::vector<Case> cases = {
        {"patched", {}, true, false, 0},
        {"installer fails", {}, true, false, 1603},
        {"no target", {}, false, false, 0},
        {"watched application", {}, true, true, 0},
        {"quiet, watched application", {u"/q"}, true, true, 0},
        {"information", {u"/i"}, true, true, 0},
        {"extraction and information", {u"/e", u"C:\\out\\sp.msp", u"/i"}, true, true, 0},
    };
    for (const Case& c : cases) {
        FakePlatform local;
        local.commandLine.arguments = std::vector<std::u16string>{u"servicepack.exe"};
        local.commandLine.arguments->insert(local.commandLine.arguments->end(), c.arguments.begin(),
                                            c.arguments.end());
        local.files.directories.insert(u"C:\\out\\");
        SamplePackage(local, c.productInstalled);
        if (c.draftmillRuns) local.processes.running = {{7, u"dmill.exe"}};
        local.installer.configureResult = c.configureResult;
        local.boxes.userCanSee = false;

        EXPECT_EQ(LauncherMain(&moduleToken), 0) << c.what;
        EXPECT_TRUE(local.boxes.shown.empty()) << c.what;
        EXPECT_EQ(local.boxes.userCanSeeQueries, 1) << c.what;
        EXPECT_FALSE(BoxesAreSeen) << c.what;
    }
}

// Session 0 is nobody's desktop, whatever its window station says; any other session, or one
// the system cannot tell, is as visible as its station.
TEST_F(LauncherMainTest, SessionZeroIsUnseenWhateverItsStationReports) {
    struct Case {
        std::optional<std::uint32_t> session;
        bool stationVisible;
        bool seen;
    };
    const Case cases[] = {{0, true, false},  {0, false, false},          {1, true, true},
                          {1, false, false}, {std::nullopt, true, true}, {2, true, true}};
    for (const Case& c : cases) {
        FakePlatform local;
        local.commandLine.arguments = std::vector<std::u16string>{u"servicepack.exe", u"/pi"};
        local.boxes.session = c.session;
        local.boxes.userCanSee = c.stationVisible;
        LauncherMain(&moduleToken);
        EXPECT_EQ(BoxesAreSeen, c.seen) << c.session.value_or(99) << " " << c.stationVisible;
    }
}

// The watched application stops the unseen run as Cancel would: user exit, nothing configured,
// the package left. Where the boxes are seen, the same run prompts.
TEST_F(LauncherMainTest, WhereNobodySeesThePromptTheRunStopsAsOnCancel) {
    for (bool seen : {false, true}) {
        FakePlatform local;
        SamplePackage(local);
        local.processes.running = {{7, u"dmill.exe"}};
        local.boxes.userCanSee = seen;
        local.boxes.answers = {kAnswerCancel};

        EXPECT_EQ(LauncherMain(&moduleToken), 0);
        EXPECT_EQ(local.boxes.shown.size(), seen ? 2u : 0u);
        // Where the boxes are seen, loading the report's text may leave its own code.
        if (!seen) {
            EXPECT_EQ(local.thread.lastError, kErrorInstallUserExit);
        }
        for (const std::string& call : local.installer.calls) {
            EXPECT_EQ(call.rfind("Configure", 0), std::string::npos) << call;
            EXPECT_EQ(call.rfind("EnableInstallerLog", 0), std::string::npos) << call;
        }
        EXPECT_EQ(local.files.files.count(u"C:\\users\\me\\Temp\\MSP1"), 1u);
    }
}

}  // namespace
}  // namespace sp

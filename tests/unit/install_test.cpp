#include "targeting/install.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "launcher/process_state.h"
#include "package/extract.h"
#include "tests/fakes/fake_platform.h"

namespace sp {
namespace {

using fakes::Narrow;

const std::u16string kPackage = u"C:\\users\\me\\Temp\\MSP1";
const std::string kPatch =
    "PATCH=\"C:\\users\\me\\Temp\\MSP1\" REBOOTPROMPT=S FILESINUSETEXT=\"Close these:\"";

// Tells the boxes apart by what they say: "<id>: <inserts>".
class InstallTest : public ::testing::Test {
  public:
    InstallTest() {
        Options = LaunchOptions{};
        Targets.clear();
        CurrentProductName.clear();
        SetTemporaryNameCounter(1);
        auto& strings = fake.resources.strings;
        strings = {{300, u"300: %s %d"}, {301, u"301: %s %s"},  {306, u"306: %s %s"},
                   {307, u"307: %s %s"}, {308, u"308: %s %s"},  {311, u"Error"},
                   {312, u"Success"},    {313, u"Unnecessary"}, {320, u"Close these:"},
                   {321, u"Running: %s"}};
        Keywords(u"2.0.0.0;1.0.0.0,1.5.0.0,");
    }
    ~InstallTest() override {
        Options = LaunchOptions{};
        BoxesAreSeen = true;
        Targets.clear();
    }

    // A fresh machine for the next case of a table.
    void Reset() {
        fake.boxes.shown.clear();
        fake.files.files.clear();
        fake.installer.calls.clear();
        fake.installer.products.clear();
        fake.installer.packages.clear();
        fake.resources.hasPackage = true;
        fake.thread.lastError = 0;
        Targets.clear();
        SetTemporaryNameCounter(1);
        Keywords(u"2.0.0.0;1.0.0.0,1.5.0.0,");
    }

    // The package goes to the folder TMP names; the installer finds it there by full path.
    void MovePackageTo(const std::u16string& tmp, std::u16string fullPath = u"") {
        if (fullPath.empty()) fullPath = tmp + u"\\MSP1";
        fake.files.environment[u"TMP"] = tmp;
        fake.files.directories.insert(tmp);
        auto node = fake.installer.packages.extract(kPackage);
        node.key() = fullPath;
        fake.installer.packages.insert(std::move(node));
    }

    void Keywords(const std::u16string& keywords, const std::u16string& codes = u"{A};{B}") {
        auto& summary = fake.installer.packages[kPackage];
        summary.properties[kSummaryKeywords] = keywords;
        summary.properties[kSummaryTemplate] = codes;
    }
    void Product(const std::u16string& code, const std::u16string& name,
                 const std::u16string& version) {
        auto& product = fake.installer.products[code];
        product.properties[u"ProductName"] = name;
        product.properties[u"VersionString"] = version;
    }

    // The calls of the installing part of the run: logging, UI level, configuring.
    std::vector<std::string> InstallCalls() const {
        std::vector<std::string> out;
        for (const std::string& call : fake.installer.calls) {
            if (call.rfind("EnableInstallerLog", 0) == 0 || call.rfind("SetInstallerUi", 0) == 0 ||
                call.rfind("Configure", 0) == 0) {
                out.push_back(call);
            }
        }
        return out;
    }
    std::vector<std::string> Shown() const {
        std::vector<std::string> out;
        for (const auto& box : fake.boxes.shown) out.push_back(Narrow(box.text));
        return out;
    }
    bool PackageLeft() const { return fake.files.files.count(kPackage) == 1; }

    fakes::FakePlatform fake;
};

TEST_F(InstallTest, AppliesThePatchWithTheExactCallsAndDeletesThePackage) {
    Product(u"{A}", u"Alpha", u"1.5.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(InstallCalls(), (std::vector<std::string>{
                                  "EnableInstallerLog(4096,C:\\users\\me\\Temp\\Alpha.log,0)",
                                  "SetInstallerUiLevel(35)",
                                  "ConfigureProductWithCommandLine({A},0,5," + kPatch + ")",
                                  "SetInstallerUiLevel(5)",
                                  "EnableInstallerLog(16384,null,0)",
                              }));
    EXPECT_EQ(Shown(), std::vector<std::string>{"301: service pack Alpha"});
    EXPECT_EQ(fake.boxes.shown[0].caption, u"Success");
    EXPECT_EQ(Targets.at(0).commandLine, std::u16string(kPatch.begin(), kPatch.end()));
    EXPECT_FALSE(PackageLeft());
    // No product language is known, so the messages stay in the user's language.
    EXPECT_TRUE(fake.thread.locales.empty());
}

TEST_F(InstallTest, ProductsAreHandledInListOrderEachWithItsOwnLogAndName) {
    Keywords(u"2.0.0.0;1.0.0.0,1.5.0.0,", u"{A};{B};{C}");
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    Product(u"{B}", u"Beta", u"1.5.0.0");
    Product(u"{C}", u"Gamma", u"1.5.0.0");
    fake.installer.configureResults = {0, 1603, 3010};
    EXPECT_TRUE(InstallPatch());
    std::vector<std::string> configured;
    for (const std::string& call : InstallCalls()) {
        if (call.rfind("EnableInstallerLog(4096", 0) == 0 || call.rfind("Configure", 0) == 0)
            configured.push_back(call.substr(0, call.find(',', call.find(',') + 1)));
    }
    EXPECT_EQ(configured, (std::vector<std::string>{
                              "EnableInstallerLog(4096,C:\\users\\me\\Temp\\Alpha.log",
                              "ConfigureProductWithCommandLine({A},0",
                              "EnableInstallerLog(4096,C:\\users\\me\\Temp\\Beta.log",
                              "ConfigureProductWithCommandLine({B},0",
                              "EnableInstallerLog(4096,C:\\users\\me\\Temp\\Gamma.log",
                              "ConfigureProductWithCommandLine({C},0",
                          }));
    EXPECT_EQ(Shown(),
              (std::vector<std::string>{"301: service pack Alpha", "300: service pack 1603",
                                        "301: service pack Gamma"}));
    EXPECT_EQ(CurrentProductName, u"Gamma");
}

TEST_F(InstallTest, InstallerResults) {
    struct Case {
        ErrorCode result;
        std::string shown;
    };
    const Case cases[] = {
        {0, "301: service pack Alpha"},
        {1641, "301: service pack Alpha"},
        {3010, "301: service pack Alpha"},
        {1603, "300: service pack 1603"},
        {1642, "300: service pack 1642"},
        {1635, "300: service pack 1635"},
        {0x80070005, "300: service pack -2147024891"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        Reset();
        Product(u"{A}", u"Alpha", u"1.0.0.0");
        fake.installer.configureResult = c.result;
        EXPECT_TRUE(InstallPatch());
        EXPECT_EQ(Shown(), std::vector<std::string>{c.shown});
    }
}

TEST_F(InstallTest, EarlyStopsReportAndLeaveThePackage) {
    struct Case {
        const char* name;
        std::function<void(InstallTest&)> arrange;
        std::string shown;
        bool packageLeft;
    };
    const Case cases[] = {
        {"NoPackageResource", [](InstallTest& t) { t.fake.resources.hasPackage = false; },
         "300: service pack 1813", false},
        {"NoTemporaryNameLeft",
         [](InstallTest& t) {
             SetTemporaryNameCounter(kTemporaryNameLimit);
             t.fake.files.files[u"C:\\users\\me\\Temp\\MSP32767"] = "taken";
         },
         "300: service pack 80", false},
        {"SummaryRefused",
         [](InstallTest& t) { t.fake.installer.packages[kPackage].openResult = 1627; },
         "300: service pack 1627", true},
        {"KeywordsUnreadable",
         [](InstallTest& t) {
             t.fake.installer.packages[kPackage].forcedResult[kSummaryKeywords] = 1610;
         },
         "300: service pack 1610", true},
        {"KeywordsWithoutSemicolon", [](InstallTest& t) { t.Keywords(u"2.0.0.0"); },
         "300: service pack 4316", true},
        {"KeywordsStartingWithSemicolon", [](InstallTest& t) { t.Keywords(u";1.0.0.0,"); },
         "300: service pack 4316", true},
        {"TemplateUnreadable",
         [](InstallTest& t) {
             t.fake.installer.packages[kPackage].forcedResult[kSummaryTemplate] = 1610;
         },
         "300: service pack 1610", true},
        {"NoTargetInstalled", [](InstallTest& t) { t.fake.installer.products.clear(); },
         "307: service pack service pack", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        Product(u"{A}", u"Alpha", u"1.0.0.0");
        c.arrange(*this);
        // Left by an earlier, unrelated call (an environment lookup): never what a box shows.
        fake.thread.lastError = 203;
        EXPECT_FALSE(InstallPatch());
        EXPECT_EQ(Shown(), std::vector<std::string>{c.shown});
        EXPECT_TRUE(InstallCalls().empty());
        EXPECT_EQ(PackageLeft(), c.packageLeft);
        EXPECT_TRUE(fake.files.held.empty());
    }
}

TEST_F(InstallTest, TheAcceptedVersionsWalkDecidesEachRecord) {
    struct Case {
        const char* name;
        std::u16string keywords;
        std::u16string installed;
        std::vector<std::string> shown;
        std::size_t installCalls;  // 5 with the patch applied, 1 without, 0 after a stop
    };
    const Case cases[] = {
        {"SecondEntryMatches",
         u"12.0.60.0;12.0.50.0,12.0.52.0,",
         u"12.0.52.0",
         {"301: service pack Alpha"},
         5},
        // Text after the last ',' is never compared.
        {"LastEntryWithoutComma",
         u"12.0.60.0;12.0.50.0,12.0.52.0",
         u"12.0.52.0",
         {"308: service pack Alpha"},
         1},
        {"NotAmongThem", u"12.0.60.0;12.0.50.0,", u"12.0.51.0", {"308: service pack Alpha"}, 1},
        {"UpgradeListedFirst",
         u"12.0.60.0;12.0.60.0,12.0.52.0,",
         u"12.0.52.0",
         {"306: Alpha service pack"},
         0},
        // Versions compare as numbers, so spellings differ freely.
        {"CommasAndLeadingZeros",
         u"12,0,60,0;12.00.052,",
         u"12.0.52.0",
         {"301: service pack Alpha"},
         5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        Keywords(c.keywords, u"{A}");
        Product(u"{A}", u"Alpha", c.installed);
        InstallPatch();
        EXPECT_EQ(Shown(), c.shown);
        EXPECT_EQ(InstallCalls().size(), c.installCalls);
    }
}

TEST_F(InstallTest, AVersionNotAcceptedReportsAndGoesOn) {
    Product(u"{A}", u"Alpha", u"0.9.0.0");
    Product(u"{B}", u"Beta", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(Shown(),
              (std::vector<std::string>{"308: service pack Alpha", "301: service pack Beta"}));
    EXPECT_FALSE(PackageLeft());
}

TEST_F(InstallTest, UpgradeMetInTheWalkStopsTheWholeRun) {
    Keywords(u"2.0.0.0;2.0.0.0,1.0.0.0,");
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    Product(u"{B}", u"Beta", u"1.0.0.0");
    EXPECT_FALSE(InstallPatch());
    EXPECT_EQ(Shown(), std::vector<std::string>{"306: Alpha service pack"});
    EXPECT_TRUE(InstallCalls().empty());
    EXPECT_TRUE(PackageLeft());
}

TEST_F(InstallTest, UpToDateRecordsAreCountedSilently) {
    // One of two is up to date: no closing 306.
    Product(u"{A}", u"Alpha", u"2.0.0.0");
    Product(u"{B}", u"Beta", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(Shown(), std::vector<std::string>{"301: service pack Beta"});

    // All of them: nothing is configured, and one 306 names the last record.
    Reset();
    Product(u"{A}", u"Alpha", u"2.0.0.0");
    Product(u"{B}", u"Beta", u"2.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(InstallCalls(), std::vector<std::string>{"EnableInstallerLog(16384,null,0)"});
    EXPECT_EQ(Shown(), std::vector<std::string>{"306: Beta service pack"});
    EXPECT_EQ(fake.boxes.shown[0].caption, u"Unnecessary");
    EXPECT_EQ(fake.thread.locales, std::vector<std::uint32_t>{0x400});
    EXPECT_FALSE(PackageLeft());
}

TEST_F(InstallTest, CancelInThePromptReportsTheUserExitAndInstallsNothing) {
    fake.processes.running = {{7, u"dmill.exe"}};
    fake.boxes.answers = {2};
    fake.thread.lastError = 87;  // left behind by some earlier call
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    EXPECT_FALSE(InstallPatch());
    EXPECT_EQ(Shown(),
              (std::vector<std::string>{"Running: Draftmill\n", "300: service pack 1602"}));
    EXPECT_TRUE(InstallCalls().empty());
    EXPECT_TRUE(PackageLeft());
}

// Where nobody can see the prompt, a watched application that runs stops the run exactly as
// Cancel does, minus the two boxes: the same calls, the same files, the same last error.
TEST_F(InstallTest, UnseenPromptStopsTheRunAsCancelWithoutAnyBox) {
    for (bool quiet : {false, true}) {
        Reset();
        Options.quiet = quiet;
        fake.processes.running = {{7, u"dmill.exe"}, {8, u"partsmith.exe"}};
        fake.boxes = fakes::FakeBoxes{};
        fake.boxes.answers = {2, 2};
        Product(u"{A}", u"Alpha", u"1.0.0.0");
        EXPECT_FALSE(InstallPatch());
        EXPECT_EQ(fake.boxes.shown.size(), quiet ? 2u : 3u);
        // Handle numbers go on counting between runs: the calls are compared by count.
        const std::size_t cancelledCalls = fake.installer.calls.size();
        const auto cancelledFiles = fake.files.files;

        Reset();
        BoxesAreSeen = false;
        Product(u"{A}", u"Alpha", u"1.0.0.0");
        EXPECT_FALSE(InstallPatch());
        BoxesAreSeen = true;
        EXPECT_TRUE(fake.boxes.shown.empty());
        EXPECT_EQ(fake.thread.lastError, kErrorInstallUserExit);
        EXPECT_EQ(fake.installer.calls.size(), cancelledCalls);
        EXPECT_TRUE(InstallCalls().empty());
        EXPECT_EQ(fake.files.files, cancelledFiles);
        EXPECT_TRUE(PackageLeft());
    }
}

// With no watched application running, an unseen run is a quiet run, except that the installer
// gets no interface of its own (level 2) instead of its basic one (35), whose error and
// files-in-use boxes would wait there for nobody.
TEST_F(InstallTest, UnseenRunMakesTheQuietRunsCallsWithoutTheInstallersInterface) {
    Options.quiet = true;
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    Product(u"{B}", u"Beta", u"0.1.0.0");
    EXPECT_TRUE(InstallPatch());
    std::vector<std::string> quiet = InstallCalls();
    const std::size_t quietCount = fake.installer.calls.size();
    ASSERT_EQ(std::count(quiet.begin(), quiet.end(), "SetInstallerUiLevel(35)"), 1);
    std::replace(quiet.begin(), quiet.end(), std::string("SetInstallerUiLevel(35)"),
                 std::string("SetInstallerUiLevel(2)"));

    Reset();
    Options.quiet = false;
    BoxesAreSeen = false;
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    Product(u"{B}", u"Beta", u"0.1.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(InstallCalls(), quiet);
    EXPECT_EQ(fake.installer.calls.size(), quietCount);
    EXPECT_TRUE(fake.boxes.shown.empty());
    EXPECT_FALSE(PackageLeft());
}

TEST_F(InstallTest, QuietRunMakesTheSameCallsAndShowsNothing) {
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    Product(u"{B}", u"Beta", u"0.1.0.0");
    fake.installer.configureResult = 1603;
    InstallPatch();
    const std::vector<std::string> loud = InstallCalls();
    const std::size_t loudCount = fake.installer.calls.size();

    Reset();
    Options.quiet = true;
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    Product(u"{B}", u"Beta", u"0.1.0.0");
    fake.installer.configureResult = 1603;
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(InstallCalls(), loud);
    EXPECT_EQ(fake.installer.calls.size(), loudCount);
    EXPECT_TRUE(fake.boxes.shown.empty());
}

TEST_F(InstallTest, TheLogNameCannotLeaveTheTemporaryDirectory) {
    Product(u"{A}", u"..\\..\\escape", u"1.0.0.0");
    Product(u"{B}", u"a/b:c*d?e\"f<g>h|i\tj", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    const auto calls = InstallCalls();
    EXPECT_EQ(calls.at(0), "EnableInstallerLog(4096,C:\\users\\me\\Temp\\.._.._escape.log,0)");
    EXPECT_EQ(calls.at(4),
              "EnableInstallerLog(4096,C:\\users\\me\\Temp\\a_b_c_d_e_f_g_h_i_j.log,0)");
    // The messages show the name as registered.
    EXPECT_EQ(CurrentProductName, u"a/b:c*d?e\"f<g>h|i\tj");
}

TEST_F(InstallTest, ALogPathThatDoesNotFitLogsWithoutAFile) {
    struct Case {
        std::size_t directoryLength;  // backslash included
        std::string expectedLog;
    };
    // "Alpha.log" after the directory, and the terminator, within 260 characters.
    const std::u16string fits = u"C:\\" + std::u16string(246, u'd') + u"\\";
    const Case cases[] = {
        {fits.size(), Narrow(fits) + "Alpha.log"},
        {fits.size() + 1, "null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directoryLength);
        Reset();
        // Only the log asks the system; the package goes where TMP says.
        fake.files.tempPath = u"C:\\" + std::u16string(c.directoryLength - 4, u'd') + u"\\";
        fake.files.directories.insert(fake.files.tempPath);
        MovePackageTo(u"D:\\t");
        Product(u"{A}", u"Alpha", u"1.0.0.0");
        EXPECT_TRUE(InstallPatch());
        EXPECT_EQ(InstallCalls().at(0), "EnableInstallerLog(4096," + c.expectedLog + ",0)");
        EXPECT_EQ(Shown(), std::vector<std::string>{"301: service pack Alpha"});
    }
}

TEST_F(InstallTest, ATemporaryDirectoryUnknownToTheLogLogsWithoutAFile) {
    MovePackageTo(u"D:\\t");
    // The extraction still learns the system's temporary directory; the log no longer does.
    fake.files.beforeHold = [&](const std::u16string&) { fake.files.tempPathFails = true; };
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(InstallCalls().at(0), "EnableInstallerLog(4096,null,0)");
    EXPECT_EQ(InstallCalls().size(), 5u);
}

TEST_F(InstallTest, ACommandLineThatDoesNotFitIsNeverHandedToTheInstaller) {
    // Every quote doubles: 511 of them need 1,022 characters of the 1,024.
    fake.resources.strings[320] = std::u16string(511, u'"');
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    Product(u"{B}", u"Beta", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(Shown(),
              (std::vector<std::string>{"300: service pack 206", "300: service pack 206"}));
    EXPECT_EQ(InstallCalls(), std::vector<std::string>{"EnableInstallerLog(16384,null,0)"});

    // The longest command line that still fits: 1,023 characters.
    Reset();
    const std::size_t fixed = kPatch.size() - std::string("Close these:").size();
    const std::size_t quotes = 1023 - fixed - 511;
    fake.resources.strings[320] = std::u16string(quotes, u'"') + std::u16string(511 - quotes, u'x');
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(Targets.at(0).commandLine.size(), 1023u);
    EXPECT_EQ(Shown(), std::vector<std::string>{"301: service pack Alpha"});
}

TEST_F(InstallTest, AQuoteInTheFilesInUseTextIsDoubled) {
    fake.resources.strings[320] = u"Close \"these\" now";
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(Narrow(Targets.at(0).commandLine),
              "PATCH=\"C:\\users\\me\\Temp\\MSP1\" REBOOTPROMPT=S "
              "FILESINUSETEXT=\"Close \"\"these\"\" now\"");
}

TEST_F(InstallTest, ARelativeTemporaryDirectoryStillNamesThePackageAbsolutely) {
    MovePackageTo(u"rel", u"C:\\work\\rel\\MSP1");
    fake.files.directories.insert(u"C:\\work\\rel");  // where Windows resolves "rel"
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(Narrow(Targets.at(0).commandLine).rfind("PATCH=\"C:\\work\\rel\\MSP1\" ", 0), 0u);
}

TEST_F(InstallTest, ThePackageIsHeldWhileTheRunUsesIt) {
    fake.processes.running = {{7, u"dmill.exe"}};
    std::vector<bool> heldAtPrompt, heldAtConfigure;
    fake.boxes.onShow = [&](const fakes::FakeBoxes::Box&) {
        heldAtPrompt.push_back(fake.files.held.count(kPackage) == 1);
        fake.processes.running.clear();
    };
    fake.boxes.answers = {4};
    fake.installer.onConfigure = [&] {
        heldAtConfigure.push_back(fake.files.held.count(kPackage) == 1);
        // Someone tries to write or delete it now.
        EXPECT_EQ(fake.files.OpenForWriting(kPackage), nullptr);
        EXPECT_FALSE(fake.files.DeleteIfSame(kPackage, fake.files.IdentityOf(kPackage)));
    };
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(heldAtPrompt.at(0), true);
    EXPECT_EQ(heldAtConfigure, std::vector<bool>{true});
    EXPECT_FALSE(PackageLeft());
    EXPECT_TRUE(fake.files.held.empty());
}

TEST_F(InstallTest, APackageSwappedBeforeTheHoldStopsTheRun) {
    struct Case {
        const char* name;
        std::function<void(InstallTest&)> tamper;
        ErrorCode error;
    };
    const Case cases[] = {
        {"Replaced",
         [](InstallTest& t) { t.fake.files.files[kPackage] = "someone else's package"; }, 1006},
        // The codes are the ones the failing open leaves.
        {"StillOpenForWriting",
         [](InstallTest& t) { t.fake.files.openForWritingElsewhere.insert(kPackage); }, 32},
        {"Removed", [](InstallTest& t) { t.fake.files.files.erase(kPackage); }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        Product(u"{A}", u"Alpha", u"1.0.0.0");
        fake.files.beforeHold = [&](const std::u16string&) { c.tamper(*this); };
        EXPECT_FALSE(InstallPatch());
        EXPECT_EQ(Shown(),
                  std::vector<std::string>{"300: service pack " + std::to_string(c.error)});
        // Nothing of that file was read.
        for (const std::string& call : fake.installer.calls)
            EXPECT_EQ(call.find("Summary"), std::string::npos);
        fake.files.beforeHold = nullptr;
        fake.files.openForWritingElsewhere.clear();
    }
}

const std::u16string kAlphaLog = u"C:\\users\\me\\Temp\\Alpha.log";

TEST_F(InstallTest, TheLogIsMadeAfreshAndHeldUntilTheInstallerReturns) {
    // A link planted at the log's name, pointing at a file the installer must never write.
    fake.files.files[u"C:\\Windows\\win.ini"] = "system settings";
    fake.files.links[kAlphaLog] = u"C:\\Windows\\win.ini";
    std::vector<std::string> events, logCalls;
    fake.installer.onEnableLog = [&](const char16_t* path) {
        for (const std::string& call : fake.files.calls)
            if (path && call.find("Alpha.log") != std::string::npos) logCalls.push_back(call);
        events.push_back("enable " + (path ? Narrow(path) : "null") +
                         (fake.files.heldLogs.count(kAlphaLog) ? " held" : "") +
                         (fake.files.links.count(kAlphaLog) ? " link" : ""));
    };
    fake.installer.onConfigure = [&] {
        events.push_back(fake.files.heldLogs.count(kAlphaLog) ? "configure held" : "configure");
        EXPECT_FALSE(fake.files.RemoveEntry(kAlphaLog));  // nobody can take it away now
    };
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    EXPECT_TRUE(InstallPatch());
    EXPECT_EQ(events, (std::vector<std::string>{
                          "enable C:\\users\\me\\Temp\\Alpha.log held", "configure held",
                          "enable null",  // the closing EnableInstallerLog(0x4000)
                      }));
    EXPECT_EQ(logCalls,
              (std::vector<std::string>{"RemoveEntry(C:\\users\\me\\Temp\\Alpha.log)",
                                        "CreateHeldLog(C:\\users\\me\\Temp\\Alpha.log)"}));
    EXPECT_TRUE(fake.files.heldLogs.empty());  // released once configured
    EXPECT_EQ(fake.files.files.at(kAlphaLog), "");
    EXPECT_EQ(fake.files.files.at(u"C:\\Windows\\win.ini"), "system settings");
    EXPECT_EQ(Shown(), std::vector<std::string>{"301: service pack Alpha"});
}

// A log name that cannot be freed or made afresh gives way to the name with the product code;
// where that fails too, the installer logs to no file. The product is patched either way.
TEST_F(InstallTest, ALogNameThatCannotBeMadeSafeGivesWayToTheProductCodesName) {
    const std::u16string kCodeLog = u"C:\\users\\me\\Temp\\Alpha {A}.log";
    struct Case {
        const char* name;
        std::function<void(fakes::FakeFileSystem&, const std::u16string&)> block;
    };
    const Case cases[] = {
        {"FolderOfThatName",
         [](fakes::FakeFileSystem& f, const std::u16string& p) { f.directories.insert(p); }},
        {"TakenBetweenRemovalAndCreation",
         [](fakes::FakeFileSystem& f, const std::u16string& p) { f.plantedAtCreate.insert(p); }},
        {"NameHeldByAnother",
         [](fakes::FakeFileSystem& f, const std::u16string& p) { f.held.insert(p); }},
        // A viewer that keeps the stale log open without letting it be deleted.
        {"StaleLogOpenElsewhere",
         [](fakes::FakeFileSystem& f, const std::u16string& p) {
             f.files[p] = "stale";
             f.openForWritingElsewhere.insert(p);
         }},
    };
    for (const Case& c : cases) {
        for (bool codeNameBlocked : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (codeNameBlocked ? ", both names" : ""));
            Reset();
            fake.files = fakes::FakeFileSystem{};
            Product(u"{A}", u"Alpha", u"1.0.0.0");
            c.block(fake.files, kAlphaLog);
            if (codeNameBlocked) c.block(fake.files, kCodeLog);
            EXPECT_TRUE(InstallPatch());
            EXPECT_EQ(InstallCalls().at(0),
                      codeNameBlocked
                          ? "EnableInstallerLog(4096,null,0)"
                          : "EnableInstallerLog(4096,C:\\users\\me\\Temp\\Alpha {A}.log,0)");
            EXPECT_EQ(InstallCalls().size(), 5u);
            EXPECT_EQ(Shown(), std::vector<std::string>{"301: service pack Alpha"});
            if (!codeNameBlocked) {
                EXPECT_EQ(fake.files.files.at(kCodeLog), "");  // made afresh
            }
        }
    }
}

// Log names compare as the file system compares names, in every script: case twins in
// Cyrillic, Greek and Polish get a log each, and letters that only look alike do not count.
TEST_F(InstallTest, LogNamesOfCaseTwinsInEveryScriptDoNotMeet) {
    struct Case {
        std::u16string first, second;
        bool twins;
    };
    const Case cases[] = {
        {u"корвейн", u"КОРВЕЙН", true},
        {u"ёжик", u"ЁЖИК", true},
        {u"ωμέγα ς", u"ΩΜΈΓΑ ς", true},
        {u"łódź", u"ŁÓDŹ", true},
        {u"Ærø", u"æRØ", true},
        {u"ıris", u"Iris", false},  // dotless i
        {u"σ", u"ς", false},
        {u"straße", u"STRASSE", false},
        {u"Kelvin", u"\u212Aelvin", false},  // the Kelvin sign is no K to the file system
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.first) + (c.twins ? " twins" : " apart"));
        Reset();
        Product(u"{A}", c.first, u"1.0.0.0");
        Product(u"{B}", c.second, u"1.0.0.0");
        std::vector<std::u16string> logs;
        fake.installer.onEnableLog = [&](const char16_t* path) {
            if (path) logs.emplace_back(path);
        };
        EXPECT_TRUE(InstallPatch());
        const std::u16string temp = u"C:\\users\\me\\Temp\\";
        EXPECT_EQ(logs, (std::vector<std::u16string>{
                            temp + c.first + u".log",
                            temp + c.second + (c.twins ? u" {B}" : u"") + u".log"}));
    }
}

// The installer answers 1622 when it cannot write the log it was given: the product is
// configured once more with logging off, and that result decides the report.
TEST_F(InstallTest, ALogFailureIsConfiguredOnceMoreWithoutALog) {
    struct Case {
        std::vector<ErrorCode> results;
        std::string shown;
    };
    const Case cases[] = {{{1622, 0}, "301: service pack Alpha"},
                          {{1622, 1603}, "300: service pack 1603"},
                          {{1622, 1622}, "300: service pack 1622"}};
    for (const Case& c : cases) {
        fake.installer = fakes::FakeInstaller{};
        Reset();
        fake.installer.configureResults = c.results;
        Product(u"{A}", u"Alpha", u"1.0.0.0");
        EXPECT_TRUE(InstallPatch());
        const std::string configure = "ConfigureProductWithCommandLine({A},0,5," + kPatch + ")";
        EXPECT_EQ(InstallCalls(),
                  (std::vector<std::string>{
                      "EnableInstallerLog(4096,C:\\users\\me\\Temp\\Alpha.log,0)",
                      "SetInstallerUiLevel(35)", configure, "EnableInstallerLog(4096,null,0)",
                      configure, "SetInstallerUiLevel(5)", "EnableInstallerLog(16384,null,0)"}));
        EXPECT_EQ(Shown(), std::vector<std::string>{c.shown});
        EXPECT_TRUE(fake.files.heldLogs.empty());
    }
}

TEST_F(InstallTest, ProductsOfOneNameGetALogEach) {
    Keywords(u"2.0.0.0;1.0.0.0,", u"{A};{B};{C};{A};{A}");
    Product(u"{A}", u"Alpha", u"1.0.0.0");
    Product(u"{B}", u"Alpha", u"1.0.0.0");
    Product(u"{C}", u"ALPHA", u"1.0.0.0");  // the same file to Windows
    EXPECT_TRUE(InstallPatch());
    std::vector<std::string> logs;
    for (const std::string& call : InstallCalls())
        if (call.rfind("EnableInstallerLog(4096", 0) == 0) logs.push_back(call);
    EXPECT_EQ(logs, (std::vector<std::string>{
                        "EnableInstallerLog(4096,C:\\users\\me\\Temp\\Alpha.log,0)",
                        "EnableInstallerLog(4096,C:\\users\\me\\Temp\\Alpha {B}.log,0)",
                        "EnableInstallerLog(4096,C:\\users\\me\\Temp\\ALPHA {C}.log,0)",
                        "EnableInstallerLog(4096,C:\\users\\me\\Temp\\Alpha {A}.log,0)",
                        // Listed three times: rather no file than the first one's log lost.
                        "EnableInstallerLog(4096,null,0)",
                    }));
}

TEST_F(InstallTest, OnlyTheHeldPackageIsDeleted) {
    struct Case {
        const char* name;
        std::function<void(InstallTest&)> swap;  // between the release and the deletion
        std::string left;                        // "" when nothing is left at the name
    };
    const Case cases[] = {
        {"Untouched", [](InstallTest&) {}, ""},
        {"AnotherFileInItsPlace",
         [](InstallTest& t) { t.fake.files.Replace(kPackage, "someone else's file"); },
         "someone else's file"},
        {"ALinkInItsPlace",
         [](InstallTest& t) {
             t.fake.files.files.erase(kPackage);
             t.fake.files.links[kPackage] = u"C:\\Windows\\win.ini";
         },
         "link"},
        // On ReFS two files can share the 64-bit index; the 128-bit id tells them apart.
        {"AnotherFileWithTheSame64BitIndex",
         [](InstallTest& t) {
             t.fake.files.files[kPackage] = "someone else's file";
             t.fake.files.identityHighs[kPackage] = 1;
         },
         "someone else's file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        fake.files.files[u"C:\\Windows\\win.ini"] = "system settings";
        fake.files.links.clear();
        Product(u"{A}", u"Alpha", u"1.0.0.0");
        fake.files.beforeDelete = [&](const std::u16string&) { c.swap(*this); };
        EXPECT_TRUE(InstallPatch());
        const std::string left = fake.files.links.count(kPackage) ? "link"
                                 : PackageLeft()                  ? fake.files.files.at(kPackage)
                                                                  : "";
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(fake.files.files.at(u"C:\\Windows\\win.ini"), "system settings");
    }
    fake.files.beforeDelete = nullptr;
}

TEST_F(InstallTest, PatchNamesOnePackageEvenWithASemicolonInItsPath) {
    struct Case {
        const char* name;
        std::u16string shortName;  // empty: the volume keeps no short names
        std::vector<std::string> shown;
        std::string patch;  // the PATCH value handed to the installer; empty: none
    };
    const Case cases[] = {
        {"ShortNameWithout", u"C:\\A_B~1\\MSP1", {"301: service pack Alpha"}, "C:\\A_B~1\\MSP1"},
        {"NoShortName", u"", {"300: service pack 123"}, ""},
        {"ShortNameWithOneToo", u"C:\\a;b\\MSP1", {"300: service pack 123"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        MovePackageTo(u"C:\\a;b");
        fake.files.shortNames.clear();
        if (!c.shortName.empty()) fake.files.shortNames[u"C:\\a;b\\MSP1"] = c.shortName;
        Product(u"{A}", u"Alpha", u"1.0.0.0");
        EXPECT_TRUE(InstallPatch());
        EXPECT_EQ(Shown(), c.shown);
        std::vector<std::string> configured;
        for (const std::string& call : InstallCalls())
            if (call.rfind("Configure", 0) == 0) configured.push_back(call);
        if (c.patch.empty()) {
            // Neither the log nor the installer is asked.
            EXPECT_EQ(InstallCalls(), std::vector<std::string>{"EnableInstallerLog(16384,null,0)"});
        } else {
            EXPECT_EQ(configured, std::vector<std::string>{
                                      "ConfigureProductWithCommandLine({A},0,5,PATCH=\"" + c.patch +
                                      "\" REBOOTPROMPT=S FILESINUSETEXT=\"Close these:\")"});
        }
    }
}

}  // namespace
}  // namespace sp

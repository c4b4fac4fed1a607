#include "package/extract.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/fakes/fake_platform.h"

namespace sp {
namespace {

using fakes::FakePlatform;
using fakes::Narrow;

const std::u16string kSystemTemp = u"C:\\users\\me\\Temp\\";

class ExtractTest : public ::testing::Test {
  protected:
    void SetUp() override { SetTemporaryNameCounter(1); }
    // Extracts to a fresh temporary name and answers the name ("" when none was formed).
    std::string ExtractToTemporary(bool expected = true) {
        std::u16string path;
        EXPECT_EQ(ExtractPatchPackage(path), expected);
        return Narrow(path);
    }
    FakePlatform platform;
};

TEST_F(ExtractTest, TemporaryFileHoldsThePackageBytes) {
    // Bytes a text-mode write would change, and a NUL that a string copy would stop at.
    platform.resources.package = std::string("\xD0\xCF\x11\xE0\r\n\n\0\x1A tail", 14);
    EXPECT_EQ(ExtractToTemporary(), "C:\\users\\me\\Temp\\MSP1");
    EXPECT_EQ(platform.files.files.at(kSystemTemp + u"MSP1"), platform.resources.package);
}

TEST_F(ExtractTest, TemporaryDirectoryChoice) {
    struct Case {
        const char* name;
        std::optional<std::u16string> tmp;
        bool tmpExists;
        bool systemTempExists;
        bool rootExists;
        std::string expected;
    };
    const Case cases[] = {
        {"TmpWithoutSeparator", u"D:\\t", true, true, true, "D:\\t\\MSP1"},
        {"TmpWithBackslash", u"D:\\t\\", true, true, true, "D:\\t\\MSP1"},
        {"TmpWithSlash", u"D:/t/", true, true, true, "D:/t/MSP1"},
        {"TmpMissingFallsBackToSystemTemp", u"D:\\gone", false, true, true,
         "C:\\users\\me\\Temp\\MSP1"},
        {"TmpEmpty", u"", false, true, true, "C:\\users\\me\\Temp\\MSP1"},
        {"NoTmp", std::nullopt, false, true, true, "C:\\users\\me\\Temp\\MSP1"},
        {"NoTemporaryDirectoryAtAll", std::nullopt, false, false, true, "\\MSP1"},
        {"NoRootEither", std::nullopt, false, false, false, ".\\MSP1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        SetTemporaryNameCounter(1);
        auto& files = fresh.files;
        if (c.tmp) files.environment[u"TMP"] = *c.tmp;
        if (c.tmp && c.tmpExists) files.directories.insert(*c.tmp);
        if (!c.systemTempExists) files.directories.erase(kSystemTemp);
        if (!c.rootExists) files.directories.erase(u"\\");
        std::u16string path;
        EXPECT_TRUE(ExtractPatchPackage(path));
        EXPECT_EQ(Narrow(path), c.expected);
        EXPECT_EQ(files.files.count(path), 1u);
    }
}

// TMP is resolved as Windows resolves a name before it is tested and before a name is made in
// it, so that the package lies in the folder that was tested.
TEST_F(ExtractTest, TmpIsResolvedBeforeItIsTestedAndUsed) {
    struct Case {
        const char* name;
        std::u16string tmp;
        std::u16string folder;  // what Windows makes of it
    };
    const Case cases[] = {
        {"TrailingSpace", u"D:\\Deploy\\Temp ", u"D:\\Deploy\\Temp"},
        {"TrailingDotsAndSpaces", u"D:\\Deploy\\Temp. .", u"D:\\Deploy\\Temp"},
        {"Relative", u"temp", u"C:\\work\\temp"},
        {"CurrentDrive", u"C:", u"C:\\work\\"},
        {"OtherDrive", u"D:Temp", u"D:\\Temp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        SetTemporaryNameCounter(1);
        fresh.files.environment[u"TMP"] = c.tmp;
        fresh.files.directories.insert(c.folder);
        std::u16string path;
        EXPECT_TRUE(ExtractPatchPackage(path));
        const std::u16string separator = c.folder.back() == u'\\' ? u"" : u"\\";
        EXPECT_EQ(Narrow(path), Narrow(c.folder + separator + u"MSP1"));
        EXPECT_EQ(fresh.files.calls.at(0), "GetTempPath");
        EXPECT_EQ(fresh.files.calls.at(1), "GetFullPathName(" + Narrow(c.tmp) + ")");
        EXPECT_EQ(fresh.files.calls.at(2), "Probe(" + Narrow(c.folder) + ")");
    }
}

// Only "not found" sends the rule on to the next folder: a TMP whose test is refused or fails
// otherwise is still the folder, and a failure to write there is the extraction's.
TEST_F(ExtractTest, OnlyAFolderThatIsNotFoundIsPassedOver) {
    constexpr ErrorCode kNotReady = 21;
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        FakePlatform fresh;
        SetTemporaryNameCounter(1);
        fresh.files.environment[u"TMP"] = u"D:\\t";
        if (variant == 0) fresh.files.deniedPaths.insert(u"D:\\t");
        if (variant == 1) fresh.files.failingPaths[u"D:\\t"] = kNotReady;
        std::u16string path;
        const bool written = ExtractPatchPackage(path);
        if (variant == 2) {  // not found: the system's temporary directory
            EXPECT_TRUE(written);
            EXPECT_EQ(Narrow(path), "C:\\users\\me\\Temp\\MSP1");
            continue;
        }
        // The folder cannot be written here: the extraction fails with the write's own code.
        EXPECT_FALSE(written);
        EXPECT_EQ(Narrow(path), "D:\\t\\MSP1");
        EXPECT_EQ(fresh.thread.lastError, fakes::kFakePathNotFound);
        EXPECT_TRUE(fresh.files.files.empty());
    }
}

// SYSTEM's package goes to the folder the system keeps for it (where its logs go), whatever TMP
// says; any other process keeps the TMP rule, and so does SYSTEM where that folder is missing.
TEST_F(ExtractTest, SystemsPackageGoesToItsOwnFolder) {
    struct Case {
        bool system;
        bool systemTempThere;
        std::string expected;
    };
    const Case cases[] = {{true, true, "C:\\Windows\\SystemTemp\\MSP1"},
                          {false, true, "C:\\Windows\\Temp\\MSP1"},
                          {true, false, "C:\\Windows\\Temp\\MSP1"}};
    for (const Case& c : cases) {
        FakePlatform fresh;
        SetTemporaryNameCounter(1);
        fresh.files.tempPath = u"C:\\Windows\\SystemTemp\\";
        if (c.systemTempThere) fresh.files.directories.insert(fresh.files.tempPath);
        fresh.files.environment[u"TMP"] = u"C:\\Windows\\Temp";
        fresh.files.directories.insert(u"C:\\Windows\\Temp");
        fresh.files.runsAsSystemWithItsOwnTemp = c.system;
        std::u16string path;
        EXPECT_TRUE(ExtractPatchPackage(path));
        EXPECT_EQ(Narrow(path), c.expected);
    }
}

// An elevated or SYSTEM run's temporary package is created for SYSTEM and Administrators to
// write, no one else; an unprivileged run's, and a file the user named, ask for no descriptor.
TEST_F(ExtractTest, APrivilegedRunsPackageIsWritableByAdministratorsOnly) {
    for (bool privileged : {false, true}) {
        FakePlatform fresh;
        SetTemporaryNameCounter(1);
        fresh.files.privileged = privileged;
        std::u16string path;
        EXPECT_TRUE(ExtractPatchPackage(path));
        EXPECT_EQ(fresh.files.createdAdministratorsOnly.at(path), privileged);
        std::u16string chosen = u"C:\\users\\me\\Temp\\copy.msp";
        EXPECT_TRUE(ExtractPatchPackage(chosen));
        EXPECT_EQ(fresh.files.createdAdministratorsOnly.count(chosen), 0u);
    }
}

TEST_F(ExtractTest, SkipsExistingAndAccessDeniedCandidates) {
    platform.files.files[kSystemTemp + u"MSP1"] = "someone else's";
    platform.files.deniedPaths.insert(kSystemTemp + u"MSP2");
    EXPECT_EQ(ExtractToTemporary(), "C:\\users\\me\\Temp\\MSP3");
    EXPECT_EQ(platform.files.files.at(kSystemTemp + u"MSP1"), "someone else's");
}

TEST_F(ExtractTest, CounterContinuesAcrossCalls) {
    EXPECT_EQ(ExtractToTemporary(), "C:\\users\\me\\Temp\\MSP1");
    platform.files.files.clear();  // even with the first name free again
    EXPECT_EQ(ExtractToTemporary(), "C:\\users\\me\\Temp\\MSP2");
    platform.files.files.clear();
    // The counter also moved past a candidate that was skipped.
    platform.files.files[kSystemTemp + u"MSP3"] = "x";
    EXPECT_EQ(ExtractToTemporary(), "C:\\users\\me\\Temp\\MSP4");
}

TEST_F(ExtractTest, NameTakenAfterTheTestIsNeverWrittenThrough) {
    // Something creates MSP1 (or a link named so) between the existence test and the creation.
    platform.files.plantedAtCreate.insert(kSystemTemp + u"MSP1");
    EXPECT_EQ(ExtractToTemporary(), "C:\\users\\me\\Temp\\MSP2");
    EXPECT_EQ(platform.files.files.count(kSystemTemp + u"MSP1"), 0u);
    EXPECT_EQ(platform.files.files.at(kSystemTemp + u"MSP2"), platform.resources.package);
    for (const std::string& call : platform.files.calls)
        EXPECT_EQ(call.find("OpenForWriting"), std::string::npos) << call;
}

TEST_F(ExtractTest, NoTemporaryNameLeavesPathEmpty) {
    SetTemporaryNameCounter(kTemporaryNameLimit);
    platform.files.files[kSystemTemp + u"MSP32767"] = "x";
    EXPECT_EQ(ExtractToTemporary(false), "");
    EXPECT_EQ(platform.thread.lastError, 80u);  // every name taken, not the last test's code

    // Exhausted stays exhausted for the rest of the process.
    platform.files.files.clear();
    EXPECT_EQ(ExtractToTemporary(false), "");
    EXPECT_EQ(platform.files.files.size(), 0u);

    SetTemporaryNameCounter(kTemporaryNameLimit);
    EXPECT_EQ(ExtractToTemporary(), "C:\\users\\me\\Temp\\MSP32767");
}

TEST_F(ExtractTest, TemporaryDirectoryUnavailableOrTooLong) {
    platform.files.tempPathFails = true;
    EXPECT_EQ(ExtractToTemporary(false), "");

    platform.files.tempPathFails = false;
    platform.files.tempPath = u"C:\\" + std::u16string(1020, u'x') + u"\\";  // 1024 characters
    EXPECT_EQ(ExtractToTemporary(false), "");
    EXPECT_TRUE(platform.files.files.empty());

    // The longest that fits the 1024-character buffer with its terminator.
    platform.files.tempPath = u"C:\\" + std::u16string(1019, u'x') + u"\\";
    platform.files.directories.insert(platform.files.tempPath);
    EXPECT_EQ(ExtractToTemporary(), Narrow(platform.files.tempPath) + "MSP1");
}

TEST_F(ExtractTest, FailuresKeepTheChosenNameAndCreateNothing) {
    struct Case {
        const char* name;
        std::u16string path;  // empty: a temporary name
        bool hasPackage;
        std::string package;
        std::string expectedPath;
        ErrorCode error;  // the last-error value the failing call leaves (0: none)
    };
    const std::string bytes = "\xD0\xCF\x11\xE0 bytes";
    const Case cases[] = {
        {"MissingResourceTemporary", u"", false, bytes, "C:\\users\\me\\Temp\\MSP1", 1813},
        {"MissingResourceGiven", u"C:\\users\\me\\Temp\\out.msp", false, bytes,
         "C:\\users\\me\\Temp\\out.msp", 1813},
        {"EmptyResource", u"", true, "", "C:\\users\\me\\Temp\\MSP1", 0},
        {"GivenPathInMissingDirectory", u"C:\\nowhere\\out.msp", true, bytes,
         "C:\\nowhere\\out.msp", 3},
        {"GivenPathIsADirectory", kSystemTemp, true, bytes, "C:\\users\\me\\Temp\\", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        SetTemporaryNameCounter(1);
        fresh.resources.hasPackage = c.hasPackage;
        fresh.resources.package = c.package;
        std::u16string path = c.path;
        EXPECT_FALSE(ExtractPatchPackage(path));
        EXPECT_EQ(Narrow(path), c.expectedPath);
        EXPECT_TRUE(fresh.files.files.empty());
        if (c.error != 0) {
            EXPECT_EQ(fresh.thread.lastError, c.error);
        }
    }
}

TEST_F(ExtractTest, ShortWriteLeavesThePartWritten) {
    platform.files.diskRoom = 5;
    std::u16string path;
    EXPECT_FALSE(ExtractPatchPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\users\\me\\Temp\\MSP1");
    EXPECT_EQ(platform.files.files.at(path), platform.resources.package.substr(0, 5));
    EXPECT_EQ(platform.thread.lastError, 112u);  // the disk is full
}

TEST_F(ExtractTest, GivenPathIsOverwrittenWithoutTemporaryName) {
    const std::u16string target = kSystemTemp + u"mine.msp";
    platform.files.files[target] = std::string(100, 'o');  // longer than the package
    std::u16string path = target;
    EXPECT_TRUE(ExtractPatchPackage(path));
    EXPECT_EQ(path, target);
    EXPECT_EQ(platform.files.files.at(target), platform.resources.package);
    EXPECT_EQ(platform.files.calls,
              std::vector<std::string>{"OpenForWriting(C:\\users\\me\\Temp\\mine.msp)"});
}

// Watches the single write of an extraction.
struct WatchedFile : OutputFile {
    std::vector<std::pair<const void*, std::size_t>>& writes;
    explicit WatchedFile(std::vector<std::pair<const void*, std::size_t>>& w) : writes(w) {}
    std::size_t Write(const void* data, std::size_t size) override {
        writes.emplace_back(data, size);
        return size;
    }
};
struct WatchingFileSystem : fakes::FakeFileSystem {
    std::vector<std::pair<const void*, std::size_t>> writes;
    std::unique_ptr<OutputFile> OpenForWriting(const std::u16string&) override {
        return std::make_unique<WatchedFile>(writes);
    }
};

TEST_F(ExtractTest, WritesOnceStraightFromTheResource) {
    WatchingFileSystem watching;
    CurrentPlatform().files = &watching;
    std::u16string path = u"out.msp";
    EXPECT_TRUE(ExtractPatchPackage(path));
    ASSERT_EQ(watching.writes.size(), 1u);
    EXPECT_EQ(watching.writes[0].first, platform.resources.package.data());
    EXPECT_EQ(watching.writes[0].second, platform.resources.package.size());
}

}  // namespace
}  // namespace sp

// In-memory providers of every platform interface, for the unit tests. Each records what it
// was asked, in order, and answers what the test scripted.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace sp::fakes {

// Win32 error codes the fakes leave behind where the calls they stand for do.
inline constexpr ErrorCode kFakeFileNotFound = 2;
inline constexpr ErrorCode kFakePathNotFound = 3;
inline constexpr ErrorCode kFakeAccessDenied = 5;
inline constexpr ErrorCode kFakeNoMoreFiles = 18;
inline constexpr ErrorCode kFakeReadFault = 30;
inline constexpr ErrorCode kFakeSharingViolation = 32;
inline constexpr ErrorCode kFakeFileExists = 80;
inline constexpr ErrorCode kFakeDiskFull = 112;
inline constexpr ErrorCode kFakeInvalidName = 123;
inline constexpr ErrorCode kFakeEnvironmentVariableNotFound = 203;
inline constexpr ErrorCode kFakeResourceTypeNotFound = 1813;
inline constexpr ErrorCode kFakeResourceNameNotFound = 1814;

// What a failing Win32 call does to the thread's last-error value, in the fake thread in use.
inline void SetFakeLastError(ErrorCode code) {
    if (ThreadState* thread = CurrentPlatform().thread) thread->SetLastError(code);
}

// "a" + u"b" without fuss in expectations.
inline std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// The upper case of `c` in the file system's table for the scripts the tests use: ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic. Like that table it holds only mappings that go
// both ways, so dotless i, long s, final sigma and the micro sign keep their own forms.
inline char16_t FileSystemUpper(char16_t c) {
    const bool odd = (c & 1) != 0;
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) && odd && c != 0x131)
        return c - 1;
    if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && !odd) return c - 1;
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 0x20;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

class FakeInstaller : public InstallerService {
  public:
    struct Summary {
        ErrorCode openResult = 0;
        std::map<std::uint32_t, std::u16string> properties;
        // Forced results per property for the first and second call (0 = behave normally).
        std::map<std::uint32_t, ErrorCode> forcedResult;
    };
    struct Product {
        std::int32_t state = kProductStateInstalled;
        std::map<std::u16string, std::u16string> properties;
        ErrorCode propertyResult = 0;
    };

    std::map<std::u16string, Summary> packages;  // by full path
    std::map<std::u16string, Product> products;  // by exact product code
    ErrorCode configureResult = 0;
    std::vector<ErrorCode> configureResults;  // one per call, in order; then configureResult
    std::function<void()> onConfigure;
    std::function<void(const char16_t* logPath)> onEnableLog;
    std::int32_t uiLevel = 5;

    // Every call, as text: "OpenSummaryInfo(path)", "GetSummaryProperty(h,p,len)", ...
    std::vector<std::string> calls;
    std::set<InstallerHandle> openHandles;
    int closeCount = 0;

    ErrorCode OpenSummaryInfo(InstallerHandle, const char16_t* packagePath, std::uint32_t,
                              InstallerHandle& handle) override {
        std::u16string path = packagePath ? packagePath : u"";
        calls.push_back("OpenSummaryInfo(" + Narrow(path) + ")");
        auto it = packages.find(path);
        if (it == packages.end()) return 1627;
        if (it->second.openResult != 0) return it->second.openResult;
        handle = nextHandle_++;
        handleToPath_[handle] = path;
        openHandles.insert(handle);
        return 0;
    }

    ErrorCode GetSummaryProperty(InstallerHandle handle, std::uint32_t property, std::uint32_t&,
                                 std::int32_t&, FileTime&, char16_t* buffer,
                                 std::uint32_t& length) override {
        calls.push_back("GetSummaryProperty(" + std::to_string(handle) + "," +
                        std::to_string(property) + "," + std::to_string(length) + ")");
        auto& summary = packages.at(handleToPath_.at(handle));
        if (auto forced = summary.forcedResult.find(property);
            forced != summary.forcedResult.end() && forced->second != 0) {
            return forced->second;
        }
        auto it = summary.properties.find(property);
        std::u16string value = it == summary.properties.end() ? u"" : it->second;
        if (value.size() >= length) {
            // Like the real service: the buffer is filled but left unterminated.
            for (std::uint32_t i = 0; i < length; ++i) buffer[i] = u'#';
            length = static_cast<std::uint32_t>(value.size());
            return kErrorMoreData;
        }
        std::memcpy(buffer, value.c_str(), (value.size() + 1) * sizeof(char16_t));
        length = static_cast<std::uint32_t>(value.size());
        return 0;
    }

    ErrorCode CloseInstallerHandle(InstallerHandle handle) override {
        calls.push_back("CloseInstallerHandle(" + std::to_string(handle) + ")");
        ++closeCount;
        openHandles.erase(handle);
        return 0;
    }

    std::int32_t QueryProductState(const char16_t* productCode) override {
        std::u16string code = productCode;
        calls.push_back("QueryProductState(" + Narrow(code) + ")");
        auto it = products.find(code);
        if (it == products.end()) return code.size() == 38 ? -1 : -2;
        return it->second.state;
    }

    ErrorCode GetProductProperty(const char16_t* productCode, const char16_t* property,
                                 char16_t* buffer, std::uint32_t& length) override {
        std::u16string code = productCode, name = property;
        calls.push_back("GetProductProperty(" + Narrow(code) + "," + Narrow(name) + "," +
                        std::to_string(length) + ")");
        auto it = products.find(code);
        if (it == products.end()) {
            fillGarbage(buffer, length);
            return 1605;
        }
        if (it->second.propertyResult != 0) {
            fillGarbage(buffer, length);
            return it->second.propertyResult;
        }
        auto p = it->second.properties.find(name);
        if (p == it->second.properties.end()) {
            fillGarbage(buffer, length);
            return 1608;
        }
        if (p->second.size() >= length) {
            fillGarbage(buffer, length);
            length = static_cast<std::uint32_t>(p->second.size());
            return kErrorMoreData;
        }
        std::memcpy(buffer, p->second.c_str(), (p->second.size() + 1) * sizeof(char16_t));
        length = static_cast<std::uint32_t>(p->second.size());
        return 0;
    }

    ErrorCode EnableInstallerLog(std::uint32_t mode, const char16_t* logPath,
                                 std::uint32_t attributes) override {
        calls.push_back("EnableInstallerLog(" + std::to_string(mode) + "," +
                        (logPath ? Narrow(logPath) : std::string("null")) + "," +
                        std::to_string(attributes) + ")");
        if (onEnableLog) onEnableLog(logPath);
        return 0;
    }

    std::int32_t SetInstallerUiLevel(std::int32_t level, void*) override {
        calls.push_back("SetInstallerUiLevel(" + std::to_string(level) + ")");
        std::int32_t previous = uiLevel;
        uiLevel = level;
        return previous;
    }

    ErrorCode ConfigureProductWithCommandLine(const char16_t* productCode, std::int32_t level,
                                              std::int32_t state,
                                              const char16_t* commandLine) override {
        calls.push_back("ConfigureProductWithCommandLine(" + Narrow(productCode) + "," +
                        std::to_string(level) + "," + std::to_string(state) + "," +
                        Narrow(commandLine) + ")");
        if (onConfigure) onConfigure();
        if (configureCount_ < configureResults.size()) return configureResults[configureCount_++];
        return configureResult;
    }

  private:
    // Failed calls leave undefined content; make it visible and unterminated.
    static void fillGarbage(char16_t* buffer, std::uint32_t length) {
        for (std::uint32_t i = 0; i < length; ++i) buffer[i] = u'#';
    }
    std::size_t configureCount_ = 0;
    InstallerHandle nextHandle_ = 100;
    std::map<InstallerHandle, std::u16string> handleToPath_;
};

class FakeResources : public Resources {
  public:
    bool hasPackage = true;
    std::string package = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + "package bytes";
    // Entries by id for the language in use.
    std::map<std::uint32_t, std::u16string> strings;
    std::vector<std::uint32_t> loadedIds;
    std::vector<std::uint16_t> loadedLanguages;

    std::optional<ResourceBytes> LockResource(ModuleHandle, const char16_t* type,
                                              const char16_t* name) override {
        // FindResourceW tells a missing type from a missing name.
        if (!hasPackage || std::u16string(type) != u"MSP") {
            SetFakeLastError(kFakeResourceTypeNotFound);
            return std::nullopt;
        }
        if (std::u16string(name) != u"IDR_MSP") {
            SetFakeLastError(kFakeResourceNameNotFound);
            return std::nullopt;
        }
        return ResourceBytes{package.data(), static_cast<std::uint32_t>(package.size())};
    }

    std::int32_t LoadString(ModuleHandle, std::uint32_t id, std::uint16_t language,
                            char16_t* buffer, std::int32_t capacity) override {
        loadedIds.push_back(id);
        loadedLanguages.push_back(language);
        auto it = strings.find(id);
        if (it == strings.end()) SetFakeLastError(kFakeResourceNameNotFound);
        std::u16string text = it == strings.end() ? u"" : it->second;
        if (capacity <= 0) return 0;
        if (static_cast<std::int32_t>(text.size()) > capacity - 1) text.resize(capacity - 1);
        std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
        return static_cast<std::int32_t>(text.size());
    }
};

class FakeFile : public OutputFile {
  public:
    FakeFile(std::string& contents, std::size_t limit) : contents_(contents), limit_(limit) {}
    std::size_t Write(const void* data, std::size_t size) override {
        std::size_t room = limit_ > contents_.size() ? limit_ - contents_.size() : 0;
        std::size_t n = size < room ? size : room;
        contents_.append(static_cast<const char*>(data), n);
        ++writes;
        // The adapter asks again after a short count, and that write fails for the full disk.
        if (n < size) SetFakeLastError(kFakeDiskFull);
        return n;
    }
    int writes = 0;

  private:
    std::string& contents_;
    std::size_t limit_;
};

class FakeFileSystem;

// A held file: compares against the fake file system's current content of its path.
class FakeHeldFile : public HeldFile {
  public:
    FakeHeldFile(FakeFileSystem& files, std::u16string path);
    ~FakeHeldFile() override;
    ContentCheck Compare(const void* data, std::size_t size) override;
    std::optional<FileIdentity> Identity() override;

  private:
    FakeFileSystem& files_;
    std::u16string path_;
};

// A held log: its file stays in the fake file system when let go.
class FakeHeldLog : public HeldLogFile {
  public:
    FakeHeldLog(FakeFileSystem& files, std::u16string path);
    ~FakeHeldLog() override;

  private:
    FakeFileSystem& files_;
    std::u16string path_;
};

class FakeFileSystem : public FileSystem {
  public:
    std::u16string tempPath = u"C:\\users\\me\\Temp\\";
    bool tempPathFails = false;
    std::map<std::u16string, std::u16string> environment;
    std::set<std::u16string> directories = {u"C:\\users\\me\\Temp\\", u"\\", u"."};
    std::set<std::u16string> deniedPaths;
    std::map<std::u16string, ErrorCode> failingPaths;  // existence tests failing with that code
    // Who the process runs as, and the descriptor each exclusive creation asked for.
    bool privileged = false;
    bool runsAsSystemWithItsOwnTemp = false;
    std::map<std::u16string, bool> createdAdministratorsOnly;
    bool RunsPrivileged() override { return privileged; }
    bool TempPathIsSystems() override { return runsAsSystemWithItsOwnTemp; }
    std::set<std::u16string> readOnlyPaths;  // opening these for writing fails
    std::map<std::u16string, std::string> files;
    std::size_t diskRoom = static_cast<std::size_t>(-1);
    std::u16string currentDirectory = u"C:\\work\\";
    std::vector<std::string> calls;

    std::uint32_t GetTempPath(std::uint32_t capacity, char16_t* buffer) override {
        calls.push_back("GetTempPath");
        if (tempPathFails) return 0;
        if (tempPath.size() + 1 > capacity) return static_cast<std::uint32_t>(tempPath.size() + 1);
        std::memcpy(buffer, tempPath.c_str(), (tempPath.size() + 1) * sizeof(char16_t));
        return static_cast<std::uint32_t>(tempPath.size());
    }

    std::optional<std::u16string> GetEnvironmentVariable(const char16_t* name) override {
        auto it = environment.find(name);
        if (it == environment.end()) {
            SetFakeLastError(kFakeEnvironmentVariableNotFound);
            return std::nullopt;
        }
        return it->second;
    }

    PathState Probe(const std::u16string& path) override {
        calls.push_back("Probe(" + Narrow(path) + ")");
        if (deniedPaths.count(path)) {
            SetFakeLastError(kFakeAccessDenied);
            return PathState::AccessDenied;
        }
        if (auto failing = failingPaths.find(path); failing != failingPaths.end()) {
            SetFakeLastError(failing->second);
            return PathState::Failed;
        }
        if (exists(path) || directories.count(path + u"\\")) return PathState::Exists;
        SetFakeLastError(folderExists(path) ? kFakeFileNotFound : kFakePathNotFound);
        return PathState::Missing;
    }

    std::unique_ptr<OutputFile> OpenForWriting(const std::u16string& path) override {
        calls.push_back("OpenForWriting(" + Narrow(path) + ")");
        // Created or truncated by name: a link at the name is written through.
        auto link = links.find(path);
        const std::u16string target = link == links.end() ? path : link->second;
        if (!canCreate(target)) return nullptr;
        return newFile(target);
    }

    std::unique_ptr<OutputFile> CreateExclusively(const std::u16string& path, bool& alreadyExists,
                                                  bool administratorsOnly) override {
        calls.push_back("CreateExclusively(" + Narrow(path) + ")");
        createdAdministratorsOnly[path] = administratorsOnly;
        alreadyExists = exists(path) || plantedAtCreate.count(path);
        if (alreadyExists) {
            SetFakeLastError(kFakeFileExists);
            return nullptr;
        }
        if (deniedPaths.count(path)) {
            SetFakeLastError(kFakeAccessDenied);
            return nullptr;
        }
        if (!canCreate(path)) return nullptr;
        return newFile(path);
    }

    std::uint32_t GetFullPathName(const char16_t* path, std::uint32_t capacity,
                                  char16_t* buffer) override {
        std::u16string p = path;
        calls.push_back("GetFullPathName(" + Narrow(p) + ")");
        if (p.empty()) {
            SetFakeLastError(kFakeInvalidName);
            return 0;
        }
        std::u16string full = FullPath(p);
        if (full.size() + 1 > capacity) return static_cast<std::uint32_t>(full.size() + 1);
        std::memcpy(buffer, full.c_str(), (full.size() + 1) * sizeof(char16_t));
        return static_cast<std::uint32_t>(full.size());
    }

    std::optional<std::u16string> GetShortPathName(const std::u16string& path) override {
        calls.push_back("GetShortPathName(" + Narrow(path) + ")");
        if (!exists(path)) {
            SetFakeLastError(kFakeFileNotFound);
            return std::nullopt;
        }
        // A volume without short names answers the path itself.
        auto it = shortNames.find(path);
        return it == shortNames.end() ? path : it->second;
    }

    bool DeleteIfSame(const std::u16string& path, const FileIdentity& identity) override {
        calls.push_back("DeleteIfSame(" + Narrow(path) + ")");
        if (beforeDelete) beforeDelete(path);
        if (links.count(path) || !files.count(path)) {
            SetFakeLastError(links.count(path) ? kErrorFileInvalid : kFakeFileNotFound);
            return false;
        }
        if (held.count(path) || heldLogs.count(path)) {
            SetFakeLastError(kFakeSharingViolation);
            return false;
        }
        if (!(IdentityOf(path) == identity)) {
            SetFakeLastError(kErrorFileInvalid);
            return false;
        }
        files.erase(path);
        return true;
    }

    bool SameName(const std::u16string& a, const std::u16string& b) override {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
            return FileSystemUpper(x) == FileSystemUpper(y);
        });
    }

    bool RemoveEntry(const std::u16string& path) override {
        calls.push_back("RemoveEntry(" + Narrow(path) + ")");
        if (directories.count(path) || directories.count(path + u"\\")) {
            SetFakeLastError(kFakeAccessDenied);
            return false;
        }
        // Open elsewhere without sharing deletion: the name cannot be freed.
        if (held.count(path) || heldLogs.count(path) || openForWritingElsewhere.count(path)) {
            SetFakeLastError(kFakeSharingViolation);
            return false;
        }
        // A link goes itself; what it points to stays.
        links.erase(path);
        files.erase(path);
        return true;
    }

    std::unique_ptr<HeldLogFile> CreateHeldLog(const std::u16string& path) override {
        calls.push_back("CreateHeldLog(" + Narrow(path) + ")");
        if (exists(path) || plantedAtCreate.count(path)) {
            SetFakeLastError(kFakeFileExists);
            return nullptr;
        }
        if (!canCreate(path)) return nullptr;
        newFile(path);
        return std::make_unique<FakeHeldLog>(*this, path);
    }

    std::unique_ptr<HeldFile> HoldForReading(const std::u16string& path) override {
        calls.push_back("HoldForReading(" + Narrow(path) + ")");
        if (beforeHold) beforeHold(path);
        if (!files.count(path)) {
            SetFakeLastError(kFakeFileNotFound);
            return nullptr;
        }
        if (openForWritingElsewhere.count(path)) {
            SetFakeLastError(kFakeSharingViolation);
            return nullptr;
        }
        return std::make_unique<FakeHeldFile>(*this, path);
    }

    // Someone else puts another file at `path`: same name, another identity.
    void Replace(const std::u16string& path, std::string contents) {
        files[path] = std::move(contents);
        identities[path] = nextIdentity_++;
    }
    FileIdentity IdentityOf(const std::u16string& path) const {
        auto it = identities.find(path);
        auto high = identityHighs.find(path);
        return FileIdentity{0x5E41, it == identities.end() ? 0 : it->second,
                            high == identityHighs.end() ? 0 : high->second};
    }

    // Names that something else takes between the existence test and the creation.
    std::set<std::u16string> plantedAtCreate;
    // Links planted at a name, by what they point to; a link makes the name exist.
    std::map<std::u16string, std::u16string> links;
    std::map<std::u16string, std::u16string> shortNames;    // long path -> short path
    std::map<std::u16string, std::uint64_t> identities;     // the file index of each file
    std::map<std::u16string, std::uint64_t> identityHighs;  // the high half of a 128-bit id
    // What someone does between the release of the package and its deletion.
    std::function<void(const std::u16string&)> beforeDelete;
    std::set<std::u16string> heldLogs;  // log files created and held by the run
    // What another process does just before the hold is taken, and the files it keeps open for
    // writing.
    std::function<void(const std::u16string&)> beforeHold;
    std::set<std::u16string> openForWritingElsewhere;
    std::multiset<std::u16string> held;  // paths with a live hold
    bool readFails = false;              // a held file's content cannot be read

  private:
    // As Windows resolves a name: relative to the current directory, a drive-relative one
    // ("D:x") to that drive's root unless it is the current drive, spaces and dots at the end
    // of the last part dropped.
    std::u16string FullPath(std::u16string p) const {
        const bool drive = p.size() > 1 && p[1] == u':';
        if (drive && (p.size() == 2 || (p[2] != u'\\' && p[2] != u'/'))) {
            p = (p[0] == currentDirectory[0] ? currentDirectory : p.substr(0, 2) + u"\\") +
                p.substr(2);
        } else if (!drive && p[0] != u'\\') {
            p = currentDirectory + p;
        }
        const std::size_t last = p.find_last_of(u"\\/") + 1;
        const std::u16string_view part = std::u16string_view(p).substr(last);
        if (part != u"." && part != u"..") {
            while (p.size() > last && (p.back() == u' ' || p.back() == u'.')) p.pop_back();
        }
        return p;
    }
    bool exists(const std::u16string& path) const {
        return files.count(path) || directories.count(path) || links.count(path);
    }
    bool folderExists(const std::u16string& path) const {
        auto slash = path.find_last_of(u"\\/");
        if (slash == std::u16string::npos) return true;
        return directories.count(path.substr(0, slash + 1)) ||
               directories.count(path.substr(0, slash));
    }
    // As CreateFileW fails: a directory or a read-only file is denied, a file someone holds is
    // shared against, a missing folder is not found.
    bool canCreate(const std::u16string& path) {
        ErrorCode error = 0;
        if (readOnlyPaths.count(path) || directories.count(path)) {
            error = kFakeAccessDenied;
        } else if (held.count(path) || heldLogs.count(path)) {
            error = kFakeSharingViolation;
        } else if (!folderExists(path)) {
            error = kFakePathNotFound;
        }
        if (error != 0) SetFakeLastError(error);
        return error == 0;
    }
    std::unique_ptr<FakeFile> newFile(const std::u16string& path) {
        files[path].clear();
        identities[path] = nextIdentity_++;
        return std::make_unique<FakeFile>(files[path], diskRoom);
    }
    std::uint64_t nextIdentity_ = 1;
};

inline FakeHeldFile::FakeHeldFile(FakeFileSystem& files, std::u16string path)
    : files_(files), path_(std::move(path)) {
    files_.held.insert(path_);
}

inline FakeHeldFile::~FakeHeldFile() { files_.held.erase(files_.held.find(path_)); }

inline ContentCheck FakeHeldFile::Compare(const void* data, std::size_t size) {
    auto it = files_.files.find(path_);
    if (files_.readFails || it == files_.files.end()) {
        SetFakeLastError(kFakeReadFault);
        return ContentCheck::Unreadable;
    }
    return it->second == std::string(static_cast<const char*>(data), size)
               ? ContentCheck::Same
               : ContentCheck::Different;
}

inline std::optional<FileIdentity> FakeHeldFile::Identity() { return files_.IdentityOf(path_); }

inline FakeHeldLog::FakeHeldLog(FakeFileSystem& files, std::u16string path)
    : files_(files), path_(std::move(path)) {
    files_.heldLogs.insert(path_);
}

inline FakeHeldLog::~FakeHeldLog() { files_.heldLogs.erase(path_); }

class FakeBoxes : public MessageBoxes {
  public:
    struct Box {
        std::u16string text;
        std::u16string caption;
        std::uint32_t flags;
    };
    std::vector<Box> shown;
    std::vector<std::int32_t> answers;  // consumed in order; 1 (OK) when exhausted
    // Called after each box, e.g. to end a watched process on Retry.
    std::function<void(const Box&)> onShow;

    std::int32_t Show(const std::u16string& text, const std::u16string& caption,
                      std::uint32_t flags) override {
        shown.push_back({text, caption, flags});
        if (onShow) onShow(shown.back());
        if (next_ < answers.size()) return answers[next_++];
        return 1;
    }

    // What the platform answers about the window station and the session (Wine's processes
    // run in session 1); how often the station was asked.
    bool userCanSee = true;
    int userCanSeeQueries = 0;
    std::optional<std::uint32_t> session = 1;
    bool StationIsVisible() override {
        ++userCanSeeQueries;
        return userCanSee;
    }
    std::optional<std::uint32_t> SessionId() override { return session; }

  private:
    std::size_t next_ = 0;
};

class FakeProcesses : public ProcessList {
  public:
    std::vector<ProcessEntry> running;
    bool unreadable = false;
    int snapshots = 0;
    bool Snapshot(std::vector<ProcessEntry>& entries) override {
        ++snapshots;
        if (unreadable) {
            SetFakeLastError(kFakeAccessDenied);
            return false;
        }
        entries = running;
        // The walk through a snapshot ends when Process32NextW fails with "no more files".
        SetFakeLastError(kFakeNoMoreFiles);
        return true;
    }
};

class FakeThread : public ThreadState {
  public:
    std::uint32_t lastError = 0;
    std::vector<std::uint32_t> locales;
    int lastErrorReads = 0;
    std::uint16_t uiLanguage = 0x0409;  // English (United States)
    std::uint32_t GetLastError() override {
        ++lastErrorReads;
        return lastError;
    }
    void SetLastError(std::uint32_t code) override { lastError = code; }
    void SetThreadLocale(std::uint32_t locale) override { locales.push_back(locale); }
    std::uint16_t UiLanguage() override { return uiLanguage; }
};

class FakeCommandLine : public CommandLine {
  public:
    std::optional<std::vector<std::u16string>> arguments =
        std::vector<std::u16string>{u"servicepack.exe"};
    // The copy runs out of memory after this many arguments.
    std::size_t failAfter = static_cast<std::size_t>(-1);
    bool Arguments(std::vector<std::u16string>& out) override {
        if (!arguments) return false;
        for (const std::u16string& argument : *arguments) {
            if (out.size() == failAfter) throw std::bad_alloc();
            out.push_back(argument);
        }
        return true;
    }
};

// Installs a full set of fakes for one test and restores an empty platform afterwards.
struct FakePlatform {
    FakeInstaller installer;
    FakeResources resources;
    FakeFileSystem files;
    FakeBoxes boxes;
    FakeProcesses processes;
    FakeThread thread;
    FakeCommandLine commandLine;

    FakePlatform() {
        CurrentPlatform() =
            Platform{&installer, &resources, &files, &boxes, &processes, &thread, &commandLine};
    }
    ~FakePlatform() { CurrentPlatform() = Platform{}; }
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;
};

}  // namespace sp::fakes

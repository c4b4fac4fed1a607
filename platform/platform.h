// The small operating-system interfaces the core reaches besides the installer, and the one
// place where the running program (or a test) plugs in their providers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/installer_service.h"
#include "platform/types.h"

namespace sp {

// A resource's bytes as they lie in the loaded image; never copied.
struct ResourceBytes {
    const void* data = nullptr;
    std::uint32_t size = 0;
};

class Resources {
  public:
    virtual ~Resources() = default;
    // Finds, sizes, loads and locks a resource given by string type and string name. Missing
    // or not loadable: nullopt (the last-error value is the platform's). A found resource
    // may have size 0.
    virtual std::optional<ResourceBytes> LockResource(ModuleHandle module, const char16_t* type,
                                                      const char16_t* name) = 0;
    // String-table entry `id` of the table in `language` (a Windows language ID, taken as it
    // is: no other table stands in for a missing one) into `buffer` of `capacity` characters,
    // at most capacity - 1 of them and a terminator; answers the count loaded, 0 for a missing
    // entry.
    virtual std::int32_t LoadString(ModuleHandle module, std::uint32_t id, std::uint16_t language,
                                    char16_t* buffer, std::int32_t capacity) = 0;
};

// An open output file in binary mode; closed when destroyed.
class OutputFile {
  public:
    virtual ~OutputFile() = default;
    // One write of `size` bytes; answers the count written.
    virtual std::size_t Write(const void* data, std::size_t size) = 0;
};

// What an existence test found: nothing there ("file not found" or "path not found"),
// something, something the test was refused, or a failure that says neither (a volume error).
enum class PathState { Missing, Exists, AccessDenied, Failed };

enum class ContentCheck { Same, Different, Unreadable };

// What tells one file from another on the same machine, whatever names it has: the volume's
// serial number and the file's 128-bit id on that volume. Where the system gives only a 64-bit
// index, the high half is 0; 64 bits do not tell every file apart on ReFS.
struct FileIdentity {
    std::uint64_t volumeSerial = 0;
    std::uint64_t fileIdLow = 0;
    std::uint64_t fileIdHigh = 0;
    bool operator==(const FileIdentity&) const = default;
};

// A file opened for reading that others may only read while this object lives: they can open
// it by name for reading, but not for writing, and can neither delete nor rename it, nor put
// another file in its place. Let go when destroyed.
class HeldFile {
  public:
    virtual ~HeldFile() = default;
    // Whether the file holds exactly these `size` bytes and nothing more. Unreadable leaves the
    // platform's last-error value.
    virtual ContentCheck Compare(const void* data, std::size_t size) = 0;
    // The held file's identity; nullopt (with the platform's last-error value) when the system
    // cannot tell it.
    virtual std::optional<FileIdentity> Identity() = 0;
};

// A file this process created and keeps open for writing, sharing reading and writing but not
// deleting: others can still open it by name to write it (as the installer does its log), but
// nobody can delete or rename it or put another file in its place. Let go when destroyed.
class HeldLogFile {
  public:
    virtual ~HeldLogFile() = default;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // The temporary directory (ending in a backslash) into `buffer`, from GetTempPath2W where
    // the system has it (SYSTEM then gets its own folder that only administrators can write),
    // else GetTempPathW; answers its length, or the length needed when it does not fit, or 0
    // on failure.
    virtual std::uint32_t GetTempPath(std::uint32_t capacity, char16_t* buffer) = 0;
    virtual std::optional<std::u16string> GetEnvironmentVariable(const char16_t* name) = 0;
    // Whether a file-system object of that name exists; the last-error value says why a test
    // failed.
    virtual PathState Probe(const std::u16string& path) = 0;
    // Mode "wb": created or truncated. Null on failure.
    virtual std::unique_ptr<OutputFile> OpenForWriting(const std::u16string& path) = 0;
    // Created only if nothing exists at `path` (no file, directory or link is followed, a
    // link at the name is never opened through); with `administratorsOnly`, under a protected
    // descriptor that lets only SYSTEM and Administrators write it, so that no unelevated process
    // can open it for writing at any moment. Null on failure; `alreadyExists` tells a taken name
    // from other failures.
    virtual std::unique_ptr<OutputFile> CreateExclusively(const std::u16string& path,
                                                          bool& alreadyExists,
                                                          bool administratorsOnly) = 0;
    // Whether this process is elevated or runs as SYSTEM; false when the system cannot tell.
    virtual bool RunsPrivileged() = 0;
    // Whether GetTempPath answers the folder the system keeps for SYSTEM, which only SYSTEM and
    // administrators can write: for a process running as SYSTEM where GetTempPath2W exists.
    virtual bool TempPathIsSystems() = 0;
    // GetFullPathNameW into `buffer` of `capacity` characters; answers the length written,
    // or the length needed when it does not fit, or 0 on failure.
    virtual std::uint32_t GetFullPathName(const char16_t* path, std::uint32_t capacity,
                                          char16_t* buffer) = 0;
    // The short (8.3) form of an existing `path`, or the path itself where the volume keeps
    // no short names; nullopt (with the platform's last-error value) on failure.
    virtual std::optional<std::u16string> GetShortPathName(const std::u16string& path) = 0;
    // Deletes the file at `path` only if it is the file of that identity, and never through a
    // link: a link or another file put at the name is left alone. False when nothing was
    // deleted; the last-error value says why.
    virtual bool DeleteIfSame(const std::u16string& path, const FileIdentity& identity) = 0;
    // Removes whatever entry has the name `path` (a file, or a link itself, never what it
    // points to), read-only or not, freeing the name at once where the system can even while
    // others have the file open; true when nothing is there afterwards. A folder is not
    // removed: false.
    virtual bool RemoveEntry(const std::u16string& path) = 0;
    // Whether two paths name the same entry for the file system: equal once every character is
    // upper-cased by the system's own table, in every script (on Windows CompareStringOrdinal
    // ignoring case), without locale or normalisation.
    virtual bool SameName(const std::u16string& a, const std::u16string& b) = 0;
    // Creates a new file at `path` (never through an existing name or link) and holds it as a
    // HeldLogFile. Null on failure; the last-error value says why.
    virtual std::unique_ptr<HeldLogFile> CreateHeldLog(const std::u16string& path) = 0;
    // Opens `path` as a HeldFile, not through a link. Null when it cannot be opened that way,
    // which includes someone else having it open for writing; the last-error value says why.
    virtual std::unique_ptr<HeldFile> HoldForReading(const std::u16string& path) = 0;
};

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // A box without owner window; answers the button pressed, 0 when it could not be shown.
    virtual std::int32_t Show(const std::u16string& text, const std::u16string& caption,
                              std::uint32_t flags) = 0;
    // False when this process's window station is not visible, as a service's is: a box there
    // waits for an answer that never comes. True when the platform cannot tell.
    virtual bool StationIsVisible() = 0;
    // The session this process runs in; nullopt when the platform cannot tell. Leaves the
    // last-error value as it was.
    virtual std::optional<std::uint32_t> SessionId() = 0;
};

struct ProcessEntry {
    std::uint32_t processId = 0;
    std::u16string exeFile;  // file name without folder
};

class ProcessList {
  public:
    virtual ~ProcessList() = default;
    // A snapshot of all processes; false when the list cannot be read.
    virtual bool Snapshot(std::vector<ProcessEntry>& entries) = 0;
};

class ThreadState {
  public:
    virtual ~ThreadState() = default;
    virtual std::uint32_t GetLastError() = 0;
    virtual void SetLastError(std::uint32_t code) = 0;
    virtual void SetThreadLocale(std::uint32_t locale) = 0;
    // The language ID the user reads this thread's texts in (its user-interface language),
    // whatever its locale says.
    virtual std::uint16_t UiLanguage() = 0;
};

class CommandLine {
  public:
    virtual ~CommandLine() = default;
    // Appends the process command line, split by the platform's quoting rules, to `arguments`
    // one argument at a time (argument 0 being the program), so that a copy that runs out of
    // memory leaves the arguments before it there. False when the line cannot be split.
    virtual bool Arguments(std::vector<std::u16string>& arguments) = 0;
};

// The providers in use. The program sets them once at start; tests set fakes.
struct Platform {
    InstallerService* installer = nullptr;
    Resources* resources = nullptr;
    FileSystem* files = nullptr;
    MessageBoxes* boxes = nullptr;
    ProcessList* processes = nullptr;
    ThreadState* thread = nullptr;
    CommandLine* commandLine = nullptr;
};

Platform& CurrentPlatform();

}  // namespace sp

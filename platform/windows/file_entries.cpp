#include "platform/windows/file_entries.h"

#include <memory>

#include "platform/windows/wide.h"

namespace sp::win32 {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct HandleCloser {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

ScopedHandle Opened(HANDLE handle) {
    return ScopedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

class HeldLogHandle : public HeldLogFile {
  public:
    explicit HeldLogHandle(HANDLE handle) : handle_(handle) {}

  private:
    ScopedHandle handle_;
};

std::optional<std::wstring> FinalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0) return std::nullopt;
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);  // the size needed, terminator included
    }
}

// Whether `entry` is the object that the last component of `path` names in its folder, and
// not something a link at that name, or a junction or object-manager link on the way, leads
// to. Where the system follows a link although asked not to (Wine does), this tells them apart.
bool NamesTheEntry(HANDLE entry, const std::u16string& path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    const std::u16string folder = slash == std::u16string::npos ? u"." : path.substr(0, slash + 1);
    const std::u16string name = path.substr(slash == std::u16string::npos ? 0 : slash + 1);
    ScopedHandle folderHandle =
        Opened(::CreateFileW(Wide(folder), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folderHandle) return false;
    auto folderPath = FinalPath(folderHandle.get());
    auto entryPath = FinalPath(entry);
    if (!folderPath || !entryPath) return false;
    std::wstring expected = *folderPath;
    if (expected.empty() || expected.back() != L'\\') expected += L'\\';
    expected += Wide(name);
    const bool same = ::CompareStringOrdinal(
                          expected.c_str(), static_cast<int>(expected.size()), entryPath->c_str(),
                          static_cast<int>(entryPath->size()), TRUE) == CSTR_EQUAL;
    if (!same) ::SetLastError(ERROR_ACCESS_DENIED);
    return same;
}

bool DeleteThrough(HANDLE handle) {
    // Its one member is named after a macro of <windows.h>: set by position, not by name.
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                        sizeof(disposition)) != 0;
}

std::optional<BY_HANDLE_FILE_INFORMATION> InformationOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file, &information)) return std::nullopt;
    return information;
}

FileIdentity IdentityIn(const BY_HANDLE_FILE_INFORMATION& information) {
    return FileIdentity{
        information.dwVolumeSerialNumber,
        (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(HANDLE file) {
    auto information = InformationOf(file);
    if (!information) return std::nullopt;
    return IdentityIn(*information);
}

bool RemoveEntry(const std::u16string& path) {
    // The entry itself: a link is opened as the link, and a junction as the junction.
    ScopedHandle entry = Opened(
        ::CreateFileW(Wide(path), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!entry) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    auto information = InformationOf(entry.get());
    if (!information) return false;
    const DWORD attributes = information->dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(ERROR_ACCESS_DENIED);  // a real folder is someone's, never ours to remove
        return false;
    }
    return NamesTheEntry(entry.get(), path) && DeleteThrough(entry.get());
}

std::unique_ptr<HeldLogFile> CreateHeldLog(const std::u16string& path) {
    // Write access shared for reading and writing: the installer opens the log by name for
    // writing, sharing only writing, which a handle with read access would lock out. Not
    // sharing deletion keeps the name from being deleted, renamed or replaced.
    ScopedHandle log = Opened(
        ::CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!log) return nullptr;
    if (NamesTheEntry(log.get(), path)) return std::make_unique<HeldLogHandle>(log.release());
    // Created elsewhere, through a link on the way: take back what was made there, if the name
    // still leads to it. (Our own handle does not share deletion, so it goes first.)
    auto stray = IdentityOf(log.get());
    log.reset();
    if (stray) DeleteIfSame(path, *stray);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

bool DeleteIfSame(const std::u16string& path, const FileIdentity& identity) {
    ScopedHandle entry =
        Opened(::CreateFileW(Wide(path), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry) return false;
    auto information = InformationOf(entry.get());
    if (!information) return false;
    if ((information->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(IdentityIn(*information) == identity)) {
        ::SetLastError(ERROR_FILE_INVALID);  // not the file that was held
        return false;
    }
    return DeleteThrough(entry.get());
}

}  // namespace sp::win32

#include "platform/windows/file_entries.h"

#include <cstring>
#include <memory>
#include <utility>

#include "platform/windows/grown_text.h"
#include "platform/windows/wide.h"

namespace sp::win32 {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What deleting through a handle needs, a read-only attribute to clear included.
constexpr DWORD kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

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

std::optional<std::wstring> FinalPath(HANDLE handle, DWORD form) {
    return GrownText<std::wstring>([&](wchar_t* buffer, DWORD capacity) {
        return ::GetFinalPathNameByHandleW(handle, buffer, capacity, form);
    });
}

// The final paths of `folder` and `entry` in one form. The drive-letter form fails on volumes the
// mount manager gives no letter to (RAM disks, mounted images); the NT form names every volume.
std::optional<std::pair<std::wstring, std::wstring>> FinalPaths(HANDLE folder, HANDLE entry) {
    for (const DWORD form : {DWORD{FILE_NAME_NORMALIZED | VOLUME_NAME_DOS},
                             DWORD{FILE_NAME_NORMALIZED | VOLUME_NAME_NT}}) {
        auto folderPath = FinalPath(folder, form);
        auto entryPath = FinalPath(entry, form);
        if (folderPath && entryPath) return std::pair{*folderPath, *entryPath};
    }
    return std::nullopt;
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
    auto paths = FinalPaths(folderHandle.get(), entry);
    if (!paths) return false;
    std::wstring expected = paths->first;
    if (expected.empty() || expected.back() != L'\\') expected += L'\\';
    expected += Wide(name);
    const bool same = SameName(Narrow16(expected.c_str()), Narrow16(paths->second.c_str()));
    if (!same) ::SetLastError(ERROR_ACCESS_DENIED);
    return same;
}

// The read-only attribute keeps the classic deletion from freeing a name (a stale log anyone
// planted read-only would otherwise stay for good); the handle needs FILE_WRITE_ATTRIBUTES.
void ClearReadOnly(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return;
    // Times of 0 are left as they are.
    FILE_BASIC_INFO changed{};
    changed.FileAttributes = basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (changed.FileAttributes == 0) changed.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(handle, FileBasicInfo, &changed, sizeof(changed));
}

// Frees the name at once where the system can (Windows 10 1809 on, on file systems that know it):
// POSIX semantics take the name away even while others still have the file open (a viewer, an
// indexer, a virus scanner), where the classic deletion leaves it "delete pending" until they
// close it; and the read-only attribute is ignored. Elsewhere the read-only attribute is cleared
// through the same handle and the file deleted the classic way.
bool DeleteThrough(HANDLE handle) {
    // Windows 10 1607's class, which the headers name only for builds aimed at that version.
    constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    constexpr DWORD kDelete = 0x1;
    constexpr DWORD kPosixSemantics = 0x2;
    constexpr DWORD kIgnoreReadOnly = 0x10;
    DWORD flags = kDelete | kPosixSemantics | kIgnoreReadOnly;
    if (::SetFileInformationByHandle(handle, kFileDispositionInfoEx, &flags, sizeof(flags)))
        return true;
    ClearReadOnly(handle);
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

// The 128-bit id where the system gives it (Windows 8 and Server 2012 on); the 64-bit index only
// where it does not.
std::optional<FileIdentity> IdentityFromFileIdInfo(HANDLE file) {
    FILE_ID_INFO id{};
    if (!::GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof(id))) return std::nullopt;
    FileIdentity identity{id.VolumeSerialNumber};
    std::memcpy(&identity.fileIdLow, id.FileId.Identifier, sizeof(identity.fileIdLow));
    std::memcpy(&identity.fileIdHigh, id.FileId.Identifier + sizeof(identity.fileIdLow),
                sizeof(identity.fileIdHigh));
    return identity;
}

}  // namespace

bool SameName(const char16_t* a, const char16_t* b) {
    return ::CompareStringOrdinal(Wide(a), -1, Wide(b), -1, TRUE) == CSTR_EQUAL;
}

std::optional<FileIdentity> IdentityOf(HANDLE file) {
    if (auto identity = IdentityFromFileIdInfo(file)) return identity;
    auto information = InformationOf(file);
    if (!information) return std::nullopt;
    return FileIdentity{
        information->dwVolumeSerialNumber,
        (std::uint64_t{information->nFileIndexHigh} << 32) | information->nFileIndexLow};
}

bool RemoveEntry(const std::u16string& path) {
    // The entry itself: a link is opened as the link, and a junction as the junction.
    ScopedHandle entry =
        Opened(::CreateFileW(Wide(path), kDeleteAccess, kShareAll, nullptr, OPEN_EXISTING,
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
        Opened(::CreateFileW(Wide(path), kDeleteAccess, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry) return false;
    auto information = InformationOf(entry.get());
    if (!information) return false;
    if ((information->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        IdentityOf(entry.get()) != identity) {
        ::SetLastError(ERROR_FILE_INVALID);  // not the file that was held
        return false;
    }
    return DeleteThrough(entry.get());
}

}  // namespace sp::win32

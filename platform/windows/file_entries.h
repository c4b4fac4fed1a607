// Directory entries handled without ever acting through a link: what the file system adapter
// needs to remove, create and delete names in a folder that other users can write.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/windows/windows_api.h"

namespace sp::win32 {

std::optional<FileIdentity> IdentityOf(HANDLE file);

// FileSystem::SameName: the file system's own comparison, every script folded by the system's
// upper-case table, no locale.
bool SameName(const char16_t* a, const char16_t* b);

// FileSystem::RemoveEntry, CreateHeldLog and DeleteIfSame, on Win32.
bool RemoveEntry(const std::u16string& path);
std::unique_ptr<HeldLogFile> CreateHeldLog(const std::u16string& path);
bool DeleteIfSame(const std::u16string& path, const FileIdentity& identity);

}  // namespace sp::win32

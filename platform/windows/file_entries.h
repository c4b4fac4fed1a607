// Directory entries handled without ever acting through a link: what the file system adapter
// needs to remove, create and delete names in a folder that other users can write.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/windows/windows_api.h"

namespace sp::win32 {

std::optional<FileIdentity> IdentityOf(HANDLE file);

// FileSystem::RemoveEntry, CreateHeldLog's handle (INVALID_HANDLE_VALUE on failure) and
// FileSystem::DeleteIfSame, on Win32.
bool RemoveEntry(const std::u16string& path);
HANDLE CreateHeldLogHandle(const std::u16string& path);
bool DeleteIfSame(const std::u16string& path, const FileIdentity& identity);

}  // namespace sp::win32

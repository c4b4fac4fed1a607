// Who the process runs as: what decides where its temporary package goes and who else may write
// it. Read once; a question the system cannot answer counts as the lesser rights.
#pragma once

#include <memory>

#include "platform/windows/windows_api.h"

namespace sp::win32 {

bool RunsAsSystem();
// Elevated, or SYSTEM.
bool RunsPrivileged();

// Security attributes for a file that only SYSTEM and Administrators can write: a protected
// discretionary list, nothing inherited from the folder. Null with the last-error value set when
// the descriptor cannot be made.
struct DescriptorFree {
    void operator()(void* descriptor) const { ::LocalFree(descriptor); }
};
using ProtectedDescriptor = std::unique_ptr<void, DescriptorFree>;
ProtectedDescriptor AdministratorsOnlyDescriptor();

}  // namespace sp::win32

// Plain value types shared by the core and the platform adapters.
#pragma once

#include <cstdint>

namespace sp {

// The executable's module instance handle, opaque to the core.
using ModuleHandle = void*;

// Windows error codes and installer results: 0 is success.
using ErrorCode = std::uint32_t;

// Windows Installer handles: 0 means none.
using InstallerHandle = std::uint32_t;

// The FILETIME pair an installer summary property may carry.
struct FileTime {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

// Error codes the core names.
inline constexpr ErrorCode kErrorSuccess = 0;
inline constexpr ErrorCode kErrorFileExists = 80;
inline constexpr ErrorCode kErrorInvalidName = 123;
inline constexpr ErrorCode kErrorMoreData = 234;
inline constexpr ErrorCode kErrorFilenameTooLong = 206;
inline constexpr ErrorCode kErrorFileInvalid = 1006;  // a file altered by someone else
inline constexpr ErrorCode kErrorInstallUserExit = 1602;
inline constexpr ErrorCode kErrorInvalidData = 4316;  // unusable keywords value

}  // namespace sp

// The eight Windows Installer operations the system uses, behind one interface so that the
// logic runs against the real msi.dll on Windows and against fakes in the unit tests.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace sp {

class InstallerService {
  public:
    virtual ~InstallerService() = default;

    // Summary information of a package file. `database` is 0, `updateCount` 0.
    virtual ErrorCode OpenSummaryInfo(InstallerHandle database, const char16_t* packagePath,
                                      std::uint32_t updateCount, InstallerHandle& handle) = 0;

    // One summary property into `buffer` of `length` characters. On 234 (more data) `length`
    // holds the characters needed without the terminator; the buffer's content is then
    // undefined and must not be read.
    virtual ErrorCode GetSummaryProperty(InstallerHandle handle, std::uint32_t property,
                                         std::uint32_t& dataType, std::int32_t& integerValue,
                                         FileTime& fileTime, char16_t* buffer,
                                         std::uint32_t& length) = 0;

    virtual ErrorCode CloseInstallerHandle(InstallerHandle handle) = 0;

    // 1 advertised, 5 installed; anything else means absent.
    virtual std::int32_t QueryProductState(const char16_t* productCode) = 0;

    // "ProductName" or "VersionString" of an installed product into `buffer`.
    virtual ErrorCode GetProductProperty(const char16_t* productCode, const char16_t* property,
                                         char16_t* buffer, std::uint32_t& length) = 0;

    // `logPath` may be null: logging without a file.
    virtual ErrorCode EnableInstallerLog(std::uint32_t mode, const char16_t* logPath,
                                         std::uint32_t attributes) = 0;

    // Answers the previous level. `windowHandle` is a pointer to a window handle, or null.
    virtual std::int32_t SetInstallerUiLevel(std::int32_t level, void* windowHandle) = 0;

    virtual ErrorCode ConfigureProductWithCommandLine(const char16_t* productCode,
                                                      std::int32_t installLevel,
                                                      std::int32_t installState,
                                                      const char16_t* commandLine) = 0;
};

// Installer constants the callers name.
inline constexpr std::uint32_t kSummaryKeywords = 5;
inline constexpr std::uint32_t kSummaryTemplate = 7;
inline constexpr std::int32_t kProductStateAdvertised = 1;
inline constexpr std::int32_t kProductStateInstalled = 5;

}  // namespace sp

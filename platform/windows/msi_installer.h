// The installer service over the system's msi.dll. It is loaded at run time from the system
// directory, so that the import table names no msi.dll and a copy planted beside the elevated
// executable is never picked up. Its eight operations are found by the numbers msi.dll exports
// them at, not by name; the test stand-in (standin_msi.def) exports its operations at the same
// numbers.
#pragma once

#include "platform/installer_service.h"

namespace sp::win32 {

class MsiInstallerService : public InstallerService {
  public:
    ErrorCode OpenSummaryInfo(InstallerHandle database, const char16_t* packagePath,
                              std::uint32_t updateCount, InstallerHandle& handle) override;
    ErrorCode GetSummaryProperty(InstallerHandle handle, std::uint32_t property,
                                 std::uint32_t& dataType, std::int32_t& integerValue,
                                 FileTime& fileTime, char16_t* buffer,
                                 std::uint32_t& length) override;
    ErrorCode CloseInstallerHandle(InstallerHandle handle) override;
    std::int32_t QueryProductState(const char16_t* productCode) override;
    ErrorCode GetProductProperty(const char16_t* productCode, const char16_t* property,
                                 char16_t* buffer, std::uint32_t& length) override;
    ErrorCode EnableInstallerLog(std::uint32_t mode, const char16_t* logPath,
                                 std::uint32_t attributes) override;
    std::int32_t SetInstallerUiLevel(std::int32_t level, void* windowHandle) override;
    ErrorCode ConfigureProductWithCommandLine(const char16_t* productCode,
                                              std::int32_t installLevel, std::int32_t installState,
                                              const char16_t* commandLine) override;
};

}  // namespace sp::win32

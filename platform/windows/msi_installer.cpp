#include "platform/windows/msi_installer.h"

#include "platform/windows/system_function.h"
#include "platform/windows/system_library.h"
#include "platform/windows/wide.h"
#include "platform/windows/windows_api.h"

namespace sp::win32 {
namespace {

// The library's own declarations are not used: the entry points are declared here with the
// installer's handle (a 32-bit unsigned long) and enum types (int) spelled out.
using MsiHandle = unsigned long;
using CloseHandleFn = UINT(WINAPI*)(MsiHandle);
using GetProductInfoFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
using GetSummaryInformationFn = UINT(WINAPI*)(MsiHandle, LPCWSTR, UINT, MsiHandle*);
using QueryProductStateFn = INT(WINAPI*)(LPCWSTR);
using SetInternalUiFn = INT(WINAPI*)(INT, HWND*);
using SummaryInfoGetPropertyFn = UINT(WINAPI*)(MsiHandle, UINT, PUINT, LPINT, PFILETIME, LPWSTR,
                                               LPDWORD);
using EnableLogFn = UINT(WINAPI*)(DWORD, LPCWSTR, DWORD);
using ConfigureProductExFn = UINT(WINAPI*)(LPCWSTR, INT, INT, LPCWSTR);

constexpr INT kInstallStateInvalidArgument = -2;
constexpr INT kUiLevelNoChange = 0;

struct MsiLibrary {
    bool attempted = false;
    DWORD loadError = 0;  // 0 once every entry point is resolved
    CloseHandleFn closeHandle = nullptr;
    GetProductInfoFn getProductInfo = nullptr;
    GetSummaryInformationFn getSummaryInformation = nullptr;
    QueryProductStateFn queryProductState = nullptr;
    SetInternalUiFn setInternalUi = nullptr;
    SummaryInfoGetPropertyFn summaryInfoGetProperty = nullptr;
    EnableLogFn enableLog = nullptr;
    ConfigureProductExFn configureProductEx = nullptr;
};

template <typename Fn>
bool Resolve(HMODULE module, WORD ordinal, Fn& target) {
    target = ExportedFunction<Fn>(module, MAKEINTRESOURCEA(ordinal));
    return target != nullptr;
}

MsiLibrary& Library() {
    static MsiLibrary library;
    if (library.attempted) return library;
    library.attempted = true;

    HMODULE module = LoadSystemLibrary(L"msi.dll");
    if (module == nullptr) {
        library.loadError = GetLastError();
        if (library.loadError == 0) library.loadError = ERROR_MOD_NOT_FOUND;
        return library;
    }
    bool complete =
        Resolve(module, 8, library.closeHandle) && Resolve(module, 70, library.getProductInfo) &&
        Resolve(module, 78, library.getSummaryInformation) &&
        Resolve(module, 113, library.queryProductState) &&
        Resolve(module, 141, library.setInternalUi) &&
        Resolve(module, 150, library.summaryInfoGetProperty) &&
        Resolve(module, 169, library.enableLog) && Resolve(module, 190, library.configureProductEx);
    if (!complete) {
        library.loadError = GetLastError();
        if (library.loadError == 0) library.loadError = ERROR_PROC_NOT_FOUND;
        library = MsiLibrary{true, library.loadError};
        FreeLibrary(module);
    }
    return library;
}

// `call` with the library where it is usable; otherwise `unusable`, with the thread's last error
// set to why the library is not.
template <typename Result, typename Call>
Result WithLibrary(Result unusable, Call call) {
    const MsiLibrary& library = Library();
    if (library.loadError == 0) return call(library);
    SetLastError(library.loadError);
    return unusable;
}

template <typename Call>
ErrorCode WithLibrary(Call call) {
    return WithLibrary<ErrorCode>(Library().loadError, call);
}

}  // namespace

ErrorCode MsiInstallerService::OpenSummaryInfo(InstallerHandle database,
                                               const char16_t* packagePath,
                                               std::uint32_t updateCount, InstallerHandle& handle) {
    return WithLibrary([&](const MsiLibrary& msi) {
        MsiHandle opened = 0;
        const UINT result =
            msi.getSummaryInformation(database, Wide(packagePath), updateCount, &opened);
        if (result == ERROR_SUCCESS) handle = opened;
        return result;
    });
}

ErrorCode MsiInstallerService::GetSummaryProperty(InstallerHandle handle, std::uint32_t property,
                                                  std::uint32_t& dataType,
                                                  std::int32_t& integerValue, FileTime& fileTime,
                                                  char16_t* buffer, std::uint32_t& length) {
    return WithLibrary([&](const MsiLibrary& msi) {
        UINT type = dataType;
        INT integer = integerValue;
        FILETIME time{fileTime.low, fileTime.high};
        DWORD count = length;
        const UINT result = msi.summaryInfoGetProperty(handle, property, &type, &integer, &time,
                                                       Wide(buffer), &count);
        dataType = type;
        integerValue = integer;
        fileTime = FileTime{time.dwLowDateTime, time.dwHighDateTime};
        length = count;
        return result;
    });
}

ErrorCode MsiInstallerService::CloseInstallerHandle(InstallerHandle handle) {
    return WithLibrary([&](const MsiLibrary& msi) { return msi.closeHandle(handle); });
}

std::int32_t MsiInstallerService::QueryProductState(const char16_t* productCode) {
    return WithLibrary<std::int32_t>(kInstallStateInvalidArgument, [&](const MsiLibrary& msi) {
        return msi.queryProductState(Wide(productCode));
    });
}

ErrorCode MsiInstallerService::GetProductProperty(const char16_t* productCode,
                                                  const char16_t* property, char16_t* buffer,
                                                  std::uint32_t& length) {
    return WithLibrary([&](const MsiLibrary& msi) {
        DWORD count = length;
        const UINT result =
            msi.getProductInfo(Wide(productCode), Wide(property), Wide(buffer), &count);
        length = count;
        return result;
    });
}

ErrorCode MsiInstallerService::EnableInstallerLog(std::uint32_t mode, const char16_t* logPath,
                                                  std::uint32_t attributes) {
    return WithLibrary(
        [&](const MsiLibrary& msi) { return msi.enableLog(mode, Wide(logPath), attributes); });
}

std::int32_t MsiInstallerService::SetInstallerUiLevel(std::int32_t level, void* windowHandle) {
    return WithLibrary<std::int32_t>(kUiLevelNoChange, [&](const MsiLibrary& msi) {
        return msi.setInternalUi(level, static_cast<HWND*>(windowHandle));
    });
}

ErrorCode MsiInstallerService::ConfigureProductWithCommandLine(const char16_t* productCode,
                                                               std::int32_t installLevel,
                                                               std::int32_t installState,
                                                               const char16_t* commandLine) {
    return WithLibrary([&](const MsiLibrary& msi) {
        return msi.configureProductEx(Wide(productCode), installLevel, installState,
                                      Wide(commandLine));
    });
}

}  // namespace sp::win32

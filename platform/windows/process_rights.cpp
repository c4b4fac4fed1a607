#include "platform/windows/process_rights.h"

#include <cstring>

#include "platform/windows/system_function.h"

namespace sp::win32 {
namespace {

using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
using StringToDescriptorFn = BOOL(WINAPI*)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);

constexpr DWORD kSddlRevision = 1;
// Full access for SYSTEM and Administrators, no one else; "P": nothing inherited.
constexpr wchar_t kAdministratorsOnly[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Loaded when first needed, from the system directory only, as every library after start-up.
template <typename Fn>
Fn Advapi32Function(LPCSTR name) {
    static const HMODULE module = LoadSystemLibrary(L"advapi32.dll");
    return ExportedFunction<Fn>(module, name);
}

bool IsLocalSystem(PSID sid) {
    const auto* id = static_cast<const SID*>(sid);
    const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    return id->Revision == SID_REVISION && id->SubAuthorityCount == 1 &&
           std::memcmp(&id->IdentifierAuthority, &nt, sizeof(nt)) == 0 &&
           id->SubAuthority[0] == SECURITY_LOCAL_SYSTEM_RID;
}

struct Rights {
    bool system = false;
    bool elevated = false;
};

Rights ReadRights() {
    Rights rights;
    const DWORD error = ::GetLastError();
    const auto open = Advapi32Function<OpenProcessTokenFn>("OpenProcessToken");
    const auto query = Advapi32Function<GetTokenInformationFn>("GetTokenInformation");
    HANDLE token = nullptr;
    if (open != nullptr && query != nullptr && open(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        TOKEN_ELEVATION elevation{};
        DWORD size = 0;
        rights.elevated = query(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
                          elevation.TokenIsElevated != 0;
        alignas(TOKEN_USER) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        if (query(token, TokenUser, user, sizeof(user), &size))
            rights.system = IsLocalSystem(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
        ::CloseHandle(token);
    }
    ::SetLastError(error);
    return rights;
}

const Rights& ProcessRights() {
    static const Rights rights = ReadRights();
    return rights;
}

}  // namespace

bool RunsAsSystem() { return ProcessRights().system; }

bool RunsPrivileged() { return ProcessRights().system || ProcessRights().elevated; }

ProtectedDescriptor AdministratorsOnlyDescriptor() {
    const auto convert = Advapi32Function<StringToDescriptorFn>(
        "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (convert == nullptr) return nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!convert(kAdministratorsOnly, kSddlRevision, &descriptor, nullptr)) return nullptr;
    return ProtectedDescriptor(descriptor);
}

}  // namespace sp::win32

// Test-only stand-in for msi.dll: the eight installer operations the executable imports, at
// their ordinals, answering from a script the test writes and recording every call, so that the
// real executable meets results Wine's installer never gives (failures, restarts).
//
// Script: UTF-8 text, path in STANDIN_MSI_SCRIPT (default C:\standin\script.txt), read once at
// the first call. One entry a line; fields are separated by one space; the last field of
// `property` and `summary` runs to the end of the line, spaces included. Empty lines and lines
// starting with '#' are skipped. Product codes compare exactly (case-sensitive).
//   product CODE STATE            MsiQueryProductStateW answers STATE; CODE is a known product
//   property CODE NAME VALUE      MsiGetProductInfoW(CODE, NAME) answers VALUE; a property only
//                                 an installed product has (VersionString...) answers 1608
//                                 for a product whose state is not 5, as the installer does
//   propertyresult CODE ERROR     every MsiGetProductInfoW(CODE, ...) answers ERROR
//   summary ID TEXT               property ID of any package's summary, as text (VT_LPSTR)
//   summaryopen ERROR             MsiGetSummaryInformationW answers ERROR, no handle
//   configure RESULT              one result per MsiConfigureProductExW call, in order; 0 after
//   uilevel LEVEL                 the UI level before the first MsiSetInternalUI (default 1)
// Numbers are decimal. Unknown products: state -1 for a 38-character text, -2 otherwise.
// Summary handles are numbered 1, 2, 3... in the order they are opened.
//
// Record: path in STANDIN_MSI_LOG (default C:\standin\calls.txt), UTF-8, one line appended per
// call and the file closed again, so that a killed process leaves a complete record. A line is
// the function name and its arguments in declaration order separated by '|' (null pointers as
// "(null)", in/out lengths as passed in, characters below U+0020 as \xHH). A problem in the
// script is recorded as "script|LINE|what". After each MsiConfigureProductExW line comes
//   patchfile|PATH|open=1|size=BYTES|fnv=FNV-1a-64 in hex    or    patchfile|PATH|open=0|error=N
// for the file PATCH="..." names, opened for reading with FILE_SHARE_READ as the installer
// service opens it, so that a test sees whether the installer would get the genuine package.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <deque>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using MsiHandle = unsigned long;

constexpr UINT kVtEmpty = 0;
constexpr UINT kVtLpstr = 30;
constexpr INT kUiLevelNoChange = 0;
constexpr INT kStateInstalled = 5;

std::wstring Setting(const wchar_t* name, const wchar_t* fallback) {
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return fallback;
    std::wstring value(needed, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), needed));
    return value;
}

std::string ToUtf8(const std::wstring& text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                        nullptr, nullptr);
    return utf8;
}

std::wstring FromUtf8(const std::string& bytes) {
    int chars =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                        chars);
    return text;
}

std::wstring Hex(std::uint64_t value, int digits) {
    std::wstring text(static_cast<std::size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) text[i] = L"0123456789abcdef"[value & 15];
    return text;
}

// MsiGetProductInfoW's properties that the installer keeps for installed products only: for
// an advertised one it answers ERROR_UNKNOWN_PROPERTY whatever the registry holds.
bool IsInstalledOnlyProperty(const std::wstring& name) {
    static const std::set<std::wstring> names = {
        L"HelpLink",        L"HelpTelephone", L"InstallDate",  L"InstalledProductName",
        L"InstallLocation", L"InstallSource", L"LocalPackage", L"Publisher",
        L"URLInfoAbout",    L"URLUpdateInfo", L"VersionMajor", L"VersionMinor",
        L"VersionString"};
    return names.count(name) == 1;
}

std::wstring Text(const wchar_t* text) { return text == nullptr ? L"(null)" : text; }

std::wstring Count(const DWORD* count) {
    return count == nullptr ? L"(null)" : std::to_wstring(*count);
}

// Control characters would break the one-line-per-call record.
std::wstring Escaped(const std::wstring& field) {
    std::wstring out;
    for (wchar_t c : field) {
        if (c < 0x20) {
            out += L"\\x" + Hex(c, 2);
        } else {
            out += c;
        }
    }
    return out;
}

void Append(const std::wstring& line) {
    static const std::wstring path = Setting(L"STANDIN_MSI_LOG", L"C:\\standin\\calls.txt");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::string bytes = ToUtf8(line) + "\n";
    DWORD written = 0;
    SetFilePointer(file, 0, nullptr, FILE_END);
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::wstring Joined(std::initializer_list<std::wstring> fields) {
    std::wstring line;
    for (const std::wstring& field : fields) {
        if (!line.empty()) line += L'|';
        line += Escaped(field);
    }
    return line;
}

struct Script {
    std::map<std::wstring, INT> states;
    std::map<std::pair<std::wstring, std::wstring>, std::wstring> properties;
    std::map<std::wstring, UINT> propertyResults;
    std::map<UINT, std::wstring> summary;
    UINT summaryOpenResult = ERROR_SUCCESS;
    std::deque<UINT> configureResults;
    INT uiLevel = 1;
};

// Splits the next space-separated field off `rest`; false when there is none.
bool Field(std::wstring& rest, std::wstring& field) {
    if (rest.empty()) return false;
    std::size_t space = rest.find(L' ');
    field = rest.substr(0, space);
    rest = space == std::wstring::npos ? std::wstring() : rest.substr(space + 1);
    return !field.empty();
}

bool Number(std::wstring& rest, long long& value) {
    std::wstring field;
    if (!Field(rest, field)) return false;
    wchar_t* end = nullptr;
    value = std::wcstoll(field.c_str(), &end, 10);
    return *end == L'\0';
}

// One script line; false when it is not understood.
bool Apply(Script& script, std::wstring rest) {
    std::wstring keyword;
    std::wstring code;
    std::wstring name;
    long long number = 0;
    if (!Field(rest, keyword)) return false;
    if (keyword == L"product") {
        if (!Field(rest, code) || !Number(rest, number)) return false;
        script.states[code] = static_cast<INT>(number);
    } else if (keyword == L"property") {
        if (!Field(rest, code) || !Field(rest, name)) return false;
        script.properties[{code, name}] = rest;
    } else if (keyword == L"propertyresult") {
        if (!Field(rest, code) || !Number(rest, number)) return false;
        script.propertyResults[code] = static_cast<UINT>(number);
    } else if (keyword == L"summary") {
        if (!Number(rest, number)) return false;
        script.summary[static_cast<UINT>(number)] = rest;
    } else if (keyword == L"summaryopen") {
        if (!Number(rest, number)) return false;
        script.summaryOpenResult = static_cast<UINT>(number);
    } else if (keyword == L"configure") {
        if (!Number(rest, number)) return false;
        script.configureResults.push_back(static_cast<UINT>(number));
    } else if (keyword == L"uilevel") {
        if (!Number(rest, number)) return false;
        script.uiLevel = static_cast<INT>(number);
    } else {
        return false;
    }
    return rest.empty() || keyword == L"property" || keyword == L"summary";
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

Script LoadScript() {
    Script script;
    std::wstring path = Setting(L"STANDIN_MSI_SCRIPT", L"C:\\standin\\script.txt");
    std::optional<std::string> bytes = ReadFileBytes(path);
    if (!bytes) {
        Append(Joined({L"script", L"0", L"cannot read " + path}));
        return script;
    }
    if (bytes->starts_with("\xEF\xBB\xBF")) bytes->erase(0, 3);
    std::wstring text = FromUtf8(*bytes);
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.empty() || line.front() == L'#') continue;
        if (!Apply(script, line)) {
            Append(Joined({L"script", std::to_wstring(number), L"not understood: " + line}));
        }
    }
    return script;
}

struct State {
    Script script = LoadScript();
    std::set<MsiHandle> open;
    MsiHandle nextHandle = 1;
};

// Loaded at the first call, so that the test can write the script after the prefix is set up.
State& Current() {
    static State state;
    return state;
}

void Record(std::initializer_list<std::wstring> fields) {
    Current();
    Append(Joined(fields));
}

// Windows' out-buffer convention: *length in characters in, the value's length without the
// terminator out. Too small: 234, and a truncated copy that is NUL-terminated only where the
// installer terminates it (product properties yes, summary values no).
UINT CopyOut(const std::wstring& value, LPWSTR buffer, LPDWORD length, bool terminateTruncated) {
    if (buffer != nullptr && length == nullptr) return ERROR_INVALID_PARAMETER;
    if (length == nullptr) return ERROR_SUCCESS;
    DWORD capacity = *length;
    *length = static_cast<DWORD>(value.size());
    if (buffer == nullptr) return ERROR_SUCCESS;
    if (value.size() < capacity) {
        value.copy(buffer, value.size());
        buffer[value.size()] = L'\0';
        return ERROR_SUCCESS;
    }
    if (capacity > 0) {
        std::size_t kept = terminateTruncated ? capacity - 1 : capacity;
        value.copy(buffer, kept);
        if (terminateTruncated) buffer[kept] = L'\0';
    }
    return ERROR_MORE_DATA;
}

// The value of PATCH= in a property command line; "" inside quotes is one '"'.
std::optional<std::wstring> PatchValue(const std::wstring& commandLine) {
    const std::wstring name = L"PATCH=";
    std::size_t at = commandLine.find(name);
    while (at != std::wstring::npos && at != 0 && commandLine[at - 1] != L' ') {
        at = commandLine.find(name, at + 1);
    }
    if (at == std::wstring::npos) return std::nullopt;
    std::size_t i = at + name.size();
    std::wstring value;
    if (i >= commandLine.size() || commandLine[i] != L'"') {
        return commandLine.substr(i, commandLine.find(L' ', i) - i);
    }
    for (++i; i < commandLine.size(); ++i) {
        if (commandLine[i] == L'"') {
            if (i + 1 >= commandLine.size() || commandLine[i + 1] != L'"') break;
            ++i;
        }
        value += commandLine[i];
    }
    return value;
}

std::wstring PatchFileReport(const wchar_t* commandLine) {
    std::optional<std::wstring> path = PatchValue(Text(commandLine));
    if (!path) return Joined({L"patchfile", L"(none)"});
    HANDLE file = CreateFileW(path->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Joined(
            {L"patchfile", *path, L"open=0", L"error=" + std::to_wstring(GetLastError())});
    }
    std::uint64_t hash = 14695981039346656037ULL;
    std::uint64_t size = 0;
    std::vector<unsigned char> chunk(1 << 16);
    DWORD got = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) &&
           got > 0) {
        size += got;
        for (DWORD i = 0; i < got; ++i) hash = (hash ^ chunk[i]) * 1099511628211ULL;
    }
    CloseHandle(file);
    return Joined({L"patchfile", *path, L"open=1", L"size=" + std::to_wstring(size),
                   L"fnv=" + Hex(hash, 16)});
}

}  // namespace

extern "C" {

UINT WINAPI MsiCloseHandle(MsiHandle handle) {
    Record({L"MsiCloseHandle", std::to_wstring(handle)});
    if (handle == 0 || Current().open.erase(handle) == 1) return ERROR_SUCCESS;
    return ERROR_INVALID_HANDLE;
}

UINT WINAPI MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR buffer, LPDWORD length) {
    Record({L"MsiGetProductInfoW", Text(product), Text(property), Count(length)});
    const Script& script = Current().script;
    if (product == nullptr || property == nullptr) return ERROR_INVALID_PARAMETER;
    if (auto forced = script.propertyResults.find(product);
        forced != script.propertyResults.end()) {
        return forced->second;
    }
    auto state = script.states.find(product);
    if (state == script.states.end()) {
        return std::wcslen(product) == 38 ? ERROR_UNKNOWN_PRODUCT : ERROR_INVALID_PARAMETER;
    }
    if (state->second != kStateInstalled && IsInstalledOnlyProperty(property)) {
        return ERROR_UNKNOWN_PROPERTY;
    }
    auto value = script.properties.find({product, property});
    if (value == script.properties.end()) return ERROR_UNKNOWN_PROPERTY;
    return CopyOut(value->second, buffer, length, true);
}

UINT WINAPI MsiGetSummaryInformationW(MsiHandle database, LPCWSTR path, UINT updateCount,
                                      MsiHandle* handle) {
    Record({L"MsiGetSummaryInformationW", std::to_wstring(database), Text(path),
            std::to_wstring(updateCount)});
    State& state = Current();
    if (handle == nullptr) return ERROR_INVALID_PARAMETER;
    if (state.script.summaryOpenResult != ERROR_SUCCESS) return state.script.summaryOpenResult;
    *handle = state.nextHandle++;
    state.open.insert(*handle);
    return ERROR_SUCCESS;
}

INT WINAPI MsiQueryProductStateW(LPCWSTR product) {
    Record({L"MsiQueryProductStateW", Text(product)});
    const Script& script = Current().script;
    if (product == nullptr) return -2;
    if (auto known = script.states.find(product); known != script.states.end()) {
        return known->second;
    }
    return std::wcslen(product) == 38 ? -1 : -2;
}

INT WINAPI MsiSetInternalUI(INT level, HWND* window) {
    Record({L"MsiSetInternalUI", std::to_wstring(level),
            window == nullptr ? L"(null)" : L"0x" + Hex(reinterpret_cast<UINT_PTR>(*window), 16)});
    INT& current = Current().script.uiLevel;
    INT previous = current;
    if (level != kUiLevelNoChange) current = level;
    return previous;
}

UINT WINAPI MsiSummaryInfoGetPropertyW(MsiHandle handle, UINT property, PUINT dataType,
                                       LPINT /*integerValue*/, PFILETIME /*fileTime*/,
                                       LPWSTR buffer, LPDWORD length) {
    Record({L"MsiSummaryInfoGetPropertyW", std::to_wstring(handle), std::to_wstring(property),
            Count(length)});
    const State& state = Current();
    if (state.open.count(handle) == 0) return ERROR_INVALID_HANDLE;
    auto value = state.script.summary.find(property);
    if (value == state.script.summary.end()) {
        if (dataType != nullptr) *dataType = kVtEmpty;
        return ERROR_SUCCESS;
    }
    if (dataType != nullptr) *dataType = kVtLpstr;
    return CopyOut(value->second, buffer, length, false);
}

UINT WINAPI MsiEnableLogW(DWORD mode, LPCWSTR path, DWORD attributes) {
    Record({L"MsiEnableLogW", std::to_wstring(mode), Text(path), std::to_wstring(attributes)});
    return ERROR_SUCCESS;
}

UINT WINAPI MsiConfigureProductExW(LPCWSTR product, INT installLevel, INT installState,
                                   LPCWSTR commandLine) {
    Record({L"MsiConfigureProductExW", Text(product), std::to_wstring(installLevel),
            std::to_wstring(installState), Text(commandLine)});
    Append(PatchFileReport(commandLine));
    std::deque<UINT>& results = Current().script.configureResults;
    if (results.empty()) return ERROR_SUCCESS;
    UINT result = results.front();
    results.pop_front();
    return result;
}

}  // extern "C"

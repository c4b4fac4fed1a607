// Line output of the test probes: "key=value", UTF-8, LF, straight to the standard output
// handle as bytes so that no console code page or text-mode translation gets in between.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/windows/wide.h"
#include "platform/windows/windows_api.h"

namespace sp::probes {

inline std::string Utf8(std::u16string_view text) {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    int length = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, out.data(), needed, nullptr, nullptr);
    return out;
}

inline void WriteBytes(HANDLE handle, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

inline void PrintLine(std::string_view key, std::u16string_view value) {
    WriteBytes(GetStdHandle(STD_OUTPUT_HANDLE), std::string(key) + "=" + Utf8(value) + "\n");
}

inline void PrintLine(std::string_view key, std::int64_t value) {
    WriteBytes(GetStdHandle(STD_OUTPUT_HANDLE),
               std::string(key) + "=" + std::to_string(value) + "\n");
}

inline void PrintError(std::string_view text) {
    WriteBytes(GetStdHandle(STD_ERROR_HANDLE), std::string(text) + "\n");
}

inline std::u16string Text(const wchar_t* argument) {
    return reinterpret_cast<const char16_t*>(argument);
}

// A decimal or 0x-prefixed number; false when the text is not one.
inline bool ParseNumber(const wchar_t* text, std::uint32_t& value) {
    wchar_t* end = nullptr;
    unsigned long long parsed = wcstoull(text, &end, 0);
    if (end == text || *end != L'\0' || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

}  // namespace sp::probes

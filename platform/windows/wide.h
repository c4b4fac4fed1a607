// char16_t text is what the core holds; the Win32 API takes wchar_t. On Windows both are UTF-16
// code units of the same size, so the views below only reinterpret, never convert.
#pragma once

#include <string>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be a UTF-16 code unit");

namespace sp::win32 {

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const wchar_t* Wide(const std::u16string& text) { return Wide(text.c_str()); }

inline const char16_t* Narrow16(const wchar_t* text) {
    return reinterpret_cast<const char16_t*>(text);
}

}  // namespace sp::win32

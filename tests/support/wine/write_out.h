// Output of the harness programs: UTF-8 bytes straight to the standard output handle, flushed,
// so that no console code page gets in between and the harness sees each line as it is written.
#pragma once

#include <windows.h>

#include <string>

// A JSON string literal of `text`, for the harness programs that print records as JSON lines.
inline std::wstring JsonString(const std::wstring& text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        switch (c) {
            case L'"':
                out += L"\\\"";
                break;
            case L'\\':
                out += L"\\\\";
                break;
            case L'\n':
                out += L"\\n";
                break;
            case L'\r':
                out += L"\\r";
                break;
            case L'\t':
                out += L"\\t";
                break;
            default:
                if (c < 0x20) {
                    wchar_t escape[8];
                    wsprintfW(escape, L"\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back(L'"');
    return out;
}

inline void WriteOut(const std::wstring& text, DWORD stream = STD_OUTPUT_HANDLE) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                        nullptr, nullptr);
    DWORD written = 0;
    HANDLE out = GetStdHandle(stream);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    FlushFileBuffers(out);
}

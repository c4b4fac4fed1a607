// Text from the Win32 calls that fill a caller's buffer and answer how much they wrote.
#pragma once

#include <optional>

#include "platform/windows/windows_api.h"

namespace sp::win32 {

// Calls `fill(buffer, capacity)` with a buffer grown until the text fits, and answers the text
// without its terminator; nullopt when `fill` answers 0. `fill` answers the length written, or,
// when the text does not fit, the length it needs with its terminator (most calls) or the whole
// capacity, the text cut short (GetModuleFileNameW): the buffer then doubles.
template <typename Text, typename Fill>
std::optional<Text> GrownText(Fill fill, std::size_t capacity = MAX_PATH) {
    Text text(capacity, typename Text::value_type{});
    for (;;) {
        const DWORD length = fill(text.data(), static_cast<DWORD>(text.size()));
        if (length == 0) return std::nullopt;
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(length > text.size() ? length : text.size() * 2);
    }
}

}  // namespace sp::win32

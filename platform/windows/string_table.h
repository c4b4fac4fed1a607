// One entry of the executable's string tables, from the table of a language the caller names.
#pragma once

#include <cstdint>

#include "platform/windows/windows_api.h"

namespace sp::win32 {

// Entry `id` of `module`'s string table in `language` into `buffer` of `capacity` (at least 1)
// characters, as LoadStringW copies it: at most capacity - 1 characters and a terminator.
// Answers the count copied; 0, with an empty text, when that table or entry does not exist.
std::int32_t LoadStringIn(HMODULE module, std::uint32_t id, WORD language, WCHAR* buffer,
                          std::int32_t capacity);

}  // namespace sp::win32

#include "platform/windows/string_table.h"

#include <algorithm>
#include <cstddef>

namespace sp::win32 {

std::int32_t LoadStringIn(HMODULE module, std::uint32_t id, WORD language, WCHAR* buffer,
                          std::int32_t capacity) {
    buffer[0] = L'\0';
    // Entries are stored sixteen to a block, the blocks numbered from 1; like LoadStringW, only
    // the low 16 bits of the id count.
    const WORD entry = LOWORD(id);
    HRSRC found = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(entry / 16 + 1), language);
    if (found == nullptr) return 0;
    HGLOBAL loaded = ::LoadResource(module, found);
    const WCHAR* block = loaded ? static_cast<const WCHAR*>(::LockResource(loaded)) : nullptr;
    if (block == nullptr) return 0;
    const std::size_t units = ::SizeofResource(module, found) / sizeof(WCHAR);

    // Each entry is its length followed by that many characters, without a terminator; a
    // length that runs past the block (no tool writes one) is cut at its end.
    std::size_t at = 0;
    for (unsigned skip = entry % 16; skip > 0 && at < units; --skip) at += 1 + block[at];
    if (at >= units) return 0;
    const std::size_t length =
        std::min<std::size_t>({block[at], units - at - 1, static_cast<std::size_t>(capacity) - 1});
    std::copy_n(block + at + 1, length, buffer);
    buffer[length] = L'\0';
    return static_cast<std::int32_t>(length);
}

}  // namespace sp::win32

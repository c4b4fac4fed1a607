// The comparison of texts against the system's fixed ASCII words: option words, the watched
// executables' names, device names. Names the file system compares use FileSystem::SameName.
#pragma once

#include <algorithm>
#include <string_view>

namespace sp {

// Whether `a` and `b` are the same text but for the case of the ASCII letters A-Z. Nothing else
// folds: no locale, no other script, so that a dotted capital I, a dotless i or a full-width
// letter never makes another text match an ASCII word.
inline bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    const auto fold = [](char16_t c) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

}  // namespace sp

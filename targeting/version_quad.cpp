#include "targeting/version_quad.h"

#include <cstdint>
#include <string_view>

namespace sp {

namespace {

// Only ASCII white space and ASCII digits are recognised, on every build, so a version text
// reads the same whatever the platform's character classes say about other scripts.
bool IsAsciiSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The C library's base-10 string-to-long conversion for a 32-bit long: leading white space,
// one optional sign, digits up to the first non-digit, silent saturation at the 32-bit range.
// The part keeps the low 16 bits of the signed result.
std::uint16_t ConvertPart(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // The magnitude never needs to exceed 2^31: past that both signs saturate.
    constexpr std::uint64_t kLimit = 2147483648u;
    std::uint64_t magnitude = 0;
    for (; i < text.size() && IsAsciiDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - u'0');
        if (magnitude > kLimit) magnitude = kLimit + 1;
    }
    std::int64_t value;
    if (negative) {
        value = magnitude >= kLimit ? -static_cast<std::int64_t>(kLimit)
                                    : -static_cast<std::int64_t>(magnitude);
    } else {
        value = magnitude >= kLimit ? static_cast<std::int64_t>(kLimit - 1)
                                    : static_cast<std::int64_t>(magnitude);
    }
    return static_cast<std::uint16_t>(static_cast<std::uint64_t>(value) & 0xFFFFu);
}

}  // namespace

VersionQuad ParseVersionQuad(std::u16string text) {
    VersionQuad quad;
    for (char16_t& c : text) {
        if (c == u',') c = u'.';
    }
    std::u16string_view rest = text;
    for (int part = 0; part < 3; ++part) {
        std::size_t point = rest.find(u'.');
        if (point == std::u16string_view::npos) {
            quad.parts[part] = ConvertPart(rest);
            return quad;
        }
        quad.parts[part] = ConvertPart(rest.substr(0, point));
        rest.remove_prefix(point + 1);
    }
    // The conversion stops at the first non-digit, so a fourth point and what follows it
    // are ignored.
    quad.parts[3] = ConvertPart(rest);
    return quad;
}

}  // namespace sp

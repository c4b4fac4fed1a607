// Version quads against the C library: each part must be what a base-10 wide string-to-long
// conversion of 32-bit long gives for that part, in its low 16 bits. The parts are split the
// way the parser documents: ',' reads as '.', three points end three parts, and the fourth part
// is the whole rest, where the conversion stops at the first non-digit.
//
// The C library's white space depends on the locale, and non-ASCII digits and spaces on the
// platform; the parser recognises ASCII only. So the oracle runs in the "C" locale and sees
// every non-ASCII code unit as 'x', which is neither digit, sign, space nor point.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <limits>
#include <string>
#include <vector>

#include "targeting/version_quad.h"
#include "tests/fuzz/fuzz_input.h"

namespace sp::fuzz {
namespace {

// wcstol of a 32-bit long: the host's long is wider, and clamping its saturated result to
// 32 bits gives the 32-bit saturation.
std::uint16_t ConvertPart(const std::wstring& part) {
    long value = std::wcstol(part.c_str(), nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        value = std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        value = std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::uint16_t>(static_cast<unsigned long>(value) & 0xFFFFu);
}

VersionQuad Oracle(const std::u16string& text) {
    std::wstring wide;
    for (char16_t c : text) {
        wide += c == u',' ? L'.' : c < 0x80 ? static_cast<wchar_t>(c) : L'x';
    }
    VersionQuad quad;
    for (int part = 0; part < 3; ++part) {
        const std::size_t point = wide.find(L'.');
        quad.parts[part] = ConvertPart(wide.substr(0, point));
        if (point == std::wstring::npos) return quad;
        wide.erase(0, point + 1);
    }
    quad.parts[3] = ConvertPart(wide);
    return quad;
}

}  // namespace
}  // namespace sp::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sp::fuzz;
    // The whole input is one text: a '\n' is just another non-digit here.
    const std::vector<std::u16string> fields = DecodeFields(data, size);
    std::u16string text = fields[0];
    for (std::size_t i = 1; i < fields.size(); ++i) text += u'\n' + fields[i];
    Require(sp::ParseVersionQuad(text) == Oracle(text), "each part is wcstol's, low 16 bits");
    return 0;
}

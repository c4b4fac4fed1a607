// The message formatter with arbitrary formats and up to four inserts. Fields: the format, the
// inserts (one starting with '#' is the number its next two code units make, low unit first),
// and optionally a sixth whose length is the capacity. The result must stay within the
// capacity, be the full text cut, and take nothing but the inserts supplied: a placeholder
// past them reads as if an empty insert had been there.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"
#include "ui/format.h"

namespace sp::fuzz {
namespace {

constexpr std::size_t kMostInserts = 4;
constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

FormatInsert MakeInsert(const std::u16string& field) {
    if (field.empty() || field[0] != u'#') return FormatInsert(std::u16string_view(field));
    std::uint32_t number = 0;
    if (field.size() > 1) number |= field[1];
    if (field.size() > 2) number |= static_cast<std::uint32_t>(field[2]) << 16;
    return FormatInsert(static_cast<std::int32_t>(number));
}

// The inserts must be spelled out: the formatter takes them as an initializer list.
std::u16string FormatFirst(std::size_t count, std::u16string_view format,
                           const std::vector<FormatInsert>& i, std::size_t capacity,
                           bool* truncated = nullptr) {
    switch (count) {
        case 0:
            return FormatText(format, {}, capacity, truncated);
        case 1:
            return FormatText(format, {i[0]}, capacity, truncated);
        case 2:
            return FormatText(format, {i[0], i[1]}, capacity, truncated);
        case 3:
            return FormatText(format, {i[0], i[1], i[2]}, capacity, truncated);
        default:
            return FormatText(format, {i[0], i[1], i[2], i[3]}, capacity, truncated);
    }
}

}  // namespace
}  // namespace sp::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sp::fuzz;
    const std::vector<std::u16string> fields = DecodeFields(data, size);
    const std::u16string& format = fields[0];
    const std::size_t supplied = std::min(fields.size() - 1, kMostInserts);
    std::vector<sp::FormatInsert> inserts;
    for (std::size_t i = 0; i < supplied; ++i) inserts.push_back(MakeInsert(fields[i + 1]));
    const std::size_t capacity =
        fields.size() > kMostInserts + 1 ? fields[kMostInserts + 1].size() : sp::kFormatLimit;

    bool truncated = false;
    const std::u16string text = FormatFirst(supplied, format, inserts, capacity, &truncated);
    Require(text.size() <= (capacity > 0 ? capacity - 1 : 0), "never past capacity - 1");

    const std::u16string full = FormatFirst(supplied, format, inserts, kUnlimited);
    Require(full.compare(0, text.size(), text) == 0, "the result is the full text's start");
    Require(truncated == (full.size() > text.size()), "a cut is reported, and only a cut");

    std::vector<sp::FormatInsert> padded = inserts;
    while (padded.size() < kMostInserts) padded.emplace_back(u"");
    Require(FormatFirst(kMostInserts, format, padded, kUnlimited) == full,
            "a placeholder past the inserts takes an empty one, never anything else");
    return 0;
}

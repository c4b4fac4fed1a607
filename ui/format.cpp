#include "ui/format.h"

namespace sp {

namespace {

std::u16string Decimal(std::int32_t number) {
    // Through 64 bits so that the most negative value has a magnitude to print.
    std::int64_t value = number;
    bool negative = value < 0;
    std::uint64_t magnitude = static_cast<std::uint64_t>(negative ? -value : value);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) digits.insert(digits.begin(), u'-');
    return digits;
}

}  // namespace

std::u16string FormatInsert::AsText() const {
    return isNumber_ ? Decimal(number_) : std::u16string(text_);
}

std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatInsert> inserts,
                          std::size_t capacity, bool* truncated) {
    std::u16string out;
    const FormatInsert* next = inserts.begin();
    auto take = [&]() -> const FormatInsert* { return next != inserts.end() ? next++ : nullptr; };
    for (std::size_t i = 0; i < format.size(); ++i) {
        char16_t c = format[i];
        if (c != u'%' || i + 1 == format.size()) {
            out += c;
            continue;
        }
        char16_t kind = format[i + 1];
        if (kind == u's') {
            const FormatInsert* insert = take();
            if (insert) out += insert->AsText();
        } else if (kind == u'd' || kind == u'i') {
            const FormatInsert* insert = take();
            out += Decimal(insert ? insert->AsNumber() : 0);
        } else if (kind == u'%') {
            out += u'%';
        } else {
            out += c;
            out += kind;
        }
        ++i;
    }
    std::size_t room = capacity > 0 ? capacity - 1 : 0;
    bool cut = out.size() > room;
    if (cut) out.resize(room);
    if (truncated) *truncated = cut;
    return out;
}

}  // namespace sp

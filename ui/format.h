// A portable stand-in for the platform's wide-character sprintf as the message texts use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace sp {

// The platform formatter never writes more than this many characters, terminator included.
inline constexpr std::size_t kFormatLimit = 1024;

// One insert: a text for "%s" or a signed 32-bit number for "%d".
class FormatInsert {
  public:
    FormatInsert(std::u16string_view text) : text_(text), isNumber_(false) {}
    FormatInsert(const char16_t* text) : text_(text ? text : u""), isNumber_(false) {}
    FormatInsert(const std::u16string& text) : text_(text), isNumber_(false) {}
    FormatInsert(std::int32_t number) : number_(number), isNumber_(true) {}

    // "%s" shows a number in decimal; "%d" of a text shows 0.
    std::u16string AsText() const;
    std::int32_t AsNumber() const { return isNumber_ ? number_ : 0; }

  private:
    std::u16string_view text_;
    std::int32_t number_ = 0;
    bool isNumber_;
};

// Formats `format` with the inserts taken in order by its placeholders: "%s" a text, "%d" or
// "%i" a signed decimal, "%%" a percent sign. Any other '%' sequence is copied as it stands.
// A placeholder beyond the supplied inserts takes the empty text (or 0). The result holds at
// most `capacity` - 1 characters, the room the platform leaves for the terminator; `truncated`,
// when given, tells whether the full text had to be cut to that.
std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatInsert> inserts,
                          std::size_t capacity = kFormatLimit, bool* truncated = nullptr);

}  // namespace sp

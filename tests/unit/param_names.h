// Names of parameterized test cases that show their input. GoogleTest allows only letters,
// digits and '_' in a name, so every other character becomes a word between underscores
// ("1.2" -> "1_dot_2", "/e x" -> "_slash_e_sp_x", U+FF11 -> "_uFF11_"). Letters and digits
// never make an underscore, so two different texts never get the same name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sp::testnames {

inline std::string CharacterWord(char16_t c) {
    switch (c) {
        case u' ':
            return "sp";
        case u'.':
            return "dot";
        case u',':
            return "comma";
        case u'-':
            return "minus";
        case u'+':
            return "plus";
        case u'/':
            return "slash";
        case u'\\':
            return "bslash";
        case u':':
            return "colon";
        case u'_':
            return "us";
        case u'"':
            return "quote";
        case u'\t':
            return "tab";
        case u'\n':
            return "lf";
        case u'\v':
            return "vt";
        case u'\f':
            return "ff";
        case u'\r':
            return "cr";
        default:
            break;
    }
    static const char digits[] = "0123456789ABCDEF";
    std::string word = "u";
    for (int shift = 12; shift >= 0; shift -= 4) word += digits[(c >> shift) & 0xF];
    return word;
}

inline bool IsNameCharacter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// The text as a test name; the empty text is "_empty_", which no character gives.
inline std::string ReadableName(std::u16string_view text) {
    if (text.empty()) return "_empty_";
    std::string name;
    for (char16_t c : text) {
        if (IsNameCharacter(c)) {
            name += static_cast<char>(c);
        } else {
            name += "_" + CharacterWord(c) + "_";
        }
    }
    return name;
}

// A command line's arguments as typed: separated by spaces, one that is empty or holds a space
// in quotes.
inline std::string ReadableArguments(const std::vector<std::u16string>& arguments) {
    std::u16string line;
    for (const std::u16string& argument : arguments) {
        if (!line.empty()) line += u' ';
        bool quoted = argument.empty() || argument.find(u' ') != std::u16string::npos;
        line += quoted ? u"\"" + argument + u"\"" : argument;
    }
    return ReadableName(line);
}

}  // namespace sp::testnames

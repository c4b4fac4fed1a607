#include "ui/table_language.h"

#include <algorithm>
#include <iterator>

namespace sp {
namespace {

constexpr std::uint16_t kEnglish = 1033;
constexpr std::uint16_t kChineseTraditional = 1028;
constexpr std::uint16_t kChineseSimplified = 2052;
constexpr std::uint16_t kPrimaryChinese = 0x04;

// The primary language (the low ten bits of a language ID) of each table, and the table.
struct TableOfLanguage {
    std::uint16_t primary;
    std::uint16_t table;
};

constexpr TableOfLanguage kTables[] = {
    {0x05, 1029},  // Czech
    {0x07, 1031},  // German: Germany's table also for Austria, Switzerland, ...
    {0x0A, 1034},  // Spanish: the traditional sort's table for every country's Spanish
    {0x0C, 1036},  // French
    {0x0E, 1038},  // Hungarian
    {0x10, 1040},  // Italian
    {0x11, 1041},  // Japanese
    {0x12, 1042},  // Korean
    {0x15, 1045},  // Polish
    {0x16, 1046},  // Portuguese: Brazil's is closer to Portugal's than English is
    {0x19, 1049},  // Russian
};

// Taiwan, Hong Kong, Macao and the Traditional neutral ID write Traditional characters; the
// PRC, Singapore and the Simplified neutral ID (the bare primary language) Simplified ones.
constexpr std::uint16_t kTraditionalChinese[] = {0x0404, 0x0C04, 0x1404, 0x7C04};

}  // namespace

std::uint16_t TableLanguageFor(std::uint16_t userLanguage) {
    const std::uint16_t primary = userLanguage & 0x3FF;
    if (primary == kPrimaryChinese) {
        const bool traditional =
            std::find(std::begin(kTraditionalChinese), std::end(kTraditionalChinese),
                      userLanguage) != std::end(kTraditionalChinese);
        return traditional ? kChineseTraditional : kChineseSimplified;
    }
    for (const TableOfLanguage& entry : kTables) {
        if (entry.primary == primary) return entry.table;
    }
    return kEnglish;
}

}  // namespace sp

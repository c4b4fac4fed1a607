#include "ui/table_language.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace sp {
namespace {

struct LanguageCase {
    const char* name;
    std::uint16_t userLanguage;
    std::uint16_t table;
};

class TableLanguageTable : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(TableLanguageTable, UserLanguageReadsItsTable) {
    const LanguageCase& c = GetParam();
    EXPECT_EQ(TableLanguageFor(c.userLanguage), c.table);
}

std::string CaseName(const ::testing::TestParamInfo<LanguageCase>& info) {
    char id[8];
    std::snprintf(id, sizeof id, "%04X", info.param.userLanguage);
    return std::string(info.param.name) + "_" + id;
}

const LanguageCase kLanguageCases[] = {
    // The tables' own IDs.
    {"zh_TW", 0x0404, 1028},
    {"cs_CZ", 0x0405, 1029},
    {"de_DE", 0x0407, 1031},
    {"en_US", 0x0409, 1033},
    {"es_ES_tradnl", 0x040A, 1034},
    {"fr_FR", 0x040C, 1036},
    {"hu_HU", 0x040E, 1038},
    {"it_IT", 0x0410, 1040},
    {"ja_JP", 0x0411, 1041},
    {"ko_KR", 0x0412, 1042},
    {"pl_PL", 0x0415, 1045},
    {"pt_BR", 0x0416, 1046},
    {"ru_RU", 0x0419, 1049},
    {"zh_CN", 0x0804, 2052},
    // Other countries, and the languages without a country.
    {"es_ES", 0x0C0A, 1034},
    {"es_MX", 0x080A, 1034},
    {"es_AR", 0x2C0A, 1034},
    {"es_CO", 0x240A, 1034},
    {"es_US", 0x540A, 1034},
    {"es_419", 0x580A, 1034},
    {"es", 0x000A, 1034},
    {"de_AT", 0x0C07, 1031},
    {"de_CH", 0x0807, 1031},
    {"de_LI", 0x1407, 1031},
    {"fr_CA", 0x0C0C, 1036},
    {"fr_BE", 0x080C, 1036},
    {"fr_CH", 0x100C, 1036},
    {"it_CH", 0x0810, 1040},
    {"pt_PT", 0x0816, 1046},
    {"cs", 0x0005, 1029},
    {"ru_MD", 0x0819, 1049},
    // Chinese by script, not by the primary language alone.
    {"zh_HK", 0x0C04, 1028},
    {"zh_MO", 0x1404, 1028},
    {"zh_Hant", 0x7C04, 1028},
    {"zh_SG", 0x1004, 2052},
    {"zh_Hans", 0x0004, 2052},
    // English everywhere, and every language without a table.
    {"en_GB", 0x0809, 1033},
    {"en_AU", 0x0C09, 1033},
    {"en_CA", 0x1009, 1033},
    {"en_IN", 0x4009, 1033},
    {"nl_NL", 0x0413, 1033},
    {"sv_SE", 0x041D, 1033},
    {"ar_SA", 0x0401, 1033},
    {"sk_SK", 0x041B, 1033},
    {"uk_UA", 0x0422, 1033},
    // Neither the neutral language nor the defaults name a language of their own.
    {"neutral", 0x0000, 1033},
    {"user_default", 0x0400, 1033},
    {"system_default", 0x0800, 1033},
};

INSTANTIATE_TEST_SUITE_P(LanguageIds, TableLanguageTable, ::testing::ValuesIn(kLanguageCases),
                         CaseName);

}  // namespace
}  // namespace sp

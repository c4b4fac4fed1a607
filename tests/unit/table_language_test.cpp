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

INSTANTIATE_TEST_SUITE_P(
    ExactTables, TableLanguageTable,
    ::testing::Values(LanguageCase{"zh_TW", 0x0404, 1028}, LanguageCase{"cs_CZ", 0x0405, 1029},
                      LanguageCase{"de_DE", 0x0407, 1031}, LanguageCase{"en_US", 0x0409, 1033},
                      LanguageCase{"es_ES_tradnl", 0x040A, 1034},
                      LanguageCase{"fr_FR", 0x040C, 1036}, LanguageCase{"hu_HU", 0x040E, 1038},
                      LanguageCase{"it_IT", 0x0410, 1040}, LanguageCase{"ja_JP", 0x0411, 1041},
                      LanguageCase{"ko_KR", 0x0412, 1042}, LanguageCase{"pl_PL", 0x0415, 1045},
                      LanguageCase{"pt_BR", 0x0416, 1046}, LanguageCase{"ru_RU", 0x0419, 1049},
                      LanguageCase{"zh_CN", 0x0804, 2052}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    RegionalVariants, TableLanguageTable,
    ::testing::Values(LanguageCase{"es_ES", 0x0C0A, 1034}, LanguageCase{"es_MX", 0x080A, 1034},
                      LanguageCase{"es_AR", 0x2C0A, 1034}, LanguageCase{"es_CO", 0x240A, 1034},
                      LanguageCase{"es_US", 0x540A, 1034}, LanguageCase{"es_419", 0x580A, 1034},
                      LanguageCase{"es", 0x000A, 1034}, LanguageCase{"de_AT", 0x0C07, 1031},
                      LanguageCase{"de_CH", 0x0807, 1031}, LanguageCase{"de_LI", 0x1407, 1031},
                      LanguageCase{"fr_CA", 0x0C0C, 1036}, LanguageCase{"fr_BE", 0x080C, 1036},
                      LanguageCase{"fr_CH", 0x100C, 1036}, LanguageCase{"it_CH", 0x0810, 1040},
                      LanguageCase{"pt_PT", 0x0816, 1046}, LanguageCase{"cs", 0x0005, 1029},
                      LanguageCase{"ru_MD", 0x0819, 1049}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(ChineseScripts, TableLanguageTable,
                         ::testing::Values(LanguageCase{"zh_HK", 0x0C04, 1028},
                                           LanguageCase{"zh_MO", 0x1404, 1028},
                                           LanguageCase{"zh_Hant", 0x7C04, 1028},
                                           LanguageCase{"zh_SG", 0x1004, 2052},
                                           LanguageCase{"zh_Hans", 0x0004, 2052}),
                         CaseName);

INSTANTIATE_TEST_SUITE_P(
    EnglishServes, TableLanguageTable,
    ::testing::Values(LanguageCase{"en_GB", 0x0809, 1033}, LanguageCase{"en_AU", 0x0C09, 1033},
                      LanguageCase{"en_CA", 0x1009, 1033}, LanguageCase{"en_IN", 0x4009, 1033},
                      LanguageCase{"nl_NL", 0x0413, 1033}, LanguageCase{"sv_SE", 0x041D, 1033},
                      LanguageCase{"ar_SA", 0x0401, 1033}, LanguageCase{"sk_SK", 0x041B, 1033},
                      LanguageCase{"uk_UA", 0x0422, 1033},
                      // Neither language nor user default names a language of its own.
                      LanguageCase{"neutral", 0x0000, 1033},
                      LanguageCase{"user_default", 0x0400, 1033},
                      LanguageCase{"system_default", 0x0800, 1033}),
    CaseName);

}  // namespace
}  // namespace sp

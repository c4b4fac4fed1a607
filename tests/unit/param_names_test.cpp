#include "tests/unit/param_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace sp::testnames {
namespace {

TEST(ReadableName, ShowsTheTextInNameCharacters) {
    EXPECT_EQ(ReadableName(u"17.2.45.0"), "17_dot_2_dot_45_dot_0");
    EXPECT_EQ(ReadableName(u"\t9.-"), "_tab_9_dot__minus_");
    EXPECT_EQ(ReadableName(u"\uFF11.\u00A02"), "_uFF11__dot__u00A0_2");
    EXPECT_EQ(ReadableName(u""), "_empty_");
}

TEST(ReadableName, DifferentTextsNeverShareAName) {
    // Words that look like a character's word, and underscores, stay apart from it.
    const std::vector<std::u16string> texts = {
        u"",     u"empty", u"_empty_", u"1.2", u"1_2",  u"1dot2",   u"1_dot_2", u"1..2",
        u"1.,2", u"1,.2",  u" ",       u"sp",  u"_sp_", u"\u0073p", u"u0020",   u"\u0020"};
    std::set<std::string> names;
    for (const std::u16string& text : texts) names.insert(ReadableName(text));
    EXPECT_EQ(names.size(), std::set<std::u16string>(texts.begin(), texts.end()).size());
}

TEST(ReadableArguments, QuotesEmptyArgumentsAndArgumentsWithSpaces) {
    EXPECT_EQ(ReadableArguments({u"/e", u"out.msp"}), "_slash_e_sp_out_dot_msp");
    EXPECT_EQ(ReadableArguments({u"/e", u"", u"/q"}), "_slash_e_sp__quote__quote__sp__slash_q");
    EXPECT_NE(ReadableArguments({u"a b"}), ReadableArguments({u"a", u"b"}));
}

}  // namespace
}  // namespace sp::testnames

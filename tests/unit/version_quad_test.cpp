#include "targeting/version_quad.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/param_names.h"

namespace sp {
namespace {

struct ParseCase {
    std::u16string text;
    std::uint16_t expected[4];
};

class ParseVersionQuadTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseVersionQuadTable, ReadsPartsAsDocumented) {
    const ParseCase& c = GetParam();
    VersionQuad quad = ParseVersionQuad(c.text);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(quad.parts[i], c.expected[i]) << "part " << i;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, ParseVersionQuadTable,
    ::testing::Values(
        ParseCase{u"17.2.45.0", {17, 2, 45, 0}}, ParseCase{u"12.0", {12, 0, 0, 0}},
        ParseCase{u"12", {12, 0, 0, 0}}, ParseCase{u"", {0, 0, 0, 0}},
        ParseCase{u"1,2,3,4", {1, 2, 3, 4}}, ParseCase{u"1.2,3", {1, 2, 3, 0}},
        ParseCase{u"1.2.3.4.5", {1, 2, 3, 4}}, ParseCase{u"1.2.3.4x", {1, 2, 3, 4}},
        ParseCase{u"1..2", {1, 0, 2, 0}}, ParseCase{u"1.", {1, 0, 0, 0}},
        ParseCase{u"1.2.3.", {1, 2, 3, 0}}, ParseCase{u".5", {0, 5, 0, 0}},
        ParseCase{u" 7. 8", {7, 8, 0, 0}}, ParseCase{u"r1.2", {0, 2, 0, 0}},
        ParseCase{u"3a.4b", {3, 4, 0, 0}}, ParseCase{u"+5", {5, 0, 0, 0}},
        ParseCase{u"-1", {65535, 0, 0, 0}}, ParseCase{u"-5.1", {65531, 1, 0, 0}},
        ParseCase{u"70000", {4464, 0, 0, 0}}, ParseCase{u"65536.1", {0, 1, 0, 0}},
        ParseCase{u"99999999999", {65535, 0, 0, 0}}, ParseCase{u"-99999999999", {0, 0, 0, 0}},
        ParseCase{u"0x10", {0, 0, 0, 0}},
        // Around the 32-bit limits: exact bounds do not saturate.
        ParseCase{u"2147483647", {65535, 0, 0, 0}}, ParseCase{u"2147483648", {65535, 0, 0, 0}},
        ParseCase{u"-2147483648", {0, 0, 0, 0}}, ParseCase{u"-2147483647", {1, 0, 0, 0}},
        ParseCase{u"4294967297", {65535, 0, 0, 0}},
        // Every ASCII white-space character is skipped; a sign alone is 0.
        ParseCase{u"\t\n\v\f\r 9.-", {9, 0, 0, 0}}, ParseCase{u"+-3.- 4", {0, 0, 0, 0}},
        // Non-ASCII digits and spaces are not read.
        ParseCase{u"\uFF11.\u00A02", {0, 0, 0, 0}},
        ParseCase{u"0000000000000000000012", {12, 0, 0, 0}}),
    [](const auto& info) { return testnames::ReadableName(info.param.text); });

TEST(VersionQuadEquality, FollowsTheStoredParts) {
    auto same = [](const char16_t* a, const char16_t* b) {
        return ParseVersionQuad(a) == ParseVersionQuad(b);
    };
    const std::vector<const char16_t*> twelve = {u"12", u"12.0", u"12,0", u"12.0.0.0"};
    for (auto a : twelve)
        for (auto b : twelve) EXPECT_TRUE(same(a, b));

    EXPECT_TRUE(same(u"1.2.3.4.5", u"1.2.3.4.9"));
    EXPECT_TRUE(same(u"1.2.3.4.5", u"1.2.3.4"));
    EXPECT_TRUE(same(u"70000", u"4464"));
    EXPECT_TRUE(same(u"-1", u"65535"));
    EXPECT_TRUE(same(u"-1", u"99999999999"));
    EXPECT_TRUE(same(u"", u"0.0.0.0"));
    EXPECT_TRUE(same(u"", u"r1"));
    EXPECT_TRUE(same(u"", u"-99999999999"));

    // Every part counts.
    EXPECT_FALSE(same(u"1.2.3.4", u"1.2.3.5"));
    EXPECT_FALSE(same(u"1.2.3.4", u"1.2.4.4"));
    EXPECT_FALSE(same(u"1.2.3.4", u"1.3.3.4"));
    EXPECT_FALSE(same(u"1.2.3.4", u"2.2.3.4"));
    EXPECT_TRUE(VersionQuad{} == ParseVersionQuad(u"0"));
}

}  // namespace
}  // namespace sp

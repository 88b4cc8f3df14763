#include "util/format.h"

#include <gtest/gtest.h>

#include <cmath>

#include "error/exception.h"

namespace {

template <typename F>
std::string parse_failure(F&& parse) {
    try {
        parse();
    } catch (const error::EParseError& e) {
        return e.text();
    }
    return "(no failure)";
}

}  // namespace

TEST(Format, Numbers) {
    EXPECT_EQ(util::format_u32(7), "7");
    EXPECT_EQ(util::format_u32(7, util::Digits::at_least_two), "07");
    EXPECT_EQ(util::format_u32(4294967295u), "4294967295");
    EXPECT_EQ(util::format_i32(-3, util::Digits::at_least_two), "-3");
    EXPECT_EQ(util::format_i32(5, util::Digits::at_least_two), "05");
    EXPECT_EQ(util::format_u64(18446744073709551615ull), "18446744073709551615");
    EXPECT_EQ(util::format_size(0), "0");
    EXPECT_EQ(util::format_hex32(0xC0000004), "c0000004");
    EXPECT_EQ(util::format_hex64(0x123456789abcdefull), "123456789abcdef");
}

TEST(Format, Doubles) {
    EXPECT_EQ(util::format_double(NAN), "nan");
    EXPECT_EQ(util::format_double(INFINITY), "inf");
    EXPECT_EQ(util::format_double(-INFINITY), "-inf");
    EXPECT_EQ(util::format_double(2.5, 0, 2), "2.50");
    EXPECT_EQ(util::format_double(-1.25, 8, 3), "  -1.250");
}

TEST(Parse, UnsignedAcceptsOnlyWholeDecimalNumbersThatFit) {
    EXPECT_EQ(util::parse_u32("0"), 0u);
    EXPECT_EQ(util::parse_u32("4294967295"), 4294967295u);
    EXPECT_EQ(parse_failure([] { util::parse_u32("12ab"); }), "Error parsing: \"12ab\"");
    EXPECT_EQ(parse_failure([] { util::parse_u32(""); }), "Error parsing: \"\"");
    EXPECT_EQ(parse_failure([] { util::parse_u32("-1"); }), "Error parsing: \"-1\"");
    EXPECT_EQ(parse_failure([] { util::parse_u32(" 5"); }), "Error parsing: \" 5\"");
    EXPECT_EQ(parse_failure([] { util::parse_u32("4294967296"); }),
              "Error parsing: \"4294967296\"");
    EXPECT_EQ(parse_failure([] { util::parse_u32("7\n"); }), "Error parsing: \"7\\n\"");
}

TEST(Parse, DoublesAndTheirSpecialSpellings) {
    EXPECT_DOUBLE_EQ(util::parse_double("2.5"), 2.5);
    EXPECT_DOUBLE_EQ(util::parse_double("-1e3"), -1000.0);
    EXPECT_TRUE(std::isnan(util::parse_double("nan")));
    EXPECT_EQ(util::parse_double("inf"), INFINITY);
    EXPECT_EQ(util::parse_double("-inf"), -INFINITY);
    EXPECT_EQ(parse_failure([] { util::parse_double("2.5x"); }), "Error parsing: \"2.5x");
    EXPECT_EQ(parse_failure([] { util::parse_double(""); }), "Error parsing: \"");
    EXPECT_EQ(parse_failure([] { util::parse_double("0x10"); }), "Error parsing: \"0x10");
    EXPECT_EQ(parse_failure([] { util::parse_double("infinity"); }), "Error parsing: \"infinity");
}

TEST(Quote, EveryEscapeClass) {
    EXPECT_EQ(util::quote(""), "\"\"");
    EXPECT_EQ(util::quote("plain text 123 ~"), "\"plain text 123 ~\"");
    EXPECT_EQ(util::quote("\a\b\t\n\v\f\r"), "\"\\a\\b\\t\\n\\v\\f\\r\"");
    EXPECT_EQ(util::quote("say \"it's\" \\"), "\"say \\\"it\\'s\\\" \\\\\"");
    EXPECT_EQ(util::quote(std::string("\0\x01\x1b", 3)), "\"\\000\\001\\033\"");
    EXPECT_EQ(util::quote("\x7f\xff"), "\"\\177\\377\"");
}

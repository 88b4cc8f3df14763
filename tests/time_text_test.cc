#include "util/time_text.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// One hour east of UTC, in a form that needs no zone files.
const bool zoned = setenv("TZ", "CET-1", 1) == 0;

}  // namespace

TEST(TimeText, LocalTimeInTheZoneTheProcessFirstSaw) {
    ASSERT_TRUE(zoned);
    EXPECT_EQ(util::time_text(0), "1970-01-01 01:00:00");
    EXPECT_EQ(util::time_text(1236434709), "2009-03-07 15:05:09");
    // A library that changes TZ later does not move the clock face.
    setenv("TZ", "UTC", 1);
    EXPECT_EQ(util::time_text(0), "1970-01-01 01:00:00");
    EXPECT_EQ(util::time_text(int64_t{253402300799} - 3600), "9999-12-31 23:59:59");
    EXPECT_DEATH(util::time_text(-1), "Assertion failed: time2str\\(\\): Parameter less than 0");
}

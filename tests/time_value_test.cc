#include "util/time_value.h"

#include <gtest/gtest.h>

#include <cstdlib>

using util::TimeValue;

TEST(TimeValue, ConstructionCarriesMicrosecondsAndRefusesNegativeOnes) {
    const TimeValue t(0, 2500000);
    EXPECT_EQ(t.seconds(), 2);
    EXPECT_EQ(t.microseconds(), 500000);
    EXPECT_EQ(TimeValue(7, 999999).microseconds(), 999999);
    EXPECT_DEATH(TimeValue(1, -1), "Assertion failed: Cannot normalize negative microseconds");
}

TEST(TimeValue, DifferenceBorrowsASecond) {
    EXPECT_EQ(TimeValue(5, 0) - TimeValue(4, 999999), TimeValue(0, 1));
    EXPECT_EQ(TimeValue(10, 300000) - TimeValue(3, 200000), TimeValue(7, 100000));
    EXPECT_EQ(TimeValue(1, 0) - TimeValue(3, 500000), TimeValue(-3, 500000));
}

TEST(TimeValue, AdditionCarriesAndNeverWraps) {
    EXPECT_EQ(TimeValue(1, 600000) + TimeValue(2, 500000), TimeValue(4, 100000));
    // Passing the largest time is "never", not a time in 1901.
    EXPECT_TRUE((TimeValue(2147483600, 0) + TimeValue(100, 0)).is_never());
    EXPECT_TRUE((TimeValue::never() + TimeValue(0, 999999)).is_never());
    EXPECT_EQ(TimeValue::never() + TimeValue(0, 0), TimeValue::never());
    // A negative span stops at the smallest time instead of wrapping to the future.
    const TimeValue low = TimeValue(-2147483600, 0) + TimeValue(-100, 0);
    EXPECT_EQ(low.seconds(), -2147483647 - 1);
    TimeValue deadline(100, 0);
    deadline += TimeValue(-30, 0);
    EXPECT_EQ(deadline, TimeValue(70, 0));
}

TEST(TimeValue, ComparisonsUseBothFields) {
    EXPECT_TRUE(TimeValue(3, 1) <= TimeValue(3, 2));
    EXPECT_TRUE(TimeValue(3, 2) <= TimeValue(3, 2));
    EXPECT_FALSE(TimeValue(4, 0) <= TimeValue(3, 999999));
    EXPECT_NE(TimeValue(3, 1), TimeValue(3, 2));
    EXPECT_DOUBLE_EQ(TimeValue(2, 250000).as_double(), 2.25);
}

TEST(TimeValue, TextForms) {
    EXPECT_EQ(TimeValue(12, 34).text(), "12.000034");
    EXPECT_EQ(TimeValue(0, 0).text(), "0.000000");
    EXPECT_EQ(TimeValue(-2, 250000).text(), "-1.750000");
    EXPECT_EQ(TimeValue(-5, 0).text(), "-5.000000");
    EXPECT_EQ(TimeValue::never().text(), "2147483647.000000");
}

TEST(TimeValue, CalendarText) {
    EXPECT_EQ(TimeValue(0, 0).calendar_text(TimeValue::Zone::utc), "Thu Jan 01 00:00:00 1970");
    EXPECT_EQ(TimeValue(1700000000, 0).calendar_text(TimeValue::Zone::utc, "%Y-%m-%d %H:%M:%S"),
              "2023-11-14 22:13:20");
    EXPECT_EQ(TimeValue(5, 0).calendar_text(TimeValue::Zone::utc, ""), "");
    setenv("TZ", "UTC", 1);
    EXPECT_EQ(TimeValue(86400, 0).calendar_text(TimeValue::Zone::local, "%d"), "02");
}

TEST(TimeValue, NowIsAfterThisCodeWasWritten) {
    const TimeValue now = TimeValue::now();
    EXPECT_GT(now.seconds(), 1790000000);
    EXPECT_LT(now.microseconds(), 1000000);
}

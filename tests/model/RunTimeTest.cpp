#include "model/RunTime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

TEST(RunTime, StepsToDays)
{
    EXPECT_EQ(runTimeOfSteps(0), 0.0);
    EXPECT_EQ(runTimeOfSteps(6725), 6725 * 0.01 / 86400);
}

TEST(RunTime, FormatsMinutesSecondsHundredths)
{
    EXPECT_EQ(formatRunTime(runTimeOfSteps(6725)), "01:07:25");
    EXPECT_EQ(formatRunTime(runTimeOfSteps(100)), "00:01:00");
    EXPECT_EQ(formatRunTime(runTimeOfSteps(0)), "00:00:00");
    // Rounded to the millisecond first: no step is lost to truncation.
    for (int32_t steps = 0; steps < 360000; ++steps) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02d:%02d:%02d", steps / 6000, steps / 100 % 60,
                      steps % 100);
        ASSERT_EQ(formatRunTime(runTimeOfSteps(steps)), expected) << steps;
    }
    // Only the minutes within the hour are shown.
    EXPECT_EQ(formatRunTime(runTimeOfSteps(360000 + 6725)), "01:07:25");
    EXPECT_EQ(formatRunTime(runTimeOfSteps(359999)), "59:59:99");
}

TEST(RunTime, NoTimeAndNonsenseReadAsZero)
{
    EXPECT_EQ(formatRunTime(-1.0), "00:00:00");
    EXPECT_EQ(formatRunTime(-0.25), "00:00:00");
    EXPECT_EQ(formatRunTime(std::numeric_limits<double>::quiet_NaN()), "00:00:00");
    EXPECT_EQ(formatRunTime(std::numeric_limits<double>::infinity()), "00:00:00");
    EXPECT_EQ(formatRunTime(1e300), "00:00:00");
    // Just below midnight rounds to the next day's start.
    EXPECT_EQ(formatRunTime(1.0 - 1e-12), "00:00:00");
}

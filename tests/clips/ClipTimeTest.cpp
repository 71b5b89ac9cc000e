#include <gtest/gtest.h>

#include "clips/ClipTime.h"

namespace klangor {

TEST(ClipTime, FieldsSplitAtTheRightUnits) {
    EXPECT_EQ(FormatClipTime(0), "00:00:00.00");
    EXPECT_EQ(FormatClipTime(12345), "00:02:03.45");
    EXPECT_EQ(FormatClipTime(360000), "01:00:00.00");
    EXPECT_EQ(FormatClipTime(359999), "00:59:59.99");
}

TEST(ClipTime, HoursAreNotLimitedToTwoDigits) {
    EXPECT_EQ(FormatClipTime(100 * 360000 + 1), "100:00:00.01");
}

}  // namespace klangor

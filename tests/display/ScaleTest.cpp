// Full-image coordinates to window pixels, in the three modes and in single precision.
#include <gtest/gtest.h>

#include "display/SimpleGraphic.h"

using display::ScaleCoordinate;

TEST(OverlayScale, ModesMapAsTheViewerShowsTheImage)
{
    // Mode 1, a 200 x 100 window of the image at (100, 50) shown in 400 x 200.
    EXPECT_EQ(ScaleCoordinate(150, 100, 400, 200, 9999, 1), 100);
    EXPECT_EQ(ScaleCoordinate(75, 50, 200, 100, 9999, 1), 50);
    // Mode 0, a 1000 x 1000 image held as 500 x 500 and shown in 250 x 250.
    EXPECT_EQ(ScaleCoordinate(400, 77, 250, 500, 1000, 0), 100);
    // Other modes only scale; a source of 0 leaves the value alone.
    EXPECT_EQ(ScaleCoordinate(30, 10, 300, 100, 1000, 2), 90);
    EXPECT_EQ(ScaleCoordinate(-123, 10, 300, 0, 1000, 0), -123);
    // Truncated toward zero on both sides.
    EXPECT_EQ(ScaleCoordinate(5, 0, 3, 2, 2, 0), 7);
    EXPECT_EQ(ScaleCoordinate(-5, 0, 3, 2, 2, 0), -7);
    EXPECT_EQ(ScaleCoordinate(3, 5, 10, 4, 4, 1), -5);
}

TEST(OverlayScale, SinglePrecisionAndDivisionByZero)
{
    // 2^24 + 1 has no float of its own; double arithmetic would keep it.
    EXPECT_EQ(ScaleCoordinate(16777217, 0, 7, 7, 7, 2), 16777216);
    // The float 10 / 3 times 3 rounds to 10 in float; kept in double it would truncate to 9.
    EXPECT_EQ(ScaleCoordinate(3, 0, 10, 3, 3, 0), 10);
    // A reference of 0 in mode 0 divides by zero: the result saturates (0 / 0 gives 0).
    EXPECT_EQ(ScaleCoordinate(10, 0, 100, 50, 0, 0), INT32_MAX);
    EXPECT_EQ(ScaleCoordinate(-10, 0, 100, 50, 0, 0), INT32_MIN);
    EXPECT_EQ(ScaleCoordinate(0, 0, 100, 50, 0, 0), 0);
    EXPECT_EQ(ScaleCoordinate(2000000000, 0, 4, 1, 1, 0), INT32_MAX);
}

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "skin/LayoutGeometry.h"
#include "skin/TimelineGeometry.h"

namespace klangor {

namespace {

// A 400 by 40 control whose channel runs from x 10 to 390 and y 16 to 22, band 10 high, cursor 6 wide.
TimelineInput Bar() {
    TimelineInput in;
    in.rcClient = {0, 0, 400, 40};
    in.rcChannel = {10, 16, 390, 22};
    in.nMin = 0;
    in.nMax = 1000;
    in.nSelStart = 0;
    in.nSelEnd = 1000;
    in.nPos = 0;
    in.nBandHeight = 10;
    in.nCursorWidth = 6;
    return in;
}

}  // namespace

TEST(TimelineGeometry, WholeSelectionCoversTheBandWithMarksAtBothEdges) {
    const auto shapes = ComputeTimelineShapes(Bar());
    EXPECT_EQ(shapes.rcBackground, (SkinRect{0, 0, 400, 40}));
    // d = (6 - 10) / 2 = -2: the band overhangs the channel by two pixels each side.
    EXPECT_EQ(shapes.rcBand, (SkinRect{10, 14, 390, 24}));
    ASSERT_TRUE(shapes.bHasSelection);
    EXPECT_EQ(shapes.rcSelection, shapes.rcBand);
    EXPECT_EQ(shapes.rcStartMark.left, 10);
    EXPECT_EQ(shapes.rcEndMark.left, 390);
    EXPECT_EQ(shapes.rcStartMark.Width(), 2);
    // Filled cursor: 4 above and below the band; marks 5 to 11 below the cursor.
    EXPECT_EQ(shapes.rcCursor.bottom, 28);
    EXPECT_EQ(shapes.rcStartMark.top, 33);
    EXPECT_EQ(shapes.rcStartMark.bottom, 39);
}

TEST(TimelineGeometry, CursorTouchesTheBandEdgesAtMinAndMax) {
    TimelineInput in = Bar();
    in.nMin = 500;
    in.nMax = 7300;
    in.nPos = in.nMin;
    auto shapes = ComputeTimelineShapes(in);
    EXPECT_FALSE(shapes.bCursorImage);
    EXPECT_EQ(shapes.rcCursor, (SkinRect{10, 10, 16, 28}));
    in.nPos = in.nMax;
    shapes = ComputeTimelineShapes(in);
    EXPECT_EQ(shapes.rcCursor.right, shapes.rcBand.right);
    EXPECT_EQ(shapes.rcCursor.Width(), 6);
}

TEST(TimelineGeometry, SelectionPixelsAreTruncatedNotRounded) {
    TimelineInput in = Bar();
    in.nMax = 3;
    in.nSelStart = 1;  // 380 / 3 = 126.67
    in.nSelEnd = 2;    // 253.33
    in.nPos = 2;       // 13 + 374 * 2 / 3 = 262.33
    const auto shapes = ComputeTimelineShapes(in);
    EXPECT_EQ(shapes.rcSelection.left, 136);
    EXPECT_EQ(shapes.rcSelection.right, 263);
    EXPECT_EQ(shapes.rcCursor.left, 262 - 3);
}

TEST(TimelineGeometry, BandTallerThanChannelIsCentredOnIt) {
    TimelineInput in = Bar();
    in.rcChannel = {10, 20, 390, 24};
    in.nBandHeight = 15;  // d = (4 - 15) / 2 = -5 (towards zero)
    const auto shapes = ComputeTimelineShapes(in);
    EXPECT_EQ(shapes.rcBand.top, 15);
    EXPECT_EQ(shapes.rcBand.bottom, 30);
}

TEST(TimelineGeometry, CursorPictureShorterThanTheBandIsCentredAndOddSizesLoseAPixel) {
    TimelineInput in = Bar();
    in.nBandHeight = 20;
    in.rcChannel = {10, 10, 390, 30};  // band 10..30
    in.nCursorImageWidth = 9;
    in.nCursorImageHeight = 13;  // dv = -7, dv / 2 = -3
    in.nPos = 500;
    auto shapes = ComputeTimelineShapes(in);
    ASSERT_TRUE(shapes.bCursorImage);
    EXPECT_EQ(shapes.rcCursor.top, 13);
    EXPECT_EQ(shapes.rcCursor.bottom, 27);  // one taller than the picture
    EXPECT_EQ(shapes.rcCursor.Width(), 8);  // odd width: one narrower
    EXPECT_EQ(shapes.rcStartMark.top, 32);

    in.nCursorImageHeight = 31;  // dv = 11: rises 5 above and below the band
    shapes = ComputeTimelineShapes(in);
    EXPECT_EQ(shapes.rcCursor.top, 5);
    EXPECT_EQ(shapes.rcCursor.bottom, 35);
}

TEST(TimelineGeometry, EmptyRangeDrawsBandAndCursorAtTheLeftWithoutDividingByZero) {
    TimelineInput in = Bar();
    in.nMin = 200;
    in.nMax = 200;
    in.nSelStart = 200;
    in.nSelEnd = 200;
    in.nPos = 200;
    const auto shapes = ComputeTimelineShapes(in);
    EXPECT_EQ(shapes.rcBand, (SkinRect{10, 14, 390, 24}));
    EXPECT_FALSE(shapes.bHasSelection);
    EXPECT_TRUE(shapes.rcSelection.IsEmpty());
    EXPECT_TRUE(shapes.rcStartMark.IsEmpty());
    EXPECT_TRUE(shapes.rcEndMark.IsEmpty());
    EXPECT_EQ(shapes.rcCursor.left, 10);
}

TEST(TimelineGeometry, ExtremeLayoutNumbersAndPositionsAreClampedNotOverflowed) {
    // Each of these overflowed a 32-bit sum or an integer conversion before the clamps (the sanitizer
    // build reports it); now every shape stays within the layout's coordinate limit.
    const int32_t aExtremes[] = {INT32_MIN, -1, 0, 1, INT32_MAX};
    for (const int32_t nBand : aExtremes) {
        for (const int32_t nCursor : aExtremes) {
            for (const bool bImage : {false, true}) {
                TimelineInput in = Bar();
                in.nBandHeight = nBand;
                in.nCursorWidth = nCursor;
                in.nMin = INT32_MIN;
                in.nMax = INT32_MIN + 1;  // a range of one: every other position lies far outside it
                in.nSelStart = INT32_MIN;
                in.nSelEnd = INT32_MAX;
                in.nPos = INT32_MAX;
                in.nCursorImageWidth = bImage ? INT32_MAX : 0;
                in.nCursorImageHeight = bImage ? INT32_MAX : 0;
                const auto shapes = ComputeTimelineShapes(in);
                for (const SkinRect &rc : {shapes.rcBand, shapes.rcSelection, shapes.rcCursor,
                                           shapes.rcStartMark, shapes.rcEndMark}) {
                    for (const int32_t v : {rc.left, rc.top, rc.right, rc.bottom}) {
                        EXPECT_LE(std::abs(int64_t{v}), int64_t{4} * klangor::kLayoutCoordinateLimit)
                            << nBand << " " << nCursor << " " << bImage;
                    }
                }
            }
        }
    }
    // Ordinary values are untouched by the clamps.
    EXPECT_EQ(ComputeTimelineShapes(Bar()).rcBand, (SkinRect{10, 14, 390, 24}));
}

TEST(LayoutGeometry, RectanglesAndThePreviewOffsetStayWithinTheLimit) {
    using klangor::LayoutRectFromValues;
    using klangor::OffsetWindowPosition;
    using klangor::SkinPoint;
    constexpr int32_t kLimit = klangor::kLayoutCoordinateLimit;
    EXPECT_EQ(LayoutRectFromValues({10, 20, 30, 40}), (SkinRect{10, 20, 40, 60}));
    EXPECT_EQ(LayoutRectFromValues({INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX}),
              (SkinRect{kLimit, -kLimit, 2 * kLimit, 0}));
    EXPECT_EQ(LayoutRectFromValues({0, 0, -5, INT32_MIN}), (SkinRect{0, 0, 0, 0})) << "no negative size";
    EXPECT_EQ(OffsetWindowPosition({100, 200}, 420, -30), (SkinPoint{520, 170}));
    EXPECT_EQ(OffsetWindowPosition({100, 200}, INT32_MAX, INT32_MIN), (SkinPoint{kLimit, -kLimit}));
    EXPECT_EQ(OffsetWindowPosition({-100, 5}, INT32_MIN, INT32_MAX), (SkinPoint{-kLimit, kLimit}));
}

TEST(WaveformBarsTest, FullScaleFillsTheBandAndColumnsBeyondItAreLeftOut) {
    const SkinRect rcBand{0, 10, 4, 30};
    const std::vector<WavePeak> columns = {{-1.0f, 1.0f, true},
                                           {-3.0f, 2.0f, true},
                                           {0.0f, 0.5f, true},
                                           {0.0f, 0.0f, false},
                                           {-1.0f, 1.0f, true}};
    const std::vector<SkinRect> bars = ComputeWaveformBars(rcBand, columns);
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_EQ(bars[0], (SkinRect{0, 10, 1, 30}));
    EXPECT_EQ(bars[1], (SkinRect{1, 10, 2, 30}));  // beyond full scale: held inside the band
    EXPECT_EQ(bars[2], (SkinRect{2, 15, 3, 20}));  // above the middle only
    EXPECT_TRUE(ComputeWaveformBars(SkinRect{0, 10, 4, 10}, columns).empty());
}

// Silence still draws as a one-pixel line in the middle of the band: the clip is there. A clip with no
// audio draws nothing.
TEST(WaveformBarsTest, SilenceIsALineInTheMiddleAndNoAudioIsNothing) {
    const SkinRect rcBand{10, 20, 310, 40};
    const std::vector<SkinRect> bars =
        ComputeWaveformBars(rcBand, std::vector<WavePeak>(300, {0.0f, 0.0f, true}));
    ASSERT_EQ(bars.size(), 300u);
    EXPECT_EQ(bars.front(), (SkinRect{10, 30, 11, 31}));
    EXPECT_EQ(bars.back(), (SkinRect{309, 30, 310, 31}));
    EXPECT_TRUE(ComputeWaveformBars(rcBand, std::vector<WavePeak>(300)).empty());
}

}  // namespace klangor

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "skin/SkinImage.h"
#include "skin/SkinTestImages.h"
#include "skin/WindowShape.h"

namespace klangor {

namespace {

// The shape as the per-pixel rule builds it: start from the whole rectangle and take away the 2 by 2
// square up and left of every near-white pixel.
std::vector<uint8_t> ShapeByPerPixelRule(int nWidth, int nHeight, const std::vector<uint8_t> &nearWhite) {
    std::vector<uint8_t> kept(static_cast<size_t>(nWidth) * nHeight, 1);
    for (int py = 0; py < nHeight; ++py) {
        for (int px = 0; px < nWidth; ++px) {
            if (!nearWhite[static_cast<size_t>(py) * nWidth + px]) {
                continue;
            }
            for (int y = py - 1; y < py + 1; ++y) {
                for (int x = px - 1; x < px + 1; ++x) {
                    if (x >= 0 && y >= 0) {
                        kept[static_cast<size_t>(y) * nWidth + x] = 0;
                    }
                }
            }
        }
    }
    return kept;
}

// Paints the rectangles, failing on any overlap or any rectangle outside the picture.
std::vector<uint8_t> Rasterise(int nWidth, int nHeight, const std::vector<SkinRect> &rects) {
    std::vector<uint8_t> covered(static_cast<size_t>(nWidth) * nHeight, 0);
    for (const SkinRect &rc : rects) {
        EXPECT_FALSE(rc.IsEmpty());
        EXPECT_GE(rc.left, 0);
        EXPECT_GE(rc.top, 0);
        EXPECT_LE(rc.right, nWidth);
        EXPECT_LE(rc.bottom, nHeight);
        for (int y = std::max(rc.top, 0); y < std::min(rc.bottom, nHeight); ++y) {
            for (int x = std::max(rc.left, 0); x < std::min(rc.right, nWidth); ++x) {
                EXPECT_EQ(covered[static_cast<size_t>(y) * nWidth + x], 0) << "overlap at " << x << "," << y;
                covered[static_cast<size_t>(y) * nWidth + x] = 1;
            }
        }
    }
    return covered;
}

// Rectangles must come in y-x bands for a toolkit region to take them in one go.
void ExpectBanded(const std::vector<SkinRect> &rects) {
    for (size_t i = 1; i < rects.size(); ++i) {
        const SkinRect &a = rects[i - 1];
        const SkinRect &b = rects[i];
        if (a.top == b.top) {
            EXPECT_EQ(a.bottom, b.bottom);
            EXPECT_LT(a.right, b.left);  // same band: ordered and not touching
        } else {
            EXPECT_GE(b.top, a.bottom);
        }
    }
}

SkinImage PictureOf(int nWidth, int nHeight, uint32_t uFill) {
    return SkinImage(nWidth, nHeight, uFill);
}

void SetPixel(SkinImage &image, int x, int y, uint32_t uArgb) {
    image.Pixels()[static_cast<size_t>(y) * image.PixelWidth() + x] = uArgb;
}

}  // namespace

TEST(WindowShape, RowSpansEqualThePerPixelRuleOnRandomPictures) {
    std::mt19937 rng(20261207);
    for (int nRound = 0; nRound < 200; ++nRound) {
        const int nWidth = 1 + static_cast<int>(rng() % 40);
        const int nHeight = 1 + static_cast<int>(rng() % 30);
        // From sparse specks to mostly white, and runs of whole white rows now and then.
        const unsigned uDensity = rng() % 100;
        std::vector<uint8_t> nearWhite(static_cast<size_t>(nWidth) * nHeight);
        for (auto &b : nearWhite) {
            b = rng() % 100 < uDensity;
        }
        if (rng() % 4 == 0) {
            std::fill_n(nearWhite.begin() + (rng() % nHeight) * nWidth, nWidth, 1);
        }
        SCOPED_TRACE(::testing::Message() << nWidth << "x" << nHeight << " density " << uDensity);
        const auto rects = BuildWindowShape(nWidth, nHeight, nearWhite);
        ExpectBanded(rects);
        ASSERT_EQ(Rasterise(nWidth, nHeight, rects), ShapeByPerPixelRule(nWidth, nHeight, nearWhite));
    }
}

TEST(WindowShape, PictureRuleCutsAbove200AndKeeps200) {
    SkinImage image = PictureOf(6, 4, 0xFF204060u);
    SetPixel(image, 2, 2, 0xFFC9C9C9u);  // 201, 201, 201: cut
    SetPixel(image, 5, 0, 0xFFC8FFFFu);  // 200, 255, 255: kept
    const auto covered = Rasterise(6, 4, BuildWindowShape(image));
    std::vector<uint8_t> expected(24, 1);
    for (int y : {1, 2}) {
        for (int x : {1, 2}) {
            expected[static_cast<size_t>(y) * 6 + x] = 0;
        }
    }
    EXPECT_EQ(covered, expected);
}

TEST(WindowShape, WhiteBorderLosesOneMorePixelOnlyOnTheRightAndBottom) {
    const int nWidth = 20;
    const int nHeight = 12;
    SkinImage image = PictureOf(nWidth, nHeight, 0xFFFFFFFFu);
    for (int y = 1; y < nHeight - 1; ++y) {
        for (int x = 1; x < nWidth - 1; ++x) {
            SetPixel(image, x, y, 0xFF3050A0u);
        }
    }
    const auto rects = BuildWindowShape(image);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0], (SkinRect{1, 1, nWidth - 2, nHeight - 2}));
}

TEST(WindowShape, NoNearWhiteKeepsTheWholeRectangleAndNoPictureGivesNothing) {
    const auto rects = BuildWindowShape(PictureOf(800, 600, 0xFF101010u));
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0], (SkinRect{0, 0, 800, 600}));
    EXPECT_TRUE(BuildWindowShape(SkinImage()).empty());
}

TEST(WindowShape, PaletteGifBackgroundIsShapedByItsRealColours) {
    TestGif gif;
    gif.nWidth = 6;
    gif.nHeight = 6;
    // Index 1 is white; its index value alone would never read as near-white.
    gif.palette = {0x203040, 0xF0F0F0};
    gif.indices.assign(36, 0);
    gif.indices[5 * 6 + 5] = 1;
    const std::string bytes = EncodeGif(gif);
    SkinImage image;
    ASSERT_TRUE(image.OpenMemory(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(),
                                 klangor::SkinImageFormat::Gif));
    image.ExpandTo24Bits();
    EXPECT_EQ(image.BitsPerPixel(), 24);
    const auto covered = Rasterise(6, 6, BuildWindowShape(image));
    EXPECT_EQ(covered[4 * 6 + 4], 0);
    EXPECT_EQ(covered[5 * 6 + 5], 0);
    EXPECT_EQ(covered[3 * 6 + 3], 1);
}

}  // namespace klangor

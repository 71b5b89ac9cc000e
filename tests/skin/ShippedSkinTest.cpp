#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "skin/SkinImage.h"
#include "skin/SkinKeys.h"
#include "skin/SkinLayout.h"
#include "skin/WindowShape.h"

namespace klangor {

namespace {

const std::filesystem::path kSkinDir = std::filesystem::path(KLANGOR_SOURCE_DIR) / "UI";

SkinRect RectOf(const SkinLayout::Values &v) {
    return {v[0], v[1], v[0] + v[2], v[1] + v[3]};
}

bool Overlap(const SkinRect &a, const SkinRect &b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

class ShippedSkin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_layout.Load(kSkinDir / std::string(kSkinLayoutFile)));
        ASSERT_TRUE(m_background.Open(kSkinDir / std::string(kMainBackgroundFile), SkinImageFormat::Gif));
        m_background.ExpandTo24Bits();
        m_kept = KeptMask(m_background);
    }

    SkinLayout::Values Get(std::string_view strKey) const {
        SkinLayout::Values values = {-1, -1, -1, -1};
        int nRead = 0;
        EXPECT_TRUE(m_layout.GetValues(strKey, values, &nRead)) << strKey;
        EXPECT_EQ(nRead, 4) << strKey;
        return values;
    }

    static std::vector<uint8_t> KeptMask(const SkinImage &image) {
        std::vector<uint8_t> kept(static_cast<size_t>(image.PixelWidth()) * image.PixelHeight(), 0);
        for (const SkinRect &rc : BuildWindowShape(image)) {
            for (int y = rc.top; y < rc.bottom; ++y) {
                std::fill(kept.begin() + y * image.PixelWidth() + rc.left,
                          kept.begin() + y * image.PixelWidth() + rc.right, 1);
            }
        }
        return kept;
    }

    // The rectangle lies on the picture and wholly inside the window's shape.
    static void ExpectInsideShape(const SkinImage &image, const std::vector<uint8_t> &kept,
                                  const SkinRect &rc, std::string_view strWhat) {
        SCOPED_TRACE(std::string(strWhat));
        ASSERT_FALSE(rc.IsEmpty());
        ASSERT_GE(rc.left, 0);
        ASSERT_GE(rc.top, 0);
        ASSERT_LE(rc.right, image.PixelWidth());
        ASSERT_LE(rc.bottom, image.PixelHeight());
        for (int y = rc.top; y < rc.bottom; ++y) {
            for (int x = rc.left; x < rc.right; ++x) {
                ASSERT_TRUE(kept[static_cast<size_t>(y) * image.PixelWidth() + x]) << x << "," << y;
            }
        }
    }

    SkinLayout m_layout;
    SkinImage m_background;
    std::vector<uint8_t> m_kept;
};

}  // namespace

TEST_F(ShippedSkin, EveryKeyResolvesAtItsOwnEntry) {
    const std::string &strText = m_layout.Text();
    for (std::string_view strKey : AllSkinLayoutKeys()) {
        SCOPED_TRACE(std::string(strKey));
        Get(strKey);
        // The first occurrence must be the key's own entry, not a piece of an earlier key or comment.
        const size_t nAt = strText.find(strKey);
        ASSERT_NE(nAt, std::string::npos);
        EXPECT_TRUE(nAt == 0 || strText[nAt - 1] == '\n');
        EXPECT_EQ(strText[nAt + strKey.size()], '=');
    }
    EXPECT_LT(strText.find("OUTPUT_PATH="), strText.find("EDIT_OUTPUT_PATH="));
}

TEST_F(ShippedSkin, EveryPictureExistsUnderItsOwnNameAndDecodes) {
    ASSERT_GT(m_background.PixelWidth(), 0);
    SkinImage preview;
    EXPECT_TRUE(preview.Open(kSkinDir / std::string(kPreviewBackgroundFile), SkinImageFormat::Gif));
    SkinImage cursor;
    ASSERT_TRUE(cursor.Open(kSkinDir / std::string(kCursorImageFile)));
    EXPECT_TRUE(cursor.TransparentColour().has_value());
    EXPECT_TRUE(cursor.HasAlpha());

    for (const SkinButtonRow &row : kSkinButtonRows) {
        SCOPED_TRACE(std::string(row.strFaceFile));
        const auto pathFace = kSkinDir / std::string(row.strFaceFile);
        ASSERT_TRUE(std::filesystem::is_regular_file(pathFace));
        SkinImage strip;
        ASSERT_TRUE(strip.Open(pathFace, SkinImageFormat::Gif));
        EXPECT_EQ(strip.PixelWidth() % 4, 0);
        const auto faces = CutButtonFaces(std::move(strip));
        // Each pair of faces must differ visibly, or a state change would not show.
        for (int a = 0; a < 4; ++a) {
            for (int b = a + 1; b < 4; ++b) {
                long lDiff = 0;
                for (int y = 0; y < faces[a].PixelHeight(); ++y) {
                    for (int x = 0; x < faces[a].PixelWidth(); ++x) {
                        const SkinRgb pa = faces[a].ReadRgb(x, y);
                        const SkinRgb pb = faces[b].ReadRgb(x, y);
                        lDiff += std::abs(pa.r - pb.r) + std::abs(pa.g - pb.g) + std::abs(pa.b - pb.b);
                    }
                }
                const long lPixels = long{faces[a].PixelWidth()} * faces[a].PixelHeight();
                EXPECT_GT(lDiff / lPixels, 4) << "faces " << a << " and " << b;
            }
        }
    }
}

TEST_F(ShippedSkin, ControlsSitInsideTheWindowShapeWithoutOverlapping) {
    std::map<std::string_view, SkinRect> placed;
    for (const SkinButtonRow &row : kSkinButtonRows) {
        SkinImage strip;
        ASSERT_TRUE(strip.Open(kSkinDir / std::string(row.strFaceFile), SkinImageFormat::Gif));
        const SkinLayout::Values v = Get(row.strKey);
        const SkinRect rc{v[0], v[1], v[0] + strip.PixelWidth() / 4, v[1] + strip.PixelHeight()};
        ExpectInsideShape(m_background, m_kept, rc, row.strFaceFile);
        const auto [it, bNew] = placed.emplace(row.strKey, rc);
        if (!bNew) {
            EXPECT_EQ(it->second, rc) << "paired buttons differ in size: " << row.strFaceFile;
        }
    }
    for (const SkinControlRow &row : kSkinControlRows) {
        const SkinRect rc = RectOf(Get(row.strKey));
        ExpectInsideShape(m_background, m_kept, rc, row.strKey);
        placed.emplace(row.strKey, rc);
    }
    for (auto a = placed.begin(); a != placed.end(); ++a) {
        for (auto b = std::next(a); b != placed.end(); ++b) {
            EXPECT_FALSE(Overlap(a->second, b->second)) << a->first << " overlaps " << b->first;
        }
    }
}

TEST_F(ShippedSkin, PreviewAreasAndTimelineValuesFitTheirPictures) {
    SkinImage preview;
    ASSERT_TRUE(preview.Open(kSkinDir / std::string(kPreviewBackgroundFile), SkinImageFormat::Gif));
    preview.ExpandTo24Bits();
    const auto kept = KeptMask(preview);
    const SkinRect rcVideo = RectOf(Get(kPreviewVideoRegionKey));
    const SkinRect rcClose = RectOf(Get(kPreviewCloseRegionKey));
    ExpectInsideShape(preview, kept, rcVideo, kPreviewVideoRegionKey);
    ExpectInsideShape(preview, kept, rcClose, kPreviewCloseRegionKey);
    EXPECT_FALSE(Overlap(rcVideo, rcClose));

    for (std::string_view strKey : kTimelineColourKeys) {
        const auto v = Get(strKey);
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(v[i] >= 0 && v[i] <= 255) << strKey;
        }
    }
    const auto size = Get(kTimelineSizeKey);
    const SkinRect rcSlider = RectOf(Get("SLIDER_VIDEO_SEEK"));
    EXPECT_GT(size[0], 0);
    EXPECT_GT(size[1], 0);
    EXPECT_LT(size[0], rcSlider.Height());
    const auto offset = Get(kPreviewOffsetKey);
    EXPECT_GT(offset[0] + offset[1], 0);
}

}  // namespace klangor

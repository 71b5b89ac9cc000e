#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "skin/SkinImage.h"
#include "skin/SkinTestImages.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace {

bool OpenBytes(SkinImage &image, const std::string &bytes,
               SkinImageFormat preferred = SkinImageFormat::Unknown) {
    return image.OpenMemory(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), preferred);
}

// ffmpeg's own decode of a picture as rgb24 bytes.
std::string DecodeRgbWithFfmpeg(const std::string &strPath) {
    const CommandResult result = RunCommand({"ffmpeg", "-v", "error", "-i", strPath, "-frames:v", "1", "-f",
                                             "rawvideo", "-pix_fmt", "rgb24", "-"});
    if (result.iExitStatus != 0) {
        throw std::runtime_error("ffmpeg decode failed: " + result.strStderr);
    }
    return result.strStdout;
}

struct Difference {
    int nMax = 0;
    double dMean = 0;
};

Difference CompareRgb(const SkinImage &image, const std::string &rgb) {
    Difference diff;
    long lSum = 0;
    for (int y = 0; y < image.PixelHeight(); ++y) {
        for (int x = 0; x < image.PixelWidth(); ++x) {
            const SkinRgb px = image.ReadRgb(x, y);
            const size_t i = (static_cast<size_t>(y) * image.PixelWidth() + x) * 3;
            for (int c = 0; c < 3; ++c) {
                const int nOurs = c == 0 ? px.r : c == 1 ? px.g : px.b;
                const int nDiff = std::abs(nOurs - static_cast<uint8_t>(rgb.at(i + c)));
                diff.nMax = std::max(diff.nMax, nDiff);
                lSum += nDiff;
            }
        }
    }
    diff.dMean = static_cast<double>(lSum) / (3.0 * image.PixelWidth() * image.PixelHeight());
    return diff;
}

TestGif StripedGif(int nWidth, int nHeight) {
    TestGif gif;
    gif.nWidth = nWidth;
    gif.nHeight = nHeight;
    gif.palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080, 0xC8FFFF, 0xC9C9C9};
    for (int y = 0; y < nHeight; ++y) {
        for (int x = 0; x < nWidth; ++x) {
            gif.indices.push_back(static_cast<uint8_t>((x + 3 * y) % 8));
        }
    }
    return gif;
}

class SkinImageFiles : public ::testing::Test {
protected:
    MediaFactory m_media;

    std::string MakeJpeg(const std::string &strName, const std::string &strSize,
                         const std::string &strPixFmt) {
        return m_media.Make(strName, {"-f", "lavfi", "-i", "gradients=seed=7:duration=0.1:size=" + strSize},
                            {"-frames:v", "1", "-pix_fmt", strPixFmt, "-q:v", "2", "-f", "mjpeg"});
    }
};

}  // namespace

TEST_F(SkinImageFiles, JpegDecodesToTheColoursFfmpegSees) {
    for (const char *pszPixFmt : {"yuvj444p", "yuvj420p", "gray"}) {
        SCOPED_TRACE(pszPixFmt);
        const std::string strPath = MakeJpeg(std::string("pic_") + pszPixFmt + ".jpg", "64x48", pszPixFmt);
        SkinImage image;
        ASSERT_TRUE(image.Open(strPath, SkinImageFormat::Gif));
        EXPECT_EQ(image.PixelWidth(), 64);
        EXPECT_EQ(image.PixelHeight(), 48);
        EXPECT_FALSE(image.HasAlpha());
        // Two decoders may round the inverse DCT and interpolate subsampled chroma a little
        // differently; on a smooth picture they stay close everywhere.
        const Difference diff = CompareRgb(image, DecodeRgbWithFfmpeg(strPath));
        EXPECT_LE(diff.nMax, 6);
        EXPECT_LT(diff.dMean, 1.5);
    }
}

TEST_F(SkinImageFiles, GifDecodesExactlyToFfmpegsColours) {
    const std::string strPath =
        m_media.Make("pic.gif", {"-f", "lavfi", "-i", "testsrc=size=70x30:duration=0.1"},
                     {"-frames:v", "1", "-vf", "split[a][b];[a]palettegen[p];[b][p]paletteuse"});
    SkinImage image;
    ASSERT_TRUE(image.Open(strPath));
    EXPECT_EQ(image.BitsPerPixel(), 8);
    EXPECT_EQ(CompareRgb(image, DecodeRgbWithFfmpeg(strPath)).nMax, 0);
}

TEST_F(SkinImageFiles, FormatComesFromTheContentNotTheName) {
    const std::string strJpegAsGif = MakeJpeg("face.gif", "40x10", "yuvj444p");
    SkinImage image;
    EXPECT_TRUE(image.Open(strJpegAsGif, SkinImageFormat::Gif));
    EXPECT_TRUE(image.Open(strJpegAsGif, SkinImageFormat::Jpeg));
    EXPECT_TRUE(image.Open(strJpegAsGif));
    EXPECT_EQ(image.PixelWidth(), 40);

    const std::string strGifAsJpeg = m_media.MakeRaw("cursor.jpg", EncodeGif(StripedGif(9, 5)));
    EXPECT_TRUE(image.Open(strGifAsJpeg, SkinImageFormat::Jpeg));
    EXPECT_EQ(image.PixelWidth(), 9);
    EXPECT_EQ(image.ReadRgb(1, 0), (SkinRgb{255, 0, 0}));
}

TEST_F(SkinImageFiles, NeitherFormatMissingOrEmptyFileGivesAnInvalidImage) {
    const std::string strPng =
        m_media.Make("pic.png", {"-f", "lavfi", "-i", "testsrc=size=16x16"}, {"-frames:v", "1"});
    const std::string strText = m_media.MakeRaw("notes.jpg", "PLAY_MOVIE=1,2,3,4;\n");
    const std::string strEmpty = m_media.MakeRaw("empty.gif", "");
    SkinImage image(4, 4);
    for (const std::string &strPath : {strPng, strText, strEmpty, m_media.PathOf("missing.jpg")}) {
        SCOPED_TRACE(strPath);
        EXPECT_FALSE(image.Open(strPath, SkinImageFormat::Gif));
        EXPECT_FALSE(image.HasPixels());
        EXPECT_EQ(image.PixelWidth(), 0);
        EXPECT_EQ(image.PixelHeight(), 0);
    }
}

TEST_F(SkinImageFiles, TruncatedOrAbsurdJpegIsRefused) {
    const std::string bytes = ReadFileBytes(MakeJpeg("whole.jpg", "96x64", "yuvj420p"));
    SkinImage image;
    ASSERT_TRUE(OpenBytes(image, bytes));
    // Cut anywhere before the end-of-image marker: libjpeg would fill the rest with grey and warn.
    for (size_t nCut : {size_t{2}, size_t{20}, bytes.size() / 3, bytes.size() / 2, bytes.size() - 10}) {
        SCOPED_TRACE(nCut);
        EXPECT_FALSE(OpenBytes(image, bytes.substr(0, nCut)));
        EXPECT_FALSE(image.HasPixels());
    }
    // An end-of-image marker in the middle of the compressed data: libjpeg would warn and pad.
    std::string corrupt = bytes;
    corrupt.insert(bytes.size() * 2 / 3, "\xFF\xD9");
    EXPECT_FALSE(OpenBytes(image, corrupt));
    // The frame header's declared size: height at +5, width at +7 from the SOF0 marker, big-endian.
    const size_t nSof = bytes.find("\xFF\xC0");
    ASSERT_NE(nSof, std::string::npos);
    auto withSize = [&](int nWidth, int nHeight) {
        std::string patched = bytes;
        patched[nSof + 5] = static_cast<char>(nHeight >> 8);
        patched[nSof + 6] = static_cast<char>(nHeight & 0xFF);
        patched[nSof + 7] = static_cast<char>(nWidth >> 8);
        patched[nSof + 8] = static_cast<char>(nWidth & 0xFF);
        return patched;
    };
    EXPECT_FALSE(OpenBytes(image, withSize(16385, 64)));
    EXPECT_FALSE(OpenBytes(image, withSize(96, 65535)));
    EXPECT_FALSE(OpenBytes(image, withSize(16384, 16384)));  // each side allowed, the whole far too large
    EXPECT_FALSE(OpenBytes(image, withSize(0, 64)));
    EXPECT_FALSE(OpenBytes(image, withSize(96, 0)));
}

TEST(SkinImageJpeg, CmykInksBecomeTheirRgbColours) {
    // Red is magenta and yellow ink; a half black ink halves every component.
    const uint8_t aRed[4] = {0, 255, 255, 0};
    const uint8_t aHalfGrey[4] = {0, 0, 0, 128};
    for (bool bAdobe : {true, false}) {
        SCOPED_TRACE(bAdobe ? "Adobe, inverted" : "plain");
        SkinImage image;
        ASSERT_TRUE(OpenBytes(image, EncodeCmykJpeg(16, 8, aRed, bAdobe)));
        const SkinRgb red = image.ReadRgb(5, 3);
        EXPECT_GE(red.r, 250);
        EXPECT_LE(red.g, 5);
        EXPECT_LE(red.b, 5);
        ASSERT_TRUE(OpenBytes(image, EncodeCmykJpeg(16, 8, aHalfGrey, bAdobe)));
        const SkinRgb grey = image.ReadRgb(5, 3);
        EXPECT_NEAR(grey.r, 127, 3);
        EXPECT_NEAR(grey.g, 127, 3);
        EXPECT_NEAR(grey.b, 127, 3);
    }
}

TEST(SkinImageGif, TransparentIndexBecomesTransparentPixelsWithTheKeyColour) {
    TestGif gif = StripedGif(8, 4);
    gif.nTransparent = 4;  // white
    SkinImage image;
    ASSERT_TRUE(OpenBytes(image, EncodeGif(gif)));
    ASSERT_TRUE(image.TransparentColour().has_value());
    EXPECT_EQ(*image.TransparentColour(), (SkinRgb{255, 255, 255}));
    EXPECT_TRUE(image.HasAlpha());
    EXPECT_EQ(image.ReadArgb(4, 0), 0x00FFFFFFu);  // index 4 at x 4, y 0
    EXPECT_EQ(image.ReadArgb(1, 0), 0xFFFF0000u);
    // The key colour survives cutting and resampling.
    SkinImage part;
    ASSERT_TRUE(image.CutOut(3, 0, 6, 1, &part));
    EXPECT_EQ(part.ReadArgb(1, 0), 0x00FFFFFFu);
    EXPECT_TRUE(part.TransparentColour().has_value());
}

TEST(SkinImageGif, InterlacedRowsLandInTheirPlaces) {
    TestGif plain = StripedGif(5, 19);
    TestGif interlaced = plain;
    interlaced.bInterlace = true;
    SkinImage a;
    SkinImage b;
    ASSERT_TRUE(OpenBytes(a, EncodeGif(plain)));
    ASSERT_TRUE(OpenBytes(b, EncodeGif(interlaced)));
    for (int y = 0; y < 19; ++y) {
        for (int x = 0; x < 5; ++x) {
            ASSERT_EQ(a.ReadArgb(x, y), b.ReadArgb(x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(a.ReadRgb(0, 1), (SkinRgb{0, 0, 255}));  // index 3 in the second row
}

TEST(SkinImageGif, DamagedOrAbsurdGifIsRefused) {
    const TestGif gif = StripedGif(30, 20);
    const std::string bytes = EncodeGif(gif);
    const size_t nDesc = GifImageDescriptorOffset(gif);
    ASSERT_EQ(static_cast<uint8_t>(bytes[nDesc]), 0x2C);
    SkinImage image;
    ASSERT_TRUE(OpenBytes(image, bytes));

    for (size_t nCut : {size_t{6}, size_t{12}, nDesc, nDesc + 10, bytes.size() / 2}) {
        SCOPED_TRACE(nCut);
        EXPECT_FALSE(OpenBytes(image, bytes.substr(0, nCut)));
    }
    auto patched = [&](size_t nOffset, int nValue) {
        std::string copy = bytes;
        PutLittleEndian16(copy, nOffset, nValue);
        return copy;
    };
    EXPECT_FALSE(OpenBytes(image, patched(6, 0)));              // screen width 0
    EXPECT_FALSE(OpenBytes(image, patched(8, 0)));              // screen height 0
    EXPECT_FALSE(OpenBytes(image, patched(6, 20000)));          // screen absurdly wide
    EXPECT_FALSE(OpenBytes(image, patched(nDesc + 1, 1)));      // frame pushed one pixel off the right
    EXPECT_FALSE(OpenBytes(image, patched(nDesc + 3, 5)));      // and off the bottom
    EXPECT_FALSE(OpenBytes(image, patched(nDesc + 5, 60000)));  // frame far wider than its screen
    EXPECT_FALSE(OpenBytes(image, patched(nDesc + 7, 0)));      // frame with no rows
    std::string badCodeSize = bytes;
    badCodeSize[nDesc + 10] = 15;  // LZW code size past what GIF allows
    EXPECT_FALSE(OpenBytes(image, badCodeSize));
    EXPECT_FALSE(image.HasPixels());
}

TEST(SkinImageGif, FrameSmallerThanScreenShowsTheBackgroundAround) {
    TestGif gif = StripedGif(4, 4);
    std::string bytes = EncodeGif(gif);
    PutLittleEndian16(bytes, 6, 10);  // screen 10 x 6, frame 4 x 4 at 0, 0
    PutLittleEndian16(bytes, 8, 6);
    SkinImage image;
    ASSERT_TRUE(OpenBytes(image, bytes));
    EXPECT_EQ(image.PixelWidth(), 10);
    EXPECT_EQ(image.PixelHeight(), 6);
    EXPECT_EQ(image.ReadRgb(1, 0), (SkinRgb{255, 0, 0}));
    EXPECT_EQ(image.ReadArgb(9, 5), 0xFF000000u);  // background index 0
}

TEST(SkinImageRobustness, RandomDamageNeverCrashesAndNeverYieldsAWrongSize) {
    MediaFactory media;
    const std::string strJpeg = media.Make("r.jpg", {"-f", "lavfi", "-i", "testsrc2=size=48x32"},
                                           {"-frames:v", "1", "-pix_fmt", "yuvj420p", "-f", "mjpeg"});
    TestGif gif = StripedGif(48, 32);
    gif.nTransparent = 2;
    const std::string aOriginals[] = {ReadFileBytes(strJpeg), EncodeGif(gif)};
    std::mt19937 rng(1234);
    SkinImage image;
    for (const std::string &original : aOriginals) {
        for (int nRound = 0; nRound < 300; ++nRound) {
            std::string damaged = original;
            const int nFlips = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < nFlips; ++i) {
                damaged[rng() % damaged.size()] = static_cast<char>(rng());
            }
            if (rng() % 3 == 0) {
                damaged.resize(rng() % damaged.size());
            }
            if (OpenBytes(image, damaged, SkinImageFormat::Gif)) {
                // Whatever survives is a whole picture within the limits.
                EXPECT_TRUE(SkinImage::IsAcceptableSize(image.PixelWidth(), image.PixelHeight()));
            } else {
                EXPECT_EQ(image.PixelWidth(), 0);
            }
        }
    }
}

TEST(SkinImageFaces, StripOf101PixelsGivesFourFacesOf25AndDropsTheLastColumn) {
    SkinImage strip(101, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 101; ++x) {
            strip.Pixels()[y * 101 + x] = 0xFF000000u | static_cast<uint32_t>(x);
        }
    }
    const auto faces = klangor::CutButtonFaces(std::move(strip));
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(faces[k].HasPixels());
        EXPECT_EQ(faces[k].PixelWidth(), 25);
        EXPECT_EQ(faces[k].PixelHeight(), 3);
        EXPECT_EQ(faces[k].ReadArgb(0, 2) & 0xFF, static_cast<uint32_t>(25 * k));
        EXPECT_EQ(faces[k].ReadArgb(24, 0) & 0xFF, static_cast<uint32_t>(25 * k + 24));
    }
    // Narrower than four pixels: no faces at all rather than zero-width ones.
    const auto none = klangor::CutButtonFaces(SkinImage(3, 3));
    for (const SkinImage &face : none) {
        EXPECT_FALSE(face.HasPixels());
    }
}

TEST(SkinImageOps, CutOutClipsToThePictureAndEmptiesOnNothing) {
    SkinImage image(10, 10, 0xFF102030u);
    image.Pixels()[9 * 10 + 9] = 0xFFABCDEFu;
    SkinImage part;
    ASSERT_TRUE(image.CutOut(8, 8, 50, 50, &part));
    EXPECT_EQ(part.PixelWidth(), 2);
    EXPECT_EQ(part.ReadArgb(1, 1), 0xFFABCDEFu);
    EXPECT_FALSE(image.CutOut(5, 5, 5, 9, &part));
    EXPECT_FALSE(part.HasPixels());
    ASSERT_TRUE(image.CutOut(9, 9, 10, 10));  // in place
    EXPECT_EQ(image.PixelWidth(), 1);
    EXPECT_EQ(image.ReadArgb(0, 0), 0xFFABCDEFu);
}

TEST(SkinImageOps, ResampleKeepsCornersAndRefusesZeroSize) {
    SkinImage image(4, 2, 0xFF000000u);
    image.Pixels()[0] = 0xFFFF0000u;
    image.Pixels()[7] = 0x0000FF00u;
    const SkinImage larger = image.Resampled(8, -1);
    ASSERT_EQ(larger.PixelWidth(), 8);
    ASSERT_EQ(larger.PixelHeight(), 2);
    EXPECT_EQ(larger.ReadArgb(0, 0), 0xFFFF0000u);
    EXPECT_EQ(larger.ReadArgb(1, 0), 0xFFFF0000u);
    EXPECT_EQ(larger.ReadArgb(7, 1), 0x0000FF00u);
    const SkinImage smaller = image.Resampled(3, 1);
    EXPECT_EQ(smaller.PixelWidth(), 3);
    EXPECT_FALSE(image.Resampled(0, 5).HasPixels());
}

}  // namespace klangor

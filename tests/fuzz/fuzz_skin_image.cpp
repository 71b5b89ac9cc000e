// Any bytes as a skin picture through one of its decoders (FUZZ_DECODER: DecodeJpeg or DecodeGif), with
// the size caps of SkinImage in force; a decoded picture is then expanded and cut into button faces the
// way the skin uses it.
#include <cstdint>

#include "FuzzSupport.h"
#include "skin/SkinDecoders.h"
#include "skin/SkinImage.h"

using namespace klangor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
    SkinImage image;
    if (!FUZZ_DECODER(pData, nSize, image)) {
        FUZZ_CHECK(!image.HasPixels());
        return 0;
    }
    FUZZ_CHECK(image.HasPixels());
    FUZZ_CHECK(image.PixelWidth() > 0 && image.PixelWidth() <= SkinImage::kMaxSide);
    FUZZ_CHECK(image.PixelHeight() > 0 && image.PixelHeight() <= SkinImage::kMaxSide);
    FUZZ_CHECK(int64_t{image.PixelWidth()} * image.PixelHeight() <= SkinImage::kMaxPixels);
    image.ExpandTo24Bits();
    const SkinRgb corner = image.ReadRgb(image.PixelWidth() - 1, image.PixelHeight() - 1);
    auto faces = CutButtonFaces(std::move(image));
    FuzzKeep(corner.r + static_cast<unsigned>(faces[0].PixelWidth()));
    return 0;
}

#pragma once

#include <cstddef>
#include <cstdint>

#include "skin/SkinImage.h"

namespace klangor {

// The two decoders behind SkinImage::Open. Each fills the image and returns true only for a complete,
// undamaged picture; on any failure the image is left untouched.
bool DecodeJpeg(const uint8_t *pData, size_t nSize, SkinImage &image);
bool DecodeGif(const uint8_t *pData, size_t nSize, SkinImage &image);

}  // namespace klangor

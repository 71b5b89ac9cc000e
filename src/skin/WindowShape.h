#pragma once

#include <cstdint>
#include <vector>

#include "skin/SkinImage.h"
#include "skin/SkinRect.h"

namespace klangor {

// The shape of a skinned window, cut out of its background picture.
//
// Every near-white pixel (red, green and blue all above 200) at px, py removes the 2 by 2 square from
// px-1, py-1 to px+1, py+1 (right and bottom excluded): the pixel itself and its left, upper and
// upper-left neighbours. So a pixel is kept exactly when neither it nor its right, lower and lower-right
// neighbours is near-white.
//
// The result is a list of rectangles in y-x bands (sorted by top, then left; rectangles of one band
// share top and bottom, do not touch and do not overlap), the form a toolkit region is built from in
// one go (QRegion::setRects). Consecutive rows with identical spans are merged into one band. An empty
// picture gives no rectangles: the caller then keeps the window's own rectangle.

// From a near-white mask of nWidth * nHeight entries, rows top-down (non-zero = near-white).
std::vector<SkinRect> BuildWindowShape(int nWidth, int nHeight, const std::vector<uint8_t> &nearWhite);

// From a picture, read with ReadRgb (expand palette pictures to 24 bits first).
std::vector<SkinRect> BuildWindowShape(const SkinImage &background);

}  // namespace klangor

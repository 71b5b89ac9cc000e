#include "skin/LayoutGeometry.h"

#include <algorithm>

namespace klangor {

int32_t ClampLayoutCoordinate(int64_t llValue) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(llValue, -kLayoutCoordinateLimit, kLayoutCoordinateLimit));
}

SkinRect LayoutRectFromValues(const SkinLayout::Values &values) {
    const int32_t x = ClampLayoutCoordinate(values[0]);
    const int32_t y = ClampLayoutCoordinate(values[1]);
    const int32_t w = std::clamp<int32_t>(values[2], 0, kLayoutCoordinateLimit);
    const int32_t h = std::clamp<int32_t>(values[3], 0, kLayoutCoordinateLimit);
    return {x, y, x + w, y + h};
}

SkinPoint OffsetWindowPosition(SkinPoint ptWindow, int32_t iOffsetX, int32_t iOffsetY) {
    // Summed in 64 bits: both parts may be anything before the clamp.
    return {ClampLayoutCoordinate(int64_t{ptWindow.x} + iOffsetX),
            ClampLayoutCoordinate(int64_t{ptWindow.y} + iOffsetY)};
}

}  // namespace klangor

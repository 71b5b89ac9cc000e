#pragma once

#include <cstdint>

#include "skin/SkinLayout.h"
#include "skin/SkinRect.h"

namespace klangor {

// The layout file is text anyone can edit, so its numbers may be anything a 32-bit integer holds.
// Positions and sizes taken from it are clamped to a range far beyond any screen (and within what the
// toolkit accepts for a widget), so that forming an edge from a position and a size, or adding an
// offset to a window position, never overflows.
inline constexpr int32_t kLayoutCoordinateLimit = 1 << 20;

struct SkinPoint {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const SkinPoint &, const SkinPoint &) = default;
};

int32_t ClampLayoutCoordinate(int64_t llValue);

// x, y, width, height of a layout value as a rectangle: x and y clamped to +-kLayoutCoordinateLimit,
// width and height to 0 .. kLayoutCoordinateLimit.
SkinRect LayoutRectFromValues(const SkinLayout::Values &values);

// Where the preview window goes: the main window's top-left corner moved by the layout's offset.
SkinPoint OffsetWindowPosition(SkinPoint ptWindow, int32_t iOffsetX, int32_t iOffsetY);

}  // namespace klangor

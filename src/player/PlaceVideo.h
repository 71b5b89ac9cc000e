#pragma once

#include <optional>

namespace klangor {

struct VideoRect {
    int iLeft = 0;
    int iTop = 0;
    int iWidth = 0;
    int iHeight = 0;
};

// Fits a video of the given native size into a host area of the given size: the aspect ratio is kept,
// the picture centred, with a one-pixel margin at its left and top. A 640x360 video in a 320x240 host
// sits at (1, 31) with size 319x179. A video that reports no size places nothing.
std::optional<VideoRect> PlaceVideo(int iHostWidth, int iHostHeight, int iVideoWidth, int iVideoHeight);

}  // namespace klangor

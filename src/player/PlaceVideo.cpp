#include "player/PlaceVideo.h"

#include <algorithm>

namespace klangor {

std::optional<VideoRect> PlaceVideo(int iHostWidth, int iHostHeight, int iVideoWidth, int iVideoHeight) {
    if (iVideoWidth <= 0 || iVideoHeight <= 0) {
        return std::nullopt;
    }
    const int W = std::max(iHostWidth, 0);
    const int H = std::max(iHostHeight, 0);
    const double dScale =
        std::min(static_cast<double>(W) / iVideoWidth, static_cast<double>(H) / iVideoHeight);
    const int w = static_cast<int>(iVideoWidth * dScale);
    const int h = static_cast<int>(iVideoHeight * dScale);
    const int iLeft = (W - w) / 2;
    const int iTop = (H - h) / 2;
    return VideoRect{iLeft + 1, iTop + 1, w - 1, h - 1};
}

}  // namespace klangor

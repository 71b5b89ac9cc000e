// Times the window shape of an 800 by 600 background: a picture shaped like a real skin (rounded
// corners and a cut-out notch of near-white) and a worst case of scattered near-white specks.
// Prints milliseconds per shape; the goal is well under 50 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "skin/SkinImage.h"
#include "skin/WindowShape.h"

namespace klangor {

namespace {

SkinImage SkinLikePicture() {
    const int nWidth = 800;
    const int nHeight = 600;
    SkinImage image(nWidth, nHeight, 0xFF1E2530u);
    const int nRadius = 24;
    for (int y = 0; y < nHeight; ++y) {
        for (int x = 0; x < nWidth; ++x) {
            const int dx = std::max({nRadius - x, x - (nWidth - 1 - nRadius), 0});
            const int dy = std::max({nRadius - y, y - (nHeight - 1 - nRadius), 0});
            const bool bOutsideCorner = dx * dx + dy * dy > nRadius * nRadius;
            const bool bNotch = y < 40 && x > 300 && x < 500;
            if (bOutsideCorner || bNotch) {
                image.Pixels()[static_cast<size_t>(y) * nWidth + x] = 0xFFFAFAFAu;
            }
        }
    }
    return image;
}

SkinImage SpeckledPicture(int nPercent) {
    SkinImage image(800, 600, 0xFF404040u);
    std::mt19937 rng(7);
    for (size_t i = 0; i < 800u * 600u; ++i) {
        if (static_cast<int>(rng() % 100) < nPercent) {
            image.Pixels()[i] = 0xFFFFFFFFu;
        }
    }
    return image;
}

void Time(const char *pszName, const SkinImage &image) {
    const int nRuns = 20;
    size_t nRects = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < nRuns; ++i) {
        nRects = klangor::BuildWindowShape(image).size();
    }
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%-28s %8.3f ms per shape, %zu rectangles\n", pszName, elapsed.count() / nRuns, nRects);
}

}  // namespace

}  // namespace klangor

using namespace klangor;

int main() {
    Time("800x600 skin-like", SkinLikePicture());
    Time("800x600 2% white specks", SpeckledPicture(2));
    Time("800x600 30% white specks", SpeckledPicture(30));
    return 0;
}

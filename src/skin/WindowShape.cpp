#include "skin/WindowShape.h"

#include <cstddef>

namespace klangor {

namespace {

// The kept runs of one row, as left, right pairs (right excluded).
void KeptSpans(const uint8_t *pRemoved, int nWidth, std::vector<int32_t> &spans) {
    spans.clear();
    int x = 0;
    while (x < nWidth) {
        while (x < nWidth && pRemoved[x]) {
            ++x;
        }
        const int nLeft = x;
        while (x < nWidth && !pRemoved[x]) {
            ++x;
        }
        if (x > nLeft) {
            spans.push_back(nLeft);
            spans.push_back(x);
        }
    }
}

}  // namespace

std::vector<SkinRect> BuildWindowShape(int nWidth, int nHeight, const std::vector<uint8_t> &nearWhite) {
    std::vector<SkinRect> rects;
    if (nWidth <= 0 || nHeight <= 0 || nearWhite.size() < static_cast<size_t>(nWidth) * nHeight) {
        return rects;
    }
    const size_t w = static_cast<size_t>(nWidth);
    std::vector<uint8_t> removed(w);
    std::vector<int32_t> spans;
    std::vector<int32_t> bandSpans;
    int32_t nBandTop = 0;
    auto flushBand = [&](int32_t nBandBottom) {
        for (size_t i = 0; i + 1 < bandSpans.size(); i += 2) {
            rects.push_back({bandSpans[i], nBandTop, bandSpans[i + 1], nBandBottom});
        }
    };
    for (int y = 0; y < nHeight; ++y) {
        // Row y loses a pixel when it or its neighbour to the right is near-white, in this row or the
        // next one down.
        const uint8_t *pRow = nearWhite.data() + static_cast<size_t>(y) * w;
        const uint8_t *pNext = y + 1 < nHeight ? pRow + w : nullptr;
        for (size_t x = 0; x < w; ++x) {
            uint8_t bGone = pRow[x];
            if (x + 1 < w) {
                bGone |= pRow[x + 1];
            }
            if (pNext) {
                bGone |= pNext[x];
                if (x + 1 < w) {
                    bGone |= pNext[x + 1];
                }
            }
            removed[x] = bGone;
        }
        KeptSpans(removed.data(), nWidth, spans);
        if (y == 0) {
            bandSpans = spans;
            nBandTop = 0;
        } else if (spans != bandSpans) {
            flushBand(y);
            bandSpans = spans;
            nBandTop = y;
        }
    }
    flushBand(nHeight);
    return rects;
}

std::vector<SkinRect> BuildWindowShape(const SkinImage &background) {
    const int nWidth = background.PixelWidth();
    const int nHeight = background.PixelHeight();
    if (!background.HasPixels()) {
        return {};
    }
    std::vector<uint8_t> nearWhite(static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight));
    const uint32_t *pPixels = background.Pixels();
    for (size_t i = 0; i < nearWhite.size(); ++i) {
        const uint32_t u = pPixels[i];
        nearWhite[i] = ((u >> 16) & 0xFF) > 200 && ((u >> 8) & 0xFF) > 200 && (u & 0xFF) > 200;
    }
    return BuildWindowShape(nWidth, nHeight, nearWhite);
}

}  // namespace klangor

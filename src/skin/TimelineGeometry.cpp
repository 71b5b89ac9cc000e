#include "skin/TimelineGeometry.h"

#include <algorithm>
#include <cmath>

#include "skin/LayoutGeometry.h"

namespace klangor {

namespace {

// Differences are taken as 32-bit integers, wrapping like the track bar's own arithmetic would.
int32_t Difference32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Floating-point results are turned into pixels by truncation towards zero. A position far outside the
// range (or a huge layout number) lands far off the control; held within the layout's coordinate
// limit, the edges built from it stay representable.
int32_t Truncate(double d) {
    const double dLimit = kLayoutCoordinateLimit;
    return static_cast<int32_t>(std::clamp(d, -dLimit, dLimit));
}

SkinRect ClampRect(const SkinRect &rc) {
    return {ClampLayoutCoordinate(rc.left), ClampLayoutCoordinate(rc.top), ClampLayoutCoordinate(rc.right),
            ClampLayoutCoordinate(rc.bottom)};
}

}  // namespace

TimelineShapes ComputeTimelineShapes(const TimelineInput &in) {
    TimelineShapes out;
    out.rcBackground = in.rcClient;

    // The band height and cursor width come from the layout file and may be any 32-bit number; held
    // within the layout's coordinate limit, every sum below stays far from overflowing.
    const SkinRect c = ClampRect(in.rcChannel);
    const int32_t nBandHeight = ClampLayoutCoordinate(in.nBandHeight);
    const int32_t nCursorWidth = ClampLayoutCoordinate(in.nCursorWidth);
    // Centred on the channel; a band taller than the channel gives a negative d and overhangs it.
    const int32_t d = (c.bottom - c.top - nBandHeight) / 2;
    out.rcBand = {c.left, c.top + d, c.right, c.top + d + nBandHeight};

    const int32_t L = out.rcBand.left;
    const int32_t nBandWidth = out.rcBand.Width();
    const int32_t R = Difference32(in.nMax, in.nMin);
    const int32_t h = nCursorWidth / 2;

    int32_t x = L + h;
    if (R != 0) {
        const double dRange = R;
        const int32_t nSelLeft = Truncate(L + Difference32(in.nSelStart, in.nMin) / dRange * nBandWidth);
        const int32_t nSelRight = Truncate(L + nBandWidth * (Difference32(in.nSelEnd, in.nMin) / dRange));
        out.bHasSelection = true;
        out.rcSelection = {nSelLeft, out.rcBand.top, nSelRight, out.rcBand.bottom};
        x = Truncate(L + h + Difference32(in.nPos, in.nMin) / dRange * (nBandWidth - nCursorWidth));
        for (const int32_t nPoint : in.splitPoints) {
            const int32_t nOffset = Difference32(nPoint, in.nMin);
            if (nOffset > 0 && nOffset < R) {
                const int32_t nTick = Truncate(L + nBandWidth * (nOffset / dRange));
                out.splitTicks.push_back({nTick, out.rcBand.top - 2, nTick + 1, out.rcBand.bottom + 2});
            }
        }
    }

    if (in.nCursorImageWidth > 0 && in.nCursorImageHeight > 0) {
        const int32_t iw = ClampLayoutCoordinate(in.nCursorImageWidth);
        const int32_t dv = ClampLayoutCoordinate(in.nCursorImageHeight) - nBandHeight;
        out.bCursorImage = true;
        out.rcCursor = {x - iw / 2, out.rcBand.top - dv / 2, x + iw / 2, out.rcBand.bottom + dv / 2};
    } else {
        out.rcCursor = {x - h, out.rcBand.top - 4, x + h, out.rcBand.bottom + 4};
    }

    if (out.bHasSelection) {
        const int32_t nMarkTop = out.rcCursor.bottom + 5;
        const int32_t nMarkBottom = out.rcCursor.bottom + 11;
        out.rcStartMark = {out.rcSelection.left, nMarkTop, out.rcSelection.left + 2, nMarkBottom};
        out.rcEndMark = {out.rcSelection.right, nMarkTop, out.rcSelection.right + 2, nMarkBottom};
    }
    return out;
}

std::vector<SkinRect> ComputeWaveformBars(const SkinRect &rcBand, const std::vector<WavePeak> &columns) {
    std::vector<SkinRect> bars;
    const int32_t nHeight = rcBand.Height();
    const int32_t nWidth = rcBand.Width();
    if (nHeight <= 0 || nWidth <= 0) {
        return bars;
    }
    const double dMiddle = rcBand.top + nHeight / 2.0;
    const double dHalf = nHeight / 2.0;
    const auto toY = [&](float fSample) {
        const double dClamped = std::clamp(static_cast<double>(fSample), -1.0, 1.0);
        return static_cast<int32_t>(std::lround(dMiddle - dClamped * dHalf));
    };
    const size_t nColumns = std::min(columns.size(), static_cast<size_t>(nWidth));
    for (size_t i = 0; i < nColumns; ++i) {
        const WavePeak &peak = columns[i];
        if (!peak.bHas) {
            continue;
        }
        int32_t nTop = std::clamp(toY(peak.fMax), rcBand.top, rcBand.bottom - 1);
        int32_t nBottom = std::clamp(toY(peak.fMin), nTop + 1, rcBand.bottom);
        const int32_t x = rcBand.left + static_cast<int32_t>(i);
        bars.push_back({x, nTop, x + 1, nBottom});
    }
    return bars;
}

}  // namespace klangor

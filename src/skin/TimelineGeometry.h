#pragma once

#include <cstdint>
#include <vector>

#include "skin/SkinRect.h"
#include "waveform/WaveformSummary.h"

namespace klangor {

// What the timeline bar paints, computed from the track bar's values alone.
struct TimelineInput {
    SkinRect rcClient;   // the whole control
    SkinRect rcChannel;  // the track bar's channel
    int32_t nMin = 0;    // range
    int32_t nMax = 0;
    int32_t nSelStart = 0;  // selection
    int32_t nSelEnd = 0;
    int32_t nPos = 0;  // play position
    int32_t nBandHeight = 0;
    int32_t nCursorWidth = 0;
    // Size of the cursor picture; 0 by 0 when there is none (a filled cursor is drawn instead).
    int32_t nCursorImageWidth = 0;
    int32_t nCursorImageHeight = 0;
    // Where the clip is divided into several outputs, in the range's units; ticks are drawn there.
    std::vector<int32_t> splitPoints;
};

// The shapes in drawing order: background, band, selection, split ticks, cursor, start mark, end mark
// (later ones cover earlier ones). Right and bottom edges are excluded.
struct TimelineShapes {
    SkinRect rcBackground;
    SkinRect rcBand;
    // False for an empty range (max equal to min): there is no selection to draw, so the selection
    // and both marks are left out, and the cursor stands at the band's left edge.
    bool bHasSelection = false;
    SkinRect rcSelection;
    // True when the cursor picture is drawn into rcCursor (resampled to its size); false when rcCursor
    // is filled with the cursor colour.
    bool bCursorImage = false;
    SkinRect rcCursor;
    SkinRect rcStartMark;
    SkinRect rcEndMark;
    // One pixel wide across the band and a little beyond, one per split point within the range; drawn
    // over the waveform and under the cursor.
    std::vector<SkinRect> splitTicks;
};

TimelineShapes ComputeTimelineShapes(const TimelineInput &in);

// The waveform inside the band: one bar per column of the band that has a peak, from the column's
// highest sample (up) to its lowest (down) around the band's middle, full scale filling the band, at
// least one pixel tall so quiet passages still read as sound. columns[i] is the band's i-th pixel
// column; columns beyond the band's width are left out.
std::vector<SkinRect> ComputeWaveformBars(const SkinRect &rcBand, const std::vector<WavePeak> &columns);

}  // namespace klangor

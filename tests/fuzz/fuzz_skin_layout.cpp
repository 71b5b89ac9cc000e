// Any bytes as the skin's layout file: loaded from disk, then every lookup the windows make, with the
// numbers handed on the way the windows use them (control rectangles, the preview window's placement,
// colours, and the timeline bar's geometry at the extremes of its range).
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "skin/LayoutGeometry.h"
#include "skin/SkinKeys.h"
#include "skin/SkinLayout.h"
#include "skin/TimelineGeometry.h"

using namespace klangor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
    static const std::string strFile = FuzzFolder() + "/position.txt";
    WriteFuzzFile(strFile, pData, nSize);
    SkinLayout layout;
    const bool bLoaded = layout.Load(strFile);
    FUZZ_CHECK(bLoaded == (nSize <= SkinLayout::kMaxFileBytes));
    FUZZ_CHECK(!bLoaded || layout.Text().size() == nSize);

    unsigned uSink = 0;
    for (std::string_view strKey : AllSkinLayoutKeys()) {
        SkinLayout::Values values{7, 7, 7, 7};
        int nRead = -1;
        if (!layout.GetValues(strKey, values, &nRead)) {
            FUZZ_CHECK(values == (SkinLayout::Values{7, 7, 7, 7}));
            continue;
        }
        FUZZ_CHECK(nRead >= 0 && nRead <= 4);
        const SkinRect rc = LayoutRectFromValues(values);
        FUZZ_CHECK(rc.Width() >= 0 && rc.Height() >= 0);
        const SkinPoint pt = OffsetWindowPosition({values[2], values[3]}, values[0], values[1]);
        uSink += static_cast<unsigned>(pt.x) + static_cast<unsigned>(pt.y);
        uSink += SkinLayout::ColourComponent(values[0]) + SkinLayout::ColourComponent(values[3]);
    }

    SkinLayout::Values size{0, 0, 0, 0};
    layout.GetValues(kTimelineSizeKey, size);
    SkinLayout::Values seek{0, 0, 400, 40};
    layout.GetValues("SLIDER_VIDEO_SEEK", seek);
    const SkinRect rcSeek = LayoutRectFromValues(seek);
    for (const int32_t nMax : {INT32_MAX, 1, 0}) {
        TimelineInput in;
        in.rcClient = {0, 0, rcSeek.Width(), rcSeek.Height()};
        in.rcChannel = {8, rcSeek.Height() / 2 - 2, rcSeek.Width() - 8, rcSeek.Height() / 2 + 2};
        in.nMin = nMax == INT32_MAX ? INT32_MIN : 0;
        in.nMax = nMax;
        in.nSelStart = INT32_MIN;
        in.nSelEnd = INT32_MAX;
        in.nPos = nMax;
        in.nBandHeight = size[0];
        in.nCursorWidth = size[1];
        in.nCursorImageWidth = size[2];
        in.nCursorImageHeight = size[3];
        const TimelineShapes shapes = ComputeTimelineShapes(in);
        uSink +=
            static_cast<unsigned>(shapes.rcCursor.right) + static_cast<unsigned>(shapes.rcEndMark.bottom);
    }
    FuzzKeep(uSink);
    return 0;
}

#pragma once

#include <cstdint>

namespace klangor {

// The selection record of one clip, in hundredths of a second. The player holds the loaded clip's;
// every clip's lives in its cut-info file beside the media file.
struct ClipInfo {
    uint32_t nDuration = 0;
    uint32_t nStart = 0;
    uint32_t nEnd = 0;
    // The audio track the clip is previewed and converted from: 0 the file's best one, n its n-th.
    uint32_t nTrack = 0;
};

}  // namespace klangor

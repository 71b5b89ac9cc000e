#include "clips/ClipTime.h"

#include <cstdio>

namespace klangor {

std::string FormatClipTime(int32_t t) {
    char szText[64];
    std::snprintf(szText, sizeof szText, "%02d:%02d:%02d.%02d", t / 360000, (t % 360000) / 6000,
                  (t % 6000) / 100, t % 100);
    return szText;
}

}  // namespace klangor

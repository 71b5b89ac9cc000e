#include "settings/SplitSettings.h"

#include <cmath>
#include <cstdlib>

namespace klangor {

bool ParseSplitChoice(const std::string &strText, SplitSettings &settings) {
    if (strText == "chapters" || strText == "silence" || strText == "cue") {
        settings.mode = strText == "chapters" ? SplitMode::Chapters
                        : strText == "cue"    ? SplitMode::Cue
                                              : SplitMode::Silence;
        settings.strCuePath.clear();
        return true;
    }
    if (strText.rfind("cue=", 0) == 0 && strText.size() > 4) {
        settings.mode = SplitMode::Cue;
        settings.strCuePath = strText.substr(4);
        return true;
    }
    if (strText.rfind("every=", 0) == 0) {
        const std::string strNumber = strText.substr(6);
        char *pEnd = nullptr;
        const double dSeconds = std::strtod(strNumber.c_str(), &pEnd);
        if (strNumber.empty() || *pEnd != '\0' || !std::isfinite(dSeconds) || dSeconds < kEverySecondsMin ||
            dSeconds > kSplitSecondsMax) {
            return false;
        }
        settings.mode = SplitMode::Every;
        settings.dEverySeconds = dSeconds;
        return true;
    }
    return false;
}

}  // namespace klangor

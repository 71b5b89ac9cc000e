#include "skin/SkinKeys.h"

#include <set>

namespace klangor {

std::vector<std::string_view> AllSkinLayoutKeys() {
    std::vector<std::string_view> aKeys;
    std::set<std::string_view> seen;
    for (const SkinButtonRow &row : kSkinButtonRows) {
        if (seen.insert(row.strKey).second) {
            aKeys.push_back(row.strKey);
        }
    }
    for (const SkinControlRow &row : kSkinControlRows) {
        aKeys.push_back(row.strKey);
    }
    for (std::string_view strKey : kTimelineColourKeys) {
        aKeys.push_back(strKey);
    }
    aKeys.push_back(kTimelineSizeKey);
    aKeys.push_back(kPreviewOffsetKey);
    aKeys.push_back(kPreviewVideoRegionKey);
    aKeys.push_back(kPreviewCloseRegionKey);
    for (std::string_view strKey : kTextColourKeys) {
        aKeys.push_back(strKey);
    }
    return aKeys;
}

}  // namespace klangor

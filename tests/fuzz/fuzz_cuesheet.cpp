// Any bytes as a cue sheet, for the media file the sheet's FILE lines may or may not name. What comes
// out must be safe to name and tag outputs with: tracks in order, texts valid UTF-8, and the names
// made from the titles single file names of a length every file system takes.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "clips/CueSheet.h"
#include "convert/batch/OutputNames.h"

using namespace klangor;

namespace {

bool IsValidUtf8(const std::string &strText) {
    for (size_t i = 0; i < strText.size();) {
        const auto c = static_cast<uint8_t>(strText[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > strText.size()) {
            return false;
        }
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<uint8_t>(strText[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
    const std::string strBytes(reinterpret_cast<const char *>(pData), nSize);
    for (const char *szMedia : {"album.flac", "a.wav"}) {
        CueSheet sheet;
        std::string strError;
        if (!ParseCueSheet(strBytes, szMedia, sheet, strError)) {
            FUZZ_CHECK(!strError.empty() && sheet.tracks.empty());
            continue;
        }
        FUZZ_CHECK(!sheet.tracks.empty());
        FUZZ_CHECK(IsValidUtf8(sheet.strTitle) && IsValidUtf8(sheet.strPerformer));
        int64_t llBefore = -1;
        const int nCount = static_cast<int>(sheet.tracks.size());
        for (int i = 0; i < nCount; ++i) {
            const CueTrack &track = sheet.tracks[static_cast<size_t>(i)];
            FUZZ_CHECK(track.llStartNs > llBefore);
            llBefore = track.llStartNs;
            FUZZ_CHECK(IsValidUtf8(track.strTitle) && IsValidUtf8(track.strPerformer));
            const std::string strPath = PartOutputPath("/out/album.flac.mp3", i + 1, nCount, track.strTitle);
            const std::string strName = strPath.substr(5);
            FUZZ_CHECK(strPath.rfind("/out/", 0) == 0 && strName.find('/') == std::string::npos);
            FUZZ_CHECK(strName.size() <= kMostFileNameBytes && IsValidUtf8(strName));
            FUZZ_CHECK(strName.size() >= 4 && strName.compare(strName.size() - 4, 4, ".mp3") == 0);
        }
    }
    return 0;
}

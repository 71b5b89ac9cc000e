// Any bytes as a ".clipinfo" file beside a media file. Whatever is read back must survive a write and a
// second read unchanged: the record the program writes is the record it reads.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "clips/CutInfo.h"

using namespace klangor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
    static const std::string strMedia = FuzzFolder() + "/clip.avi";
    WriteFuzzFile(CutInfoPath(strMedia), pData, nSize);
    uint32_t nDuration = 11, nStart = 22, nEnd = 33;
    if (!ReadCutInfo(strMedia, nDuration, nStart, nEnd)) {
        FUZZ_CHECK(nDuration == 11 && nStart == 22 && nEnd == 33);
        return 0;
    }
    std::string strError;
    FUZZ_CHECK(WriteCutInfo(strMedia, ClipInfo{nDuration, nStart, nEnd}, &strError));
    uint32_t nDuration2 = 0, nStart2 = 0, nEnd2 = 0;
    FUZZ_CHECK(ReadCutInfo(strMedia, nDuration2, nStart2, nEnd2));
    FUZZ_CHECK(nDuration2 == nDuration && nStart2 == nStart && nEnd2 == nEnd);
    return 0;
}

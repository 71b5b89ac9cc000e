// Any bytes as a media file through the FFmpeg adapter, the way a conversion job uses it: open, report
// duration and format, read every chunk; then a second open that seeks once to a selection inside what
// the first pass found and reads on to the end.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "media/AudioDecoder.h"

namespace klangor {

namespace {

constexpr uint32_t kChunkFrames = 1000;
// A few bytes may describe hours of silence; a bound keeps each input quick.
constexpr uint64_t kMaxFrames = uint64_t{1} << 22;

// Reads to the end (or the bound); returns the frames read, or -1 after a failed open.
int64_t ReadAll(const std::string &strPath, int64_t llSeek) {
    std::unique_ptr<IAudioDecoder> pDecoder = CreateFfmpegAudioDecoder();
    FUZZ_CHECK(pDecoder != nullptr);
    if (pDecoder->OpenFile(strPath) != 0) {
        return -1;
    }
    int64_t llDuration = 0;
    pDecoder->GetDuration(llDuration);
    WaveFormat wfx;
    if (pDecoder->GetFormat(wfx) != 0) {
        return -1;
    }
    FUZZ_CHECK(wfx.nBlockAlign > 0 && wfx.nSamplesPerSec > 0);
    if (pDecoder->Run() != 0) {
        return -1;
    }
    if (llSeek >= 0 && pDecoder->Seek(llSeek) != 0) {
        return -1;
    }
    std::vector<uint8_t> buffer(size_t{kChunkFrames} * wfx.nBlockAlign);
    uint64_t nTotal = 0;
    while (nTotal < kMaxFrames) {
        uint32_t nFilled = 0;
        const int iResult = pDecoder->Fill(buffer.data(), kChunkFrames, nFilled);
        FUZZ_CHECK(nFilled <= kChunkFrames);
        nTotal += nFilled;
        if (iResult != 0 || nFilled < kChunkFrames) {
            break;
        }
    }
    return static_cast<int64_t>(nTotal);
}

}  // namespace

}  // namespace klangor

using namespace klangor;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    SilenceDecoderLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
    static const std::string strPath = FuzzFolder() + "/media";
    WriteFuzzFile(strPath, pData, nSize);
    const int64_t nFrames = ReadAll(strPath, -1);
    if (nFrames <= 0) {
        return 0;
    }
    // A selection starting a third of the way in, at the stream's own rate; 100-ns units.
    std::unique_ptr<IAudioDecoder> pProbe = CreateFfmpegAudioDecoder();
    WaveFormat wfx;
    if (pProbe->OpenFile(strPath) != 0 || pProbe->GetFormat(wfx) != 0 || wfx.nSamplesPerSec == 0) {
        return 0;
    }
    pProbe.reset();
    const int64_t llSeek = nFrames / 3 * 10000000 / wfx.nSamplesPerSec;
    ReadAll(strPath, llSeek);
    return 0;
}

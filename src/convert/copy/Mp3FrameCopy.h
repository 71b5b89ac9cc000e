#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "convert/outputs/Mp3Frame.h"

namespace klangor {

// Copies the MP3 frames that a selection needs, unchanged, into an .mp3 whose Info (Xing) frame says
// where decoding is to start and end: the frames that cover the selection; before them the two
// granules its first one is decoded from (one frame of MPEG-1, two of MPEG-2 and 2.5), and the frames
// whose payloads hold their bit reservoir.
// The encoder delay and padding of the LAME extension are counted so that a decoder that honours them
// (the delay plus its own 529 samples skipped, the padding trimmed) gives exactly the selection. Where
// the frames kept for the reservoir would need more delay than its 12 bits hold, they give way to one
// silent frame made here that carries the same reservoir bytes. Owned by the one worker that converts
// the job.
class Mp3FrameCopy {
public:
    // nStart and nEnd are the selection's first and past-last frame, nEnd UINT64_MAX to the track's end.
    // fnStopped true ends it early with a shorter, well-formed file; fnProgress gets the samples copied
    // so far. False on a failure; GetError says what failed.
    bool Copy(const std::string &strSourcePath, int nTrack, uint64_t nStart, uint64_t nEnd, FILE *pFile,
              const std::function<bool()> &fnStopped, const std::function<void(uint64_t)> &fnProgress);
    const std::string &GetError() const { return m_strError; }

private:
    struct Frame {
        Mp3FrameInfo info;
        std::vector<uint8_t> bytes;
    };
    bool Fail(const char *szText);
    // Writes the frames kept before frame A (whose decoding starts the selection) from m_held: the
    // frames its decoding overlaps with and those back to the one holding their reservoir, or the
    // silent frame standing in for the latter.
    bool WriteLeadIn(uint64_t nFrameA, int64_t llStartRaw);
    bool WriteFrame(const Frame &frame);
    // The Info frame for the frames written, its header taken from the first of them.
    bool WriteInfoFrame(int64_t llEndRaw);

    FILE *m_pFile = nullptr;
    std::deque<Frame> m_held;   // the latest frames not yet written, newest last, at most a few
    uint64_t m_nHeldFirst = 0;  // the source frame m_held starts with
    int64_t m_llBase = 0;       // the source's raw sample where the first written frame's output begins
    int m_nSamples = 0;         // per frame
    uint32_t m_nInfoBytes = 0;
    std::vector<uint32_t> m_offsets;  // of the frames written, from the file's start
    std::vector<uint8_t> m_firstHeader;
    bool m_bSameBitrate = true;
    uint16_t m_crc = 0;
    int m_nDelay = 0;
    int m_nPadding = 0;
    std::string m_strError;
};

}  // namespace klangor

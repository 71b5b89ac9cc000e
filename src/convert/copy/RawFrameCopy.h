#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace klangor {

// What the user is told of a cut that fell on whole frames: how far its start (and its end, where that
// moved by another amount) lies from the selection's; empty when both fell where asked. Shifts are in
// frames (samples per channel) at nRate, negative for early.
std::string WholeFrameCutNote(int64_t llStartShift, int64_t llEndShift, uint32_t nRate);

// Copies the whole frames of an AC-3, E-AC-3 or DTS track nearest a selection's bounds, unchanged,
// into its raw container, which has no way to say that some of a frame's samples are not to be
// played. Owned by the one worker that converts the job.
class RawFrameCopy {
public:
    // nStart and nEnd are the selection's first and past-last frame, nEnd UINT64_MAX to the track's end.
    // fnStopped true ends it early with a shorter file; fnProgress gets the samples copied so far. False
    // on a failure; GetError says what failed.
    bool Copy(const std::string &strSourcePath, int nTrack, uint64_t nStart, uint64_t nEnd, FILE *pFile,
              const std::function<bool()> &fnStopped, const std::function<void(uint64_t)> &fnProgress);
    const std::string &GetError() const { return m_strError; }
    // How far the kept frames' bounds lie from the selection's, in frames; after Copy.
    int64_t GetStartShift() const { return m_llStartShift; }
    int64_t GetEndShift() const { return m_llEndShift; }
    uint32_t GetSampleRate() const { return m_nRate; }

private:
    int64_t m_llStartShift = 0;
    int64_t m_llEndShift = 0;
    uint32_t m_nRate = 0;
    std::string m_strError;
};

}  // namespace klangor

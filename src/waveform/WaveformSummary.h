#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace klangor {

// The lowest and highest sample of a stretch of audio, full scale ±1.0; bHas false where there is none.
struct WavePeak {
    float fMin = 0.0f;
    float fMax = 0.0f;
    bool bHas = false;
};

// A peak summary of one clip's audio, for drawing its waveform: the lowest and highest sample (over
// every channel) of each slice of a fixed number of frames. Frames are added in stream order; the
// slices grow with them, so a clip whose container guessed its length wrong is still summarised whole.
// Their count stays within a budget of four times the slices asked for: a stream longer than its
// container said has neighbouring slices merged in pairs, each twice as long, so a header claiming two
// frames in front of hours of sound costs kilobytes, not gigabytes.
// Plain data, no locking: its owner says who may touch it when.
class WaveformSummary {
public:
    // Enough slices that every pixel column of the timeline at twice its usual width has several.
    static constexpr uint32_t kDefaultSlices = 4096;

    // Starts over for a stream of the given rate. nExpectedFrames (0 when unknown) decides the slice
    // size: about nSlices slices over that length, at least one frame each; an unknown length gets
    // slices of 10 ms. Either way the slices double in length whenever their count would pass the
    // budget.
    void Reset(uint32_t nSampleRate, uint64_t nExpectedFrames, uint32_t nSlices = kDefaultSlices);
    // nFrames interleaved frames of nChannels float samples.
    void AddFrames(const float *pSamples, uint32_t nFrames, int nChannels);

    uint32_t GetSampleRate() const { return m_nSampleRate; }
    uint32_t GetFramesPerSlice() const { return m_nFramesPerSlice; }
    uint64_t GetFramesAdded() const { return m_nFramesAdded; }
    size_t GetSliceCount() const { return m_slices.size(); }
    size_t GetSliceBudget() const { return m_nMaxSlices; }
    const WavePeak &GetSlice(size_t n) const { return m_slices[n]; }
    bool IsEmpty() const { return m_slices.empty(); }

    // Takes over a summary made before (read back from the cache) when its parts agree with each other:
    // one slice per nFramesPerSlice frames added, the last one partly filled, no NaN among them, and no
    // more slices than the budget. False, and the summary unchanged, when they do not.
    bool Restore(uint32_t nSampleRate, uint32_t nFramesPerSlice, uint64_t nFramesAdded,
                 std::vector<WavePeak> slices);

    // The peaks of nColumns equal columns spread over dSeconds of the clip (the timeline's range). A
    // column holds every slice that starts or ends inside it and, when it is narrower than a slice,
    // the slice under it, so a clip shorter than the width shows no gaps. Columns past what has been
    // summarised so far have no peak.
    std::vector<WavePeak> Columns(int nColumns, double dSeconds) const;

private:
    // Halves the slices by merging each pair into one of twice the frames.
    void MergeNeighbours();

    uint32_t m_nSampleRate = 0;
    uint32_t m_nFramesPerSlice = 1;
    uint64_t m_nFramesAdded = 0;
    size_t m_nMaxSlices = 4 * size_t{kDefaultSlices};
    std::vector<WavePeak> m_slices;
};

}  // namespace klangor

#include "waveform/WaveformSummary.h"

#include <algorithm>
#include <cmath>

namespace klangor {

void WaveformSummary::Reset(uint32_t nSampleRate, uint64_t nExpectedFrames, uint32_t nSlices) {
    m_nSampleRate = nSampleRate;
    m_nFramesAdded = 0;
    m_slices.clear();
    m_slices.shrink_to_fit();
    // Room for a length understated up to four times, or 10 ms slices over the first minutes of a
    // stream of unknown length, before any slice is merged.
    m_nMaxSlices = 4 * size_t{nSlices == 0 ? kDefaultSlices : nSlices};
    if (nExpectedFrames == 0 || nSlices == 0) {
        m_nFramesPerSlice = std::max<uint32_t>(1, nSampleRate / 100);
    } else {
        const uint64_t nPerSlice = (nExpectedFrames + nSlices - 1) / nSlices;
        m_nFramesPerSlice = static_cast<uint32_t>(std::clamp<uint64_t>(nPerSlice, 1, UINT32_MAX));
    }
    const uint64_t nLikely = nExpectedFrames == 0 ? 0 : nExpectedFrames / m_nFramesPerSlice + 1;
    m_slices.reserve(std::min<uint64_t>(nLikely, m_nMaxSlices));
}

void WaveformSummary::MergeNeighbours() {
    const size_t nMerged = (m_slices.size() + 1) / 2;
    for (size_t n = 0; n < nMerged; ++n) {
        WavePeak peak = m_slices[2 * n];
        if (2 * n + 1 < m_slices.size()) {
            const WavePeak &next = m_slices[2 * n + 1];
            if (!peak.bHas) {
                peak = next;
            } else if (next.bHas) {
                peak.fMin = std::min(peak.fMin, next.fMin);
                peak.fMax = std::max(peak.fMax, next.fMax);
            }
        }
        m_slices[n] = peak;
    }
    m_slices.resize(nMerged);
    m_nFramesPerSlice *= 2;
}

void WaveformSummary::AddFrames(const float *pSamples, uint32_t nFrames, int nChannels) {
    if (nChannels <= 0) {
        return;
    }
    const auto nStride = static_cast<size_t>(nChannels);
    for (uint32_t i = 0; i < nFrames; ++i, ++m_nFramesAdded) {
        if (m_nFramesAdded % m_nFramesPerSlice == 0) {
            // Every slice is full here, so merged pairs are full slices of twice the length. Slices
            // too long to double (years of sound at any rate) just go on.
            if (m_slices.size() >= m_nMaxSlices && m_nFramesPerSlice <= UINT32_MAX / 2) {
                MergeNeighbours();
            }
            m_slices.push_back(WavePeak{});
        }
        WavePeak &peak = m_slices.back();
        const float *pFrame = pSamples + i * nStride;
        for (size_t c = 0; c < nStride; ++c) {
            float fSample = pFrame[c];
            // A damaged stream may hand out NaN; it must not poison the slice's comparisons.
            if (std::isnan(fSample)) {
                fSample = 0.0f;
            }
            if (!peak.bHas) {
                peak = {fSample, fSample, true};
            } else {
                peak.fMin = std::min(peak.fMin, fSample);
                peak.fMax = std::max(peak.fMax, fSample);
            }
        }
    }
}

bool WaveformSummary::Restore(uint32_t nSampleRate, uint32_t nFramesPerSlice, uint64_t nFramesAdded,
                              std::vector<WavePeak> slices) {
    // A summary over the budget was made before slices were merged: read afresh, it is stored small.
    if (nSampleRate == 0 || nFramesPerSlice == 0 || slices.size() > m_nMaxSlices ||
        slices.size() != nFramesAdded / nFramesPerSlice + (nFramesAdded % nFramesPerSlice != 0 ? 1 : 0)) {
        return false;
    }
    for (const WavePeak &peak : slices) {
        if (std::isnan(peak.fMin) || std::isnan(peak.fMax) || (peak.bHas && peak.fMin > peak.fMax)) {
            return false;
        }
    }
    m_nSampleRate = nSampleRate;
    m_nFramesPerSlice = nFramesPerSlice;
    m_nFramesAdded = nFramesAdded;
    m_slices = std::move(slices);
    return true;
}

std::vector<WavePeak> WaveformSummary::Columns(int nColumns, double dSeconds) const {
    std::vector<WavePeak> columns(static_cast<size_t>(std::max(nColumns, 0)));
    if (nColumns <= 0 || !(dSeconds > 0.0) || m_slices.empty() || m_nSampleRate == 0) {
        return columns;
    }
    const double dSlicesPerColumn = dSeconds * m_nSampleRate / m_nFramesPerSlice / nColumns;
    const double dLastSlice = static_cast<double>(m_slices.size());
    for (int x = 0; x < nColumns; ++x) {
        const double dFirst = x * dSlicesPerColumn;
        if (dFirst >= dLastSlice) {
            break;  // not summarised yet, or past the clip's end
        }
        const auto nFirst = static_cast<size_t>(dFirst);
        const double dEnd = std::min(dLastSlice, (x + 1) * dSlicesPerColumn);
        const size_t nEnd = std::max(nFirst + 1, static_cast<size_t>(std::ceil(dEnd)));
        WavePeak &column = columns[static_cast<size_t>(x)];
        for (size_t n = nFirst; n < nEnd && n < m_slices.size(); ++n) {
            const WavePeak &slice = m_slices[n];
            if (!slice.bHas) {
                continue;
            }
            if (!column.bHas) {
                column = slice;
            } else {
                column.fMin = std::min(column.fMin, slice.fMin);
                column.fMax = std::max(column.fMax, slice.fMax);
            }
        }
    }
    return columns;
}

}  // namespace klangor

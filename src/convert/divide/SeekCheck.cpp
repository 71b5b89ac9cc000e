#include "convert/divide/SeekCheck.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "convert/batch/AudioStreamReader.h"

namespace klangor {

namespace {

// How far before a probe its reference decode starts: far enough that a decoder with pre-roll has
// settled by the window, yet a small share of a piece.
constexpr uint32_t kReferenceSeconds = 2;
// Where the decode from the job's start is compared with a seek: past the few seconds within which the
// decoder reaches a target by decoding on instead of seeking.
constexpr uint32_t kFirstSeekSeconds = 6;
// Below this normalised correlation the two decodes are different signals, wherever they match best.
constexpr double kLeastMatch = 0.5;
// Mean square below which a window is silence (about -100 dBFS).
constexpr double kSilence = 1e-10;

// The frames [nFrom, nFrom + nFrames) of the job's source as a reader opened at nOpenAt decodes them,
// each the sum of its channels (a seek moves every channel alike), a full-scale sample counting 1. Empty when
// the stream ends first or the reader fails.
std::vector<double> DecodeFrames(const AudioStreamReader &job, uint32_t nOpenAt, uint32_t nFrom,
                                 uint32_t nFrames) {
    AudioStreamReader reader;
    if (!reader.OpenPart(job, nOpenAt)) {
        return {};
    }
    const auto nChannels = static_cast<size_t>(reader.m_nChannels);
    const int nBytes = reader.m_nBytesPerSample;
    std::vector<double> out;
    out.reserve(nFrames);
    uint64_t llAt = nOpenAt;
    const uint64_t llEnd = uint64_t{nFrom} + nFrames;
    while (llAt < llEnd) {
        const int n = reader.ReadChunk();
        if (n <= 0) {
            return {};
        }
        const uint64_t llLo = std::max<uint64_t>(llAt, nFrom);
        const uint64_t llHi = std::min<uint64_t>(llAt + static_cast<uint64_t>(n), llEnd);
        for (uint64_t f = llLo; f < llHi; ++f) {
            const size_t nBase = static_cast<size_t>(f - llAt) * nChannels;
            double dSum = 0.0;
            for (size_t c = 0; c < nChannels; ++c) {
                const uint8_t *pSample = reader.m_pBuffer.get() + (nBase + c) * static_cast<size_t>(nBytes);
                if (nBytes == 4) {
                    float fSample = 0.0F;
                    std::memcpy(&fSample, pSample, 4);
                    // A broken source's samples may be anything: nothing here may overflow the sums.
                    dSum += std::isfinite(fSample) ? std::clamp<double>(fSample, -16.0, 16.0) : 0.0;
                } else if (nBytes == 2) {
                    int16_t nSample = 0;
                    std::memcpy(&nSample, pSample, 2);
                    dSum += nSample / 32768.0;
                } else {
                    dSum += (*pSample - 128) / 128.0;
                }
            }
            out.push_back(dSum);
        }
        llAt += static_cast<uint64_t>(n);
    }
    return out;
}

}  // namespace

SeekLanding MeasureSeekLanding(const AudioStreamReader &job, const SeekProbe &probe, uint32_t nReferenceAt) {
    SeekLanding landing;
    const uint32_t nRefOpen = std::min(nReferenceAt, probe.nCheckFrom);
    const auto nEarly = static_cast<uint32_t>(
        std::min<uint64_t>(kSeekReachFrames, probe.nCheckFrom - std::min(probe.nCheckFrom, nRefOpen)));
    const std::vector<double> own = DecodeFrames(job, probe.nOpenAt, probe.nCheckFrom, kSeekWindowFrames);
    const std::vector<double> ref =
        DecodeFrames(job, nRefOpen, probe.nCheckFrom - nEarly, nEarly + kSeekWindowFrames + kSeekReachFrames);
    if (own.empty() || ref.empty()) {
        return landing;
    }
    landing.bRead = true;
    const size_t nOwn = own.size();
    // Most decoders land exactly: the same samples where the reference has them.
    if (std::equal(own.begin(), own.end(), ref.begin() + static_cast<std::ptrdiff_t>(nEarly))) {
        landing.dMatch = 1.0;
        return landing;
    }
    double dOwnEnergy = 0.0;
    for (const double d : own) {
        dOwnEnergy += d * d;
    }
    // The reference's energy under the window at each offset, slid along.
    double dRefEnergy = 0.0;
    for (size_t k = 0; k < nOwn; ++k) {
        dRefEnergy += ref[k] * ref[k];
    }
    const double dQuiet = kSilence * static_cast<double>(nOwn);
    landing.dMatch = -2.0;
    const int nLate = static_cast<int>(ref.size()) - static_cast<int>(kSeekWindowFrames);
    for (int nLag = 0; nLag <= nLate; ++nLag) {
        const auto nBase = static_cast<size_t>(nLag);
        if (nLag > 0) {
            const double dOut = ref[nBase - 1];
            const double dIn = ref[nBase + nOwn - 1];
            dRefEnergy += dIn * dIn - dOut * dOut;
        }
        const int nOffset = nLag - static_cast<int>(nEarly);
        double dMatch = 0.0;
        if (dOwnEnergy < dQuiet || dRefEnergy < dQuiet) {
            // Silence matches silence anywhere, and nothing else.
            dMatch = dOwnEnergy < dQuiet && dRefEnergy < dQuiet ? 1.0 : 0.0;
        } else {
            double dSum = 0.0;
            for (size_t k = 0; k < nOwn; ++k) {
                dSum += own[k] * ref[nBase + k];
            }
            dMatch = dSum / std::sqrt(dOwnEnergy * std::max(dRefEnergy, 0.0));
        }
        // Ties go to the smaller offset, so that silence and a steady tone land at 0.
        if (dMatch > landing.dMatch ||
            (dMatch == landing.dMatch && std::abs(nOffset) < std::abs(landing.nOffset))) {
            landing.dMatch = dMatch;
            landing.nOffset = nOffset;
        }
    }
    return landing;
}

bool SeeksLandExactly(const AudioStreamReader &job, const std::vector<SeekProbe> &probes) {
    const auto lands = [&job](const SeekProbe &probe, uint32_t nReferenceAt) {
        const SeekLanding landing = MeasureSeekLanding(job, probe, nReferenceAt);
        return landing.bRead && landing.nOffset == 0 && landing.dMatch >= kLeastMatch;
    };
    const uint64_t llLead = uint64_t{kReferenceSeconds} * job.m_nSampleRate;
    for (const SeekProbe &probe : probes) {
        const uint64_t llIn = probe.nCheckFrom - std::min(probe.nCheckFrom, job.m_nStartFrame);
        const auto nReferenceAt =
            llIn > llLead ? static_cast<uint32_t>(probe.nCheckFrom - llLead) : job.m_nStartFrame;
        if (!lands(probe, nReferenceAt)) {
            return false;
        }
    }
    const uint64_t llFirstSeek =
        uint64_t{job.m_nStartFrame} + uint64_t{kFirstSeekSeconds} * job.m_nSampleRate;
    const bool bRoom =
        job.RunsToStreamEnd() || llFirstSeek + kSeekWindowFrames + kSeekReachFrames <= job.m_nEndFrame;
    if (probes.empty() || !bRoom || llFirstSeek > UINT32_MAX) {
        return true;
    }
    const auto nFirstSeek = static_cast<uint32_t>(llFirstSeek);
    return lands(SeekProbe{nFirstSeek, nFirstSeek}, job.m_nStartFrame);
}

}  // namespace klangor

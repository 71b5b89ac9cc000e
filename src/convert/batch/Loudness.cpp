#include "convert/batch/Loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace klangor {

namespace {

// Below the standard's absolute gate nothing was measured: leave the samples as they are instead of
// raising the noise floor by 80 dB.
constexpr double kAbsoluteGateLufs = -70.0;

}  // namespace

double NormalizingGain(const LoudnessMeasurement &measurement, double dTargetLufs) {
    if (!measurement.bAudible || !std::isfinite(measurement.dIntegratedLufs) ||
        measurement.dIntegratedLufs <= kAbsoluteGateLufs) {
        return 1.0;
    }
    double dGainDb =
        std::clamp(dTargetLufs, kLoudnessTargetMin, kLoudnessTargetMax) - measurement.dIntegratedLufs;
    if (measurement.dTruePeak > 0.0) {
        const double dPeakDb = 20.0 * std::log10(measurement.dTruePeak);
        dGainDb = std::min(dGainDb, kTruePeakCeiling - dPeakDb);
    }
    return std::pow(10.0, dGainDb / 20.0);
}

ReplayGainText FormatReplayGain(const LoudnessMeasurement &measurement) {
    if (!measurement.bAudible || !std::isfinite(measurement.dIntegratedLufs) ||
        measurement.dIntegratedLufs <= kAbsoluteGateLufs || !std::isfinite(measurement.dTruePeak)) {
        return {};
    }
    // Players read these with a C-locale number parser, whatever the user's locale is.
    char szGain[32];
    char szPeak[32];
    std::snprintf(szGain, sizeof szGain, "%.2f dB", kReplayGainReferenceLufs - measurement.dIntegratedLufs);
    std::snprintf(szPeak, sizeof szPeak, "%.6f", std::max(measurement.dTruePeak, 0.0));
    ReplayGainText text{szGain, szPeak};
    std::replace(text.strGain.begin(), text.strGain.end(), ',', '.');
    std::replace(text.strPeak.begin(), text.strPeak.end(), ',', '.');
    return text;
}

struct LoudnessMeter::State {
    explicit State(ebur128_state *p) : pMeter(p) {}
    ~State() { ebur128_destroy(&pMeter); }
    State(const State &) = delete;
    State &operator=(const State &) = delete;
    ebur128_state *pMeter;
};

LoudnessMeter::LoudnessMeter() = default;
LoudnessMeter::~LoudnessMeter() = default;

bool LoudnessMeter::Start(int nChannels, uint32_t nSampleRate) {
    m_pState.reset();
    m_nChannels = nChannels;
    if (nChannels <= 0 || nSampleRate == 0) {
        return false;
    }
    ebur128_state *pMeter =
        ebur128_init(static_cast<unsigned>(nChannels), nSampleRate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (pMeter == nullptr) {
        return false;
    }
    m_pState = std::make_unique<State>(pMeter);
    return true;
}

bool LoudnessMeter::AddFloat(const float *pSamples, size_t nFrames) {
    return m_pState && ebur128_add_frames_float(m_pState->pMeter, pSamples, nFrames) == EBUR128_SUCCESS;
}

bool LoudnessMeter::AddShort(const int16_t *pSamples, size_t nFrames) {
    return m_pState && ebur128_add_frames_short(m_pState->pMeter, pSamples, nFrames) == EBUR128_SUCCESS;
}

LoudnessMeasurement LoudnessMeter::Finish() {
    LoudnessMeasurement result;
    if (!m_pState) {
        return result;
    }
    double dLoudness = 0.0;
    if (ebur128_loudness_global(m_pState->pMeter, &dLoudness) == EBUR128_SUCCESS &&
        std::isfinite(dLoudness)) {
        result.bAudible = dLoudness > kAbsoluteGateLufs;
        result.dIntegratedLufs = dLoudness;
    }
    for (int c = 0; c < m_nChannels; ++c) {
        double dPeak = 0.0;
        if (ebur128_true_peak(m_pState->pMeter, static_cast<unsigned>(c), &dPeak) == EBUR128_SUCCESS) {
            result.dTruePeak = std::max(result.dTruePeak, dPeak);
        }
    }
    m_pState.reset();
    return result;
}

}  // namespace klangor

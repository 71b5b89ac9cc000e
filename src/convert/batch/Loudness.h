#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "settings/LoudnessTarget.h"

namespace klangor {

// Bringing each output to one integrated loudness (EBU R128): the meter of the first pass and the one
// gain of the second.
inline constexpr double kTruePeakCeiling = -1.0;  // dBTP, never passed by the gain

// Why a job that measures its loudness gave no output.
inline constexpr const char *kMeterFailure = "Cannot measure the loudness of this audio";

// ReplayGain 2.0 puts its reference at -18 LUFS.
inline constexpr double kReplayGainReferenceLufs = -18.0;

// What the first pass found: the integrated loudness in LUFS (bAudible false when the selection is
// silent or too short to gate, so nothing is to be changed) and the highest true peak over the
// channels, linear (1.0 = full scale).
struct LoudnessMeasurement {
    bool bAudible = false;
    double dIntegratedLufs = 0.0;
    double dTruePeak = 0.0;
};

// The linear gain that brings the measured audio to the target, lowered where needed so the true peak
// stays at or below kTruePeakCeiling; 1.0 for audio that is not audible. Amplifying by more than the
// peak allows would need a limiter, which changes the sound: the output is then quieter than asked.
double NormalizingGain(const LoudnessMeasurement &measurement, double dTargetLufs);

// The ReplayGain track values of a measured output, as they are written into a tag: the gain to the
// reference ("-6.52 dB") and the true peak, linear ("0.977237"). Both empty for audio that is not
// audible, which no gain would make sense for.
struct ReplayGainText {
    std::string strGain;
    std::string strPeak;
};
ReplayGainText FormatReplayGain(const LoudnessMeasurement &measurement);

// An EBU R128 meter over interleaved PCM (libebur128). Used by one thread.
class LoudnessMeter {
public:
    LoudnessMeter();
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;

    // Starts a measurement; false when the meter cannot take this stream.
    bool Start(int nChannels, uint32_t nSampleRate);
    // Interleaved frames: 32-bit float (full scale ±1.0) or 16-bit signed.
    bool AddFloat(const float *pSamples, size_t nFrames);
    bool AddShort(const int16_t *pSamples, size_t nFrames);
    LoudnessMeasurement Finish();

private:
    struct State;
    std::unique_ptr<State> m_pState;
    int m_nChannels = 0;
};

}  // namespace klangor

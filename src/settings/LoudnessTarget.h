#pragma once

namespace klangor {

// The loudness a user may ask every output of a batch to have (EBU R128 integrated loudness).
inline constexpr double kLoudnessTargetDefault = -16.0;  // LUFS, the common level of spoken programmes
inline constexpr double kLoudnessTargetMin = -31.0;
inline constexpr double kLoudnessTargetMax = -5.0;

// Whether a batch normalises, and to what. Set on the window thread before a batch starts; the batch's
// workers read the copy they were started with.
struct LoudnessTarget {
    bool bNormalize = false;
    double dTargetLufs = kLoudnessTargetDefault;
    // Instead of changing the samples, measure each MP3 output while it is encoded and write its
    // ReplayGain track gain and peak into its tag.
    bool bReplayGain = false;
};

}  // namespace klangor

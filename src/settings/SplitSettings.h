#pragma once

#include <string>

namespace klangor {

// Where one source is divided into several outputs.
enum class SplitMode { None, Chapters, Cue, Silence, Every };

// How a batch divides its files; the same for every file of it.
struct SplitSettings {
    SplitMode mode = SplitMode::None;
    std::string strCuePath;          // Cue: the sheet given for every file; empty: each file's own beside it
    std::string strCueEncoding;      // Cue: what a sheet that is not UTF-16 is read as; empty: found out
    double dEverySeconds = 0.0;      // Every: the length of each part
    double dSnapSeconds = 0.0;       // Every: how far a split point may move to the quietest moment
    double dThresholdDb = -35.0;     // Silence: the level below which sound is silence, in dBFS
    double dSilenceSeconds = 1.0;    // Silence: how long it must last to split
    double dLeastPartSeconds = 5.0;  // Silence: a shorter part joins its neighbour
};

// The ranges the command line and the settings dialog allow.
inline constexpr double kSilenceThresholdMin = -90.0;
inline constexpr double kSilenceThresholdMax = -6.0;
inline constexpr double kSilenceSecondsMin = 0.05;
inline constexpr double kSplitSecondsMax = 86400.0;
inline constexpr double kEverySecondsMin = 1.0;

// "chapters", "cue", "cue=FILE", "silence" or "every=SECONDS" into settings' mode (and its cue file
// or length); false for anything else.
bool ParseSplitChoice(const std::string &strText, SplitSettings &settings);

}  // namespace klangor

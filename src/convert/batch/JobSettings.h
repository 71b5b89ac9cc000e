#pragma once

#include "settings/EncoderSettings.h"
#include "settings/LoudnessTarget.h"
#include "settings/SplitSettings.h"

namespace klangor {

// What one job is converted with, copied when the job starts and never changed after: a change made in
// the settings dialog meanwhile reaches the files that start after it, never a running one.
struct JobSettings {
    EncoderSettings encoder;
    LoudnessTarget loudness;
    SplitSettings split;
};

}  // namespace klangor

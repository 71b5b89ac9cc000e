#pragma once

#include <lame/lame.h>

#include <cstdint>
#include <memory>

#include "settings/EncoderSettings.h"

namespace klangor {

inline constexpr const char *kMp3CannotCreate = "Cannot create output file";
inline constexpr const char *kMp3InitFailed = "fatal error during initialization";
inline constexpr const char *kMp3WriteFailed = "Error writing mp3 output";

struct LameCloser {
    void operator()(lame_global_flags *pFlags) const { lame_close(pFlags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameCloser>;

// An encoder set up from the settings (read once, in the documented order) for input at nInRate, with
// or without its header frame; null when LAME cannot be created or refuses the parameters
// (bInitFailed tells which).
LamePtr CreateLameEncoder(const EncoderSettings &settings, uint32_t nInRate, bool bWriteHeader,
                          bool &bInitFailed);

}  // namespace klangor

#pragma once

#include <string>

#include "player/MpvPlayback.h"

struct mpv_handle;

namespace klangor {

// Every setting a preview instance runs with (before mpv_initialize); libmpv's status.
int ApplyMpvSettings(mpv_handle *pHandle, const MpvEngineOptions &options);

}  // namespace klangor

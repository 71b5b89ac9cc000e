#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "player/MpvPlayback.h"

struct mpv_handle;

// The steps of opening a clip in an mpv instance, each bounded in time so that a hanging source cannot
// hold the window for good. They read the instance's own event queue: call them before the window
// starts taking events from it.

// Every setting a preview instance runs with (before mpv_initialize); libmpv's status.
int ApplyMpvSettings(mpv_handle *pHandle, const MpvEngineOptions &options);

// Loads the file (a full path) and waits for it to be open, at most the limit: libmpv's status of the
// failure, MPV_ERROR_NOTHING_TO_PLAY for a file that ended before opening, or 0.
int LoadFileWithin(mpv_handle *pHandle, const std::string &strFullPath, std::chrono::duration<double> limit);

struct VideoSize {
    int64_t llWidth = 0;
    int64_t llHeight = 0;
};
// The display size (pixel aspect applied), known once the first picture is decoded; a broken video
// stream may never deliver one, and after the limit the container's size has to do.
VideoSize ReadVideoSizeWithin(mpv_handle *pHandle, std::chrono::duration<double> limit);

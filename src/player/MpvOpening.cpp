#include "player/MpvOpening.h"

#include <mpv/client.h>

#include <utility>

#include "player/PlaybackGraph.h"

namespace {

template <class TimePoint>
double SecondsLeft(TimePoint deadline) {
    return std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
}

}  // namespace

int ApplyMpvSettings(mpv_handle *pHandle, const MpvEngineOptions &options) {
    const std::pair<const char *, const char *> settings[] = {
        {"vo", "libmpv"},
        {"ao", options.strAudioOutput.c_str()},
        {"audio-fallback-to-null", "yes"},
        {"pause", "yes"},
        {"idle", "yes"},
        // Reaching the end keeps the last frame and carries on after a seek back, as a paused-at-end
        // playback would; completion is read from eof-reached.
        {"keep-open", "yes"},
        {"keep-open-pause", "no"},
        // A cover picture is not video: such a file previews as audio only.
        {"audio-display", "no"},
        {"sid", "no"},
        {"sub-auto", "no"},
        {"osd-level", "0"},
        // No scripts at all: a preview needs none, and each runs a thread of its own.
        {"load-scripts", "no"},
        {"ytdl", "no"},
        {"osc", "no"},
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
        {"load-auto-profiles", "no"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"hwdec", "no"},
        {"sws-fast", "yes"},
    };
    for (const auto &[pszName, pszValue] : settings) {
        const int iStatus = mpv_set_option_string(pHandle, pszName, pszValue);
        if (iStatus < 0) {
            return iStatus;
        }
    }
    return 0;
}

int LoadFileWithin(mpv_handle *pHandle, const std::string &strFullPath, std::chrono::duration<double> limit) {
    const char *command[] = {"loadfile", strFullPath.c_str(), "replace", nullptr};
    const int iStatus = mpv_command(pHandle, command);
    if (iStatus < 0) {
        return iStatus;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const double dLeft = SecondsLeft(deadline);
        if (dLeft <= 0) {
            return MPV_ERROR_LOADING_FAILED;
        }
        mpv_event *pEvent = mpv_wait_event(pHandle, dLeft);
        switch (pEvent->event_id) {
            case MPV_EVENT_FILE_LOADED:
                return 0;
            case MPV_EVENT_END_FILE: {
                const auto *pEnd = static_cast<const mpv_event_end_file *>(pEvent->data);
                return pEnd->reason == MPV_END_FILE_REASON_ERROR && pEnd->error < 0 ? pEnd->error
                                                                                    : MPV_ERROR_NOTHING_TO_PLAY;
            }
            case MPV_EVENT_SHUTDOWN:
                return kPlaybackFailed;
            default:
                break;
        }
    }
}

VideoSize ReadVideoSizeWithin(mpv_handle *pHandle, std::chrono::duration<double> limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        VideoSize size;
        if (mpv_get_property(pHandle, "dwidth", MPV_FORMAT_INT64, &size.llWidth) >= 0 &&
            mpv_get_property(pHandle, "dheight", MPV_FORMAT_INT64, &size.llHeight) >= 0 && size.llWidth > 0 &&
            size.llHeight > 0) {
            return size;
        }
        const double dLeft = SecondsLeft(deadline);
        if (dLeft <= 0) {
            break;
        }
        const mpv_event_id id = mpv_wait_event(pHandle, dLeft)->event_id;
        if (id == MPV_EVENT_END_FILE || id == MPV_EVENT_SHUTDOWN) {
            break;
        }
    }
    VideoSize size;
    mpv_get_property(pHandle, "width", MPV_FORMAT_INT64, &size.llWidth);
    mpv_get_property(pHandle, "height", MPV_FORMAT_INT64, &size.llHeight);
    return size;
}

#include "player/MpvOpening.h"

#include <mpv/client.h>

#include <utility>

namespace klangor {

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
        // A preview reads a few seconds ahead of what it plays, whatever the source: libmpv sizes its
        // cache for network video (150 MiB and an hour ahead), which for a song synthesised as it is
        // read, or a pipe, would be memory spent on sound nobody may hear.
        {"cache", "no"},
        {"demuxer-readahead-secs", "3"},
        {"demuxer-max-bytes", "32MiB"},
        {"demuxer-max-back-bytes", "0"},
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

}  // namespace klangor

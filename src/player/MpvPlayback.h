#pragma once

#include <memory>
#include <string>

#include "player/PlaybackGraph.h"

namespace klangor {

// The playback engine on libmpv. Each playback is its own mpv instance, so that closing a clip takes all
// of its threads, files and memory with it (soon after the close: an instance ends off the window's
// thread). Video is drawn with libmpv's software renderer on a thread of
// the playback into the VideoSurface; sound goes to the first output that opens, ending in the null
// output, so a machine without a sound device or display still previews. libmpv needs the C numeric
// locale: an application that sets its own locale must call setlocale(LC_NUMERIC, "C") afterwards.
struct MpvEngineOptions {
    std::string strAudioOutput = "pulse,alsa,null";
};

class MpvPlaybackEngine : public IPlaybackEngine {
public:
    explicit MpvPlaybackEngine(MpvEngineOptions options = {}) : m_options(std::move(options)) {}

    int Startup() override;
    std::unique_ptr<IPlaybackGraph> CreateGraph(VideoSurface &surface, int &iStatus) override;

private:
    MpvEngineOptions m_options;
};

// Waits until every playback closed so far has ended its instance, which happens on a thread of its
// own after the close; for the program's end and for tests that count what is left.
void WaitForEndingPlaybacks();

// Volume in hundredths of a decibel and libmpv's volume percentage, whose gain is (percent / 100)^3:
// amplitude = 10^(v / 2000), so percent = 100 * 10^(v / 6000); -10000 and below is silence (0 %).
double VolumeToMpvPercent(long lVolume);
long MpvPercentToVolume(double dPercent);

}  // namespace klangor

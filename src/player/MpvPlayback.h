#pragma once

#include <memory>
#include <string>

#include "player/PlaybackGraph.h"

namespace klangor {

// The playback engine on libmpv. One mpv instance, made at Startup, plays every clip of the player one
// after the other: choosing a clip opens a file and makes no instance, and closing one stops its file,
// which lets its decoders, files and memory go; the instance ends with the engine. Video is drawn with
// libmpv's software renderer on a thread of the playback into the VideoSurface; sound goes to the first
// output that opens, ending in the null output, so a machine without a sound device or display still
// previews. libmpv needs the C numeric locale: an application that sets its own locale must call
// setlocale(LC_NUMERIC, "C") afterwards.
struct MpvEngineOptions {
    std::string strAudioOutput = "pulse,alsa,null";
};

class MpvCore;

class MpvPlaybackEngine : public IPlaybackEngine {
public:
    explicit MpvPlaybackEngine(MpvEngineOptions options = {}) : m_options(std::move(options)) {}
    ~MpvPlaybackEngine() override;

    int Startup() override;
    std::unique_ptr<IPlaybackGraph> CreateGraph(VideoSurface &surface, int &iStatus) override;

private:
    MpvEngineOptions m_options;
    // Shared with the playbacks made from it, so that one outliving the engine still reaches it.
    std::shared_ptr<MpvCore> m_pCore;
};

// Volume in hundredths of a decibel and libmpv's volume percentage, whose gain is (percent / 100)^3:
// amplitude = 10^(v / 2000), so percent = 100 * 10^(v / 6000); -10000 and below is silence (0 %).
double VolumeToMpvPercent(long lVolume);
long MpvPercentToVolume(double dPercent);

}  // namespace klangor

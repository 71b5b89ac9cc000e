#pragma once

#include <string>

namespace klangor {

// Each step of the preview player whose failure the user is told of.
enum class PlayerError {
    EngineStartup,
    CreatePlayback,
    HookEvents,
    OpenFile,
    ReadDuration,
    SetPositions,
    ReadPositions,
    SetVideoWindow,
    SetPlayerWindow,
    PlaceVideo,
    Register,
    Run,
    ReadVisible,
    ReadVolume,
    MuteVolume,
    SetVolume,
    ReadFullScreen,
    SetFullScreen,
    SetAudioTrack,
};

// What the error box says when the step failed with the playback status iStatus (PlaybackGraph.h).
std::string PlayerErrorText(PlayerError error, int iStatus);

}  // namespace klangor

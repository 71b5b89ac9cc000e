#include "player/AudioTrackMenu.h"

#include "clips/CutInfo.h"
#include "media/AudioDecoder.h"
#include "media/MediaTags.h"

namespace klangor {

AudioTrackMenu ProbeAudioTrackMenu(const AudioTrackProbe &probe) {
    AudioTrackMenu menu;
    // A song is rendered from its notes: there is one sound to hear, whatever its MIDI tracks.
    if (IsMidiFile(probe.strPath)) {
        menu.strMessage = "This file has one audio track only";
        return menu;
    }
    std::string strError;
    const std::vector<AudioTrackInfo> tracks = ListAudioTracks(probe.strPath, strError);
    if (!strError.empty()) {
        menu.strMessage = "Cannot read the audio tracks: " + strError;
        return menu;
    }
    if (tracks.size() < 2) {
        menu.strMessage =
            tracks.empty() ? "This file has no audio track" : "This file has one audio track only";
        return menu;
    }
    uint32_t nChosen = 0;
    if (probe.nLoadedTrack) {
        nChosen = *probe.nLoadedTrack;
    } else {
        uint32_t nDuration = 0, nStart = 0, nEnd = 0, nTrack = 0;
        if (ReadCutInfo(probe.strPath, nDuration, nStart, nEnd, &nTrack)) {
            nChosen = nTrack;
        }
    }
    // A number beyond the file's tracks plays the best one, so that is what the menu shows as chosen.
    if (nChosen > tracks.size()) {
        nChosen = 0;
    }
    menu.entries.push_back({0, "Best track", nChosen == 0});
    for (const AudioTrackInfo &track : tracks) {
        const auto nTrack = static_cast<uint32_t>(track.nNumber);
        menu.entries.push_back({nTrack, track.strLabel, nTrack == nChosen});
    }
    return menu;
}

}  // namespace klangor

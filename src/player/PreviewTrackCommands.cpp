// The audio-track choice of a list entry: what its menu offers and what a choice does.
#include "clips/CutInfo.h"
#include "player/MediaPlayer.h"
#include "player/PreviewCommands.h"
#include "media/AudioDecoder.h"
#include "media/MediaTags.h"

AudioTrackMenu PreviewCommands::GetAudioTrackMenu(int nIndex) {
    AudioTrackMenu menu;
    const ClipList &clips = m_player.GetClipList();
    if (nIndex < 0 || nIndex >= clips.GetCount()) {
        return menu;
    }
    const std::string strPath = clips.GetClip(nIndex);
    // A song is rendered from its notes: there is one sound to hear, whatever its MIDI tracks.
    if (IsMidiFile(strPath)) {
        menu.strMessage = "This file has one audio track only";
        return menu;
    }
    std::string strError;
    const std::vector<AudioTrackInfo> tracks = ListAudioTracks(strPath, strError);
    if (!strError.empty()) {
        menu.strMessage = "Cannot read the audio tracks: " + strError;
        return menu;
    }
    if (tracks.size() < 2) {
        menu.strMessage = tracks.empty() ? "This file has no audio track" : "This file has one audio track only";
        return menu;
    }
    uint32_t nChosen = 0;
    if (m_player.IsClipLoaded() && m_player.GetFileName() == strPath) {
        nChosen = m_player.GetClipInfo().nTrack;
    } else {
        uint32_t nDuration = 0, nStart = 0, nEnd = 0, nTrack = 0;
        if (ReadCutInfo(strPath, nDuration, nStart, nEnd, &nTrack)) {
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

void PreviewCommands::OnChooseAudioTrack(int nIndex, uint32_t nTrack) {
    ClipList &clips = m_player.GetClipList();
    if (nIndex < 0 || nIndex >= clips.GetCount()) {
        return;
    }
    if (!m_player.IsClipLoaded() || m_player.GetFileName() != clips.GetClip(nIndex)) {
        // Loaded as a click on the entry would load it: left stopped, unless preview was playing.
        if (m_bPreviewPlaying) {
            StopPreview();
            SelectClip(nIndex);
        } else {
            SelectClip(nIndex);
            StopPreview();
        }
        RefreshClipList();
        if (!m_player.IsClipLoaded()) {
            return;
        }
    }
    // The player keeps the choice in the record; a failed write shows its box there.
    const int hr = m_player.SetAudioTrack(nTrack);
    if (PlaybackFailed(hr)) {
        m_player.ShowPlayerError("FAILED(hr=0x%x) in m_pGraph->SetAudioTrack(nTrack)\n", static_cast<unsigned>(hr));
        return;
    }
    m_view.SetSliderRange(kPreviewIdSeekBar, 0, static_cast<int>(m_player.GetClipInfo().nDuration));
    m_view.ShowSeekBarWaveform(m_player.GetFileName(), m_player.GetClipInfo().nTrack);
    UpdateSelectionText();
}

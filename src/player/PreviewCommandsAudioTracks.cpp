// The audio-track choice of a list entry: what its menu is made from and what a choice does.
#include "clips/ClipList.h"
#include "player/ControlIds.h"
#include "player/MediaPlayer.h"
#include "player/PreviewCommands.h"

namespace klangor {

std::optional<AudioTrackProbe> PreviewCommands::GetAudioTrackProbe(int nIndex) const {
    const ClipList &clips = m_clips;
    if (nIndex < 0 || nIndex >= clips.GetCount()) {
        return std::nullopt;
    }
    AudioTrackProbe probe{clips.GetClip(nIndex), std::nullopt};
    if (m_player.IsClipLoaded() && m_player.GetFileName() == probe.strPath) {
        probe.nLoadedTrack = m_player.GetClipInfo().nTrack;
    }
    return probe;
}

void PreviewCommands::OnChooseAudioTrack(int nIndex, uint32_t nTrack) {
    ClipList &clips = m_clips;
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
        if (!m_player.IsClipLoaded() && !m_player.IsOpening()) {
            return;
        }
    }
    // The player keeps the choice in the record; a failed write shows its box there.
    const int hr = m_player.SetAudioTrack(nTrack);
    if (PlaybackFailed(hr)) {
        m_player.ShowPlayerError(PlayerError::SetAudioTrack, hr);
        return;
    }
    // An entry still opening shows its track and selection once it is open.
    if (m_player.IsOpening()) {
        return;
    }
    m_view.SetSliderRange(kIdSeekBar, 0, static_cast<int>(m_player.GetClipInfo().nDuration));
    m_view.ShowSeekBarWaveform(m_player.GetFileName(), m_player.GetClipInfo().nTrack);
    UpdateSelectionText();
}

}  // namespace klangor

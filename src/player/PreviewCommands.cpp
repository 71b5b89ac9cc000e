#include "player/PreviewCommands.h"

#include <algorithm>
#include <cstdio>

#include "clips/ClipList.h"
#include "clips/ClipTime.h"
#include "player/ControlIds.h"
#include "player/MediaPlayer.h"
#include "common/Version.h"

namespace klangor {

namespace {

std::string RateText(double dRate) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "%0.2f X", dRate);
    return szText;
}

}  // namespace

PreviewCommands::PreviewCommands(MediaPlayer &player, ClipList &clips, IPreviewView &view)
    : m_player(player), m_clips(clips), m_view(view) {}

void PreviewCommands::InitDialog() {
    m_bPreviewPlaying = false;
    m_bMuted = false;
    m_bSliderIdle = true;
    for (int nId : {kIdPlay, kIdMute, kIdStop, kIdStepFrame}) {
        m_view.EnableControl(nId, false);
    }
    m_player.SetVolume(0);
    // Hundredths of a decibel, as the player takes them: every position is a distinct loudness.
    m_view.SetSliderRange(kIdVolumeSlider, -10000, 0);
    m_view.SetSliderPosition(kIdVolumeSlider, 0);
    m_view.SetSliderRange(kIdRateSlider, 25, 200);
    m_view.SetSliderPosition(kIdRateSlider, 100);
    m_player.SetRate(1.0);
    UpdateTitle();
}

void PreviewCommands::AddMediaFiles(const std::vector<std::string> &paths) {
    if (paths.empty()) {
        return;
    }
    const int nBefore = m_clips.GetCount();
    for (const std::string &strPath : paths) {
        m_clips.AddClip(strPath);
    }
    RefreshClipList();
    if (m_clips.GetCount() > 0 && !m_bPreviewPlaying && nBefore == 0) {
        SelectClip(0);
        StopPreview();
    }
}

void PreviewCommands::OnOpenFile() {
    AddMediaFiles(m_view.ChooseMediaFiles());
}

void PreviewCommands::OnDropFiles(const std::vector<std::string> &files) {
    for (const std::string &strFile : files) {
        if (!strFile.empty()) {
            AddMediaFiles({strFile});
        }
    }
}

void PreviewCommands::OnRemoveClip() {
    const int nSelection = m_view.GetListSelection();
    if (m_view.GetListCount() == 0 || nSelection < 0) {
        return;
    }
    if (m_clips.GetCurrentIndex() == nSelection) {
        StopPreview();
    }
    m_clips.RemoveClip(nSelection);
    RefreshClipList();
}

void PreviewCommands::OnMoveClipUp() {
    const int nSelection = m_view.GetListSelection();
    if (nSelection < 0) {
        return;
    }
    m_clips.MoveClipUp(nSelection);
    RefreshClipList();
}

void PreviewCommands::OnMoveClipDown() {
    const int nSelection = m_view.GetListSelection();
    if (nSelection < 0) {
        return;
    }
    m_clips.MoveClipDown(nSelection);
    RefreshClipList();
}

void PreviewCommands::OnClipSelectionChange() {
    const int nSelection = m_view.GetListSelection();
    // While preview plays, a click only moves the highlight.
    if (m_bPreviewPlaying || nSelection < 0) {
        return;
    }
    // Opening can show an error box; a second click meanwhile must not start another open.
    m_view.EnableControl(kIdClipList, false);
    SelectClip(nSelection);
    StopPreview();
    m_view.EnableControl(kIdClipList, true);
}

void PreviewCommands::OnClipDoubleClick() {
    const int nSelection = m_view.GetListSelection();
    if (nSelection < 0) {
        return;
    }
    m_clips.SetCurrentIndex(nSelection);
    StopPreview();
    SelectClip(nSelection);
}

void PreviewCommands::RefreshClipList() {
    const ClipList &clips = m_clips;
    std::vector<IPreviewView::ListEntry> entries;
    entries.reserve(static_cast<size_t>(clips.GetCount()));
    for (int i = 0; i < clips.GetCount(); ++i) {
        entries.push_back({ClipDisplayName(clips.GetClip(i)), clips.GetClip(i)});
    }
    m_view.SetListEntries(entries, clips.GetCurrentIndex());
}

void PreviewCommands::SelectClip(int nIndex) {
    m_clips.SetCurrentIndex(nIndex);
    m_player.LoadClip(m_clips.GetClip(nIndex));
    if (!m_player.IsClipLoaded() && !m_player.IsOpening()) {
        ShowClipFailed();
        return;
    }
    ShowPlayButtons(true);
    m_view.ShowControl(kIdMute, true);
    m_view.ShowControl(kIdUnmute, false);
    m_bPreviewPlaying = true;
    // The new clip opens at the stored volume, so it is not muted whatever the last one was.
    m_bMuted = false;
    if (m_player.IsOpening()) {
        // Until it is open, only Play and Pause work: a press says what the clip does once open.
        EnableTransport(false);
        m_view.EnableControl(kIdPlay, true);
        m_view.EnableControl(kIdPause, true);
        return;
    }
    ShowClipOpened();
}

void PreviewCommands::ShowClipFailed() {
    m_view.ShowSeekBarWaveform({}, 0);
    EnableTransport(false);
}

void PreviewCommands::ShowClipOpened() {
    m_view.EnableControl(kIdVolumeSlider, true);
    EnableTransport(true);
    m_view.SetSliderRange(kIdSeekBar, 0, static_cast<int>(m_player.GetClipInfo().nDuration));
    const ClipList &clips = m_clips;
    m_view.ShowSeekBarWaveform(clips.GetClip(clips.GetCurrentIndex()), m_player.GetClipInfo().nTrack);
    SetNormalSpeed();
    UpdateTitle();
    UpdateSelectionText();
}

void PreviewCommands::StopPreview() {
    m_player.StopClip();
    ShowPlayButtons(false);
    m_bPreviewPlaying = false;
}

void PreviewCommands::PlayPausePreview() {
    ShowPlayButtons(!m_bPreviewPlaying);
    const int nSelection = m_view.GetListSelection();
    if (!m_bPreviewPlaying && nSelection != m_nLastPlayedIndex) {
        m_nLastPlayedIndex = nSelection;
        SelectClip(nSelection);
        // A clip that did not open is not playing: with the Pause face left up, clicks on the list
        // would stop loading clips and adding to an emptied list would load nothing.
        m_bPreviewPlaying = m_player.IsClipLoaded() || m_player.IsOpening();
        ShowPlayButtons(m_bPreviewPlaying);
        return;
    }
    m_player.TogglePause();
    m_bPreviewPlaying = !m_bPreviewPlaying;
}

void PreviewCommands::ShowPlayButtons(bool bPlaying) {
    m_view.ShowControl(kIdPause, bPlaying);
    m_view.ShowControl(kIdPlay, !bPlaying);
}

void PreviewCommands::EnableTransport(bool bEnable) {
    // Both faces of each pair, so that whichever shows agrees.
    for (int nId : {kIdPlay, kIdPause, kIdMute, kIdUnmute, kIdStop, kIdStepFrame}) {
        m_view.EnableControl(nId, bEnable);
    }
}

void PreviewCommands::ShowRate() {
    m_view.SetControlText(kIdRateText, RateText(m_player.GetRate()));
}

void PreviewCommands::SetNormalSpeed() {
    m_player.SetRate(1.0);
    ShowRate();
    m_view.SetSliderPosition(kIdRateSlider, 100);
}

void PreviewCommands::OnStepFrame() {
    m_player.StepFrame();
    ShowPlayButtons(false);
    m_bPreviewPlaying = false;
}

void PreviewCommands::OnMute() {
    m_view.ShowControl(kIdMute, m_bMuted);
    m_view.ShowControl(kIdUnmute, !m_bMuted);
    m_view.EnableControl(kIdVolumeSlider, m_bMuted);
    m_bMuted = !m_bMuted;
    m_player.ToggleMute();
}

void PreviewCommands::OnNormalSpeed() {
    SetNormalSpeed();
    if (!m_bPreviewPlaying) {
        PlayPausePreview();
    }
}

void PreviewCommands::OnSeekScroll(int nPosition, bool bEndOfScroll) {
    m_bSliderIdle = bEndOfScroll;
    m_player.SetPosition(nPosition);
}

void PreviewCommands::OnVolumeScroll(int nPosition, bool bEndOfScroll) {
    m_bSliderIdle = bEndOfScroll;
    m_player.SetVolume(nPosition);
}

void PreviewCommands::OnRateScroll(int nPosition, bool bEndOfScroll) {
    m_bSliderIdle = bEndOfScroll;
    m_player.SetRate(nPosition / 100.0);
    ShowRate();
}

void PreviewCommands::HandleGraphEvents() {
    GraphEvent event;
    while (m_player.GetGraphEvent(event)) {
        if (event.lCode == kEventOpened) {
            ShowClipOpened();
            continue;
        }
        if (event.lCode == kEventOpenFailed) {
            // A clip that did not open is not playing: with the Pause face left up, clicks on the list
            // would stop loading clips and adding to an emptied list would load nothing.
            ShowClipFailed();
            ShowPlayButtons(false);
            m_bPreviewPlaying = false;
            continue;
        }
        if (event.lCode == kEventEndedElsewhere) {
            // Not the end of the selection: nothing moves on. The clip no longer plays, and the next
            // transport command reopens it.
            ShowPlayButtons(false);
            m_bPreviewPlaying = false;
            continue;
        }
        if (event.lCode != kEventComplete) {
            continue;
        }
        const int nCurrent = m_clips.GetCurrentIndex();
        StopPreview();
        if (nCurrent + 1 < m_clips.GetCount()) {
            SelectClip(nCurrent + 1);
            RefreshClipList();
        }
    }
}

void PreviewCommands::OnSetStart() {
    m_player.SetSelection(m_view.GetSliderPosition(kIdSeekBar), -1);
    UpdateSelectionText();
    m_player.WriteCutInfo();
}

void PreviewCommands::OnSetEnd() {
    m_player.SetSelection(-1, m_view.GetSliderPosition(kIdSeekBar));
    UpdateSelectionText();
    m_player.WriteCutInfo();
}

void PreviewCommands::OnSelectAll() {
    m_player.SetSelection(0, static_cast<int32_t>(m_player.GetClipInfo().nDuration));
    UpdateSelectionText();
    m_player.WriteCutInfo();
}

void PreviewCommands::UpdateSelectionText() {
    const ClipInfo &info = m_player.GetClipInfo();
    const auto iStart = static_cast<int32_t>(info.nStart);
    const auto iEnd = static_cast<int32_t>(info.nEnd);
    m_view.SetControlText(kIdSelectionTime,
                          "Selection: " + FormatClipTime(iStart) + " -- " + FormatClipTime(iEnd));
    m_view.SetSliderSelection(kIdSeekBar, iStart, iEnd);
    m_view.SetControlText(kIdSelectionDuration, "Duration: " + FormatClipTime(iEnd - iStart));
}

void PreviewCommands::UpdateTitle() {
    m_view.SetTitle(std::string(klangor::kAppTitle) + " - " + klangor::kVersionText + " [" +
                    m_player.GetFileName() + "]");
}

void PreviewCommands::OnTimer() {
    long lPosition = 0;
    m_player.GetCurrentPosition(lPosition);
    m_view.SetControlText(kIdCurrentTime, "Current: " + FormatClipTime(static_cast<int32_t>(lPosition)));
    if (m_bSliderIdle) {
        m_view.SetSliderPosition(kIdSeekBar, static_cast<int>(lPosition));
    }
}

void PreviewCommands::GoTo(long lPosition) {
    if (!m_player.IsClipLoaded()) {
        return;
    }
    const long lDuration = static_cast<int32_t>(m_player.GetClipInfo().nDuration);
    lPosition = std::clamp(lPosition, 0L, std::max(lDuration, 0L));
    m_player.SetPosition(lPosition);
    m_view.SetSliderPosition(kIdSeekBar, static_cast<int>(lPosition));
}

void PreviewCommands::OnSeekBy(long lDelta) {
    if (!m_player.IsClipLoaded()) {
        return;
    }
    long lPosition = 0;
    m_player.GetCurrentPosition(lPosition);
    GoTo(lPosition + lDelta);
}

void PreviewCommands::OnGoToSelectionStart() {
    GoTo(static_cast<int32_t>(m_player.GetClipInfo().nStart));
}

void PreviewCommands::OnGoToSelectionEnd() {
    GoTo(static_cast<int32_t>(m_player.GetClipInfo().nEnd));
}

void PreviewCommands::MoveThumbToPlayPosition() {
    // The buttons take the thumb; a key means where playback is, which the thumb may not show yet.
    if (!m_player.IsClipLoaded()) {
        return;
    }
    long lPosition = 0;
    m_player.GetCurrentPosition(lPosition);
    m_view.SetSliderPosition(kIdSeekBar, static_cast<int>(lPosition));
}

void PreviewCommands::OnMarkStart() {
    MoveThumbToPlayPosition();
    OnSetStart();
}

void PreviewCommands::OnMarkEnd() {
    MoveThumbToPlayPosition();
    OnSetEnd();
}

}  // namespace klangor

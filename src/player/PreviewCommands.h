#pragma once

#include "player/AudioTrackMenu.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace klangor {

class ClipList;
class MediaPlayer;

// The main window as the preview commands see it. Window thread only.
class IPreviewView {
public:
    struct ListEntry {
        std::string strName;  // what the list box shows
        std::string strPath;  // the whole path, for a tooltip
    };

    virtual ~IPreviewView() = default;
    virtual void ShowControl(int nId, bool bShow) = 0;
    virtual void EnableControl(int nId, bool bEnable) = 0;
    virtual void SetControlText(int nId, const std::string &strText) = 0;
    // Track bars: range, thumb and the seek bar's selection marks, each redrawn at once.
    virtual void SetSliderRange(int nId, int nMin, int nMax) = 0;
    virtual int GetSliderPosition(int nId) = 0;
    virtual void SetSliderPosition(int nId, int nPosition) = 0;
    virtual void SetSliderSelection(int nId, int nStart, int nEnd) = 0;
    // The seek bar draws the waveform of this file's audio track (0 its best one, as in the clip's
    // record) from now on; an empty path when no clip is loaded.
    virtual void ShowSeekBarWaveform(const std::string &, uint32_t) {}
    // The list box. Its contents and selection set from here are not the user's choice: they notify
    // nothing. -1 is no selection. The part of the window it covers is repainted.
    virtual void SetListEntries(const std::vector<ListEntry> &entries, int nSelection) = 0;
    virtual int GetListSelection() = 0;
    virtual int GetListCount() = 0;
    virtual void SetTitle(const std::string &strTitle) = 0;
    // The multi-select "Open File" dialog; full paths in the order chosen, empty when cancelled.
    virtual std::vector<std::string> ChooseMediaFiles() = 0;
};

// The main window's clip list, selection, time display and transport commands over the preview
// player, apart from any widget. The list belongs to the window; these commands change it and load its
// entries into the player by path. Window thread only.
class PreviewCommands {
public:
    // Seconds that the Left and Right keys move the play position, in hundredths.
    static constexpr long kKeySeekStep = 100;

    PreviewCommands(MediaPlayer &player, ClipList &clips, IPreviewView &view);

    // The controls' state at the window's start: nothing loaded, speed 1.00 X, full volume.
    void InitDialog();

    // --- Clip list ---
    // Adds the paths; when the list was empty the first is loaded and left stopped at its selection
    // start. Nothing happens for an empty list of paths.
    void AddMediaFiles(const std::vector<std::string> &paths);
    void OnOpenFile();
    // Each dropped item is its own addition, in the order given; folders are not told apart.
    void OnDropFiles(const std::vector<std::string> &files);
    void OnRemoveClip();
    void OnMoveClipUp();
    void OnMoveClipDown();
    void OnClipSelectionChange();
    void OnClipDoubleClick();
    void RefreshClipList();
    // Loads and runs the clip at the index and sets the transport controls for it once it is open (see
    // HandleGraphEvents); a clip that cannot be opened leaves the transport buttons disabled.
    void SelectClip(int nIndex);
    void StopPreview();
    void PlayPausePreview();

    // --- Audio track ---
    // What the menu of the list entry at nIndex is made from (see ProbeAudioTrackMenu, which reads the
    // file away from the window's thread); none for an index past the list.
    std::optional<klangor::AudioTrackProbe> GetAudioTrackProbe(int nIndex) const;
    // Plays the entry's n-th audio track (0: its best one) and keeps it in the entry's record with the
    // selection as it is. An entry that is not loaded is loaded first.
    void OnChooseAudioTrack(int nIndex, uint32_t nTrack);

    // --- Transport ---
    void OnPlayPause() { PlayPausePreview(); }
    void OnStop() { StopPreview(); }
    void OnStepFrame();
    void OnMute();
    void OnNormalSpeed();
    void OnSeekScroll(int nPosition, bool bEndOfScroll);
    void OnVolumeScroll(int nPosition, bool bEndOfScroll);
    void OnRateScroll(int nPosition, bool bEndOfScroll);
    // Drains the player's pending events; at the end of a selection preview moves to the next clip.
    void HandleGraphEvents();

    // --- Selection and time display ---
    void OnSetStart();
    void OnSetEnd();
    void OnSelectAll();
    void UpdateSelectionText();
    void UpdateTitle();
    // The 100 ms tick: current time, and the thumb unless the user holds it.
    void OnTimer();

    // --- Keys ---
    // Left and Right: the play position by lDelta hundredths, kept within the clip.
    void OnSeekBy(long lDelta);
    // Home and End.
    void OnGoToSelectionStart();
    void OnGoToSelectionEnd();
    // I and O: the selection start or end at the current play position.
    void OnMarkStart();
    void OnMarkEnd();

    bool IsPreviewPlaying() const { return m_bPreviewPlaying; }
    bool IsMuted() const { return m_bMuted; }
    bool IsSliderIdle() const { return m_bSliderIdle; }
    int GetLastPlayedIndex() const { return m_nLastPlayedIndex; }

private:
    void ShowPlayButtons(bool bPlaying);
    // The controls once the clip's open has ended.
    void ShowClipOpened();
    void ShowClipFailed();
    void EnableTransport(bool bEnable);
    void SetNormalSpeed();
    void ShowRate();
    void GoTo(long lPosition);
    void MoveThumbToPlayPosition();

    MediaPlayer &m_player;
    ClipList &m_clips;
    IPreviewView &m_view;
    bool m_bPreviewPlaying = false;  // the Pause face is shown
    bool m_bMuted = false;           // the Unmute face is shown
    bool m_bSliderIdle = true;       // false while the user drags a track bar's thumb
    int m_nLastPlayedIndex = -1;     // the list selection that Play last loaded
};

}  // namespace klangor

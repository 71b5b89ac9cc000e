#pragma once

#include <memory>
#include <string>
#include <vector>

#include "clips/ClipInfo.h"
#include "clips/ClipList.h"
#include "player/PlaceVideo.h"
#include "player/PlaybackGraph.h"
#include "player/VideoSurface.h"

enum class PlayState { Stopped = 0, Paused = 1, Running = 2, Closed = 3 };

// The window that owns the player: the video preview window with the control that hosts the video.
// Window thread only, except PostGraphNotify.
class IPlayerWindow {
public:
    virtual ~IPlayerWindow() = default;
    // A message box owned by this window, with an OK button.
    virtual void ShowErrorBox(const std::string &strCaption, const std::string &strText) = 0;
    // The client rectangle of one of this window's controls.
    virtual VideoRect GetControlRect(int iControlId) = 0;
    // Shows the window normally and brings it to the foreground.
    virtual void ShowAndActivate() = 0;
    virtual void RepaintNow() = 0;
    // Invalidates the whole client area with erase, so that a closed clip's last frame disappears.
    virtual void InvalidateAll() = 0;
    virtual void SetKeyboardFocus() = 0;
    // The start-up failure box: no window owns it, as the program ends right after it.
    virtual void ShowUnownedErrorBox(const std::string &strCaption, const std::string &strText) {
        ShowErrorBox(strCaption, strText);
    }
    // Shows the busy cursor while a clip opens (which can take seconds on a slow source), and back.
    virtual void SetBusy(bool /*bBusy*/) {}
    // Called on a playback thread whenever events are pending. It must only post: the window then runs
    // the graph-event procedure on its own thread, which drains them with GetGraphEvent.
    virtual void PostGraphNotify() = 0;
};

// Previews one clip at a time and owns the clip list and the loaded clip's selection. Window thread only.
// Positions, durations and selections are hundredths of a second; volumes hundredths of a decibel.
// Results are playback statuses (PlaybackGraph.h): 0 success, negative failure.
class MediaPlayer {
public:
    static constexpr const char *kErrorCaption = "PlayWnd Sample";

    // Without an engine, the libmpv engine is used. When the engine cannot start, "CoInitialize
    // Failed!\r\n" is shown and IsEngineStarted() is false: the program must then end with status 1.
    MediaPlayer(IPlayerWindow &window, int iVideoWndResID,
                std::unique_ptr<IPlaybackEngine> pEngine = nullptr);
    virtual ~MediaPlayer();
    MediaPlayer(const MediaPlayer &) = delete;
    MediaPlayer &operator=(const MediaPlayer &) = delete;

    bool IsEngineStarted() const { return m_bEngineStarted; }

    int LoadClipAt(int nIndex);
    int LoadClip(const std::string &strPath);
    int OpenClip(const std::string &strPath);
    void CloseClip();
    void ReleaseGraph();

    int TogglePause();
    int StopClip();
    int StepFrame();
    // Leaves lPosition alone (result 0) when no clip is loaded.
    int GetCurrentPosition(long &lPosition);
    int SetPosition(long lPosition);
    // -1 leaves a bound unchanged; the selection collapses to one point rather than turn inside out.
    int SetSelection(long lStart, long lEnd);
    int SetRate(double dRate);
    double GetRate();
    int SetVolume(long lVolume);
    int ToggleMute();
    int ToggleFullScreen();
    bool IsFullScreen();
    int SetPlayerWindow(double dScale);
    int SetVideoWindow(int iControlId);
    int PlaceVideo(const VideoRect &rect);

    // Appends the paths to the clip list in order; the index of the first, or -1 when there is none.
    int AddClips(const std::vector<std::string> &paths);
    // Saves the loaded clip's selection beside it; a failure shows the file-system error text.
    bool WriteCutInfo();
    // Plays the loaded clip's n-th audio track (0: its best one) and keeps the choice in its record,
    // with the selection as it is.
    int SetAudioTrack(uint32_t nTrack);
    void ShowPlayerError(const char *pszFormat, ...) __attribute__((format(printf, 2, 3)));

    int RegisterGraph();
    void UnregisterGraph();

    // Takes the loaded playback's next pending event without waiting; false when there is none.
    bool GetGraphEvent(GraphEvent &event);

    ClipList &GetClipList() { return m_clipList; }
    const ClipList &GetClipList() const { return m_clipList; }
    const ClipInfo &GetClipInfo() const { return m_clipInfo; }
    PlayState GetPlayState() const { return m_playState; }
    bool IsClipLoaded() const { return m_pGraph != nullptr; }
    // The playback was ended from outside; the next play, stop, step, seek or mute reopens the clip.
    bool IsPlaybackLost() const { return m_bGraphLost; }
    bool IsAudioOnly() const { return m_bNoVideo; }
    bool CanStepFrame() const { return m_bCanStep; }
    const std::string &GetFileName() const { return m_strFileName; }
    long GetStoredVolume() const { return m_lVolume; }
    int GetVideoWidth() const { return m_iVideoWidth; }
    int GetVideoHeight() const { return m_iVideoHeight; }
    // The inspection socket while the playback is registered, else empty.
    const std::string &GetRegistrationPath() const { return m_strRegistration; }
    // The picture the video host paints; see VideoSurface for its threading.
    VideoSurface &GetVideoSurface() { return m_surface; }

private:
    int OpenSteps(const std::string &strPath);
    void DetectAudioOnly();
    void DetectFrameStep();
    void ApplyCutInfo();
    int Fail(int iStatus, const char *pszText);
    // Every box runs a nested event loop; graph events wait until the last box is closed, so that no
    // completion loads another clip (or fails to, leaving no playback) under a player operation.
    void ShowBox(const std::string &strCaption, const std::string &strText);
    void PostDeferredNotify();
    // Reopens the clip whose playback was ended from outside; false when none is loaded afterwards.
    bool ReviveGraph();

    IPlayerWindow &m_window;
    int m_iVideoWndResID;
    std::unique_ptr<IPlaybackEngine> m_pEngine;
    bool m_bEngineStarted = false;

    bool m_bNoVideo = false;
    bool m_bFullScreen = false;
    long m_lVolume = 0;
    std::string m_strRegistration;  // stands for the registration cookie: empty = not registered
    PlayState m_playState = PlayState::Stopped;
    double m_dRate = 1.0;
    ClipInfo m_clipInfo;
    int m_iVideoWidth = 0;
    int m_iVideoHeight = 0;
    bool m_bCanStep = false;
    std::string m_strFileName;
    ClipList m_clipList;

    // Error boxes run a nested message loop: graph events that arrive while a clip opens wait until it
    // is open, so that the event procedure never closes a half-opened clip under our feet.
    bool m_bOpening = false;
    int m_nBoxDepth = 0;
    bool m_bNotifyDeferred = false;
    bool m_bGraphLost = false;

    VideoSurface m_surface;                    // outlives every playback, which draws into it
    std::unique_ptr<IPlaybackGraph> m_pGraph;  // present while a clip is loaded
};

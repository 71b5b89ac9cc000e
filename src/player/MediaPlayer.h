#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clips/ClipInfo.h"
#include "clips/ClipSelection.h"
#include "player/PlaceVideo.h"
#include "player/PlayerError.h"
#include "player/PlaybackGraph.h"
#include "player/VideoSurface.h"

namespace klangor {

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
    // Shows the busy cursor while a clip opens (which can take seconds on a slow source; the window
    // goes on working meanwhile), and back.
    virtual void SetBusy(bool /*bBusy*/) {}
    // Called on a playback thread whenever events are pending. It must only post: the window then runs
    // the graph-event procedure on its own thread, which drains them with GetGraphEvent.
    virtual void PostGraphNotify() = 0;
};

// Previews one clip at a time, given by its path, and owns the loaded clip's selection. Window thread
// only; the libmpv threads and the record thread only post to it (see IPlayerWindow::PostGraphNotify).
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

    // Opening a clip starts here and ends among the graph events (GetGraphEvent hands on kEventOpened
    // or kEventOpenFailed): the result is a failure only when the open could not even start. A clip
    // chosen while another opens gives that one up.
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

    // Saves the loaded clip's selection beside it, behind the saves before it and off the window's
    // thread; a failure shows the file-system error text once it is known. False without a clip.
    bool WriteCutInfo();
    // Waits for the record reads and writes asked for so far and hands on their results; for tests.
    void DrainRecords();
    // Plays the loaded clip's n-th audio track (0: its best one) and keeps the choice in its record,
    // with the selection as it is.
    int SetAudioTrack(uint32_t nTrack);
    // The player's error box for the step that failed with the status.
    void ShowPlayerError(PlayerError error, int iStatus);

    int RegisterGraph();
    void UnregisterGraph();

    // Takes the loaded playback's next pending event without waiting; false when there is none.
    bool GetGraphEvent(GraphEvent &event);

    const ClipInfo &GetClipInfo() const { return m_selection.GetInfo(); }
    PlayState GetPlayState() const { return m_playState; }
    bool IsClipLoaded() const { return m_pGraph != nullptr && !m_bClipOpening; }
    // A clip has been asked for and its open has not ended yet.
    bool IsOpening() const { return m_bClipOpening; }
    // How the last open ended: kPlaybackPending while it runs.
    int GetOpenStatus() const { return m_iOpenStatus; }
    // The playback was ended from outside; the next play, stop, step, seek or mute reopens the clip.
    bool IsPlaybackLost() const { return m_bGraphLost; }
    bool IsAudioOnly() const { return m_bNoVideo; }
    bool CanStepFrame() const { return m_bCanStep; }
    const std::string &GetFileName() const { return m_selection.GetPath(); }
    long GetStoredVolume() const { return m_lVolume; }
    int GetVideoWidth() const { return m_iVideoWidth; }
    int GetVideoHeight() const { return m_iVideoHeight; }
    // The inspection socket while the playback is registered, else empty.
    const std::string &GetRegistrationPath() const { return m_strRegistration; }
    // The picture the video host paints; see VideoSurface for its threading.
    VideoSurface &GetVideoSurface() { return m_surface; }

private:
    int BeginOpen(const std::string &strPath);
    // The rest of the opening sequence, once the playback has the file open.
    int FinishOpen();
    // Runs open steps with graph events held back, as its boxes run nested event loops.
    int RunOpenSteps(const std::function<int()> &fnSteps);
    // The event that ends an open under way: finishes (or fails) it and hands on the outcome.
    bool TakeOpenEnd(GraphEvent &event);
    void SetClipOpening(bool bOpening);
    void OnRecordRead(bool bFound, const ClipInfo &stored);
    // Hands a result of the record work to the window's thread: it runs when graph events are taken.
    void Post(std::function<void()> fnResult);
    void RunPosted();
    void DetectAudioOnly();
    void DetectFrameStep();
    void ApplyCutInfo();
    // Shows the step's error box and hands the status on.
    int Fail(PlayerError error, int iStatus);
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
    int m_iVideoWidth = 0;
    int m_iVideoHeight = 0;
    bool m_bCanStep = false;

    // Error boxes run a nested message loop: graph events that arrive while a clip opens wait until it
    // is open, so that the event procedure never closes a half-opened clip under our feet.
    bool m_bOpening = false;
    int m_nBoxDepth = 0;
    bool m_bNotifyDeferred = false;
    bool m_bGraphLost = false;
    // The open under way, what the clip does once it is open, and how the last open ended.
    bool m_bClipOpening = false;
    bool m_bRunWhenOpen = true;
    std::optional<uint32_t> m_optTrackWhenOpen;
    // The open waits for both the playback and the clip's record.
    bool m_bPlaybackOpened = false;
    bool m_bRecordRead = false;
    bool m_bRecordFound = false;
    ClipInfo m_storedRecord;

    // Results of the record work, from its thread, waiting for the window's.
    std::mutex m_inboxMutex;
    std::deque<std::function<void()>> m_inbox;
    ClipSelection m_selection;
    unsigned m_nOpenCount = 0;
    int m_iOpenStatus = kPlaybackOk;

    VideoSurface m_surface;                    // outlives every playback, which draws into it
    std::unique_ptr<IPlaybackGraph> m_pGraph;  // present while a clip is loaded
};

}  // namespace klangor

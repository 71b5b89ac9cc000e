#include "player/MediaPlayer.h"

#include <algorithm>
#include <unistd.h>

#include "player/GraphRegistration.h"
#include "player/MpvPlayback.h"
#include "common/Version.h"
#include "media/AudioDecoder.h"
#include "media/MidiPreview.h"

namespace klangor {

namespace {

constexpr int64_t kMediaTimePerHundredth = 100000;

// A song as the playback reads it: synthesised on the playback's thread, piece by piece.
class MidiPlaybackSource final : public IPlaybackSource {
public:
    explicit MidiPlaybackSource(std::shared_ptr<MidiPreview> pSong) : m_pSong(std::move(pSong)) {}
    uint64_t Size() const override { return m_pSong->Size(); }
    int64_t ReadAt(uint64_t nOffset, uint8_t *pBuffer, uint64_t nBytes,
                   const std::atomic<bool> &bCancel) override {
        return m_pSong->ReadAt(nOffset, pBuffer, nBytes, bCancel);
    }

private:
    std::shared_ptr<MidiPreview> m_pSong;
};

}  // namespace

MediaPlayer::MediaPlayer(IPlayerWindow &window, int iVideoWndResID, std::unique_ptr<IPlaybackEngine> pEngine)
    : m_window(window),
      m_iVideoWndResID(iVideoWndResID),
      m_pEngine(std::move(pEngine)),
      m_selection([this](std::function<void()> fnResult) { Post(std::move(fnResult)); },
                  [this](const std::string &strError) { ShowBox(klangor::kAppTitle, strError); }) {
    if (!m_pEngine) {
        m_pEngine = std::make_unique<MpvPlaybackEngine>();
    }
    const int iStartup = m_pEngine->Startup();
    m_bEngineStarted = !PlaybackFailed(iStartup);
    if (!m_bEngineStarted) {
        m_window.ShowUnownedErrorBox(kErrorCaption, PlayerErrorText(PlayerError::EngineStartup, iStartup));
    }
}

MediaPlayer::~MediaPlayer() {
    // The playback's threads reach the window and the surface: they go first.
    if (m_pGraph) {
        CloseClip();
    }
    // The last selection made reaches its record before the program ends.
    m_selection.Drain();
}

void MediaPlayer::Post(std::function<void()> fnResult) {
    {
        std::lock_guard lock(m_inboxMutex);
        m_inbox.push_back(std::move(fnResult));
    }
    m_window.PostGraphNotify();
}

void MediaPlayer::RunPosted() {
    for (;;) {
        std::function<void()> fnResult;
        {
            std::lock_guard lock(m_inboxMutex);
            if (m_inbox.empty()) {
                return;
            }
            fnResult = std::move(m_inbox.front());
            m_inbox.pop_front();
        }
        fnResult();
    }
}

void MediaPlayer::DrainRecords() {
    m_selection.Drain();
    RunPosted();
}

int MediaPlayer::LoadClip(const std::string &strPath) {
    CloseClip();
    m_selection.Begin(strPath);
    m_playState = PlayState::Stopped;
    const int iStatus = OpenClip(strPath);
    if (PlaybackFailed(iStatus)) {
        CloseClip();
    }
    return iStatus;
}

int MediaPlayer::OpenClip(const std::string &strPath) {
    const unsigned nOpen = ++m_nOpenCount;
    const int iStatus = RunOpenSteps([&] { return BeginOpen(strPath); });
    if (nOpen == m_nOpenCount) {
        m_iOpenStatus = m_bClipOpening ? kPlaybackPending : iStatus;
    }
    return iStatus;
}

int MediaPlayer::RunOpenSteps(const std::function<int()> &fnSteps) {
    // A nested open (a box of the first one let another command in) must not end the outer one's wait.
    const bool bWasOpening = m_bOpening;
    m_bOpening = true;
    const int iStatus = fnSteps();
    m_bOpening = bWasOpening;
    PostDeferredNotify();
    return iStatus;
}

void MediaPlayer::SetClipOpening(bool bOpening) {
    if (bOpening != m_bClipOpening) {
        m_bClipOpening = bOpening;
        m_window.SetBusy(bOpening);
    }
}

bool MediaPlayer::TakeOpenEnd(GraphEvent &event) {
    const unsigned nOpen = m_nOpenCount;
    if (event.lCode == kEventOpenFailed) {
        SetClipOpening(false);
        const int iStatus = PlaybackFailed(static_cast<int>(event.lParam1)) ? static_cast<int>(event.lParam1)
                                                                            : kPlaybackFailed;
        RunOpenSteps([&] { return Fail(PlayerError::OpenFile, iStatus); });
        // A box runs a nested event loop: a clip chosen meanwhile is the current one now.
        if (nOpen == m_nOpenCount) {
            m_iOpenStatus = iStatus;
            CloseClip();
        }
        event = GraphEvent{kEventOpenFailed, iStatus, 0};
        return true;
    }
    if (event.lCode != kEventOpened) {
        return false;
    }
    SetClipOpening(false);
    const int iStatus = RunOpenSteps([this] { return FinishOpen(); });
    if (nOpen == m_nOpenCount) {
        m_iOpenStatus = iStatus;
        if (PlaybackFailed(iStatus)) {
            CloseClip();
        }
    }
    event =
        PlaybackFailed(iStatus) ? GraphEvent{kEventOpenFailed, iStatus, 0} : GraphEvent{kEventOpened, 0, 0};
    return true;
}

void MediaPlayer::ShowBox(const std::string &strCaption, const std::string &strText) {
    ++m_nBoxDepth;
    m_window.ShowErrorBox(strCaption, strText);
    --m_nBoxDepth;
    PostDeferredNotify();
}

void MediaPlayer::PostDeferredNotify() {
    if (m_bOpening || m_nBoxDepth > 0 || !m_bNotifyDeferred) {
        return;
    }
    m_bNotifyDeferred = false;
    m_window.PostGraphNotify();
}

bool MediaPlayer::ReviveGraph() {
    if (!m_bGraphLost) {
        return IsClipLoaded();
    }
    m_bGraphLost = false;
    // The selection was saved beside the clip with every change, so reopening restores it.
    const std::string strPath = m_selection.GetPath();
    LoadClip(strPath);
    return IsClipLoaded();
}

int MediaPlayer::Fail(PlayerError error, int iStatus) {
    ShowPlayerError(error, iStatus);
    return iStatus;
}

int MediaPlayer::BeginOpen(const std::string &strPath) {
    if (strPath.empty()) {
        return kPlaybackInvalidPointer;
    }
    m_window.RepaintNow();

    int hr = kPlaybackOk;
    m_pGraph = m_pEngine->CreateGraph(m_surface, hr);
    if (!m_pGraph) {
        return Fail(PlayerError::CreatePlayback, PlaybackFailed(hr) ? hr : kPlaybackFailed);
    }
    // Notes are played from a WAV file the synthesiser makes as the player reads it.
    std::shared_ptr<MidiPreview> pSong;
    if (IsMidiFile(strPath)) {
        pSong = std::make_shared<MidiPreview>();
        std::string strWhy;
        if (!pSong->Open(strPath, strWhy)) {
            ShowBox(kErrorCaption, strWhy);
            return kPlaybackFailed;
        }
    }
    // The record is read while the playback opens; the track it names plays from the start when the
    // record comes first, as it nearly always does, and is switched to otherwise.
    m_bRecordRead = false;
    m_bPlaybackOpened = false;
    m_selection.ReadRecord([this](bool bFound, const ClipInfo &stored) { OnRecordRead(bFound, stored); });
    // Hooked before the open starts: its end arrives as an event, and the window stays free meanwhile.
    hr = m_pGraph->SetNotify([this] { m_window.PostGraphNotify(); });
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::HookEvents, hr);
    }
    hr = pSong ? m_pGraph->RenderSource(std::make_shared<MidiPlaybackSource>(std::move(pSong)))
               : m_pGraph->RenderFile(strPath);
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::OpenFile, hr);
    }
    m_bRunWhenOpen = true;
    m_optTrackWhenOpen.reset();
    SetClipOpening(true);
    return kPlaybackOk;
}

void MediaPlayer::OnRecordRead(bool bFound, const ClipInfo &stored) {
    if (!m_bClipOpening) {
        return;
    }
    m_bRecordRead = true;
    m_bRecordFound = bFound;
    m_storedRecord = stored;
    if (bFound && !m_optTrackWhenOpen) {
        m_pGraph->SetAudioTrack(static_cast<int>(std::min<uint32_t>(stored.nTrack, INT32_MAX)));
    }
}

int MediaPlayer::FinishOpen() {
    int hr = kPlaybackOk;
    const uint32_t nTrack = m_bRecordFound ? m_storedRecord.nTrack : 0;
    // The playback answers for control, events, seeking, position, video and audio in one object and
    // always counts in media time, so there is nothing to ask for before reading the duration.
    int64_t llDuration = 0;
    hr = m_pGraph->GetDuration(llDuration);
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::ReadDuration, hr);
    }
    const auto nDuration = static_cast<uint32_t>(llDuration / kMediaTimePerHundredth);
    m_selection.SetInfo(ClipInfo{nDuration, 0, nDuration, nTrack});
    hr = m_pGraph->SetPositions(0, static_cast<int64_t>(nDuration) * kMediaTimePerHundredth);
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::SetPositions, hr);
    }
    DetectAudioOnly();
    if (!m_bNoVideo) {
        hr = m_pGraph->GetNativeVideoSize(m_iVideoWidth, m_iVideoHeight);
        if (hr == kPlaybackNoInterface) {
            return kPlaybackOk;
        }
        SetPlayerWindow(1.0);
        m_window.ShowAndActivate();
        // The picture is drawn into the video surface that the host control paints, so there is no
        // window of the playback's own to give an owner and styles.
        hr = SetVideoWindow(m_iVideoWndResID);
        if (PlaybackFailed(hr)) {
            return Fail(PlayerError::SetVideoWindow, hr);
        }
        DetectFrameStep();
    } else {
        hr = SetPlayerWindow(1.0);
        if (PlaybackFailed(hr)) {
            return Fail(PlayerError::SetPlayerWindow, hr);
        }
    }
    m_window.ShowAndActivate();
    m_window.RepaintNow();
    m_dRate = 1.0;
    m_bFullScreen = false;

    hr = RegisterGraph();
    if (PlaybackFailed(hr)) {
        ShowPlayerError(PlayerError::Register, hr);
        m_strRegistration.clear();
    }
    ApplyCutInfo();
    if (m_optTrackWhenOpen) {
        m_selection.SetTrack(*m_optTrackWhenOpen);
        WriteCutInfo();
    }
    SetRate(m_dRate);
    SetVolume(m_lVolume);

    // Stopped while it opened, the clip stays held at its selection start, where the cut info put it.
    if (!m_bRunWhenOpen) {
        m_playState = PlayState::Stopped;
        m_window.SetKeyboardFocus();
        return kPlaybackOk;
    }
    hr = m_pGraph->Run();
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::Run, hr);
    }
    m_playState = PlayState::Running;
    m_window.SetKeyboardFocus();
    return kPlaybackOk;
}

void MediaPlayer::ApplyCutInfo() {
    const uint32_t nMeasured = m_selection.GetInfo().nDuration;
    const ClipInfo stored = m_storedRecord;
    if (!m_bRecordFound) {
        WriteCutInfo();
        return;
    }
    // The track choice stands even where the stored numbers are no selection.
    m_selection.SetTrack(stored.nTrack);
    // A stored selection that is turned inside out or runs past the clip is no selection: preview plays
    // the whole clip, as the conversion converts it. The file is left as it is.
    if (stored.nStart > stored.nEnd || stored.nEnd > nMeasured || stored.nEnd > stored.nDuration) {
        return;
    }
    m_selection.SetInfo(stored);
    SetSelection(static_cast<long>(stored.nStart), static_cast<long>(stored.nEnd));
    SetPosition(static_cast<long>(stored.nStart));
}

void MediaPlayer::DetectAudioOnly() {
    if (!m_pGraph) {
        m_bNoVideo = true;
        return;
    }
    m_bNoVideo = false;
    bool bVisible = false;
    const int hr = m_pGraph->GetVisible(bVisible);
    if (hr == kPlaybackNoInterface) {
        m_bNoVideo = true;
    } else if (PlaybackFailed(hr)) {
        ShowPlayerError(PlayerError::ReadVisible, hr);
    }
}

void MediaPlayer::DetectFrameStep() {
    m_bCanStep = m_pGraph && m_pGraph->CanStep() == kPlaybackOk;
}

void MediaPlayer::CloseClip() {
    m_bGraphLost = false;
    // An open under way is given up: its playback goes, and with it every event it had still to send.
    SetClipOpening(false);
    if (m_pGraph) {
        m_pGraph->Stop();
    }
    m_bNoVideo = true;
    m_playState = PlayState::Stopped;
    m_bFullScreen = false;
    ReleaseGraph();
    m_selection.Begin({});
    m_playState = PlayState::Closed;
    m_window.InvalidateAll();
}

void MediaPlayer::ReleaseGraph() {
    if (!m_pGraph) {
        return;
    }
    SetClipOpening(false);
    m_pGraph->SetVisible(false);
    m_pGraph->SetNotify({});
    if (!m_strRegistration.empty()) {
        UnregisterGraph();
    }
    m_pGraph.reset();
    m_bCanStep = false;
}

int MediaPlayer::TogglePause() {
    if (m_bGraphLost) {
        // Reopened, the clip runs: that is what the press asked for.
        ReviveGraph();
        return kPlaybackOk;
    }
    if (m_bClipOpening) {
        // Pressed while the clip opens: it runs, or stays held, once it is open.
        m_bRunWhenOpen = !m_bRunWhenOpen;
        return kPlaybackOk;
    }
    if (!m_pGraph) {
        return kPlaybackOk;
    }
    if (m_playState == PlayState::Stopped || m_playState == PlayState::Paused) {
        const int hr = m_pGraph->Run();
        if (!PlaybackFailed(hr)) {
            m_playState = PlayState::Running;
        }
        return hr;
    }
    const int hr = m_pGraph->Pause();
    if (!PlaybackFailed(hr)) {
        m_playState = PlayState::Paused;
    }
    return hr;
}

int MediaPlayer::StopClip() {
    const bool bLoaded = ReviveGraph();
    if (m_bClipOpening) {
        m_bRunWhenOpen = false;
        return kPlaybackOk;
    }
    if (!bLoaded || (m_playState != PlayState::Paused && m_playState != PlayState::Running)) {
        return kPlaybackOk;
    }
    // Held first, then moved: a seek made while held reads back as its target, whereas a running
    // audio output reports what it has buffered, short of where it was put.
    int hr = m_pGraph->Pause();
    if (PlaybackFailed(hr)) {
        return hr;
    }
    m_playState = PlayState::Stopped;
    SetSelection(static_cast<long>(GetClipInfo().nStart), static_cast<long>(GetClipInfo().nEnd));
    // An error box above ran a nested event loop; whatever ran there may have closed the clip.
    if (!m_pGraph) {
        return kPlaybackOk;
    }
    hr = SetPosition(static_cast<long>(GetClipInfo().nStart));
    return hr;
}

int MediaPlayer::StepFrame() {
    const bool bLoaded = ReviveGraph();
    if (m_bClipOpening) {
        // The step button stops the preview; the clip stays held on its first frame once open.
        m_bRunWhenOpen = false;
        return kPlaybackOk;
    }
    if (!bLoaded || !m_bCanStep) {
        return kPlaybackOk;
    }
    // A stopped clip is already held on its frame; stepping from a held frame moves exactly one frame,
    // whereas starting it first would let it run on for a frame or two before the step.
    if (m_playState == PlayState::Running) {
        TogglePause();
    }
    const int hr = m_pGraph->Step();
    // The playback holds still after the step whatever it did before, and the state says so: otherwise
    // the next play press would pause an already paused clip.
    if (!PlaybackFailed(hr)) {
        m_playState = PlayState::Paused;
    }
    return hr;
}

int MediaPlayer::GetCurrentPosition(long &lPosition) {
    // A playback ended from outside has no position; the display keeps the last one.
    if (!IsClipLoaded() || m_bGraphLost) {
        return kPlaybackOk;
    }
    int64_t llCurrent = 0;
    int64_t llStop = 0;
    const int hr = m_pGraph->GetPositions(llCurrent, llStop);
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::ReadPositions, hr);
    }
    lPosition = static_cast<long>(llCurrent / kMediaTimePerHundredth);
    return kPlaybackOk;
}

int MediaPlayer::SetPosition(long lPosition) {
    if (!ReviveGraph()) {
        return kPlaybackOk;
    }
    const auto lEnd = static_cast<int32_t>(GetClipInfo().nEnd);
    // Before the selection end, playback stops there; past it, the rest of the clip plays.
    const int64_t llStop = lPosition < lEnd
                               ? static_cast<int64_t>(lEnd) * kMediaTimePerHundredth
                               : static_cast<int64_t>(GetClipInfo().nDuration) * kMediaTimePerHundredth;
    const int hr = m_pGraph->SetPositions(static_cast<int64_t>(lPosition) * kMediaTimePerHundredth, llStop);
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::SetPositions, hr);
    }
    return hr;
}

int MediaPlayer::SetSelection(long lStart, long lEnd) {
    m_selection.Set(lStart, lEnd);
    // The stop position follows the new selection end.
    long lPosition = 0;
    GetCurrentPosition(lPosition);
    if (!IsClipLoaded()) {
        return kPlaybackOk;
    }
    return SetPosition(lPosition);
}

int MediaPlayer::SetRate(double dRate) {
    m_dRate = dRate;
    return IsClipLoaded() ? m_pGraph->SetRate(dRate) : kPlaybackOk;
}

double MediaPlayer::GetRate() {
    if (IsClipLoaded()) {
        double dRate = 0;
        if (!PlaybackFailed(m_pGraph->GetRate(dRate))) {
            return dRate;
        }
    }
    return m_dRate;
}

int MediaPlayer::SetVolume(long lVolume) {
    if (lVolume >= 0) {
        lVolume = 0;
    } else if (lVolume <= -10000) {
        lVolume = -10000;
    }
    m_lVolume = lVolume;
    if (!IsClipLoaded()) {
        return kPlaybackOk;
    }
    const int hr = m_pGraph->PutVolume(m_lVolume);
    // A clip without sound has no volume to set; opening one must not raise an error box.
    if (hr == kPlaybackNotImplemented) {
        return kPlaybackOk;
    }
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::SetVolume, hr);
    }
    return hr;
}

int MediaPlayer::ToggleMute() {
    if (!ReviveGraph()) {
        return kPlaybackOk;
    }
    long lVolume = 0;
    int hr = m_pGraph->GetVolume(lVolume);
    if (hr == kPlaybackNotImplemented) {
        return kPlaybackOk;
    }
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::ReadVolume, hr);
    }
    lVolume = lVolume == m_lVolume ? -10000 : m_lVolume;
    hr = m_pGraph->PutVolume(lVolume);
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::MuteVolume, hr);
    }
    return hr;
}

int MediaPlayer::ToggleFullScreen() {
    if (m_bNoVideo || !IsClipLoaded()) {
        return kPlaybackOk;
    }
    bool bMode = false;
    int hr = m_pGraph->GetFullScreenMode(bMode);
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::ReadFullScreen, hr);
    }
    // The full-screen picture is the same surface, shown by the window over the whole screen; keys and
    // mouse there reach the window itself, so no input has to be redirected.
    if (!bMode) {
        hr = m_pGraph->PutFullScreenMode(true);
        if (PlaybackFailed(hr)) {
            return Fail(PlayerError::SetFullScreen, hr);
        }
        m_bFullScreen = true;
        return hr;
    }
    hr = m_pGraph->PutFullScreenMode(false);
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::SetFullScreen, hr);
    }
    m_window.RepaintNow();
    m_window.ShowAndActivate();
    m_window.SetKeyboardFocus();
    m_bFullScreen = false;
    return hr;
}

bool MediaPlayer::IsFullScreen() {
    if (m_bNoVideo || !IsClipLoaded()) {
        return false;
    }
    bool bMode = false;
    return !PlaybackFailed(m_pGraph->GetFullScreenMode(bMode)) && bMode;
}

int MediaPlayer::SetPlayerWindow(double /*dScale*/) {
    return kPlaybackOk;
}

int MediaPlayer::SetVideoWindow(int iControlId) {
    return PlaceVideo(m_window.GetControlRect(iControlId));
}

int MediaPlayer::PlaceVideo(const VideoRect &rect) {
    if (m_bNoVideo || !IsClipLoaded()) {
        return kPlaybackOk;
    }
    const auto placement = klangor::PlaceVideo(rect.iWidth, rect.iHeight, m_iVideoWidth, m_iVideoHeight);
    if (!placement) {
        return kPlaybackOk;
    }
    const int hr =
        m_pGraph->SetWindowPosition(placement->iLeft, placement->iTop, placement->iWidth, placement->iHeight);
    if (PlaybackFailed(hr)) {
        return Fail(PlayerError::PlaceVideo, hr);
    }
    return hr;
}

int MediaPlayer::SetAudioTrack(uint32_t nTrack) {
    if (m_bClipOpening) {
        // Kept in the record once the open has read it, with the selection it holds.
        const int hr = m_pGraph->SetAudioTrack(static_cast<int>(std::min<uint32_t>(nTrack, INT32_MAX)));
        if (!PlaybackFailed(hr)) {
            m_optTrackWhenOpen = nTrack;
        }
        return hr;
    }
    if (!IsClipLoaded()) {
        return kPlaybackOk;
    }
    const int hr = m_pGraph->SetAudioTrack(static_cast<int>(std::min<uint32_t>(nTrack, INT32_MAX)));
    if (PlaybackFailed(hr)) {
        return hr;
    }
    m_selection.SetTrack(nTrack);
    WriteCutInfo();
    return kPlaybackOk;
}

bool MediaPlayer::WriteCutInfo() {
    return m_selection.WriteRecord();
}

void MediaPlayer::ShowPlayerError(PlayerError error, int iStatus) {
    ShowBox(kErrorCaption, PlayerErrorText(error, iStatus));
}

int MediaPlayer::RegisterGraph() {
    if (!m_pGraph) {
        return kPlaybackFailed;
    }
    std::string strPath;
    const int hr = RegisterPlayback(*m_pGraph, getpid(), strPath);
    if (PlaybackFailed(hr)) {
        return hr;
    }
    m_strRegistration = strPath;
    return kPlaybackOk;
}

void MediaPlayer::UnregisterGraph() {
    if (m_strRegistration.empty()) {
        return;
    }
    UnregisterPlayback(m_pGraph.get(), m_strRegistration);
    m_strRegistration.clear();
}

bool MediaPlayer::GetGraphEvent(GraphEvent &event) {
    if (m_bOpening || m_nBoxDepth > 0) {
        m_bNotifyDeferred = true;
        return false;
    }
    RunPosted();
    if (!m_pGraph) {
        return false;
    }
    if (m_bClipOpening && m_bPlaybackOpened && m_bRecordRead) {
        event = GraphEvent{kEventOpened, 0, 0};
        return TakeOpenEnd(event);
    }
    if (!m_pGraph->GetEvent(event)) {
        return false;
    }
    if (m_bClipOpening) {
        // Until the open ends the playback has nothing else to tell; once open, it waits for the
        // clip's record, whose arrival notifies again.
        if (event.lCode == kEventOpened) {
            m_bPlaybackOpened = true;
            return GetGraphEvent(event);
        }
        return TakeOpenEnd(event) || GetGraphEvent(event);
    }
    if (event.lCode == kEventEndedElsewhere) {
        m_bGraphLost = true;
        m_playState = PlayState::Stopped;
    }
    return true;
}

}  // namespace klangor

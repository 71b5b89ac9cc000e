#include "player/MediaPlayer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

#include "clips/CutInfo.h"
#include "player/GraphRegistration.h"
#include "player/MpvPlayback.h"
#include "common/Version.h"
#include "media/AudioDecoder.h"
#include "media/MidiPreview.h"

namespace {

constexpr int64_t kMediaTimePerHundredth = 100000;

unsigned Hex(int iStatus) {
    return static_cast<unsigned>(iStatus);
}

// A song as the playback reads it: synthesised on the playback's thread, piece by piece.
class MidiPlaybackSource final : public IPlaybackSource {
public:
    explicit MidiPlaybackSource(std::shared_ptr<MidiPreview> pSong) : m_pSong(std::move(pSong)) {}
    uint64_t Size() const override { return m_pSong->Size(); }
    int64_t ReadAt(uint64_t nOffset, uint8_t *pBuffer, uint64_t nBytes, const std::atomic<bool> &bCancel) override {
        return m_pSong->ReadAt(nOffset, pBuffer, nBytes, bCancel);
    }

private:
    std::shared_ptr<MidiPreview> m_pSong;
};

}  // namespace

MediaPlayer::MediaPlayer(IPlayerWindow &window, int iVideoWndResID, std::unique_ptr<IPlaybackEngine> pEngine)
    : m_window(window), m_iVideoWndResID(iVideoWndResID), m_pEngine(std::move(pEngine)) {
    if (!m_pEngine) {
        m_pEngine = std::make_unique<MpvPlaybackEngine>();
    }
    m_bEngineStarted = !PlaybackFailed(m_pEngine->Startup());
    if (!m_bEngineStarted) {
        m_window.ShowUnownedErrorBox(kErrorCaption, "CoInitialize Failed!\r\n");
    }
}

MediaPlayer::~MediaPlayer() {
    // The playback's threads reach the window and the surface: they go first.
    if (m_pGraph) {
        CloseClip();
    }
}

int MediaPlayer::LoadClipAt(int nIndex) {
    m_clipList.SetCurrentIndex(nIndex);
    return LoadClip(m_clipList.GetClip(nIndex));
}

int MediaPlayer::LoadClip(const std::string &strPath) {
    CloseClip();
    m_strFileName = strPath;
    m_playState = PlayState::Stopped;
    const int iStatus = OpenClip(m_strFileName);
    if (PlaybackFailed(iStatus)) {
        CloseClip();
    }
    return iStatus;
}

int MediaPlayer::OpenClip(const std::string &strPath) {
    // A nested open (a box of the first one let another command in) must not end the outer one's wait.
    const bool bWasOpening = m_bOpening;
    m_bOpening = true;
    m_window.SetBusy(true);
    const int iStatus = OpenSteps(strPath);
    m_window.SetBusy(false);
    m_bOpening = bWasOpening;
    PostDeferredNotify();
    return iStatus;
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
    if (m_pGraph) {
        m_window.PostGraphNotify();
    }
}

bool MediaPlayer::ReviveGraph() {
    if (!m_bGraphLost) {
        return m_pGraph != nullptr;
    }
    m_bGraphLost = false;
    // The selection was saved beside the clip with every change, so reopening restores it.
    const std::string strPath = m_strFileName;
    LoadClip(strPath);
    return m_pGraph != nullptr;
}

int MediaPlayer::Fail(int iStatus, const char *pszText) {
    ShowPlayerError(pszText, Hex(iStatus));
    return iStatus;
}

int MediaPlayer::OpenSteps(const std::string &strPath) {
    if (strPath.empty()) {
        return kPlaybackInvalidPointer;
    }
    m_window.RepaintNow();

    int hr = kPlaybackOk;
    m_pGraph = m_pEngine->CreateGraph(m_surface, hr);
    if (!m_pGraph) {
        return Fail(PlaybackFailed(hr) ? hr : kPlaybackFailed,
                    "FAILED(hr=0x%x) in CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, "
                    "IID_IGraphBuilder, (void **)&m_pGB)\n");
    }
    // Notes are played from a WAV file the synthesiser makes as the player reads it.
    std::shared_ptr<MidiPreview> pSong;
    if (IsMidiFile(strPath)) {
        pSong = std::make_shared<MidiPreview>();
        std::string strWhy;
        if (!pSong->Open(strPath, strWhy)) {
            ShowPlayerError("%s", strWhy.c_str());
            return kPlaybackFailed;
        }
    }
    // The track chosen for the clip plays from the start; its number lives in the cut-info record.
    uint32_t nStoredDuration = 0, nStoredStart = 0, nStoredEnd = 0, nTrack = 0;
    ReadCutInfo(strPath, nStoredDuration, nStoredStart, nStoredEnd, &nTrack);
    m_pGraph->SetAudioTrack(static_cast<int>(std::min<uint32_t>(nTrack, INT32_MAX)));
    hr = pSong ? m_pGraph->RenderSource(std::make_shared<MidiPlaybackSource>(std::move(pSong)))
               : m_pGraph->RenderFile(strPath);
    if (PlaybackFailed(hr)) {
        return Fail(hr, "FAILED(hr=0x%x) in m_pGB->RenderFile(wFile, NULL)\n");
    }
    // The playback answers for control, events, seeking, position, video and audio in one object and
    // always counts in media time, so there is nothing to ask for before reading the duration.
    int64_t llDuration = 0;
    hr = m_pGraph->GetDuration(llDuration);
    if (PlaybackFailed(hr)) {
        return Fail(hr, "FAILED(hr=0x%x) in m_pMS->GetDuration( &llTmp )\n");
    }
    const auto nDuration = static_cast<uint32_t>(llDuration / kMediaTimePerHundredth);
    m_clipInfo = ClipInfo{nDuration, 0, nDuration, nTrack};
    hr = m_pGraph->SetPositions(0, static_cast<int64_t>(nDuration) * kMediaTimePerHundredth);
    if (PlaybackFailed(hr)) {
        return Fail(hr,
                    "FAILED(hr=0x%x) in m_pMS->SetPositions( &llBeginPos, AM_SEEKING_AbsolutePositioning, "
                    "&llEndPos, AM_SEEKING_AbsolutePositioning )\n");
    }
    DetectAudioOnly();
    hr = m_pGraph->SetNotify([this] { m_window.PostGraphNotify(); });
    if (PlaybackFailed(hr)) {
        return Fail(
            hr, "FAILED(hr=0x%x) in m_pME->SetNotifyWindow((OAHWND)m_gpDlg->m_hWnd, WM_GRAPHNOTIFY, 0)\n");
    }
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
            return Fail(hr, "FAILED(hr=0x%x) in SetVideoWindow( m_iVideoWndResID )\n");
        }
        DetectFrameStep();
    } else {
        hr = SetPlayerWindow(1.0);
        if (PlaybackFailed(hr)) {
            return Fail(hr, "FAILED(hr=0x%x) in SetPlayerWindow()\n");
        }
    }
    m_window.ShowAndActivate();
    m_window.RepaintNow();
    m_dRate = 1.0;
    m_bFullScreen = false;

    hr = RegisterGraph();
    if (PlaybackFailed(hr)) {
        ShowPlayerError("Failed to register filter graph with ROT!  hr=0x%x", Hex(hr));
        m_strRegistration.clear();
    }
    ApplyCutInfo();
    SetRate(m_dRate);
    SetVolume(m_lVolume);

    hr = m_pGraph->Run();
    if (PlaybackFailed(hr)) {
        return Fail(hr, "FAILED(hr=0x%x) in m_pMC->Run()\n");
    }
    m_playState = PlayState::Running;
    m_window.SetKeyboardFocus();
    return kPlaybackOk;
}

void MediaPlayer::ApplyCutInfo() {
    const uint32_t nMeasured = m_clipInfo.nDuration;
    ClipInfo stored = m_clipInfo;
    if (!ReadCutInfo(m_strFileName, stored.nDuration, stored.nStart, stored.nEnd, &stored.nTrack)) {
        WriteCutInfo();
        return;
    }
    // The track choice stands even where the stored numbers are no selection.
    m_clipInfo.nTrack = stored.nTrack;
    // A stored selection that is turned inside out or runs past the clip is no selection: preview plays
    // the whole clip, as the conversion converts it. The file is left as it is.
    if (stored.nStart > stored.nEnd || stored.nEnd > nMeasured || stored.nEnd > stored.nDuration) {
        return;
    }
    m_clipInfo = stored;
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
        ShowPlayerError("Failed(%08lx) in m_pVW->get_Visible()!\r\n", static_cast<unsigned long>(Hex(hr)));
    }
}

void MediaPlayer::DetectFrameStep() {
    m_bCanStep = m_pGraph && m_pGraph->CanStep() == kPlaybackOk;
}

void MediaPlayer::CloseClip() {
    m_bGraphLost = false;
    if (m_pGraph) {
        m_pGraph->Stop();
    }
    m_bNoVideo = true;
    m_playState = PlayState::Stopped;
    m_bFullScreen = false;
    ReleaseGraph();
    m_strFileName.clear();
    m_playState = PlayState::Closed;
    m_window.InvalidateAll();
}

void MediaPlayer::ReleaseGraph() {
    if (!m_pGraph) {
        return;
    }
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
    if (!ReviveGraph() || (m_playState != PlayState::Paused && m_playState != PlayState::Running)) {
        return kPlaybackOk;
    }
    // Held first, then moved: a seek made while held reads back as its target, whereas a running
    // audio output reports what it has buffered, short of where it was put.
    int hr = m_pGraph->Pause();
    if (PlaybackFailed(hr)) {
        return hr;
    }
    m_playState = PlayState::Stopped;
    SetSelection(static_cast<long>(m_clipInfo.nStart), static_cast<long>(m_clipInfo.nEnd));
    // An error box above ran a nested event loop; whatever ran there may have closed the clip.
    if (!m_pGraph) {
        return kPlaybackOk;
    }
    hr = SetPosition(static_cast<long>(m_clipInfo.nStart));
    return hr;
}

int MediaPlayer::StepFrame() {
    if (!ReviveGraph() || !m_bCanStep) {
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
    if (!m_pGraph || m_bGraphLost) {
        return kPlaybackOk;
    }
    int64_t llCurrent = 0;
    int64_t llStop = 0;
    const int hr = m_pGraph->GetPositions(llCurrent, llStop);
    if (PlaybackFailed(hr)) {
        return Fail(hr, "FAILED(hr=0x%x) in m_pMS->GetPositions( &llBeginPos, &llEndPos )\n");
    }
    lPosition = static_cast<long>(llCurrent / kMediaTimePerHundredth);
    return kPlaybackOk;
}

int MediaPlayer::SetPosition(long lPosition) {
    if (!ReviveGraph()) {
        return kPlaybackOk;
    }
    const auto lEnd = static_cast<int32_t>(m_clipInfo.nEnd);
    // Before the selection end, playback stops there; past it, the rest of the clip plays.
    const int64_t llStop = lPosition < lEnd
                               ? static_cast<int64_t>(lEnd) * kMediaTimePerHundredth
                               : static_cast<int64_t>(m_clipInfo.nDuration) * kMediaTimePerHundredth;
    const int hr = m_pGraph->SetPositions(static_cast<int64_t>(lPosition) * kMediaTimePerHundredth, llStop);
    if (PlaybackFailed(hr)) {
        return Fail(hr,
                    "FAILED(hr=0x%x) in m_pMS->SetPositions( &llBeginPos, AM_SEEKING_AbsolutePositioning, "
                    "&llEndPos, AM_SEEKING_AbsolutePositioning )\n");
    }
    return hr;
}

int MediaPlayer::SetSelection(long lStart, long lEnd) {
    // Compared as signed numbers, as the selection is handled everywhere in memory.
    auto iStart = static_cast<int32_t>(m_clipInfo.nStart);
    auto iEnd = static_cast<int32_t>(m_clipInfo.nEnd);
    if (lStart != -1 && lEnd != -1) {
        if (lStart <= lEnd) {
            iStart = static_cast<int32_t>(lStart);
            iEnd = static_cast<int32_t>(lEnd);
        }
    } else if (lStart != -1) {
        if (lStart <= iEnd) {
            iStart = static_cast<int32_t>(lStart);
        } else {
            iStart = iEnd = static_cast<int32_t>(lStart);
        }
    } else if (lEnd != -1) {
        if (lEnd >= iStart) {
            iEnd = static_cast<int32_t>(lEnd);
        } else {
            iStart = iEnd = static_cast<int32_t>(lEnd);
        }
    }
    m_clipInfo.nStart = static_cast<uint32_t>(iStart);
    m_clipInfo.nEnd = static_cast<uint32_t>(iEnd);
    // The stop position follows the new selection end.
    long lPosition = 0;
    GetCurrentPosition(lPosition);
    if (!m_pGraph) {
        return kPlaybackOk;
    }
    return SetPosition(lPosition);
}

int MediaPlayer::SetRate(double dRate) {
    m_dRate = dRate;
    return m_pGraph ? m_pGraph->SetRate(dRate) : kPlaybackOk;
}

double MediaPlayer::GetRate() {
    if (m_pGraph) {
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
    if (!m_pGraph) {
        return kPlaybackOk;
    }
    const int hr = m_pGraph->PutVolume(m_lVolume);
    // A clip without sound has no volume to set; opening one must not raise an error box.
    if (hr == kPlaybackNotImplemented) {
        return kPlaybackOk;
    }
    if (PlaybackFailed(hr)) {
        return Fail(hr, "FAILED(hr=0x%x) in m_pBA->put_Volume(m_lVolume)\n");
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
        return Fail(hr, "Failed to read audio volume!  hr=0x%x\r\n");
    }
    lVolume = lVolume == m_lVolume ? -10000 : m_lVolume;
    hr = m_pGraph->PutVolume(lVolume);
    if (PlaybackFailed(hr)) {
        return Fail(hr, "FAILED(hr=0x%x) in m_pBA->put_Volume(lVolume)\n");
    }
    return hr;
}

int MediaPlayer::ToggleFullScreen() {
    if (m_bNoVideo || !m_pGraph) {
        return kPlaybackOk;
    }
    bool bMode = false;
    int hr = m_pGraph->GetFullScreenMode(bMode);
    if (PlaybackFailed(hr)) {
        return Fail(hr, "FAILED(hr=0x%x) in m_pVW->get_FullScreenMode(&lMode)\n");
    }
    // The full-screen picture is the same surface, shown by the window over the whole screen; keys and
    // mouse there reach the window itself, so no input has to be redirected.
    if (!bMode) {
        hr = m_pGraph->PutFullScreenMode(true);
        if (PlaybackFailed(hr)) {
            return Fail(hr, "FAILED(hr=0x%x) in m_pVW->put_FullScreenMode(lMode)\n");
        }
        m_bFullScreen = true;
        return hr;
    }
    hr = m_pGraph->PutFullScreenMode(false);
    if (PlaybackFailed(hr)) {
        return Fail(hr, "FAILED(hr=0x%x) in m_pVW->put_FullScreenMode(lMode)\n");
    }
    m_window.RepaintNow();
    m_window.ShowAndActivate();
    m_window.SetKeyboardFocus();
    m_bFullScreen = false;
    return hr;
}

bool MediaPlayer::IsFullScreen() {
    if (m_bNoVideo || !m_pGraph) {
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
    if (m_bNoVideo || !m_pGraph) {
        return kPlaybackOk;
    }
    const auto placement = ::PlaceVideo(rect.iWidth, rect.iHeight, m_iVideoWidth, m_iVideoHeight);
    if (!placement) {
        return kPlaybackOk;
    }
    const int hr =
        m_pGraph->SetWindowPosition(placement->iLeft, placement->iTop, placement->iWidth, placement->iHeight);
    if (PlaybackFailed(hr)) {
        return Fail(hr,
                    "FAILED(hr=0x%x) in m_pVW->SetWindowPosition( iLeft+1, iTop+1, lWidth-1, lHeight-1 )\n");
    }
    return hr;
}

int MediaPlayer::AddClips(const std::vector<std::string> &paths) {
    int nFirst = -1;
    for (const std::string &strPath : paths) {
        const int nIndex = m_clipList.AddClip(strPath);
        if (nFirst < 0) {
            nFirst = nIndex;
        }
    }
    return nFirst;
}

int MediaPlayer::SetAudioTrack(uint32_t nTrack) {
    if (!m_pGraph) {
        return kPlaybackOk;
    }
    const int hr = m_pGraph->SetAudioTrack(static_cast<int>(std::min<uint32_t>(nTrack, INT32_MAX)));
    if (PlaybackFailed(hr)) {
        return hr;
    }
    m_clipInfo.nTrack = nTrack;
    WriteCutInfo();
    return kPlaybackOk;
}

bool MediaPlayer::WriteCutInfo() {
    std::string strError;
    if (::WriteCutInfo(m_strFileName, m_clipInfo, &strError)) {
        return true;
    }
    if (!strError.empty()) {
        ShowBox(klangor::kAppTitle, strError);
    }
    return false;
}

void MediaPlayer::ShowPlayerError(const char *pszFormat, ...) {
    char szText[1024];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    ShowBox(kErrorCaption, szText);
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
    if (!m_pGraph) {
        return false;
    }
    if (m_bOpening || m_nBoxDepth > 0) {
        m_bNotifyDeferred = true;
        return false;
    }
    if (!m_pGraph->GetEvent(event)) {
        return false;
    }
    if (event.lCode == kEventEndedElsewhere) {
        m_bGraphLost = true;
        m_playState = PlayState::Stopped;
    }
    return true;
}

#include "clips/MpvPlayback.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "clips/MpvVideoRenderer.h"
#include "clips/VideoSurface.h"

namespace {

struct MpvHandleDeleter {
    void operator()(mpv_handle *pHandle) const { mpv_terminate_destroy(pHandle); }
};
using MpvHandle = std::unique_ptr<mpv_handle, MpvHandleDeleter>;

// A second client of the same instance, with its own event queue, used only to wait for a seek or a step
// to take effect without taking events from the window's queue.
struct MpvClientDeleter {
    void operator()(mpv_handle *pHandle) const { mpv_destroy(pHandle); }
};
using MpvClient = std::unique_ptr<mpv_handle, MpvClientDeleter>;

// Opening a file is bounded so that a hanging source cannot freeze the window for good.
constexpr double kOpenTimeoutSeconds = 20.0;
// After the file is open, its first decoded picture tells the display size; a broken video stream may
// never deliver one, and then the container's size has to do.
constexpr double kVideoSizeTimeoutSeconds = 3.0;
constexpr uint64_t kObserveEof = 1;
// Seeks and steps wait this long at most for libmpv to act on them.
constexpr double kSeekWaitSeconds = 1.0;

std::string SecondsText(int64_t llMediaTime) {
    char sz[64];
    const double dSeconds = static_cast<double>(llMediaTime) / static_cast<double>(kMediaTimePerSecond);
    auto result = std::to_chars(sz, sz + sizeof(sz), dSeconds, std::chars_format::fixed, 7);
    return std::string(sz, result.ptr);
}

int64_t MediaTimeOf(double dSeconds) {
    return std::llround(dSeconds * static_cast<double>(kMediaTimePerSecond));
}

// One playback: an mpv instance and the renderer that draws its pictures into the surface.
class MpvPlaybackGraph : public IPlaybackGraph {
public:
    explicit MpvPlaybackGraph(VideoSurface &surface) : m_surface(surface), m_renderer(surface) {}
    ~MpvPlaybackGraph() override;

    int Create(const MpvEngineOptions &options);
    int SetAudioTrack(int nTrack) override;

    int RenderFile(const std::string &strPath) override;
    int Run() override { return SetPause(false); }
    int Pause() override { return SetPause(true); }
    int Stop() override { return SetPause(true); }

    int SetNotify(std::function<void()> fnNotify) override;
    bool GetEvent(GraphEvent &event) override;

    int GetDuration(int64_t &llDuration) override;
    int GetPositions(int64_t &llCurrent, int64_t &llStop) override;
    int SetPositions(int64_t llCurrent, int64_t llStop) override;
    int SetRate(double dRate) override;
    int GetRate(double &dRate) override;
    int GetVolume(long &lVolume) override;
    int PutVolume(long lVolume) override;

    int GetVisible(bool &bVisible) override;
    int SetVisible(bool bVisible) override;
    int GetNativeVideoSize(int &iWidth, int &iHeight) override;
    int SetWindowPosition(int iLeft, int iTop, int iWidth, int iHeight) override;
    int GetFullScreenMode(bool &bFullScreen) override;
    int PutFullScreenMode(bool bFullScreen) override;
    int CanStep() override { return m_bHasVideo ? kPlaybackOk : kPlaybackFalse; }
    int Step() override;

    uintptr_t GetReference() const override { return reinterpret_cast<uintptr_t>(m_pHandle.get()); }
    int SetRegistration(const std::string &strSocketPath) override;

private:
    int SetPause(bool bPause);
    // Waits on the private client until the event arrives (true) or the time is up.
    bool WaitForSync(mpv_event_id idWanted);
    void DrainSync();
    bool HasTrack(const char *pszKind) const;
    void ReadVideoSize();
    void SetNativeSize(int64_t llWidth, int64_t llHeight);

    static void OnWakeup(void *pContext);

    VideoSurface &m_surface;
    MpvHandle m_pHandle;
    MpvClient m_pSync;
    MpvVideoRenderer m_renderer;

    std::function<void()> m_fnNotify;  // called by libmpv under its own wakeup lock

    bool m_bLoaded = false;
    bool m_bHasVideo = false;
    bool m_bHasAudio = false;
    bool m_bEofReached = false;
    int64_t m_llDuration = 0;
    int64_t m_llStop = 0;
    int64_t m_llLastPosition = 0;
    // Where a seek made while paused put the held frame. An audio output reports the position of what
    // it has buffered minus its latency, which on a paused clip can trail the target for good; the
    // held place is the target, until playback runs again.
    std::optional<int64_t> m_llHeldPosition;
};

MpvPlaybackGraph::~MpvPlaybackGraph() {
    if (!m_pHandle) {
        return;
    }
    // Nothing of ours may be reached once we are gone: the wakeup first, then the renderer. Pausing
    // first means no picture is waiting to be drawn while the renderer goes down.
    mpv_set_wakeup_callback(m_pHandle.get(), nullptr, nullptr);
    int iPause = 1;
    mpv_set_property(m_pHandle.get(), "pause", MPV_FORMAT_FLAG, &iPause);
    m_renderer.Stop();
    m_pSync.reset();
    m_pHandle.reset();
    m_surface.Clear();
}

int MpvPlaybackGraph::Create(const MpvEngineOptions &options) {
    m_pHandle.reset(mpv_create());
    if (!m_pHandle) {
        return kPlaybackFailed;
    }
    mpv_handle *h = m_pHandle.get();
    const std::pair<const char *, const char *> settings[] = {
        {"vo", "libmpv"},
        {"ao", options.strAudioOutput.c_str()},
        {"audio-fallback-to-null", "yes"},
        {"pause", "yes"},
        {"idle", "yes"},
        // Reaching the end keeps the last frame and carries on after a seek back, as a paused-at-end
        // playback would; completion is read from eof-reached.
        {"keep-open", "yes"},
        {"keep-open-pause", "no"},
        // A cover picture is not video: such a file previews as audio only.
        {"audio-display", "no"},
        {"sid", "no"},
        {"sub-auto", "no"},
        {"osd-level", "0"},
        // No scripts at all: a preview needs none, and each runs a thread of its own.
        {"load-scripts", "no"},
        {"ytdl", "no"},
        {"osc", "no"},
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
        {"load-auto-profiles", "no"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"hwdec", "no"},
        {"sws-fast", "yes"},
    };
    for (const auto &[pszName, pszValue] : settings) {
        const int iStatus = mpv_set_option_string(h, pszName, pszValue);
        if (iStatus < 0) {
            return iStatus;
        }
    }
    int iStatus = mpv_initialize(h);
    if (iStatus < 0) {
        return iStatus;
    }
    iStatus = m_renderer.Start(h);
    if (iStatus < 0) {
        return iStatus;
    }
    m_pSync.reset(mpv_create_client(h, "sync"));
    if (!m_pSync) {
        return kPlaybackFailed;
    }
    for (int iEvent = MPV_EVENT_SHUTDOWN; iEvent <= MPV_EVENT_HOOK; ++iEvent) {
        const bool bWanted = iEvent == MPV_EVENT_SEEK || iEvent == MPV_EVENT_PLAYBACK_RESTART ||
                             iEvent == MPV_EVENT_END_FILE || iEvent == MPV_EVENT_SHUTDOWN;
        mpv_request_event(m_pSync.get(), static_cast<mpv_event_id>(iEvent), bWanted ? 1 : 0);
    }
    return mpv_observe_property(h, kObserveEof, "eof-reached", MPV_FORMAT_FLAG);
}

int MpvPlaybackGraph::RenderFile(const std::string &strPath) {
    if (m_bLoaded) {
        return kPlaybackFailed;
    }
    // A relative name could be read as a protocol ("name:..."), so libmpv always gets a full path.
    std::error_code error;
    std::filesystem::path path(strPath);
    if (!path.is_absolute()) {
        path = std::filesystem::absolute(path, error);
        if (error) {
            return kPlaybackInvalidArgument;
        }
    }
    const std::string strFull = path.string();
    const char *command[] = {"loadfile", strFull.c_str(), "replace", nullptr};
    mpv_handle *h = m_pHandle.get();
    int iStatus = mpv_command(h, command);
    if (iStatus < 0) {
        return iStatus;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(kOpenTimeoutSeconds);
    bool bFileLoaded = false;
    while (!bFileLoaded) {
        const double dLeft =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (dLeft <= 0) {
            return MPV_ERROR_LOADING_FAILED;
        }
        mpv_event *pEvent = mpv_wait_event(h, dLeft);
        switch (pEvent->event_id) {
            case MPV_EVENT_FILE_LOADED:
                bFileLoaded = true;
                break;
            case MPV_EVENT_END_FILE: {
                const auto *pEnd = static_cast<const mpv_event_end_file *>(pEvent->data);
                return pEnd->reason == MPV_END_FILE_REASON_ERROR && pEnd->error < 0
                           ? pEnd->error
                           : MPV_ERROR_NOTHING_TO_PLAY;
            }
            case MPV_EVENT_SHUTDOWN:
                return kPlaybackFailed;
            default:
                break;
        }
    }
    m_bHasVideo = HasTrack("video");
    m_bHasAudio = HasTrack("audio");
    if (!m_bHasVideo && !m_bHasAudio) {
        return MPV_ERROR_NOTHING_TO_PLAY;
    }
    double dDuration = 0;
    if (mpv_get_property(h, "duration", MPV_FORMAT_DOUBLE, &dDuration) >= 0 && dDuration > 0) {
        m_llDuration = MediaTimeOf(dDuration);
    }
    m_llStop = m_llDuration;
    if (m_bHasVideo) {
        ReadVideoSize();
        m_renderer.UpdatePlacement([](VideoPlacement &placement) { placement.bVisible = true; });
    }
    m_bLoaded = true;
    return kPlaybackOk;
}

bool MpvPlaybackGraph::HasTrack(const char *pszKind) const {
    const std::string strName = std::string("current-tracks/") + pszKind + "/id";
    int64_t llId = 0;
    return mpv_get_property(m_pHandle.get(), strName.c_str(), MPV_FORMAT_INT64, &llId) >= 0;
}

void MpvPlaybackGraph::ReadVideoSize() {
    // The display size (with the pixel aspect applied) is known once the first picture is decoded.
    mpv_handle *h = m_pHandle.get();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(kVideoSizeTimeoutSeconds);
    for (;;) {
        int64_t llWidth = 0;
        int64_t llHeight = 0;
        if (mpv_get_property(h, "dwidth", MPV_FORMAT_INT64, &llWidth) >= 0 &&
            mpv_get_property(h, "dheight", MPV_FORMAT_INT64, &llHeight) >= 0 && llWidth > 0 && llHeight > 0) {
            SetNativeSize(llWidth, llHeight);
            return;
        }
        const double dLeft =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (dLeft <= 0) {
            break;
        }
        const mpv_event_id id = mpv_wait_event(h, dLeft)->event_id;
        if (id == MPV_EVENT_END_FILE || id == MPV_EVENT_SHUTDOWN) {
            break;
        }
    }
    int64_t llWidth = 0;
    int64_t llHeight = 0;
    mpv_get_property(h, "width", MPV_FORMAT_INT64, &llWidth);
    mpv_get_property(h, "height", MPV_FORMAT_INT64, &llHeight);
    SetNativeSize(llWidth, llHeight);
}

void MpvPlaybackGraph::SetNativeSize(int64_t llWidth, int64_t llHeight) {
    m_renderer.SetNativeSize(static_cast<int>(std::clamp<int64_t>(llWidth, 0, INT32_MAX)),
                             static_cast<int>(std::clamp<int64_t>(llHeight, 0, INT32_MAX)));
}

int MpvPlaybackGraph::SetPause(bool bPause) {
    if (!m_bLoaded) {
        return kPlaybackFailed;
    }
    int iFlag = bPause ? 1 : 0;
    if (!bPause) {
        m_llHeldPosition.reset();
    }
    return mpv_set_property(m_pHandle.get(), "pause", MPV_FORMAT_FLAG, &iFlag);
}

int MpvPlaybackGraph::SetNotify(std::function<void()> fnNotify) {
    // libmpv calls the wakeup under its own lock and takes that lock here too, so after the first call
    // the old function is neither running nor called again and can be replaced safely.
    mpv_set_wakeup_callback(m_pHandle.get(), nullptr, nullptr);
    m_fnNotify = std::move(fnNotify);
    if (m_fnNotify) {
        mpv_set_wakeup_callback(m_pHandle.get(), &MpvPlaybackGraph::OnWakeup, this);
    }
    return kPlaybackOk;
}

void MpvPlaybackGraph::OnWakeup(void *pContext) {
    static_cast<MpvPlaybackGraph *>(pContext)->m_fnNotify();
}

bool MpvPlaybackGraph::GetEvent(GraphEvent &event) {
    for (;;) {
        mpv_event *pEvent = mpv_wait_event(m_pHandle.get(), 0);
        switch (pEvent->event_id) {
            case MPV_EVENT_NONE:
                return false;
            case MPV_EVENT_PROPERTY_CHANGE: {
                const auto *pProperty = static_cast<const mpv_event_property *>(pEvent->data);
                if (pEvent->reply_userdata != kObserveEof || pProperty->format != MPV_FORMAT_FLAG) {
                    continue;
                }
                const bool bEof = *static_cast<const int *>(pProperty->data) != 0;
                const bool bReached = bEof && !m_bEofReached;
                m_bEofReached = bEof;
                if (!bReached) {
                    continue;
                }
                event = GraphEvent{kEventComplete, 0, 0};
                return true;
            }
            case MPV_EVENT_END_FILE: {
                const auto *pEnd = static_cast<const mpv_event_end_file *>(pEvent->data);
                if (pEnd->reason == MPV_END_FILE_REASON_ERROR) {
                    event = GraphEvent{kEventErrorAbort, pEnd->error, 0};
                } else {
                    event = GraphEvent{kEventComplete, 0, 0};
                }
                return true;
            }
            case MPV_EVENT_LOG_MESSAGE:
                continue;
            default:
                event = GraphEvent{kEventEngine + static_cast<long>(pEvent->event_id), 0, 0};
                return true;
        }
    }
}

int MpvPlaybackGraph::GetDuration(int64_t &llDuration) {
    if (!m_bLoaded) {
        return kPlaybackFailed;
    }
    if (m_llDuration <= 0) {
        // A stream that does not tell its length cannot be cut or stopped at a position.
        return MPV_ERROR_PROPERTY_UNAVAILABLE;
    }
    llDuration = m_llDuration;
    return kPlaybackOk;
}

int MpvPlaybackGraph::GetPositions(int64_t &llCurrent, int64_t &llStop) {
    if (!m_bLoaded) {
        return kPlaybackFailed;
    }
    if (m_llHeldPosition) {
        int iPaused = 0;
        if (mpv_get_property(m_pHandle.get(), "pause", MPV_FORMAT_FLAG, &iPaused) >= 0 && iPaused != 0) {
            m_llLastPosition = *m_llHeldPosition;
            llCurrent = m_llLastPosition;
            llStop = m_llStop;
            return kPlaybackOk;
        }
        m_llHeldPosition.reset();
    }
    double dSeconds = 0;
    const int iStatus = mpv_get_property(m_pHandle.get(), "time-pos", MPV_FORMAT_DOUBLE, &dSeconds);
    if (iStatus >= 0) {
        m_llLastPosition = std::clamp<int64_t>(MediaTimeOf(dSeconds), 0, m_llDuration);
    } else if (iStatus != MPV_ERROR_PROPERTY_UNAVAILABLE) {
        return iStatus;
    }
    // A playback that has stopped on a damaged stream has no position any more; it stays where it
    // stopped, rather than failing every poll of the position (which would mean an error box every
    // tick of the window's timer).
    llCurrent = m_llLastPosition;
    llStop = m_llStop;
    return kPlaybackOk;
}

int MpvPlaybackGraph::SetPositions(int64_t llCurrent, int64_t llStop) {
    if (!m_bLoaded) {
        return kPlaybackFailed;
    }
    if (llCurrent < 0 || llStop < 0) {
        return kPlaybackInvalidArgument;
    }
    llCurrent = std::min(llCurrent, m_llDuration);
    mpv_handle *h = m_pHandle.get();
    // The end option stops playback exactly there; it has to be in place before the seek lands.
    const std::string strEnd = llStop >= m_llDuration ? std::string("none") : SecondsText(llStop);
    int iStatus = mpv_set_property_string(h, "end", strEnd.c_str());
    if (iStatus < 0) {
        return iStatus;
    }
    m_llStop = std::min(llStop, m_llDuration);
    const std::string strTarget = SecondsText(llCurrent);
    const char *command[] = {"seek", strTarget.c_str(), "absolute+exact", nullptr};
    DrainSync();
    iStatus = mpv_command(h, command);
    if (iStatus < 0) {
        return iStatus;
    }
    // Once libmpv has taken the seek, the position reads the target: a position read right after this
    // call never shows the place playback came from.
    WaitForSync(MPV_EVENT_SEEK);
    int iPaused = 0;
    if (mpv_get_property(h, "pause", MPV_FORMAT_FLAG, &iPaused) >= 0 && iPaused != 0) {
        m_llHeldPosition = llCurrent;
    } else {
        m_llHeldPosition.reset();
    }
    return kPlaybackOk;
}

void MpvPlaybackGraph::DrainSync() {
    while (mpv_wait_event(m_pSync.get(), 0)->event_id != MPV_EVENT_NONE) {
    }
}

bool MpvPlaybackGraph::WaitForSync(mpv_event_id idWanted) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSeekWaitSeconds);
    for (;;) {
        const double dLeft =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (dLeft <= 0) {
            return false;
        }
        const mpv_event_id id = mpv_wait_event(m_pSync.get(), dLeft)->event_id;
        if (id == idWanted) {
            return true;
        }
        if (id == MPV_EVENT_END_FILE || id == MPV_EVENT_SHUTDOWN) {
            return false;
        }
    }
}

int MpvPlaybackGraph::SetAudioTrack(int nTrack) {
    // libmpv numbers the audio tracks of a file from 1 in file order, as the cut-info record does; a
    // number the file lacks plays no sound, so the best track stands in for it, as in the conversion.
    int64_t nCount = 0;
    const bool bKnown = m_bLoaded && mpv_get_property(m_pHandle.get(), "track-list/count", MPV_FORMAT_INT64, &nCount) >= 0;
    int nAudio = 0;
    for (int64_t i = 0; bKnown && i < nCount; ++i) {
        const std::string strKey = "track-list/" + std::to_string(i) + "/type";
        char *szType = mpv_get_property_string(m_pHandle.get(), strKey.c_str());
        nAudio += szType && std::string(szType) == "audio" ? 1 : 0;
        mpv_free(szType);
    }
    const bool bHasTrack = nTrack > 0 && (!bKnown || nTrack <= nAudio);
    const std::string strValue = bHasTrack ? std::to_string(nTrack) : "auto";
    return mpv_set_property_string(m_pHandle.get(), "aid", strValue.c_str());
}

int MpvPlaybackGraph::SetRate(double dRate) {
    if (!m_bLoaded) {
        return kPlaybackFailed;
    }
    if (!(dRate > 0)) {
        return kPlaybackInvalidArgument;
    }
    return mpv_set_property(m_pHandle.get(), "speed", MPV_FORMAT_DOUBLE, &dRate);
}

int MpvPlaybackGraph::GetRate(double &dRate) {
    if (!m_bLoaded) {
        return kPlaybackFailed;
    }
    return mpv_get_property(m_pHandle.get(), "speed", MPV_FORMAT_DOUBLE, &dRate);
}

int MpvPlaybackGraph::GetVolume(long &lVolume) {
    if (!m_bLoaded) {
        return kPlaybackFailed;
    }
    if (!m_bHasAudio) {
        return kPlaybackNotImplemented;
    }
    double dPercent = 0;
    const int iStatus = mpv_get_property(m_pHandle.get(), "volume", MPV_FORMAT_DOUBLE, &dPercent);
    if (iStatus < 0) {
        return iStatus;
    }
    lVolume = MpvPercentToVolume(dPercent);
    return kPlaybackOk;
}

int MpvPlaybackGraph::PutVolume(long lVolume) {
    if (!m_bLoaded) {
        return kPlaybackFailed;
    }
    if (!m_bHasAudio) {
        return kPlaybackNotImplemented;
    }
    if (lVolume < -10000 || lVolume > 0) {
        return kPlaybackInvalidArgument;
    }
    double dPercent = VolumeToMpvPercent(lVolume);
    return mpv_set_property(m_pHandle.get(), "volume", MPV_FORMAT_DOUBLE, &dPercent);
}

int MpvPlaybackGraph::GetVisible(bool &bVisible) {
    if (!m_bHasVideo) {
        return kPlaybackNoInterface;
    }
    bVisible = m_renderer.GetPlacement().bVisible;
    return kPlaybackOk;
}

int MpvPlaybackGraph::SetVisible(bool bVisible) {
    if (!m_bHasVideo) {
        return kPlaybackNoInterface;
    }
    m_renderer.UpdatePlacement([bVisible](VideoPlacement &placement) { placement.bVisible = bVisible; });
    return kPlaybackOk;
}

int MpvPlaybackGraph::GetNativeVideoSize(int &iWidth, int &iHeight) {
    if (!m_bHasVideo) {
        return kPlaybackNoInterface;
    }
    m_renderer.GetNativeSize(iWidth, iHeight);
    return kPlaybackOk;
}

int MpvPlaybackGraph::SetWindowPosition(int iLeft, int iTop, int iWidth, int iHeight) {
    if (!m_bHasVideo) {
        return kPlaybackNoInterface;
    }
    // A host too small to show anything leaves an empty area rather than a failure.
    m_renderer.UpdatePlacement([=](VideoPlacement &placement) {
        placement.iLeft = iLeft;
        placement.iTop = iTop;
        placement.iWidth = std::max(iWidth, 0);
        placement.iHeight = std::max(iHeight, 0);
    });
    return kPlaybackOk;
}

int MpvPlaybackGraph::GetFullScreenMode(bool &bFullScreen) {
    if (!m_bHasVideo) {
        return kPlaybackNoInterface;
    }
    bFullScreen = m_renderer.GetPlacement().bFullScreen;
    return kPlaybackOk;
}

int MpvPlaybackGraph::PutFullScreenMode(bool bFullScreen) {
    if (!m_bHasVideo) {
        return kPlaybackNoInterface;
    }
    m_renderer.UpdatePlacement(
        [bFullScreen](VideoPlacement &placement) { placement.bFullScreen = bFullScreen; });
    return kPlaybackOk;
}

int MpvPlaybackGraph::Step() {
    if (!m_bLoaded || !m_bHasVideo) {
        return kPlaybackNoInterface;
    }
    // A step taken while a seek is still settling would count the seek's own first picture as the
    // step and stay where it is, so the step waits for playback to have restarted.
    DrainSync();
    int iSeeking = 0;
    if (mpv_get_property(m_pHandle.get(), "seeking", MPV_FORMAT_FLAG, &iSeeking) >= 0 && iSeeking != 0) {
        WaitForSync(MPV_EVENT_PLAYBACK_RESTART);
    }
    m_llHeldPosition.reset();
    const char *command[] = {"frame-step", nullptr};
    return mpv_command(m_pHandle.get(), command);
}

int MpvPlaybackGraph::SetRegistration(const std::string &strSocketPath) {
    return mpv_set_property_string(m_pHandle.get(), "input-ipc-server", strSocketPath.c_str());
}

}  // namespace

double VolumeToMpvPercent(long lVolume) {
    if (lVolume <= -10000) {
        return 0.0;
    }
    return 100.0 * std::pow(10.0, static_cast<double>(std::min(lVolume, 0L)) / 6000.0);
}

long MpvPercentToVolume(double dPercent) {
    if (!(dPercent > 0)) {
        return -10000;
    }
    const long lVolume = std::lround(6000.0 * std::log10(dPercent / 100.0));
    return std::clamp(lVolume, -10000L, 0L);
}

int MpvPlaybackEngine::Startup() {
    // libmpv refuses to start under a locale whose decimal point is not ".".
    MpvHandle pProbe(mpv_create());
    return pProbe ? kPlaybackOk : kPlaybackFailed;
}

std::unique_ptr<IPlaybackGraph> MpvPlaybackEngine::CreateGraph(VideoSurface &surface, int &iStatus) {
    auto pGraph = std::make_unique<MpvPlaybackGraph>(surface);
    iStatus = pGraph->Create(m_options);
    if (iStatus < 0) {
        return nullptr;
    }
    return pGraph;
}

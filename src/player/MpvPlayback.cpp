#include "player/MpvPlayback.h"

#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/stream_cb.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

#include "common/BackgroundTasks.h"
#include "player/MpvEvents.h"
#include "player/MpvOpening.h"
#include "player/MpvPosition.h"
#include "player/MpvVideoRenderer.h"
#include "player/VideoSurface.h"

namespace klangor {

namespace {

struct MpvHandleDeleter {
    void operator()(mpv_handle *pHandle) const { mpv_terminate_destroy(pHandle); }
};
using MpvHandle = std::unique_ptr<mpv_handle, MpvHandleDeleter>;

constexpr uint64_t kObserveEof = 1;
// The reply to our own loadfile; other commands are sent without asking for their replies' meaning.
constexpr uint64_t kReplyLoad = 2;
constexpr uint64_t kReplyOther = 3;

std::string SecondsText(int64_t llMediaTime) {
    char sz[64];
    const double dSeconds = static_cast<double>(llMediaTime) / static_cast<double>(kMediaTimePerSecond);
    auto result = std::to_chars(sz, sz + sizeof(sz), dSeconds, std::chars_format::fixed, 7);
    return std::string(sz, result.ptr);
}

int64_t MediaTimeOf(double dSeconds) {
    return std::llround(dSeconds * static_cast<double>(kMediaTimePerSecond));
}

// Where libmpv reads a file made by a source of ours (IPlaybackSource).
constexpr const char *kSourceProtocol = "klangor-source";

// One opening of a source by libmpv: its read position, and whether libmpv has given up on it.
struct SourceStream {
    explicit SourceStream(std::shared_ptr<IPlaybackSource> pFrom) : pSource(std::move(pFrom)) {}
    std::shared_ptr<IPlaybackSource> pSource;
    uint64_t nOffset = 0;
    std::atomic<bool> bCancel{false};
};

// One playback: an mpv instance and the renderer that draws its pictures into the surface.
class MpvPlaybackGraph : public IPlaybackGraph {
public:
    explicit MpvPlaybackGraph(VideoSurface &surface) : m_surface(surface), m_renderer(surface) {}
    ~MpvPlaybackGraph() override;

    int Create(const MpvEngineOptions &options);
    int SetAudioTrack(int nTrack) override;

    int RenderFile(const std::string &strPath) override;
    int RenderSource(std::shared_ptr<IPlaybackSource> pSource) override;
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
    // Asks libmpv to load the file; the open completes or fails later, as an event.
    int StartOpen(const std::string &strUri);
    // The open's share of libmpv's events: the event that ends it (opened or failed), or none.
    std::optional<GraphEvent> OnOpeningEvent(const mpv_event &event);
    std::optional<GraphEvent> OnFileLoaded();
    GraphEvent Opened();
    GraphEvent OpenFailed(int iStatus);
    // A command whose outcome comes back as a reply event, so the window never waits on libmpv's core.
    int CommandAsync(const char **ppCommand);
    int SetPause(bool bPause);
    bool HasTrack(const char *pszKind) const;
    bool ReadDisplaySize();
    void SetNativeSize(int64_t llWidth, int64_t llHeight);

    static void OnWakeup(void *pContext);
    static int OnOpenSource(void *pContext, char *pszUri, mpv_stream_cb_info *pInfo);

    VideoSurface &m_surface;
    MpvHandle m_pHandle;
    MpvVideoRenderer m_renderer;

    std::function<void()> m_fnNotify;            // called by libmpv under its own wakeup lock
    std::shared_ptr<IPlaybackSource> m_pSource;  // read by libmpv's threads while open

    bool m_bLoaded = false;
    // Between loadfile and the open's end; after FILE_LOADED, a video clip still waits for its size.
    bool m_bOpening = false;
    bool m_bFileLoaded = false;
    // A step asked for while a seek settles; it goes once playback has restarted.
    bool m_bStepPending = false;
    // A seek was sent and its restart not yet seen.
    bool m_bSeekUnderWay = false;
    bool m_bSeekStarted = false;
    bool m_bHasVideo = false;
    bool m_bHasAudio = false;
    int64_t m_llDuration = 0;
    int64_t m_llStop = 0;
    // The playback was held while its sound ran, so the output's reported delay is that moment's.
    bool m_bOutputDelayStale = false;
    MpvEventTranslator m_events;
    PlaybackPosition m_position;
};

// Ending an mpv instance waits for its threads and outputs, a good part of a second: the instances
// that go end here, one after the other, and the program's end waits for the last of them. Whoever
// hands over an instance has unhooked everything of its own from it first.
class MpvReaper {
public:
    static MpvReaper &Get() {
        static MpvReaper reaper;
        return reaper;
    }
    ~MpvReaper() { m_tasks.Drain(); }
    void End(std::function<void()> fnFreeRender, MpvHandle pHandle,
             std::shared_ptr<IPlaybackSource> pSource) {
        // Clips chosen faster than instances end would pile them up, each holding its memory: past a
        // few, the next one waits its turn.
        {
            std::unique_lock lock(m_mutex);
            m_ended.wait(lock, [this] { return m_nEnding < kMaxEnding; });
            ++m_nEnding;
        }
        auto pDoomed = std::make_shared<MpvHandle>(std::move(pHandle));
        m_tasks.Run([this, fnFreeRender, pDoomed, pSource]() mutable {
            fnFreeRender();
            pDoomed->reset();
            // Read by the instance's threads until it has ended.
            pSource.reset();
            {
                std::lock_guard lock(m_mutex);
                --m_nEnding;
            }
            m_ended.notify_all();
        });
    }
    void Drain() { m_tasks.Drain(); }

private:
    static constexpr int kMaxEnding = 3;
    std::mutex m_mutex;
    std::condition_variable m_ended;
    int m_nEnding = 0;
    // Nothing comes back from an ending, so there is nothing to post.
    BackgroundTasks m_tasks{[](std::function<void()>) {}};
};

MpvPlaybackGraph::~MpvPlaybackGraph() {
    if (!m_pHandle) {
        return;
    }
    // Nothing of ours may be reached once we are gone: the wakeup first, then the renderer. Pausing
    // first means no picture is waiting to be drawn while the renderer goes down; stopping means no
    // stream of ours is opened again.
    mpv_set_wakeup_callback(m_pHandle.get(), nullptr, nullptr);
    const char *pause[] = {"set", "pause", "yes", nullptr};
    mpv_command_async(m_pHandle.get(), kReplyOther, pause);
    const char *stop[] = {"stop", nullptr};
    mpv_command_async(m_pHandle.get(), kReplyOther, stop);
    std::function<void()> fnFreeRender = m_renderer.StopAndHandOver();
    m_surface.Clear();
    MpvReaper::Get().End(std::move(fnFreeRender), std::move(m_pHandle), std::move(m_pSource));
}

int MpvPlaybackGraph::Create(const MpvEngineOptions &options) {
    m_pHandle.reset(mpv_create());
    if (!m_pHandle) {
        return kPlaybackFailed;
    }
    mpv_handle *h = m_pHandle.get();
    int iStatus = ApplyMpvSettings(h, options);
    if (iStatus < 0) {
        return iStatus;
    }
    iStatus = mpv_initialize(h);
    if (iStatus < 0) {
        return iStatus;
    }
    iStatus = m_renderer.Start(h);
    if (iStatus < 0) {
        return iStatus;
    }
    return mpv_observe_property(h, kObserveEof, "eof-reached", MPV_FORMAT_FLAG);
}

int MpvPlaybackGraph::RenderFile(const std::string &strPath) {
    if (m_bLoaded || m_bOpening) {
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
    return StartOpen(path.string());
}

int MpvPlaybackGraph::RenderSource(std::shared_ptr<IPlaybackSource> pSource) {
    if (m_bLoaded || m_bOpening || !pSource) {
        return kPlaybackFailed;
    }
    // The protocol lives as long as this playback's instance, which closes every stream of it before
    // mpv_terminate_destroy returns; the source is kept until then.
    m_pSource = std::move(pSource);
    const int iStatus =
        mpv_stream_cb_add_ro(m_pHandle.get(), kSourceProtocol, this, &MpvPlaybackGraph::OnOpenSource);
    if (iStatus < 0) {
        return iStatus;
    }
    return StartOpen(std::string(kSourceProtocol) + "://clip");
}

int MpvPlaybackGraph::OnOpenSource(void *pContext, char * /*pszUri*/, mpv_stream_cb_info *pInfo) {
    auto *pGraph = static_cast<MpvPlaybackGraph *>(pContext);
    // Owned by libmpv from here until it closes the stream. Nothing may be thrown into libmpv.
    try {
        pInfo->cookie = std::make_unique<SourceStream>(pGraph->m_pSource).release();
    } catch (const std::bad_alloc &) {
        return MPV_ERROR_LOADING_FAILED;
    }
    pInfo->read_fn = [](void *pCookie, char *pBuffer, uint64_t nBytes) -> int64_t {
        auto *p = static_cast<SourceStream *>(pCookie);
        int64_t nRead = -1;
        try {
            nRead = p->pSource->ReadAt(p->nOffset, reinterpret_cast<uint8_t *>(pBuffer), nBytes, p->bCancel);
        } catch (const std::bad_alloc &) {
        }
        p->nOffset += nRead > 0 ? static_cast<uint64_t>(nRead) : 0;
        return nRead < 0 ? -1 : nRead;
    };
    pInfo->seek_fn = [](void *pCookie, int64_t nOffset) -> int64_t {
        // Only remembered: the read that follows, if any, makes what is there.
        auto *p = static_cast<SourceStream *>(pCookie);
        if (nOffset < 0) {
            return MPV_ERROR_GENERIC;
        }
        p->nOffset = static_cast<uint64_t>(nOffset);
        return nOffset;
    };
    pInfo->size_fn = [](void *pCookie) -> int64_t {
        return static_cast<int64_t>(static_cast<SourceStream *>(pCookie)->pSource->Size());
    };
    pInfo->close_fn = [](void *pCookie) {
        std::unique_ptr<SourceStream>(static_cast<SourceStream *>(pCookie));
    };
    pInfo->cancel_fn = [](void *pCookie) { static_cast<SourceStream *>(pCookie)->bCancel = true; };
    return 0;
}

int MpvPlaybackGraph::StartOpen(const std::string &strUri) {
    const char *command[] = {"loadfile", strUri.c_str(), "replace", nullptr};
    const int iStatus = mpv_command_async(m_pHandle.get(), kReplyLoad, command);
    if (iStatus < 0) {
        return iStatus;
    }
    m_bOpening = true;
    m_bFileLoaded = false;
    return kPlaybackOk;
}

std::optional<GraphEvent> MpvPlaybackGraph::OnOpeningEvent(const mpv_event &event) {
    switch (event.event_id) {
        case MPV_EVENT_COMMAND_REPLY:
            if (event.reply_userdata == kReplyLoad && event.error < 0) {
                return OpenFailed(event.error);
            }
            return std::nullopt;
        case MPV_EVENT_FILE_LOADED:
            return OnFileLoaded();
        case MPV_EVENT_VIDEO_RECONFIG:
            if (m_bFileLoaded && ReadDisplaySize()) {
                return Opened();
            }
            return std::nullopt;
        case MPV_EVENT_PLAYBACK_RESTART:
            // The first picture is decoded: a broken video stream that still tells no size never will,
            // and the container's size has to do.
            if (m_bFileLoaded) {
                if (!ReadDisplaySize()) {
                    int64_t llWidth = 0, llHeight = 0;
                    mpv_get_property(m_pHandle.get(), "width", MPV_FORMAT_INT64, &llWidth);
                    mpv_get_property(m_pHandle.get(), "height", MPV_FORMAT_INT64, &llHeight);
                    SetNativeSize(llWidth, llHeight);
                }
                return Opened();
            }
            return std::nullopt;
        case MPV_EVENT_END_FILE: {
            const auto *pEnd = static_cast<const mpv_event_end_file *>(event.data);
            return OpenFailed(pEnd->reason == MPV_END_FILE_REASON_ERROR && pEnd->error < 0
                                  ? pEnd->error
                                  : MPV_ERROR_NOTHING_TO_PLAY);
        }
        case MPV_EVENT_SHUTDOWN:
            return OpenFailed(kPlaybackFailed);
        default:
            return std::nullopt;
    }
}

std::optional<GraphEvent> MpvPlaybackGraph::OnFileLoaded() {
    m_bHasVideo = HasTrack("video");
    m_bHasAudio = HasTrack("audio");
    if (!m_bHasVideo && !m_bHasAudio) {
        return OpenFailed(MPV_ERROR_NOTHING_TO_PLAY);
    }
    double dDuration = 0;
    if (mpv_get_property(m_pHandle.get(), "duration", MPV_FORMAT_DOUBLE, &dDuration) >= 0 && dDuration > 0) {
        m_llDuration = MediaTimeOf(dDuration);
    }
    m_position.SetDuration(m_llDuration);
    m_llStop = m_llDuration;
    m_bFileLoaded = true;
    // The display size (pixel aspect applied) is known once the first picture is decoded.
    if (m_bHasVideo && !ReadDisplaySize()) {
        return std::nullopt;
    }
    return Opened();
}

GraphEvent MpvPlaybackGraph::Opened() {
    if (m_bHasVideo) {
        m_renderer.UpdatePlacement([](VideoPlacement &placement) { placement.bVisible = true; });
    }
    m_bOpening = false;
    m_bLoaded = true;
    return GraphEvent{kEventOpened, 0, 0};
}

GraphEvent MpvPlaybackGraph::OpenFailed(int iStatus) {
    m_bOpening = false;
    m_bFileLoaded = false;
    m_bHasVideo = m_bHasAudio = false;
    // Nothing the failed file sends afterwards is a playback's event.
    m_events.Lose();
    return GraphEvent{kEventOpenFailed, iStatus, 0};
}

bool MpvPlaybackGraph::HasTrack(const char *pszKind) const {
    const std::string strName = std::string("current-tracks/") + pszKind + "/id";
    int64_t llId = 0;
    return mpv_get_property(m_pHandle.get(), strName.c_str(), MPV_FORMAT_INT64, &llId) >= 0;
}

bool MpvPlaybackGraph::ReadDisplaySize() {
    int64_t llWidth = 0, llHeight = 0;
    if (mpv_get_property(m_pHandle.get(), "dwidth", MPV_FORMAT_INT64, &llWidth) < 0 ||
        mpv_get_property(m_pHandle.get(), "dheight", MPV_FORMAT_INT64, &llHeight) < 0 || llWidth <= 0 ||
        llHeight <= 0) {
        return false;
    }
    SetNativeSize(llWidth, llHeight);
    return true;
}

int MpvPlaybackGraph::CommandAsync(const char **ppCommand) {
    return mpv_command_async(m_pHandle.get(), kReplyOther, ppCommand);
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
        m_position.OnMoving();
    } else {
        int iPaused = 0;
        if (mpv_get_property(m_pHandle.get(), "pause", MPV_FORMAT_FLAG, &iPaused) >= 0 && iPaused == 0) {
            m_bOutputDelayStale = m_bHasAudio;
        }
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
        if (pEvent->event_id == MPV_EVENT_NONE) {
            return false;
        }
        if (m_bOpening) {
            if (const std::optional<GraphEvent> ended = OnOpeningEvent(*pEvent)) {
                event = *ended;
                return true;
            }
            continue;
        }
        std::optional<GraphEvent> translated;
        switch (pEvent->event_id) {
            case MPV_EVENT_COMMAND_REPLY:
                break;
            case MPV_EVENT_SEEK:
                m_bSeekStarted = true;
                translated = m_events.OnOther(static_cast<long>(pEvent->event_id));
                break;
            case MPV_EVENT_PLAYBACK_RESTART:
                // Only a restart after the last seek sent began is that seek's landing; an earlier
                // one (the open's own, a seek it replaced) still leaves it under way.
                if (m_bSeekUnderWay && !m_bSeekStarted) {
                    translated = m_events.OnOther(static_cast<long>(pEvent->event_id));
                    break;
                }
                m_bSeekUnderWay = false;
                m_position.OnLanded();
                if (m_bStepPending) {
                    m_bStepPending = false;
                    const char *step[] = {"frame-step", nullptr};
                    CommandAsync(step);
                }
                translated = m_events.OnOther(static_cast<long>(pEvent->event_id));
                break;
            case MPV_EVENT_PROPERTY_CHANGE: {
                const auto *pProperty = static_cast<const mpv_event_property *>(pEvent->data);
                if (pEvent->reply_userdata == kObserveEof && pProperty->format == MPV_FORMAT_FLAG) {
                    translated = m_events.OnEofReached(*static_cast<const int *>(pProperty->data) != 0);
                }
                break;
            }
            case MPV_EVENT_END_FILE: {
                const auto *pEnd = static_cast<const mpv_event_end_file *>(pEvent->data);
                translated = m_events.OnEndFile(pEnd->reason, pEnd->error);
                break;
            }
            case MPV_EVENT_SHUTDOWN:
                translated = m_events.OnShutdown();
                break;
            case MPV_EVENT_LOG_MESSAGE:
                break;
            default:
                translated = m_events.OnOther(static_cast<long>(pEvent->event_id));
                break;
        }
        if (translated) {
            event = *translated;
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
    int iPaused = 0;
    const bool bHeld =
        mpv_get_property(m_pHandle.get(), "pause", MPV_FORMAT_FLAG, &iPaused) >= 0 && iPaused != 0;
    double dSeconds = 0;
    const int iStatus = mpv_get_property(m_pHandle.get(), "time-pos", MPV_FORMAT_DOUBLE, &dSeconds);
    if (iStatus < 0 && iStatus != MPV_ERROR_PROPERTY_UNAVAILABLE) {
        return iStatus;
    }
    llCurrent = m_position.Read(iStatus >= 0 ? std::optional<double>(dSeconds) : std::nullopt, bHeld);
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
    const char *end[] = {"set", "end", strEnd.c_str(), nullptr};
    int iStatus = CommandAsync(end);
    if (iStatus < 0) {
        return iStatus;
    }
    m_llStop = std::min(llStop, m_llDuration);
    int iHeld = 0;
    const bool bHeld = mpv_get_property(h, "pause", MPV_FORMAT_FLAG, &iHeld) >= 0 && iHeld != 0;
    if (bHeld && m_bOutputDelayStale) {
        // A held audio output goes on reporting the delay it had when it was held, and libmpv takes
        // that for sound still to come after a seek has emptied it: the playback would stand short of
        // the target by the output's buffer (a fifth of a second) until it runs again, for every
        // outside reader too, although the sound then starts at the target. A fresh output has no
        // such delay, and the seek below supersedes the one the reload queues.
        const char *reload[] = {"ao-reload", nullptr};
        if (CommandAsync(reload) >= 0) {
            m_bOutputDelayStale = false;
        }
    }
    const std::string strTarget = SecondsText(llCurrent);
    const char *command[] = {"seek", strTarget.c_str(), "absolute+exact", nullptr};
    // libmpv keeps one seek waiting at most: a seek sent before the last one is done replaces it.
    iStatus = CommandAsync(command);
    if (iStatus < 0) {
        return iStatus;
    }
    // The position reads the target from here on, while held; a running clip reports libmpv's time,
    // which reaches the target as soon as the seek lands.
    m_position.OnSeek(llCurrent, bHeld);
    m_bSeekUnderWay = true;
    m_bSeekStarted = false;
    return kPlaybackOk;
}

int MpvPlaybackGraph::SetAudioTrack(int nTrack) {
    // libmpv numbers the audio tracks of a file from 1 in file order, as the cut-info record does; a
    // number the file lacks plays no sound, so the best track stands in for it, as in the conversion.
    int64_t nCount = 0;
    const bool bKnown =
        m_bLoaded && mpv_get_property(m_pHandle.get(), "track-list/count", MPV_FORMAT_INT64, &nCount) >= 0;
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
    m_position.OnMoving();
    // The step holds the playback again once its frame is shown, with the sound's delay of that moment.
    m_bOutputDelayStale = m_bHasAudio;
    // A step taken while a seek is still settling would count the seek's own first picture as the
    // step and stay where it is, so it goes once playback has restarted; steps asked for meanwhile
    // come to one.
    if (m_bSeekUnderWay) {
        m_bStepPending = true;
        return kPlaybackOk;
    }
    const char *command[] = {"frame-step", nullptr};
    return CommandAsync(command);
}

int MpvPlaybackGraph::SetRegistration(const std::string &strSocketPath) {
    return mpv_set_property_string(m_pHandle.get(), "input-ipc-server", strSocketPath.c_str());
}

}  // namespace

void WaitForEndingPlaybacks() {
    MpvReaper::Get().Drain();
}

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
    // libmpv refuses to start under a locale whose decimal point is not "."; and an engine that cannot
    // be initialised here cannot open any clip later, so the probe goes as far as every playback does.
    MpvHandle pProbe(mpv_create());
    if (!pProbe) {
        return kPlaybackFailed;
    }
    const int iStatus = ApplyMpvSettings(pProbe.get(), m_options);
    if (iStatus < 0) {
        return iStatus;
    }
    return mpv_initialize(pProbe.get());
}

std::unique_ptr<IPlaybackGraph> MpvPlaybackEngine::CreateGraph(VideoSurface &surface, int &iStatus) {
    auto pGraph = std::make_unique<MpvPlaybackGraph>(surface);
    iStatus = pGraph->Create(m_options);
    if (iStatus < 0) {
        return nullptr;
    }
    return pGraph;
}

}  // namespace klangor

#include "player/MpvPlayback.h"

#include <mpv/client.h>
#include <mpv/render.h>

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

#include "player/MpvEvents.h"
#include "player/MpvCore.h"
#include "player/MpvPosition.h"
#include "player/MpvVideoRenderer.h"
#include "player/VideoSurface.h"

namespace klangor {

namespace {

// What the reply to a command of ours answers: the kind in the low bits, the playback's generation
// above them, so that a reply for a clip closed meanwhile is nobody's.
constexpr uint64_t kReplyLoad = 2;
constexpr uint64_t kReplyOther = 3;

uint64_t ReplyCode(uint64_t nGeneration, uint64_t nKind) {
    return nGeneration << 2 | nKind;
}

std::string SecondsText(int64_t llMediaTime) {
    char sz[64];
    const double dSeconds = static_cast<double>(llMediaTime) / static_cast<double>(kMediaTimePerSecond);
    auto result = std::to_chars(sz, sz + sizeof(sz), dSeconds, std::chars_format::fixed, 7);
    return std::string(sz, result.ptr);
}

int64_t MediaTimeOf(double dSeconds) {
    return std::llround(dSeconds * static_cast<double>(kMediaTimePerSecond));
}

// One clip's playback: a generation of the player's one mpv instance. It takes as its own only the
// events that come after the reply to its loadfile and belong to its playlist entry, so nothing the
// clip before still sends is read as this one's.
class MpvPlaybackGraph : public IPlaybackGraph {
public:
    explicit MpvPlaybackGraph(std::shared_ptr<MpvCore> pCore)
        : m_pCore(std::move(pCore)), m_pHandle(m_pCore->Handle()), m_nGeneration(m_pCore->BeginPlayback()) {}
    ~MpvPlaybackGraph() override { m_pCore->EndPlayback(m_nGeneration); }

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

    uintptr_t GetReference() const override { return reinterpret_cast<uintptr_t>(m_pHandle); }
    int SetRegistration(const std::string &strSocketPath) override;

private:
    // Whether this playback still owns the instance: a later one makes it stale, as does its close.
    bool IsCurrent() const { return m_pCore->IsCurrent(m_nGeneration) && !m_pCore->IsShutDown(); }
    bool Usable() const { return m_bLoaded && IsCurrent(); }
    // Asks libmpv to load the file; the open completes or fails later, as an event.
    int StartOpen(const std::string &strUri);
    // Whether the event belongs to this playback's file; notes the entry and its start on the way.
    bool IsOwnEvent(const mpv_event &event);
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

    MpvVideoRenderer &Renderer() { return m_pCore->Renderer(); }

    const std::shared_ptr<MpvCore> m_pCore;
    mpv_handle *const m_pHandle;
    const uint64_t m_nGeneration;
    // libmpv's playlist entry of this playback's file, once the loadfile's reply has told it; and
    // whether that entry has started, from which on the events are the file's own.
    int64_t m_llEntry = -1;
    bool m_bEntryStarted = false;
    std::string m_strAudioTrack = "auto";  // the track chosen last
    std::string m_strAudioTrackSent;       // the one that went with the loadfile

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

    MpvEventTranslator m_events;
    PlaybackPosition m_position;
};

int MpvPlaybackGraph::RenderFile(const std::string &strPath) {
    if (m_bLoaded || m_bOpening || !IsCurrent()) {
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
    if (m_bLoaded || m_bOpening || !pSource || !IsCurrent()) {
        return kPlaybackFailed;
    }
    return StartOpen(m_pCore->ExposeSource(std::move(pSource)));
}

int MpvPlaybackGraph::StartOpen(const std::string &strUri) {
    // The clip's own settings hold for its file only: libmpv puts back what was there before once the
    // file ends, so the next clip starts held, without a stop position and with its own track.
    m_strAudioTrackSent = m_strAudioTrack;
    const std::string strOptions = "pause=yes,end=none,aid=" + m_strAudioTrack;
    const char *command[] = {"loadfile", strUri.c_str(), "replace", strOptions.c_str(), nullptr};
    const int iStatus = mpv_command_async(m_pHandle, ReplyCode(m_nGeneration, kReplyLoad), command);
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
            if (event.reply_userdata == ReplyCode(m_nGeneration, kReplyLoad) && event.error < 0) {
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
                    mpv_get_property(m_pHandle, "width", MPV_FORMAT_INT64, &llWidth);
                    mpv_get_property(m_pHandle, "height", MPV_FORMAT_INT64, &llHeight);
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
            m_pCore->MarkShutDown();
            return OpenFailed(kPlaybackFailed);
        default:
            return std::nullopt;
    }
}

bool MpvPlaybackGraph::IsOwnEvent(const mpv_event &event) {
    switch (event.event_id) {
        case MPV_EVENT_COMMAND_REPLY:
            if (event.reply_userdata == ReplyCode(m_nGeneration, kReplyLoad) && event.error >= 0) {
                const auto *pReply = static_cast<const mpv_event_command *>(event.data);
                const mpv_node &result = pReply->result;
                for (int i = 0; result.format == MPV_FORMAT_NODE_MAP && i < result.u.list->num; ++i) {
                    if (std::string_view(result.u.list->keys[i]) == "playlist_entry_id" &&
                        result.u.list->values[i].format == MPV_FORMAT_INT64) {
                        m_llEntry = result.u.list->values[i].u.int64;
                    }
                }
            }
            return (event.reply_userdata >> 2) == m_nGeneration;
        case MPV_EVENT_START_FILE:
            m_bEntryStarted =
                m_bEntryStarted ||
                (m_llEntry >= 0 &&
                 static_cast<const mpv_event_start_file *>(event.data)->playlist_entry_id == m_llEntry);
            return false;
        case MPV_EVENT_END_FILE:
            return m_bEntryStarted &&
                   static_cast<const mpv_event_end_file *>(event.data)->playlist_entry_id == m_llEntry;
        case MPV_EVENT_SHUTDOWN:
            // The instance itself is gone, whichever file it was playing.
            return true;
        default:
            return m_bEntryStarted;
    }
}

std::optional<GraphEvent> MpvPlaybackGraph::OnFileLoaded() {
    if (m_strAudioTrack != m_strAudioTrackSent) {
        mpv_set_property_string(m_pHandle, "aid", m_strAudioTrack.c_str());
    }
    m_bHasVideo = HasTrack("video");
    m_bHasAudio = HasTrack("audio");
    if (!m_bHasVideo && !m_bHasAudio) {
        return OpenFailed(MPV_ERROR_NOTHING_TO_PLAY);
    }
    double dDuration = 0;
    if (mpv_get_property(m_pHandle, "duration", MPV_FORMAT_DOUBLE, &dDuration) >= 0 && dDuration > 0) {
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
        Renderer().UpdatePlacement([](VideoPlacement &placement) { placement.bVisible = true; });
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
    return mpv_get_property(m_pHandle, strName.c_str(), MPV_FORMAT_INT64, &llId) >= 0;
}

bool MpvPlaybackGraph::ReadDisplaySize() {
    int64_t llWidth = 0, llHeight = 0;
    if (mpv_get_property(m_pHandle, "dwidth", MPV_FORMAT_INT64, &llWidth) < 0 ||
        mpv_get_property(m_pHandle, "dheight", MPV_FORMAT_INT64, &llHeight) < 0 || llWidth <= 0 ||
        llHeight <= 0) {
        return false;
    }
    SetNativeSize(llWidth, llHeight);
    return true;
}

int MpvPlaybackGraph::CommandAsync(const char **ppCommand) {
    return mpv_command_async(m_pHandle, ReplyCode(m_nGeneration, kReplyOther), ppCommand);
}

void MpvPlaybackGraph::SetNativeSize(int64_t llWidth, int64_t llHeight) {
    Renderer().SetNativeSize(static_cast<int>(std::clamp<int64_t>(llWidth, 0, INT32_MAX)),
                             static_cast<int>(std::clamp<int64_t>(llHeight, 0, INT32_MAX)));
}

int MpvPlaybackGraph::SetPause(bool bPause) {
    if (!Usable()) {
        return kPlaybackFailed;
    }
    int iFlag = bPause ? 1 : 0;
    if (!bPause) {
        m_position.OnMoving();
    } else {
        int iPaused = 0;
        if (mpv_get_property(m_pHandle, "pause", MPV_FORMAT_FLAG, &iPaused) >= 0 && iPaused == 0) {
            m_pCore->SetOutputDelayStale(m_bHasAudio);
        }
    }
    return mpv_set_property(m_pHandle, "pause", MPV_FORMAT_FLAG, &iFlag);
}

int MpvPlaybackGraph::SetNotify(std::function<void()> fnNotify) {
    if (IsCurrent()) {
        m_pCore->SetNotify(std::move(fnNotify));
    }
    return kPlaybackOk;
}

bool MpvPlaybackGraph::GetEvent(GraphEvent &event) {
    // A stale playback reads nothing: the events waiting are the current one's.
    while (IsCurrent()) {
        mpv_event *pEvent = mpv_wait_event(m_pHandle, 0);
        if (pEvent->event_id == MPV_EVENT_NONE) {
            return false;
        }
        if (!IsOwnEvent(*pEvent)) {
            continue;
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
                if (pEvent->reply_userdata == MpvCore::kObserveEof && pProperty->format == MPV_FORMAT_FLAG) {
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
                m_pCore->MarkShutDown();
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
    return false;
}

int MpvPlaybackGraph::GetDuration(int64_t &llDuration) {
    if (!Usable()) {
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
    if (!Usable()) {
        return kPlaybackFailed;
    }
    int iPaused = 0;
    const bool bHeld = mpv_get_property(m_pHandle, "pause", MPV_FORMAT_FLAG, &iPaused) >= 0 && iPaused != 0;
    double dSeconds = 0;
    const int iStatus = mpv_get_property(m_pHandle, "time-pos", MPV_FORMAT_DOUBLE, &dSeconds);
    if (iStatus < 0 && iStatus != MPV_ERROR_PROPERTY_UNAVAILABLE) {
        return iStatus;
    }
    llCurrent = m_position.Read(iStatus >= 0 ? std::optional<double>(dSeconds) : std::nullopt, bHeld);
    llStop = m_llStop;
    return kPlaybackOk;
}

int MpvPlaybackGraph::SetPositions(int64_t llCurrent, int64_t llStop) {
    if (!Usable()) {
        return kPlaybackFailed;
    }
    if (llCurrent < 0 || llStop < 0) {
        return kPlaybackInvalidArgument;
    }
    llCurrent = std::min(llCurrent, m_llDuration);
    mpv_handle *h = m_pHandle;
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
    if (bHeld && m_pCore->IsOutputDelayStale()) {
        // A held audio output goes on reporting the delay it had when it was held, and libmpv takes
        // that for sound still to come after a seek has emptied it: the playback would stand short of
        // the target by the output's buffer (a fifth of a second) until it runs again, for every
        // outside reader too, although the sound then starts at the target. A fresh output has no
        // such delay, and the seek below supersedes the one the reload queues.
        const char *reload[] = {"ao-reload", nullptr};
        if (CommandAsync(reload) >= 0) {
            m_pCore->SetOutputDelayStale(false);
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
    if (!IsCurrent()) {
        return kPlaybackFailed;
    }
    // libmpv numbers the audio tracks of a file from 1 in file order, as the cut-info record does; a
    // number the file lacks plays no sound, so the best track stands in for it, as in the conversion.
    int64_t nCount = 0;
    const bool bKnown =
        m_bLoaded && mpv_get_property(m_pHandle, "track-list/count", MPV_FORMAT_INT64, &nCount) >= 0;
    int nAudio = 0;
    for (int64_t i = 0; bKnown && i < nCount; ++i) {
        const std::string strKey = "track-list/" + std::to_string(i) + "/type";
        char *szType = mpv_get_property_string(m_pHandle, strKey.c_str());
        nAudio += szType && std::string(szType) == "audio" ? 1 : 0;
        mpv_free(szType);
    }
    const bool bHasTrack = nTrack > 0 && (!bKnown || nTrack <= nAudio);
    m_strAudioTrack = bHasTrack ? std::to_string(nTrack) : "auto";
    // Until the file is loaded, the choice goes with the loadfile, or is made once the file has
    // loaded: set now, the loadfile's own value would replace it as the file starts.
    if (!m_bLoaded && !m_bFileLoaded) {
        return kPlaybackOk;
    }
    return mpv_set_property_string(m_pHandle, "aid", m_strAudioTrack.c_str());
}

int MpvPlaybackGraph::SetRate(double dRate) {
    if (!Usable()) {
        return kPlaybackFailed;
    }
    if (!(dRate > 0)) {
        return kPlaybackInvalidArgument;
    }
    return mpv_set_property(m_pHandle, "speed", MPV_FORMAT_DOUBLE, &dRate);
}

int MpvPlaybackGraph::GetRate(double &dRate) {
    if (!Usable()) {
        return kPlaybackFailed;
    }
    return mpv_get_property(m_pHandle, "speed", MPV_FORMAT_DOUBLE, &dRate);
}

int MpvPlaybackGraph::GetVolume(long &lVolume) {
    if (!Usable()) {
        return kPlaybackFailed;
    }
    if (!m_bHasAudio) {
        return kPlaybackNotImplemented;
    }
    double dPercent = 0;
    const int iStatus = mpv_get_property(m_pHandle, "volume", MPV_FORMAT_DOUBLE, &dPercent);
    if (iStatus < 0) {
        return iStatus;
    }
    lVolume = MpvPercentToVolume(dPercent);
    return kPlaybackOk;
}

int MpvPlaybackGraph::PutVolume(long lVolume) {
    if (!Usable()) {
        return kPlaybackFailed;
    }
    if (!m_bHasAudio) {
        return kPlaybackNotImplemented;
    }
    if (lVolume < -10000 || lVolume > 0) {
        return kPlaybackInvalidArgument;
    }
    double dPercent = VolumeToMpvPercent(lVolume);
    return mpv_set_property(m_pHandle, "volume", MPV_FORMAT_DOUBLE, &dPercent);
}

int MpvPlaybackGraph::GetVisible(bool &bVisible) {
    if (!m_bHasVideo || !IsCurrent()) {
        return kPlaybackNoInterface;
    }
    bVisible = Renderer().GetPlacement().bVisible;
    return kPlaybackOk;
}

int MpvPlaybackGraph::SetVisible(bool bVisible) {
    if (!m_bHasVideo || !IsCurrent()) {
        return kPlaybackNoInterface;
    }
    Renderer().UpdatePlacement([bVisible](VideoPlacement &placement) { placement.bVisible = bVisible; });
    return kPlaybackOk;
}

int MpvPlaybackGraph::GetNativeVideoSize(int &iWidth, int &iHeight) {
    if (!m_bHasVideo || !IsCurrent()) {
        return kPlaybackNoInterface;
    }
    Renderer().GetNativeSize(iWidth, iHeight);
    return kPlaybackOk;
}

int MpvPlaybackGraph::SetWindowPosition(int iLeft, int iTop, int iWidth, int iHeight) {
    if (!m_bHasVideo || !IsCurrent()) {
        return kPlaybackNoInterface;
    }
    // A host too small to show anything leaves an empty area rather than a failure.
    Renderer().UpdatePlacement([=](VideoPlacement &placement) {
        placement.iLeft = iLeft;
        placement.iTop = iTop;
        placement.iWidth = std::max(iWidth, 0);
        placement.iHeight = std::max(iHeight, 0);
    });
    return kPlaybackOk;
}

int MpvPlaybackGraph::GetFullScreenMode(bool &bFullScreen) {
    if (!m_bHasVideo || !IsCurrent()) {
        return kPlaybackNoInterface;
    }
    bFullScreen = Renderer().GetPlacement().bFullScreen;
    return kPlaybackOk;
}

int MpvPlaybackGraph::PutFullScreenMode(bool bFullScreen) {
    if (!m_bHasVideo || !IsCurrent()) {
        return kPlaybackNoInterface;
    }
    Renderer().UpdatePlacement(
        [bFullScreen](VideoPlacement &placement) { placement.bFullScreen = bFullScreen; });
    return kPlaybackOk;
}

int MpvPlaybackGraph::Step() {
    if (!Usable() || !m_bHasVideo) {
        return kPlaybackNoInterface;
    }
    m_position.OnMoving();
    // The step holds the playback again once its frame is shown, with the sound's delay of that moment.
    m_pCore->SetOutputDelayStale(m_bHasAudio);
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
    if (!IsCurrent()) {
        return kPlaybackFailed;
    }
    return mpv_set_property_string(m_pHandle, "input-ipc-server", strSocketPath.c_str());
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

MpvPlaybackEngine::~MpvPlaybackEngine() = default;

int MpvPlaybackEngine::Startup() {
    // libmpv refuses to start under a locale whose decimal point is not "."; and an engine that cannot
    // be initialised here cannot open any clip later. The instance made here plays every clip.
    int iStatus = kPlaybackOk;
    m_pCore = MpvCore::Create(m_options, iStatus);
    return m_pCore ? kPlaybackOk : iStatus;
}

std::unique_ptr<IPlaybackGraph> MpvPlaybackEngine::CreateGraph(VideoSurface &surface, int &iStatus) {
    // An instance quit from outside plays no more; one drawing elsewhere cannot draw here.
    if (!m_pCore || m_pCore->IsShutDown() ||
        (m_pCore->Surface() != nullptr && m_pCore->Surface() != &surface)) {
        m_pCore.reset();
        iStatus = kPlaybackOk;
        m_pCore = MpvCore::Create(m_options, iStatus);
        if (!m_pCore) {
            return nullptr;
        }
    }
    iStatus = m_pCore->AttachSurface(surface);
    if (iStatus < 0) {
        return nullptr;
    }
    return std::make_unique<MpvPlaybackGraph>(m_pCore);
}

}  // namespace klangor

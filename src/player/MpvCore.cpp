#include "player/MpvCore.h"

#include <mpv/client.h>
#include <mpv/stream_cb.h>

#include <charconv>
#include <new>
#include <string_view>

#include "player/MpvOpening.h"
#include "player/PlaybackGraph.h"
#include "player/VideoSurface.h"

namespace klangor {

namespace {

// Where libmpv reads a file made by a source of ours (IPlaybackSource): kSourceProtocol://GENERATION.
constexpr const char *kSourceProtocol = "klangor-source";

// One opening of a source by libmpv: its read position, and whether libmpv has given up on it.
struct SourceStream {
    explicit SourceStream(std::shared_ptr<IPlaybackSource> pFrom) : pSource(std::move(pFrom)) {}
    std::shared_ptr<IPlaybackSource> pSource;
    uint64_t nOffset = 0;
    std::atomic<bool> bCancel{false};
};

}  // namespace

std::unique_ptr<MpvCore> MpvCore::Create(const MpvEngineOptions &options, int &iStatus) {
    std::unique_ptr<MpvCore> pCore(new MpvCore());
    pCore->m_pHandle = mpv_create();
    if (pCore->m_pHandle == nullptr) {
        iStatus = kPlaybackFailed;
        return nullptr;
    }
    mpv_handle *h = pCore->m_pHandle;
    iStatus = ApplyMpvSettings(h, options);
    if (iStatus >= 0) {
        iStatus = mpv_initialize(h);
    }
    if (iStatus >= 0) {
        iStatus = mpv_observe_property(h, kObserveEof, "eof-reached", MPV_FORMAT_FLAG);
    }
    if (iStatus >= 0) {
        // The protocol lives as long as the instance, which closes every stream of it before
        // mpv_terminate_destroy returns.
        iStatus = mpv_stream_cb_add_ro(h, kSourceProtocol, pCore.get(), &MpvCore::OnOpenSource);
    }
    if (iStatus < 0) {
        return nullptr;
    }
    mpv_set_wakeup_callback(h, &MpvCore::OnWakeup, pCore.get());
    return pCore;
}

int MpvCore::AttachSurface(VideoSurface &surface) {
    if (m_pRenderer) {
        return m_pSurface == &surface ? 0 : kPlaybackFailed;
    }
    auto pRenderer = std::make_unique<MpvVideoRenderer>(surface);
    const int iStatus = pRenderer->Start(m_pHandle);
    if (iStatus < 0) {
        return iStatus;
    }
    m_pRenderer = std::move(pRenderer);
    m_pSurface = &surface;
    return 0;
}

MpvCore::~MpvCore() {
    if (m_pHandle == nullptr) {
        return;
    }
    // Nothing of ours may be reached once we are gone: the wakeup first, then the renderer, whose
    // context must be freed before the instance ends.
    mpv_set_wakeup_callback(m_pHandle, nullptr, nullptr);
    const char *stop[] = {"stop", nullptr};
    mpv_command(m_pHandle, stop);
    if (m_pRenderer) {
        m_pRenderer->Stop();
    }
    mpv_terminate_destroy(m_pHandle);
}

uint64_t MpvCore::BeginPlayback() {
    ++m_nGeneration;
    LetGo();
    return m_nGeneration;
}

void MpvCore::EndPlayback(uint64_t nGeneration) {
    if (!IsCurrent(nGeneration)) {
        return;
    }
    // A new generation, so that nothing the closed file still sends reaches a playback; the next
    // clip's loadfile would replace the file anyway, the stop lets its decoders go now.
    ++m_nGeneration;
    LetGo();
    // The pause below may hold a running output, which the next file of its format goes on using.
    m_bOutputDelayStale = true;
    const char *pause[] = {"set", "pause", "yes", nullptr};
    mpv_command_async(m_pHandle, 0, pause);
    const char *stop[] = {"stop", nullptr};
    mpv_command_async(m_pHandle, 0, stop);
}

void MpvCore::LetGo() {
    {
        std::lock_guard lock(m_mutex);
        m_fnNotify = nullptr;
        // Streams libmpv still has open keep the source they read.
        m_pSource.reset();
        m_nSourceGeneration = 0;
    }
    if (m_pRenderer) {
        m_pRenderer->Reset();
    }
    if (m_pSurface != nullptr) {
        m_pSurface->Clear();
    }
}

void MpvCore::SetNotify(std::function<void()> fnNotify) {
    // libmpv calls the wakeup, which calls the hook under m_mutex: after the swap the old hook is
    // neither running nor called again.
    std::lock_guard lock(m_mutex);
    m_fnNotify = std::move(fnNotify);
}

void MpvCore::OnWakeup(void *pContext) {
    auto *pCore = static_cast<MpvCore *>(pContext);
    std::lock_guard lock(pCore->m_mutex);
    if (pCore->m_fnNotify) {
        pCore->m_fnNotify();
    }
}

std::string MpvCore::ExposeSource(std::shared_ptr<IPlaybackSource> pSource) {
    {
        std::lock_guard lock(m_mutex);
        m_pSource = std::move(pSource);
        m_nSourceGeneration = m_nGeneration;
    }
    return std::string(kSourceProtocol) + "://" + std::to_string(m_nGeneration);
}

int MpvCore::OnOpenSource(void *pContext, char *pszUri, mpv_stream_cb_info *pInfo) {
    auto *pCore = static_cast<MpvCore *>(pContext);
    // Only the current playback's own address opens: a clip replaced before libmpv got to it, or an
    // address typed through the inspection socket, reads nothing.
    const std::string_view uri(pszUri);
    const size_t nAt = uri.find("://");
    const std::string_view digits = nAt == std::string_view::npos ? std::string_view() : uri.substr(nAt + 3);
    uint64_t nGeneration = 0;
    const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), nGeneration);
    std::shared_ptr<IPlaybackSource> pSource;
    {
        std::lock_guard lock(pCore->m_mutex);
        if (parsed.ec == std::errc() && parsed.ptr == digits.data() + digits.size() && nGeneration != 0 &&
            nGeneration == pCore->m_nSourceGeneration) {
            pSource = pCore->m_pSource;
        }
    }
    if (!pSource) {
        return MPV_ERROR_LOADING_FAILED;
    }
    // Owned by libmpv from here until it closes the stream. Nothing may be thrown into libmpv.
    try {
        pInfo->cookie = std::make_unique<SourceStream>(std::move(pSource)).release();
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

}  // namespace klangor

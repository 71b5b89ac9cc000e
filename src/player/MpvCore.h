#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "player/MpvPlayback.h"
#include "player/MpvVideoRenderer.h"

struct mpv_handle;
struct mpv_stream_cb_info;

namespace klangor {

class IPlaybackSource;
class VideoSurface;

// The one libmpv instance a player plays all its clips in, one after the other: made once with its
// settings, its property observation, the protocol that reads our sources and the renderer that draws
// into the player's surface, so that choosing a clip costs a file open and no instance is ever made or
// ended while the player lives. Each clip's playback is a generation of it: a new one makes every
// earlier one stale, and only the current one's notify hook is called.
// Window thread only, but the wakeup and the protocol's open, which libmpv calls on its own threads and
// which read what they need under m_mutex.
class MpvCore {
public:
    // Every playback of the instance reads this as the property observation's reply number.
    static constexpr uint64_t kObserveEof = 1;

    MpvCore(const MpvCore &) = delete;
    MpvCore &operator=(const MpvCore &) = delete;
    // Ends the instance and waits for it: a player is only destroyed as its window goes.
    ~MpvCore();

    // Makes and starts the instance; nullptr with iStatus on failure.
    static std::unique_ptr<MpvCore> Create(const MpvEngineOptions &options, int &iStatus);
    // Draws the instance's pictures into surface from now on; once, before the first playback.
    int AttachSurface(VideoSurface &surface);

    mpv_handle *Handle() const { return m_pHandle; }
    // Both once a surface is attached.
    MpvVideoRenderer &Renderer() { return *m_pRenderer; }
    VideoSurface *Surface() const { return m_pSurface; }

    // A new clip's playback begins: earlier playbacks go stale, their hook is dropped, the picture of
    // the last clip goes from the surface. Returns the new playback's generation, never 0.
    uint64_t BeginPlayback();
    // The current playback is closed: its file is stopped (without waiting), its hook, picture and
    // source are let go. Nothing for a stale generation.
    void EndPlayback(uint64_t nGeneration);
    bool IsCurrent(uint64_t nGeneration) const { return nGeneration == m_nGeneration; }
    // The current playback's notify hook (empty: none); once this returns, the old one is neither
    // running nor called again.
    void SetNotify(std::function<void()> fnNotify);
    // The address libmpv opens to read the source as the current playback's file; the source stays
    // with every stream libmpv opens on it until libmpv closes that stream.
    std::string ExposeSource(std::shared_ptr<IPlaybackSource> pSource);

    // The sound output was held while its sound ran, so the delay it reports is that moment's. The
    // output outlives the clip (libmpv keeps it for the next file of the same format), and so does this.
    void SetOutputDelayStale(bool bStale) { m_bOutputDelayStale = bStale; }
    bool IsOutputDelayStale() const { return m_bOutputDelayStale; }

    // The instance was shut down from outside (a quit through the inspection socket): it plays no
    // more, and the engine makes a new one for the next clip.
    void MarkShutDown() { m_bShutDown = true; }
    bool IsShutDown() const { return m_bShutDown; }

private:
    MpvCore() = default;
    void LetGo();

    static void OnWakeup(void *pContext);
    static int OnOpenSource(void *pContext, char *pszUri, mpv_stream_cb_info *pInfo);

    mpv_handle *m_pHandle = nullptr;
    VideoSurface *m_pSurface = nullptr;
    std::unique_ptr<MpvVideoRenderer> m_pRenderer;
    uint64_t m_nGeneration = 0;
    bool m_bShutDown = false;
    bool m_bOutputDelayStale = false;

    std::mutex m_mutex;
    std::function<void()> m_fnNotify;            // under m_mutex, called with it held
    std::shared_ptr<IPlaybackSource> m_pSource;  // under m_mutex: the current playback's
    uint64_t m_nSourceGeneration = 0;            // under m_mutex: the playback m_pSource belongs to
};

}  // namespace klangor

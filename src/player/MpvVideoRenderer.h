#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "player/VideoSurface.h"

struct mpv_handle;
struct mpv_render_context;

namespace klangor {

// Draws one mpv instance's pictures with libmpv's software renderer, on a thread of its own, into the
// video surface: at the placed size, or at the picture's own size while full screen. Its methods are
// called from the window thread; libmpv's update callback only wakes the thread. The instance plays one
// clip after another, and a picture of the clip before is never published once Reset has returned.
class MpvVideoRenderer {
public:
    explicit MpvVideoRenderer(VideoSurface &surface);
    ~MpvVideoRenderer();
    MpvVideoRenderer(const MpvVideoRenderer &) = delete;
    MpvVideoRenderer &operator=(const MpvVideoRenderer &) = delete;

    // Creates the render context on the instance and starts drawing. Returns a libmpv status.
    int Start(mpv_handle *pHandle);
    // Stops drawing and frees the render context; must run before the instance is destroyed.
    void Stop();
    // A new clip: hidden, no size known, and no picture drawn for the clip before is published.
    void Reset();

    void SetNativeSize(int iWidth, int iHeight);
    void GetNativeSize(int &iWidth, int &iHeight) const;
    VideoPlacement GetPlacement() const;
    // Changes the placement, tells the surface and has the current picture drawn again.
    void UpdatePlacement(const std::function<void(VideoPlacement &)> &fnChange);

private:
    void StopDrawing();
    struct RenderContextDeleter {
        void operator()(mpv_render_context *pRender) const;
    };

    static void OnRenderUpdate(void *pContext);
    void RenderLoop();
    // Draws the next picture, or the current one again after a placement change.
    void RenderOnce(int iWidth, int iHeight, bool bRedraw, uint64_t nClip);

    VideoSurface &m_surface;
    std::unique_ptr<mpv_render_context, RenderContextDeleter> m_pRender;
    std::vector<uint8_t> m_pixels;  // rendering thread only

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bFrameWaiting = false;
    bool m_bRedraw = false;
    bool m_bQuit = false;
    int m_iNativeWidth = 0;
    int m_iNativeHeight = 0;
    VideoPlacement m_placement;
    uint64_t m_nClip = 0;  // counts Reset calls: a picture is published only for the clip it was drawn for
    std::thread m_thread;
};

}  // namespace klangor

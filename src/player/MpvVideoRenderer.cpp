#include "player/MpvVideoRenderer.h"

#include <mpv/client.h>
#include <mpv/render.h>

namespace klangor {

void MpvVideoRenderer::RenderContextDeleter::operator()(mpv_render_context *pRender) const {
    mpv_render_context_free(pRender);
}

MpvVideoRenderer::MpvVideoRenderer(VideoSurface &surface) : m_surface(surface) {}

MpvVideoRenderer::~MpvVideoRenderer() {
    Stop();
}

int MpvVideoRenderer::Start(mpv_handle *pHandle) {
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_SW)},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context *pRender = nullptr;
    const int iStatus = mpv_render_context_create(&pRender, pHandle, params);
    if (iStatus < 0) {
        return iStatus;
    }
    m_pRender.reset(pRender);
    mpv_render_context_set_update_callback(pRender, &MpvVideoRenderer::OnRenderUpdate, this);
    m_thread = std::thread([this] { RenderLoop(); });
    return 0;
}

void MpvVideoRenderer::StopDrawing() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_bQuit = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    if (m_pRender) {
        mpv_render_context_set_update_callback(m_pRender.get(), nullptr, nullptr);
    }
}

void MpvVideoRenderer::Stop() {
    StopDrawing();
    m_pRender.reset();
}

void MpvVideoRenderer::Reset() {
    VideoPlacement placement;
    {
        std::lock_guard lock(m_mutex);
        ++m_nClip;
        m_placement = VideoPlacement{};
        placement = m_placement;
        m_iNativeWidth = 0;
        m_iNativeHeight = 0;
    }
    m_surface.SetPlacement(placement);
}

void MpvVideoRenderer::SetNativeSize(int iWidth, int iHeight) {
    std::lock_guard lock(m_mutex);
    m_iNativeWidth = iWidth;
    m_iNativeHeight = iHeight;
}

void MpvVideoRenderer::GetNativeSize(int &iWidth, int &iHeight) const {
    std::lock_guard lock(m_mutex);
    iWidth = m_iNativeWidth;
    iHeight = m_iNativeHeight;
}

VideoPlacement MpvVideoRenderer::GetPlacement() const {
    std::lock_guard lock(m_mutex);
    return m_placement;
}

void MpvVideoRenderer::UpdatePlacement(const std::function<void(VideoPlacement &)> &fnChange) {
    VideoPlacement placement;
    {
        std::lock_guard lock(m_mutex);
        fnChange(m_placement);
        placement = m_placement;
        m_bRedraw = true;
    }
    m_wake.notify_one();
    m_surface.SetPlacement(placement);
}

void MpvVideoRenderer::OnRenderUpdate(void *pContext) {
    // Called from libmpv's threads: only note it and wake the renderer.
    auto *pRenderer = static_cast<MpvVideoRenderer *>(pContext);
    {
        std::lock_guard lock(pRenderer->m_mutex);
        pRenderer->m_bFrameWaiting = true;
    }
    pRenderer->m_wake.notify_one();
}

void MpvVideoRenderer::RenderLoop() {
    for (;;) {
        int iWidth = 0;
        int iHeight = 0;
        bool bRedraw = false;
        uint64_t nClip = 0;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bFrameWaiting || m_bRedraw || m_bQuit; });
            if (m_bQuit) {
                return;
            }
            m_bFrameWaiting = false;
            bRedraw = m_bRedraw;
            m_bRedraw = false;
            nClip = m_nClip;
            // Full screen draws the picture at its own size and leaves the scaling to the window.
            if (m_placement.bVisible) {
                iWidth = m_placement.bFullScreen ? m_iNativeWidth : m_placement.iWidth;
                iHeight = m_placement.bFullScreen ? m_iNativeHeight : m_placement.iHeight;
            }
        }
        RenderOnce(iWidth, iHeight, bRedraw, nClip);
    }
}

void MpvVideoRenderer::RenderOnce(int iWidth, int iHeight, bool bRedraw, uint64_t nClip) {
    const uint64_t nFlags = mpv_render_context_update(m_pRender.get());
    const bool bNewFrame = (nFlags & MPV_RENDER_UPDATE_FRAME) != 0;
    if (!bNewFrame && !bRedraw) {
        return;
    }
    if (iWidth <= 0 || iHeight <= 0) {
        // A picture must still be taken, or libmpv waits for it and playback stalls.
        if (bNewFrame) {
            int iSkip = 1;
            mpv_render_param params[] = {{MPV_RENDER_PARAM_SKIP_RENDERING, &iSkip},
                                         {MPV_RENDER_PARAM_INVALID, nullptr}};
            mpv_render_context_render(m_pRender.get(), params);
        }
        return;
    }
    // Lines aligned to 64 bytes let libmpv's converters take their fast paths.
    size_t nStride = (static_cast<size_t>(iWidth) * 4 + 63) / 64 * 64;
    m_pixels.resize(nStride * static_cast<size_t>(iHeight));
    int size[2] = {iWidth, iHeight};
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, size},
                                 {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char *>("bgr0")},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &nStride},
                                 {MPV_RENDER_PARAM_SW_POINTER, m_pixels.data()},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_render(m_pRender.get(), params) >= 0) {
        // Under the lock, so that a Reset either comes before (and the picture is dropped) or after
        // (and its surface clearing takes the picture away).
        std::lock_guard lock(m_mutex);
        if (nClip == m_nClip) {
            m_surface.PublishFrame(m_pixels, iWidth, iHeight, static_cast<int>(nStride));
        }
    }
}

}  // namespace klangor

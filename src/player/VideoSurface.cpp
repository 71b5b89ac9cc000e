#include "player/VideoSurface.h"

#include <utility>

namespace klangor {

void VideoSurface::SetChangeCallback(std::function<void()> fnChanged) {
    std::lock_guard lock(m_callbackMutex);
    m_fnChanged = std::move(fnChanged);
}

bool VideoSurface::CopyFrame(VideoFrame &frame) const {
    std::lock_guard lock(m_mutex);
    if (!m_placement.bVisible || m_frame.pixels.empty()) {
        return false;
    }
    frame.iWidth = m_frame.iWidth;
    frame.iHeight = m_frame.iHeight;
    frame.iStride = m_frame.iStride;
    frame.nSerial = m_frame.nSerial;
    frame.pixels.assign(m_frame.pixels.begin(), m_frame.pixels.end());
    return true;
}

VideoPlacement VideoSurface::GetPlacement() const {
    std::lock_guard lock(m_mutex);
    return m_placement;
}

uint64_t VideoSurface::GetFrameSerial() const {
    std::lock_guard lock(m_mutex);
    return m_frame.nSerial;
}

void VideoSurface::SetPlacement(const VideoPlacement &placement) {
    {
        std::lock_guard lock(m_mutex);
        m_placement = placement;
    }
    NotifyChanged();
}

void VideoSurface::PublishFrame(std::vector<uint8_t> &pixels, int iWidth, int iHeight, int iStride) {
    {
        std::lock_guard lock(m_mutex);
        m_frame.pixels.swap(pixels);
        m_frame.iWidth = iWidth;
        m_frame.iHeight = iHeight;
        m_frame.iStride = iStride;
        ++m_frame.nSerial;
    }
    NotifyChanged();
}

void VideoSurface::Clear() {
    {
        std::lock_guard lock(m_mutex);
        m_frame.pixels.clear();
        m_frame.iWidth = 0;
        m_frame.iHeight = 0;
        m_frame.iStride = 0;
        m_placement = VideoPlacement{};
    }
    NotifyChanged();
}

void VideoSurface::NotifyChanged() {
    std::lock_guard lock(m_callbackMutex);
    if (m_fnChanged) {
        m_fnChanged();
    }
}

}  // namespace klangor

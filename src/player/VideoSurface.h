#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace klangor {

// One picture of the video, 4 bytes a pixel in "bgr0" order: blue, green, red and an unused byte, which
// is QImage::Format_RGB32 on a little-endian machine.
struct VideoFrame {
    int iWidth = 0;
    int iHeight = 0;
    int iStride = 0;  // bytes from one line to the next
    std::vector<uint8_t> pixels;
    uint64_t nSerial = 0;  // grows with every new picture
};

// Where the video sits in the video host control, in the control's client coordinates.
struct VideoPlacement {
    int iLeft = 0;
    int iTop = 0;
    int iWidth = 0;
    int iHeight = 0;
    bool bVisible = false;
    bool bFullScreen = false;
};

// The picture the preview window paints: written by the playback engine's rendering thread, read by the
// window's thread. Every method may be called from any thread.
class VideoSurface {
public:
    // fnChanged runs on the rendering thread (or the caller's) after a new frame or a new placement; it
    // must only post to the window's thread. An empty function unhooks it: once this returns, the old
    // function is neither running nor called again.
    void SetChangeCallback(std::function<void()> fnChanged);

    // Copies the latest picture into frame, reusing its buffer. False when nothing is to be shown (the
    // video is hidden or no picture has been drawn yet); frame is then left alone.
    bool CopyFrame(VideoFrame &frame) const;
    VideoPlacement GetPlacement() const;
    uint64_t GetFrameSerial() const;

    // Engine side.
    void SetPlacement(const VideoPlacement &placement);
    // Takes the picture by swapping buffers: pixels comes back holding an old buffer to draw the next
    // picture into.
    void PublishFrame(std::vector<uint8_t> &pixels, int iWidth, int iHeight, int iStride);
    // Forgets the picture and hides the video, so that the last frame of a closed clip disappears.
    void Clear();

private:
    void NotifyChanged();

    mutable std::mutex m_mutex;
    VideoFrame m_frame;
    VideoPlacement m_placement;

    std::mutex m_callbackMutex;  // held while the callback runs, so unhooking waits for it
    std::function<void()> m_fnChanged;
};

}  // namespace klangor

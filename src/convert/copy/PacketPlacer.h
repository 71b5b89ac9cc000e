#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/rational.h>
}

struct AVPacket;
struct AVStream;

namespace klangor {

// Where a packet's frames lie, counted from the first frame a reader presents (the stream's start,
// after the source's own delay): from the packet's timestamp where the container keeps them in frames
// or finer; else by counting the frames of the packets before it, for a codec whose packets all hold
// the same number of frames, or whose packets say how many they hold (Opus). Used by one thread, the
// one that reads the packets in order.
// The frames (at 48 kHz) an Opus packet decodes to, from its table-of-contents byte; 0 for an empty
// or malformed packet.
int64_t OpusPacketFrames(const uint8_t *pData, int nSize);

class PacketPlacer {
public:
    explicit PacketPlacer(const AVStream &stream);

    bool CanPlace() const { return m_bByTimestamp || m_llFrameSize > 0 || m_bOpus; }
    // Whether packets are placed by their own timestamps, so that reading may begin anywhere.
    bool PlacesByTimestamp() const { return m_bByTimestamp; }
    // The timestamp, in the stream's units, of frame llFrame as Place counts them.
    int64_t TimestampOf(int64_t llFrame) const {
        return av_rescale_q(llFrame + m_llOrigin, m_frameBase, m_base);
    }

    // The next packet's first frame and frame count; false when it cannot be placed.
    bool Place(const AVPacket &packet, int64_t &llAt, int64_t &llFrames);

private:
    AVRational m_base;
    AVRational m_frameBase;
    bool m_bByTimestamp;
    int64_t m_llFrameSize;
    bool m_bOpus;
    int64_t m_llOpusPreSkip;
    int64_t m_llOrigin;
    int64_t m_llCounted = 0;
    bool m_bCounting = false;
};

}  // namespace klangor

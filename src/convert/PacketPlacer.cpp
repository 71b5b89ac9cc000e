#include "convert/PacketPlacer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>

namespace klangor {

PacketPlacer::PacketPlacer(const AVStream &stream)
    : m_base(stream.time_base),
      m_frameBase{1, std::max(1, stream.codecpar->sample_rate)},
      m_bByTimestamp(av_cmp_q(stream.time_base, m_frameBase) <= 0),
      m_llFrameSize(stream.codecpar->frame_size),
      m_llOrigin(stream.start_time == AV_NOPTS_VALUE ? 0
                                                     : av_rescale_q(stream.start_time, m_base, m_frameBase)) {
}

bool PacketPlacer::Place(const AVPacket &packet, int64_t &llAt, int64_t &llFrames) {
    if (!m_bByTimestamp) {
        if (!m_bCounting) {
            m_bCounting = true;
            // The source's own delay, skipped in its first packet, comes before the first frame.
            size_t nSize = 0;
            const uint8_t *pSkip = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &nSize);
            if (pSkip && nSize >= 4) {
                m_llCounted = -static_cast<int64_t>(pSkip[0] | pSkip[1] << 8 | pSkip[2] << 16 |
                                                    static_cast<uint32_t>(pSkip[3]) << 24);
            }
        }
        llAt = m_llCounted;
        llFrames = m_llFrameSize;
        m_llCounted += m_llFrameSize;
        return true;
    }
    if (packet.pts == AV_NOPTS_VALUE) {
        return false;
    }
    llAt = av_rescale_q(packet.pts, m_base, m_frameBase) - m_llOrigin;
    llFrames = av_rescale_q(packet.duration, m_base, m_frameBase);
    return true;
}

}  // namespace klangor

#include "convert/copy/PacketPlacer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>

namespace klangor {

int64_t OpusPacketFrames(const uint8_t *pData, int nSize) {
    if (pData == nullptr || nSize < 1) {
        return 0;
    }
    // The configuration picks the mode and the frame's length: SILK 10 to 60 ms, hybrid 10 or 20 ms,
    // CELT 2.5 to 20 ms.
    static constexpr int64_t kSilk[] = {480, 960, 1920, 2880};
    static constexpr int64_t kHybrid[] = {480, 960};
    static constexpr int64_t kCelt[] = {120, 240, 480, 960};
    const int nConfig = pData[0] >> 3;
    const int64_t llFrame = nConfig < 12   ? kSilk[nConfig % 4]
                            : nConfig < 16 ? kHybrid[nConfig % 2]
                                           : kCelt[nConfig % 4];
    switch (pData[0] & 3) {
        case 0:
            return llFrame;
        case 1:
        case 2:
            return 2 * llFrame;
        default:
            // A count byte follows; a packet holds at most 120 ms.
            if (nSize < 2) {
                return 0;
            }
            const int64_t llFrames = llFrame * (pData[1] & 0x3F);
            return llFrames <= 5760 ? llFrames : 0;
    }
}

namespace {

// The pre-skip of an Opus stream's identification header ("OpusHead"), 0 without one.
int64_t OpusPreSkipOf(const AVCodecParameters &parameters) {
    const uint8_t *p = parameters.extradata;
    if (parameters.codec_id != AV_CODEC_ID_OPUS || p == nullptr || parameters.extradata_size < 19 ||
        std::memcmp(p, "OpusHead", 8) != 0) {
        return 0;
    }
    return p[10] | p[11] << 8;
}

}  // namespace

PacketPlacer::PacketPlacer(const AVStream &stream)
    : m_base(stream.time_base),
      m_frameBase{1, std::max(1, stream.codecpar->sample_rate)},
      m_bByTimestamp(av_cmp_q(stream.time_base, m_frameBase) <= 0),
      m_llFrameSize(stream.codecpar->frame_size),
      m_bOpus(stream.codecpar->codec_id == AV_CODEC_ID_OPUS && stream.codecpar->sample_rate == 48000),
      m_llOpusPreSkip(OpusPreSkipOf(*stream.codecpar)),
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
            } else if (m_bOpus) {
                // Else an Opus decoder skips its head's pre-skip, which a container in milliseconds
                // (Matroska) cannot say to the frame.
                m_llCounted = -m_llOpusPreSkip;
            }
        }
        llAt = m_llCounted;
        // An Opus stream's packets may differ in length; each says its own.
        llFrames = m_bOpus ? OpusPacketFrames(packet.data, packet.size) : m_llFrameSize;
        if (llFrames <= 0) {
            return false;
        }
        m_llCounted += llFrames;
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

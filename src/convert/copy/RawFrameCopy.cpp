#include "convert/copy/RawFrameCopy.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

#include "convert/copy/PacketCopy.h"

namespace klangor {

namespace {

constexpr const char *kCannotWrite = "Cannot write the output file";

struct FormatCloser {
    void operator()(AVFormatContext *pFormat) const { avformat_close_input(&pFormat); }
};
struct PacketFreer {
    void operator()(AVPacket *pPacket) const { av_packet_free(&pPacket); }
};

// The samples per channel of the frame a packet starts with, read from its header; 0 for a header this
// does not know (DTS in its 14-bit or little-endian forms among them).
int64_t SamplesOfFrame(AVCodecID codec, const uint8_t *p, int nBytes) {
    if (nBytes < 6) {
        return 0;
    }
    if ((codec == AV_CODEC_ID_AC3 || codec == AV_CODEC_ID_EAC3) && p[0] == 0x0B && p[1] == 0x77) {
        // bsid up to 10 is AC-3, always six blocks of 256; E-AC-3 says its block count, or six at the
        // reduced sample rates.
        if ((p[5] >> 3) <= 10) {
            return 1536;
        }
        constexpr int kBlocks[4] = {1, 2, 3, 6};
        return 256 * ((p[4] >> 6) == 3 ? 6 : kBlocks[(p[4] >> 4) & 3]);
    }
    if (codec == AV_CODEC_ID_DTS && p[0] == 0x7F && p[1] == 0xFE && p[2] == 0x80 && p[3] == 0x01) {
        // 32 samples per block; the block count less one follows the frame type, deficit and CRC flag.
        return 32 * ((((p[4] & 1) << 6) | (p[5] >> 2)) + 1);
    }
    return 0;
}

std::string ShiftText(int64_t llMs) {
    return std::to_string(std::llabs(llMs)) + (llMs < 0 ? " ms early" : " ms late");
}

}  // namespace

std::string WholeFrameCutNote(int64_t llStartShift, int64_t llEndShift, uint32_t nRate) {
    const double dRate = std::max(1u, nRate);
    const auto llStartMs =
        static_cast<int64_t>(std::llround(static_cast<double>(llStartShift) * 1000 / dRate));
    const auto llEndMs = static_cast<int64_t>(std::llround(static_cast<double>(llEndShift) * 1000 / dRate));
    if (llStartMs == 0 && llEndMs == 0) {
        return {};
    }
    const std::string strNote = "cut on whole frames, ";
    if (llStartMs == llEndMs) {
        return strNote + ShiftText(llStartMs);
    }
    return strNote + "starts " + (llStartMs == 0 ? "on time" : ShiftText(llStartMs)) + ", ends " +
           (llEndMs == 0 ? "on time" : ShiftText(llEndMs));
}

bool RawFrameCopy::Copy(const std::string &strSourcePath, int nTrack, uint64_t nStart, uint64_t nEnd,
                        FILE *pFile, const std::function<bool()> &fnStopped,
                        const std::function<void(uint64_t)> &fnProgress) {
    AVFormatContext *pOpened = nullptr;
    const int iSource = OpenSource(strSourcePath, nTrack, false, pOpened);
    const std::unique_ptr<AVFormatContext, FormatCloser> pSource(pOpened);
    if (iSource < 0) {
        m_strError = pOpened ? "Can not find audio in you Media file!" : "Cannot open the source file";
        return false;
    }
    const AVStream *pIn = pSource->streams[iSource];
    m_nRate = static_cast<uint32_t>(std::max(1, pIn->codecpar->sample_rate));
    const AVRational sampleBase{1, static_cast<int>(m_nRate)};
    const std::unique_ptr<AVPacket, PacketFreer> pPacket(av_packet_alloc());
    if (!pPacket) {
        m_strError = "Out of memory";
        return false;
    }
    // Frames are counted from the track's start, as the selection is; a frame starts the copy when its
    // start is the boundary nearest the selection's, and the copy ends at the boundary nearest the
    // selection's end, but never before the frame it started with. A tie goes to the earlier boundary
    // at both ends, so that the parts of a divided source meet on one boundary, never overlapping.
    uint64_t nAt = 0;
    bool bStarted = false;
    uint64_t nFirst = 0;
    uint64_t nCopied = 0;
    int iResult = 0;
    while (!fnStopped() && (iResult = av_read_frame(pSource.get(), pPacket.get())) >= 0) {
        if (pPacket->stream_index != iSource) {
            av_packet_unref(pPacket.get());
            continue;
        }
        // From the frame's header: a container's timestamps may be rounded (to milliseconds in Matroska).
        int64_t llDuration = SamplesOfFrame(pIn->codecpar->codec_id, pPacket->data, pPacket->size);
        if (llDuration <= 0) {
            llDuration = av_rescale_q(pPacket->duration, pIn->time_base, sampleBase);
        }
        const uint64_t nFrom = nAt;
        const uint64_t nTo = nAt + static_cast<uint64_t>(std::max<int64_t>(llDuration, 1));
        nAt = nTo;
        if (!bStarted && (nTo <= nStart || (nStart > nFrom && nStart - nFrom > nTo - nStart))) {
            av_packet_unref(pPacket.get());
            continue;
        }
        if (bStarted && nEnd != UINT64_MAX && (nFrom >= nEnd || (nEnd < nTo && nEnd - nFrom <= nTo - nEnd))) {
            av_packet_unref(pPacket.get());
            break;
        }
        if (!bStarted) {
            bStarted = true;
            nFirst = nFrom;
        }
        const auto nBytes = static_cast<size_t>(pPacket->size);
        const bool bWritten = std::fwrite(pPacket->data, 1, nBytes, pFile) == nBytes;
        av_packet_unref(pPacket.get());
        if (!bWritten) {
            m_strError = kCannotWrite;
            return false;
        }
        nCopied = nTo - nFirst;
        fnProgress(nCopied);
    }
    if (iResult < 0 && iResult != AVERROR_EOF) {
        m_strError = "Cannot read the source file";
        return false;
    }
    if (!bStarted && !fnStopped()) {
        m_strError = "Can not find audio in you Media file!";
        return false;
    }
    m_llStartShift = static_cast<int64_t>(nFirst) - static_cast<int64_t>(nStart);
    m_llEndShift =
        nEnd == UINT64_MAX ? 0 : static_cast<int64_t>(nFirst + nCopied) - static_cast<int64_t>(nEnd);
    return true;
}

}  // namespace klangor

#include "convert/copy/Mp3FrameCopy.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
}

#include <lame/lame.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "convert/outputs/FileAvio.h"
#include "convert/divide/Mp3StreamWriter.h"
#include "convert/copy/PacketCopy.h"

namespace klangor {

namespace {

constexpr const char *kCannotWrite = "Cannot write the output file";
constexpr const char *kDamaged = "The MP3 stream of this file is damaged and cannot be cut";
constexpr const char *kNotSeekable = "An MP3 cut cannot be written into a pipe or a device";
constexpr const char *kTooEarly =
    "This selection starts too close to the beginning of the MP3 to be cut exactly; start it later or "
    "choose another format";
// The samples a layer III decoder's filter banks delay its output by, which a reader adds to the delay.
constexpr int64_t kDecoderDelay = 529;
constexpr int kMaxField = 4095;  // the delay's and the padding's 12 bits
// Frames kept in hand before the selection: enough for 511 reservoir bytes in the smallest payloads.
constexpr size_t kMaxHeld = 16;
// "Xing"/"Info", flags, frames, bytes, 100 seek entries, quality; then the 36 bytes of the extension.
constexpr size_t kXingBytes = 120;
constexpr size_t kExtensionBytes = 36;

struct FormatCloser {
    void operator()(AVFormatContext *pFormat) const { avformat_close_input(&pFormat); }
};
struct PacketFreer {
    void operator()(AVPacket *pPacket) const { av_packet_free(&pPacket); }
};

// A frame like the one at pHeader (its version, rate and channels), without CRC or padding, at the
// lowest bitrate whose payload holds nPayload bytes; empty when none does.
std::vector<uint8_t> FrameLike(const uint8_t *pHeader, size_t nPayload) {
    uint8_t header[4] = {pHeader[0], static_cast<uint8_t>(pHeader[1] | 1), 0, pHeader[3]};
    for (int nIndex = 1; nIndex < 15; ++nIndex) {
        header[2] = static_cast<uint8_t>((nIndex << 4) | (pHeader[2] & 0x0D));
        Mp3FrameInfo info;
        if (ParseMp3Header(header, info) && static_cast<size_t>(info.PayloadBytes()) >= nPayload) {
            std::vector<uint8_t> frame(static_cast<size_t>(info.nBytes), 0);
            std::memcpy(frame.data(), header, 4);
            return frame;
        }
    }
    return {};
}

size_t XingPos(const Mp3FrameInfo &info) {
    // Readers look for the tag right after the side information of a frame without CRC.
    return 4 + static_cast<size_t>(info.nSideInfoBytes);
}

}  // namespace

bool Mp3FrameCopy::Fail(const char *szText) {
    m_strError = szText;
    return false;
}

bool Mp3FrameCopy::WriteFrame(const Frame &frame) {
    const long lPos = std::ftell(m_pFile);
    if (lPos < 0) {
        return false;
    }
    m_offsets.push_back(static_cast<uint32_t>(lPos));
    if (m_firstHeader.empty()) {
        m_firstHeader.assign(frame.bytes.begin(), frame.bytes.begin() + 4);
    } else if (((frame.bytes[2] ^ m_firstHeader[2]) & 0xF0) != 0) {
        m_bSameBitrate = false;
    }
    m_crc = UpdateTagCrc(m_crc, frame.bytes.data(), frame.bytes.size());
    return std::fwrite(frame.bytes.data(), 1, frame.bytes.size(), m_pFile) == frame.bytes.size();
}

bool Mp3FrameCopy::WriteLeadIn(uint64_t nFrameA, int64_t llStartRaw) {
    const auto nSamples = static_cast<int64_t>(m_nSamples);
    std::vector<const Frame *> lead;
    Frame carrier;
    // Frame A's first granule is decoded right when the two granules before it are: the overlap of
    // their transforms and the history of the synthesis filter bank. That is the frame before it in
    // MPEG-1 (two granules a frame), the two before it in MPEG-2 and 2.5 (one).
    const uint64_t nOverlapFrames = std::min<uint64_t>(nFrameA, m_held.back().info.bMpeg1 ? 1 : 2);
    if (nOverlapFrames == 0) {
        m_llBase = 0;
    } else {
        // The first of them brings the frames back to the one whose payload holds its main_data_begin
        // bytes; the main data of the frames after it begins no earlier.
        const size_t nOverlap = static_cast<size_t>(nFrameA - nOverlapFrames - m_nHeldFirst);
        const Frame &overlap = m_held[nOverlap];
        const int nBack = GetMainDataBegin(overlap.bytes.data(), overlap.info);
        size_t nFirst = nOverlap;
        int nHeld = 0;
        while (nHeld < nBack && nFirst > 0) {
            --nFirst;
            nHeld += m_held[nFirst].info.PayloadBytes();
        }
        if (nHeld < nBack && m_nHeldFirst > 0) {
            return Fail(kDamaged);
        }
        const size_t nLastLead = m_held.size() - 2;  // the frame before A
        m_llBase = static_cast<int64_t>(m_nHeldFirst + nFirst) * nSamples;
        if (llStartRaw - m_llBase - kDecoderDelay <= kMaxField) {
            for (size_t i = nFirst; i <= nLastLead; ++i) {
                lead.push_back(&m_held[i]);
            }
        } else {
            // The reservoir is spread over more frames than the delay can skip: one silent frame, its
            // side information all zero, carries at its end the bytes the first overlap frame reaches
            // back to.
            std::vector<uint8_t> reservoir;
            for (size_t i = nFirst; i < nOverlap; ++i) {
                const Frame &held = m_held[i];
                reservoir.insert(reservoir.end(), held.bytes.begin() + held.info.PayloadPos(),
                                 held.bytes.end());
            }
            carrier.bytes = FrameLike(overlap.bytes.data(), static_cast<size_t>(nBack));
            if (carrier.bytes.empty() || !ParseMp3Header(carrier.bytes.data(), carrier.info)) {
                return Fail(kDamaged);
            }
            // A stream whose first frames already lacked part of their reservoir carries what it has.
            const auto llCarried = static_cast<std::ptrdiff_t>(std::min<size_t>(reservoir.size(), nBack));
            std::copy(reservoir.end() - llCarried, reservoir.end(), carrier.bytes.end() - llCarried);
            m_llBase = static_cast<int64_t>(m_nHeldFirst + nOverlap - 1) * nSamples;
            lead.push_back(&carrier);
            for (size_t i = nOverlap; i <= nLastLead; ++i) {
                lead.push_back(&m_held[i]);
            }
        }
    }
    m_nDelay = static_cast<int>(llStartRaw - m_llBase - kDecoderDelay);
    if (m_nDelay < 0) {
        return Fail(kTooEarly);
    }
    const Frame &first = lead.empty() ? m_held.back() : *lead.front();
    const std::vector<uint8_t> info = FrameLike(first.bytes.data(), kXingBytes + kExtensionBytes);
    if (info.empty()) {
        return Fail(kDamaged);
    }
    // The Info frame's place, filled in when the frames are known.
    m_nInfoBytes = static_cast<uint32_t>(info.size());
    const std::vector<uint8_t> zeros(info.size(), 0);
    if (std::fwrite(zeros.data(), 1, zeros.size(), m_pFile) != zeros.size()) {
        return Fail(kCannotWrite);
    }
    for (const Frame *pFrame : lead) {
        if (!WriteFrame(*pFrame)) {
            return Fail(kCannotWrite);
        }
    }
    return true;
}

bool Mp3FrameCopy::WriteInfoFrame(int64_t llEndRaw) {
    std::vector<uint8_t> tag = FrameLike(m_firstHeader.data(), kXingBytes + kExtensionBytes);
    Mp3FrameInfo info;
    if (tag.size() != m_nInfoBytes || !ParseMp3Header(tag.data(), info)) {
        return Fail(kDamaged);
    }
    const size_t nXing = XingPos(info);
    // "Info" says every frame has the same bitrate, which lets a reader seek by it.
    std::memcpy(&tag[nXing], m_bSameBitrate ? "Info" : "Xing", 4);
    tag[nXing + 7] = 0x0F;  // frames, bytes, seek table, quality
    uint8_t *pExtension = &tag[nXing + kXingBytes];
    char szVersion[16] = {};
    std::snprintf(szVersion, sizeof szVersion, "LAME%s", get_lame_short_version());
    std::memcpy(pExtension, szVersion, 9);
    pExtension[9] = m_bSameBitrate ? 1 : 0;  // tag revision 0; constant bitrate, or unknown

    const auto nFrames = static_cast<uint32_t>(m_offsets.size());
    const int64_t llPlayed = std::min(llEndRaw, m_llBase + static_cast<int64_t>(nFrames) * m_nSamples);
    m_nPadding =
        static_cast<int>(static_cast<int64_t>(nFrames) * m_nSamples + kDecoderDelay - (llPlayed - m_llBase));
    const long lBytes = std::ftell(m_pFile);
    if (lBytes < 0 || m_nPadding > kMaxField || m_nDelay > kMaxField ||
        !PatchHeaderFrame(tag, nFrames, static_cast<uint32_t>(lBytes), m_offsets, m_nDelay, m_nPadding,
                          m_crc)) {
        return Fail(kDamaged);
    }
    if (std::fseek(m_pFile, 0, SEEK_SET) != 0 ||
        std::fwrite(tag.data(), 1, tag.size(), m_pFile) != tag.size() ||
        std::fseek(m_pFile, 0, SEEK_END) != 0) {
        return Fail(kCannotWrite);
    }
    return true;
}

bool Mp3FrameCopy::Copy(const std::string &strSourcePath, int nTrack, uint64_t nStart, uint64_t nEnd,
                        FILE *pFile, const std::function<bool()> &fnStopped,
                        const std::function<void(uint64_t)> &fnProgress) {
    m_pFile = pFile;
    if (!IsSeekableFile(pFile)) {
        return Fail(kNotSeekable);
    }
    AVFormatContext *pOpened = nullptr;
    const int iSource = OpenSource(strSourcePath, nTrack, false, pOpened);
    const std::unique_ptr<AVFormatContext, FormatCloser> pSource(pOpened);
    if (iSource < 0) {
        return Fail(pOpened ? "Can not find audio in you Media file!" : "Cannot open the source file");
    }
    const std::unique_ptr<AVPacket, PacketFreer> pPacket(av_packet_alloc());
    if (!pPacket) {
        return Fail("Out of memory");
    }
    // Samples are counted on the decoder's output from the track's first frame ("raw"); the selection
    // counts them after what the source's own header said to skip at its start.
    bool bFirstPacket = true;
    int64_t llStartRaw = 0;
    int64_t llEndRaw = INT64_MAX;   // past the selection's last sample, or the source's own end
    uint64_t nFrameA = 0;           // whose output holds the selection's first sample
    uint64_t nFrameE = UINT64_MAX;  // whose output holds its last
    uint64_t nFrame = 0;
    bool bWriting = false;
    bool bDone = false;
    int iResult = 0;
    while (!bDone && !fnStopped() && (iResult = av_read_frame(pSource.get(), pPacket.get())) >= 0) {
        if (pPacket->stream_index != iSource) {
            av_packet_unref(pPacket.get());
            continue;
        }
        size_t nSideData = 0;
        const uint8_t *pSkip = av_packet_get_side_data(pPacket.get(), AV_PKT_DATA_SKIP_SAMPLES, &nSideData);
        const int64_t llSkipStart = pSkip && nSideData >= 8 ? static_cast<int64_t>(AV_RL32(pSkip)) : 0;
        const int64_t llDiscardEnd = pSkip && nSideData >= 8 ? static_cast<int64_t>(AV_RL32(pSkip + 4)) : 0;
        const uint8_t *p = pPacket->data;
        const uint8_t *pEnd = p + pPacket->size;
        while (p + 4 <= pEnd && !bDone) {
            Frame frame;
            if (!ParseMp3Header(p, frame.info) || frame.info.nBytes > pEnd - p) {
                // Bytes that are no frame (a tag's, a damaged stream's) give no samples to a decoder
                // either: they are left out.
                break;
            }
            if (m_nSamples != 0 && frame.info.nSamples != m_nSamples) {
                return Fail(kDamaged);
            }
            frame.bytes.assign(p, p + frame.info.nBytes);
            p += frame.info.nBytes;
            if (bFirstPacket) {
                bFirstPacket = false;
                m_nSamples = frame.info.nSamples;
                llStartRaw = static_cast<int64_t>(nStart) + llSkipStart;
                if (nEnd != UINT64_MAX) {
                    // An empty selection keeps frame A, all of it trimmed.
                    llEndRaw = std::max(static_cast<int64_t>(nEnd) + llSkipStart, llStartRaw);
                    nFrameE = static_cast<uint64_t>(std::max(llEndRaw - 1, llStartRaw) / m_nSamples);
                }
                nFrameA = static_cast<uint64_t>(llStartRaw / m_nSamples);
            }
            if (bWriting) {
                if (!WriteFrame(frame)) {
                    return Fail(kCannotWrite);
                }
            } else {
                m_held.push_back(std::move(frame));
                if (m_held.size() > kMaxHeld) {
                    m_held.pop_front();
                    ++m_nHeldFirst;
                }
                if (nFrame == nFrameA) {
                    if (!WriteLeadIn(nFrameA, llStartRaw) || !WriteFrame(m_held.back())) {
                        return m_strError.empty() ? Fail(kCannotWrite) : false;
                    }
                    m_held.clear();
                    bWriting = true;
                }
            }
            bDone = nFrame == nFrameE;
            ++nFrame;
        }
        if (llDiscardEnd > 0) {
            // The source's own padding: where its header said its samples end.
            llEndRaw = std::min(llEndRaw, static_cast<int64_t>(nFrame) * m_nSamples - llDiscardEnd);
        }
        av_packet_unref(pPacket.get());
        if (bWriting) {
            fnProgress(static_cast<uint64_t>(std::max<int64_t>(
                0, std::min(llEndRaw, static_cast<int64_t>(nFrame) * m_nSamples) - llStartRaw)));
        }
    }
    if (iResult < 0 && iResult != AVERROR_EOF) {
        return Fail("Cannot read the source file");
    }
    if (!bWriting) {
        return fnStopped() ? true : Fail("Can not find audio in you Media file!");
    }
    return WriteInfoFrame(llEndRaw);
}

}  // namespace klangor

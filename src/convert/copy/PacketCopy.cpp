#include "convert/copy/PacketCopy.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "convert/tags/ContainerTags.h"
#include "convert/outputs/AlacTail.h"
#include "convert/outputs/FileAvio.h"
#include "convert/copy/PacketPlacer.h"

namespace klangor {

namespace {

constexpr const char *kNoAudio = "Can not find audio in you Media file!";
constexpr const char *kWholeOnly =
    "The original audio of this file can only be copied whole; clear the selection or choose another format";
constexpr const char *kMp4NotSeekable = "An M4A file cannot be written into a pipe or a device";

struct CopyPlan {
    const char *szMuxer;
    const char *szExtension;
    AVCodecID wavCodec;  // for PCM, the little-endian codec it is written as; else AV_CODEC_ID_NONE
    int nSwapBytes;
};

CopyPlan PlanOf(AVCodecID codec) {
    switch (codec) {
        case AV_CODEC_ID_AAC:
        case AV_CODEC_ID_ALAC:
            return {"ipod", ".m4a", AV_CODEC_ID_NONE, 0};
        case AV_CODEC_ID_MP3:
            return {"mp3", ".mp3", AV_CODEC_ID_NONE, 0};
        case AV_CODEC_ID_OPUS:
            return {"opus", ".opus", AV_CODEC_ID_NONE, 0};
        case AV_CODEC_ID_VORBIS:
            return {"ogg", ".ogg", AV_CODEC_ID_NONE, 0};
        case AV_CODEC_ID_FLAC:
            return {"flac", ".flac", AV_CODEC_ID_NONE, 0};
        case AV_CODEC_ID_AC3:
            return {"ac3", ".ac3", AV_CODEC_ID_NONE, 0};
        case AV_CODEC_ID_EAC3:
            return {"eac3", ".eac3", AV_CODEC_ID_NONE, 0};
        case AV_CODEC_ID_DTS:
            return {"dts", ".dts", AV_CODEC_ID_NONE, 0};
        case AV_CODEC_ID_PCM_U8:
        case AV_CODEC_ID_PCM_S16LE:
        case AV_CODEC_ID_PCM_S24LE:
        case AV_CODEC_ID_PCM_S32LE:
        case AV_CODEC_ID_PCM_F32LE:
        case AV_CODEC_ID_PCM_F64LE:
            return {"wav", ".wav", codec, 0};
        case AV_CODEC_ID_PCM_S16BE:
            return {"wav", ".wav", AV_CODEC_ID_PCM_S16LE, 2};
        case AV_CODEC_ID_PCM_S24BE:
            return {"wav", ".wav", AV_CODEC_ID_PCM_S24LE, 3};
        case AV_CODEC_ID_PCM_S32BE:
            return {"wav", ".wav", AV_CODEC_ID_PCM_S32LE, 4};
        case AV_CODEC_ID_PCM_F32BE:
            return {"wav", ".wav", AV_CODEC_ID_PCM_F32LE, 4};
        case AV_CODEC_ID_PCM_F64BE:
            return {"wav", ".wav", AV_CODEC_ID_PCM_F64LE, 8};
        default:
            return {"matroska", ".mka", AV_CODEC_ID_NONE, 0};
    }
}

}  // namespace

// The nTrack-th audio stream (1-based), or the main one for 0; -1 when there is none.
int AudioStreamOf(AVFormatContext *pFormat, int nTrack) {
    if (nTrack <= 0) {
        return av_find_best_stream(pFormat, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    }
    int nSeen = 0;
    for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
        if (pFormat->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && ++nSeen == nTrack) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Opens the source and finds its track. For the name alone the stream probe runs only when the
// container does not name the codec by itself; a copy needs it for every stream's parameters (a
// cover's size among them).
int OpenSource(const std::string &strPath, int nTrack, bool bFullProbe, AVFormatContext *&pFormat) {
    if (avformat_open_input(&pFormat, strPath.c_str(), nullptr, nullptr) < 0) {
        return -1;
    }
    int iStream = AudioStreamOf(pFormat, nTrack);
    if (bFullProbe || iStream < 0 || pFormat->streams[iStream]->codecpar->codec_id == AV_CODEC_ID_NONE ||
        pFormat->streams[iStream]->codecpar->sample_rate <= 0) {
        if (avformat_find_stream_info(pFormat, nullptr) < 0) {
            return -1;
        }
        iStream = AudioStreamOf(pFormat, nTrack);
    }
    return iStream;
}

namespace {

bool CarriesTags(const char *szMuxer) {
    const std::string strMuxer = szMuxer;
    return strMuxer != "ac3" && strMuxer != "eac3" && strMuxer != "dts";
}

// How the tags are written: the encoded format whose container the copy shares.
OutputFormat TagFormatOf(const char *szMuxer) {
    const std::string strMuxer = szMuxer;
    if (strMuxer == "ipod") {
        return OutputFormat::Aac;
    }
    if (strMuxer == "opus") {
        return OutputFormat::Opus;
    }
    if (strMuxer == "ogg") {
        return OutputFormat::Vorbis;
    }
    if (strMuxer == "flac") {
        return OutputFormat::Flac;
    }
    return strMuxer == "mp3" ? OutputFormat::Mp3 : OutputFormat::Wav;
}

// What a cut of a codec whose packets are kept whole needs ahead of the selection's start for the
// decoder to give its first frame right: AAC's and Vorbis's every packet overlaps the one before it,
// Opus converges within 80 ms (at its 48 kHz).
struct CutPlan {
    bool bExact;
    int64_t llPreRoll;
    bool bPacketBefore;
};

CutPlan CutPlanOf(AVCodecID codec) {
    switch (codec) {
        case AV_CODEC_ID_AAC:
        case AV_CODEC_ID_VORBIS:
            return {true, 0, true};
        case AV_CODEC_ID_ALAC:
            return {true, 0, false};
        case AV_CODEC_ID_OPUS:
            return {true, 3840, false};
        default:
            return {false, 0, false};
    }
}

}  // namespace

std::string CopyExtensionOf(const std::string &strSourcePath, int nTrack) {
    AVFormatContext *pFormat = nullptr;
    const int iStream = OpenSource(strSourcePath, nTrack, false, pFormat);
    // A source that cannot be looked at fails when its turn comes; its name is only a guess.
    const AVCodecID codec = iStream >= 0 ? pFormat->streams[iStream]->codecpar->codec_id : AV_CODEC_ID_NONE;
    avformat_close_input(&pFormat);
    return PlanOf(codec).szExtension;
}

bool PacketCopy::CutToRange(AVPacket &packet, uint64_t nAt, const Range &range, int nFrameBytes) const {
    const uint64_t nFrames = static_cast<uint64_t>(packet.size / nFrameBytes);
    const uint64_t nFrom = std::max(nAt, range.nStart);
    const uint64_t nTo = std::min(nAt + nFrames, range.nEnd);
    if (nFrom >= nTo) {
        return false;
    }
    if (nFrom > nAt || nTo < nAt + nFrames) {
        if (av_packet_make_writable(&packet) < 0) {
            return false;
        }
        const auto nSkip = static_cast<size_t>((nFrom - nAt) * static_cast<uint64_t>(nFrameBytes));
        const auto nKeep = static_cast<size_t>((nTo - nFrom) * static_cast<uint64_t>(nFrameBytes));
        std::memmove(packet.data, packet.data + nSkip, nKeep);
        av_shrink_packet(&packet, static_cast<int>(nKeep));
    }
    return true;
}

PacketCopy::~PacketCopy() {
    if (m_pOutput) {
        CloseFileAvio(&m_pOutput->pb);
        avformat_free_context(m_pOutput);
    }
    avformat_close_input(&m_pSource);
}

bool PacketCopy::Fail(const std::string &strText, int iError) {
    m_strError = strText;
    if (iError < 0) {
        char szError[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(iError, szError, sizeof szError);
        m_strError += std::string(": ") + szError;
    }
    return false;
}

bool PacketCopy::OpenOutput(int iSource, const MediaTags &tags, FILE *pFile, int64_t llPreSkip) {
    const AVStream *pIn = m_pSource->streams[iSource];
    const CopyPlan plan = PlanOf(pIn->codecpar->codec_id);
    m_nSwapBytes = plan.nSwapBytes;
    int iResult = avformat_alloc_output_context2(&m_pOutput, nullptr, plan.szMuxer, nullptr);
    if (iResult < 0 || !m_pOutput) {
        return Fail("Cannot set up the output container", iResult);
    }
    AVStream *pOut = avformat_new_stream(m_pOutput, nullptr);
    if (!pOut || avcodec_parameters_copy(pOut->codecpar, pIn->codecpar) < 0) {
        return Fail("Out of memory");
    }
    pOut->codecpar->codec_tag = 0;
    if (plan.wavCodec != AV_CODEC_ID_NONE) {
        pOut->codecpar->codec_id = plan.wavCodec;
    }
    pOut->time_base = pIn->time_base;
    const bool bOgg = std::string(plan.szMuxer) == "ogg" || std::string(plan.szMuxer) == "opus";
    if (llPreSkip >= 0 && bOgg) {
        // The Ogg muxer counts the granule positions from the first packet's first frame on, and an
        // Opus reader skips the head's pre-skip of them.
        const bool bOpus = pOut->codecpar->codec_id == AV_CODEC_ID_OPUS;
        AVCodecParameters *pParameters = pOut->codecpar;
        if (bOpus && (pParameters->extradata_size < 19 || llPreSkip > UINT16_MAX)) {
            return Fail(kWholeOnly);
        }
        if (bOpus) {
            pParameters->extradata[10] = static_cast<uint8_t>(llPreSkip & 0xFF);
            pParameters->extradata[11] = static_cast<uint8_t>(llPreSkip >> 8);
        }
        pParameters->initial_padding = bOpus ? static_cast<int>(llPreSkip) : 0;
        // A Vorbis reader finds the start from the first page's granule position and the frames its
        // packets decode to: the packet before the selection decodes to none, so the page holds the
        // next one too, and its granule position is not negative.
        m_nFirstPagePackets = bOpus ? 1 : 2;
    }
    if (CarriesTags(plan.szMuxer)) {
        // Ogg keeps its comments with the stream, the other containers with the file.
        SetContainerTags(&m_pOutput->metadata, TagFormatOf(plan.szMuxer), tags);
        av_dict_copy(&pOut->metadata, m_pOutput->metadata, 0);
        if (!AddCoverStream(m_pOutput, TagFormatOf(plan.szMuxer), tags)) {
            return Fail("Out of memory");
        }
    }
    const bool bSeekable = IsSeekableFile(pFile);
    if (!bSeekable && std::string(plan.szMuxer) == "ipod") {
        // Its index is written at the end and points back into the file.
        return Fail(kMp4NotSeekable);
    }
    m_pOutput->pb = OpenFileAvio(pFile);
    if (!m_pOutput->pb) {
        return Fail("Out of memory");
    }
    // Custom IO, and a fixed Ogg serial number: the same source gives the same bytes.
    m_pOutput->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;
    AVDictionary *pOptions = nullptr;
    if (llPreSkip >= 0 && std::string(plan.szMuxer) == "ipod") {
        // The edit list in the track's own units: in milliseconds its ends would miss the selection's.
        av_dict_set_int(&pOptions, "movie_timescale", pIn->codecpar->sample_rate, 0);
    }
    iResult = avformat_write_header(m_pOutput, &pOptions);
    av_dict_free(&pOptions);
    if (iResult < 0) {
        return Fail("Cannot write the output file", iResult);
    }
    if (m_pOutput->nb_streams > 1) {
        // The cover goes out as the attached picture's one packet, before any audio.
        AVPacket *pPicture = av_packet_clone(&m_pOutput->streams[1]->attached_pic);
        if (!pPicture) {
            return Fail("Out of memory");
        }
        pPicture->stream_index = 1;
        pPicture->pts = pPicture->dts = 0;
        iResult = av_interleaved_write_frame(m_pOutput, pPicture);
        av_packet_free(&pPicture);
        if (iResult < 0) {
            return Fail("Cannot write the output file", iResult);
        }
    }
    return true;
}

bool PacketCopy::WritePacket(AVPacket &packet) {
    packet.stream_index = 0;
    packet.pos = -1;
    const int iResult = av_interleaved_write_frame(m_pOutput, &packet);
    if (iResult < 0) {
        return Fail("Cannot write the output file", iResult);
    }
    if (m_nFirstPagePackets > 0 && --m_nFirstPagePackets == 0) {
        // The first audio packets on a page of their own: a reader works out where an Ogg stream starts
        // from the first page's granule position, which it cannot when that page is also the last.
        const int iFlushed = av_write_frame(m_pOutput, nullptr);
        if (iFlushed < 0) {
            return Fail("Cannot write the output file", iFlushed);
        }
    }
    return true;
}

bool PacketCopy::WriteCutPacket(AVPacket &packet, int64_t llAt, int64_t llFrames, const Range &range) {
    const auto llStart = static_cast<int64_t>(range.nStart);
    const int64_t llEnd = range.nEnd == UINT64_MAX
                              ? llAt + llFrames
                              : std::min(llAt + llFrames, static_cast<int64_t>(range.nEnd));
    // The source's own skip belongs to its own start; the container says the cut's.
    av_packet_free_side_data(&packet);
    if (llEnd < llAt + llFrames &&
        m_pSource->streams[m_iSourceStream]->codecpar->codec_id == AV_CODEC_ID_ALAC) {
        // ALAC's last frame can say its own length, which readers honour where they do not honour the
        // edit list's end; a packet that cannot be shortened exactly stays as it was.
        ShortenAlacPacket(*m_pSource->streams[m_iSourceStream]->codecpar, packet,
                          static_cast<int>(llEnd - llAt));
    }
    packet.pts = packet.dts = llAt - llStart;
    packet.duration = std::max<int64_t>(llEnd - llAt, 0);
    av_packet_rescale_ts(&packet, m_sampleBase, m_pOutput->streams[0]->time_base);
    m_llCopied += std::max<int64_t>(llEnd - std::max(llAt, llStart), 0);
    return WritePacket(packet);
}

bool PacketCopy::Copy(const std::string &strSourcePath, int nTrack, const Range &range, const MediaTags &tags,
                      FILE *pFile, const std::function<bool()> &fnStopped,
                      const std::function<void(uint64_t)> &fnProgress) {
    const int iSource = OpenSource(strSourcePath, nTrack, true, m_pSource);
    if (iSource < 0) {
        return Fail(m_pSource ? kNoAudio : "Cannot open the source file");
    }
    m_iSourceStream = iSource;
    const AVStream *pIn = m_pSource->streams[iSource];
    const AVCodecID codec = pIn->codecpar->codec_id;
    const bool bCut = range.nStart > 0 || range.nEnd != UINT64_MAX;
    const bool bPcm = PlanOf(codec).wavCodec != AV_CODEC_ID_NONE;
    const CutPlan cut = CutPlanOf(codec);
    PacketPlacer placer(*pIn);
    if (bCut && !bPcm && (!cut.bExact || !placer.CanPlace())) {
        m_bCouldNotCut = true;
        return Fail(kWholeOnly);
    }
    m_sourceBase = pIn->time_base;
    m_sampleBase = AVRational{1, std::max(1, pIn->codecpar->sample_rate)};
    // The packets of a cut are placed by their timestamps, counted in frames from the first presented
    // one; PCM's are counted, since a container may keep its timestamps in coarser units than frames.
    const bool bPacketCut = bCut && !bPcm;
    if (!bPacketCut && !OpenOutput(iSource, tags, pFile, -1)) {
        return false;
    }
    AVPacket *pPacket = av_packet_alloc();
    AVPacket *pBefore = av_packet_alloc();
    if (!pPacket || !pBefore) {
        av_packet_free(&pPacket);
        av_packet_free(&pBefore);
        return Fail("Out of memory");
    }
    const int nFrameBytes =
        std::max(1, pIn->codecpar->ch_layout.nb_channels * av_get_bits_per_sample(codec) / 8);
    const auto llStart = static_cast<int64_t>(std::min<uint64_t>(range.nStart, INT64_MAX));
    uint64_t nFramesRead = 0;
    int64_t llBeforeAt = 0;
    int64_t llBeforeFrames = 0;
    uint64_t nPackets = 0;
    int iResult = 0;
    bool bWritten = true;
    // A selection far into an MP4 (the parts of a long book, one after the other) is not read from the
    // start: its index puts the reader a second before what the cut keeps, every packet from there on
    // placed by its timestamp as before. Other containers are read from their start, their timestamps
    // being found only by reading.
    const int64_t llSeekTo =
        llStart - cut.llPreRoll - 2 * std::max(pIn->codecpar->frame_size, 4096) - pIn->codecpar->sample_rate;
    if (bPacketCut && placer.PlacesByTimestamp() && llSeekTo > 0 &&
        std::string(m_pSource->iformat->name).find("mp4") != std::string::npos) {
        // A seek that fails leaves the reader at the start, which is only slower.
        av_seek_frame(m_pSource, iSource, placer.TimestampOf(llSeekTo), AVSEEK_FLAG_BACKWARD);
    }
    while (bWritten && !fnStopped() && (iResult = av_read_frame(m_pSource, pPacket)) >= 0) {
        if (pPacket->stream_index != iSource) {
            av_packet_unref(pPacket);
            continue;
        }
        if (bPacketCut) {
            int64_t llAt = 0;
            int64_t llFrames = 0;
            if (!placer.Place(*pPacket, llAt, llFrames)) {
                av_packet_unref(pPacket);
                iResult = AVERROR_INVALIDDATA;
                break;
            }
            if (llAt >= 0 && static_cast<uint64_t>(llAt) >= range.nEnd) {
                av_packet_unref(pPacket);
                break;
            }
            if (llAt + llFrames <= llStart - cut.llPreRoll) {
                // Ahead of the selection: kept only as the packet before it.
                av_packet_unref(pBefore);
                if (cut.bPacketBefore) {
                    av_packet_move_ref(pBefore, pPacket);
                    llBeforeAt = llAt;
                    llBeforeFrames = llFrames;
                }
                av_packet_unref(pPacket);
                continue;
            }
            if (!m_pOutput) {
                const int64_t llFirst = pBefore->data ? llBeforeAt : llAt;
                if (!OpenOutput(iSource, tags, pFile, std::max<int64_t>(llStart - llFirst, 0))) {
                    bWritten = false;
                    break;
                }
                if (pBefore->data && !WriteCutPacket(*pBefore, llBeforeAt, llBeforeFrames, range)) {
                    bWritten = false;
                    break;
                }
            }
            bWritten = WriteCutPacket(*pPacket, llAt, llFrames, range);
            ++nPackets;
            av_packet_unref(pPacket);
            fnProgress(static_cast<uint64_t>(m_llCopied));
            continue;
        }
        if (bCut) {
            const uint64_t nAt = nFramesRead;
            nFramesRead += static_cast<uint64_t>(pPacket->size / nFrameBytes);
            if (!CutToRange(*pPacket, nAt, range, nFrameBytes)) {
                av_packet_unref(pPacket);
                if (nFramesRead >= range.nEnd) {
                    break;
                }
                continue;
            }
            pPacket->duration = pPacket->size / nFrameBytes;
            pPacket->pts = pPacket->dts = static_cast<int64_t>(std::max(nAt, range.nStart) - range.nStart);
            av_packet_rescale_ts(pPacket, m_sampleBase, m_sourceBase);
        }
        if (m_nSwapBytes > 0 && av_packet_make_writable(pPacket) >= 0) {
            for (int i = 0; i + m_nSwapBytes <= pPacket->size; i += m_nSwapBytes) {
                std::reverse(pPacket->data + i, pPacket->data + i + m_nSwapBytes);
            }
        }
        m_llCopied += av_rescale_q(pPacket->duration, m_sourceBase, m_sampleBase);
        av_packet_rescale_ts(pPacket, m_sourceBase, m_pOutput->streams[0]->time_base);
        ++nPackets;
        bWritten = WritePacket(*pPacket);
        av_packet_unref(pPacket);
        fnProgress(static_cast<uint64_t>(std::max<int64_t>(m_llCopied, 0)));
    }
    av_packet_free(&pPacket);
    av_packet_free(&pBefore);
    if (!bWritten) {
        return false;
    }
    if (iResult < 0 && iResult != AVERROR_EOF) {
        return Fail("Cannot read the source file", iResult);
    }
    if (nPackets == 0 && !fnStopped() && !bCut) {
        return Fail(kNoAudio);
    }
    // A cut that kept nothing, or was stopped before its first packet, is an empty but whole file.
    if (!m_pOutput && !OpenOutput(iSource, tags, pFile, 0)) {
        return false;
    }
    iResult = FinishFileOutput(m_pOutput);
    if (iResult < 0) {
        return Fail("Cannot write the output file", iResult);
    }
    return true;
}

}  // namespace klangor

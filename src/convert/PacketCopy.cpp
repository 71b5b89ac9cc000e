#include "convert/PacketCopy.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "convert/FileAvio.h"

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

bool CarriesCover(const char *szMuxer) {
    const std::string strMuxer = szMuxer;
    return strMuxer == "ipod" || strMuxer == "mp3" || strMuxer == "flac";
}

bool CarriesTags(const char *szMuxer) {
    const std::string strMuxer = szMuxer;
    return strMuxer != "ac3" && strMuxer != "eac3" && strMuxer != "dts";
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

bool PacketCopy::CanCut(const std::string &strSourcePath, int nTrack) {
    AVFormatContext *pFormat = nullptr;
    const int iStream = OpenSource(strSourcePath, nTrack, false, pFormat);
    const AVCodecID codec = iStream >= 0 ? pFormat->streams[iStream]->codecpar->codec_id : AV_CODEC_ID_NONE;
    avformat_close_input(&pFormat);
    return PlanOf(codec).wavCodec != AV_CODEC_ID_NONE;
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

bool PacketCopy::OpenOutput(int iSource, bool bWithTags, FILE *pFile) {
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
    if (bWithTags && CarriesTags(plan.szMuxer)) {
        // Ogg keeps its comments with the stream, the other containers with the file.
        av_dict_copy(&m_pOutput->metadata, m_pSource->metadata, 0);
        av_dict_copy(&m_pOutput->metadata, pIn->metadata, AV_DICT_DONT_OVERWRITE);
        av_dict_copy(&pOut->metadata, m_pOutput->metadata, 0);
        av_dict_set(&m_pOutput->metadata, "encoder", nullptr, 0);
        av_dict_set(&pOut->metadata, "encoder", nullptr, 0);
    }
    if (bWithTags && CarriesCover(plan.szMuxer)) {
        for (unsigned i = 0; i < m_pSource->nb_streams && m_iCoverSource < 0; ++i) {
            const AVStream *pPicture = m_pSource->streams[i];
            const AVCodecID picture = pPicture->codecpar->codec_id;
            if ((pPicture->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 &&
                (picture == AV_CODEC_ID_MJPEG || picture == AV_CODEC_ID_PNG) &&
                pPicture->attached_pic.size > 0) {
                AVStream *pCover = avformat_new_stream(m_pOutput, nullptr);
                if (!pCover) {
                    return Fail("Out of memory");
                }
                // Only what a picture stream needs: the source container's own fields can keep a
                // muxer from taking it.
                pCover->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
                pCover->codecpar->codec_id = picture;
                pCover->codecpar->width = pPicture->codecpar->width;
                pCover->codecpar->height = pPicture->codecpar->height;
                pCover->disposition = AV_DISPOSITION_ATTACHED_PIC;
                pCover->time_base = AVRational{1, 90000};
                av_dict_set(&pCover->metadata, "comment", "Cover (front)", 0);
                m_iCoverSource = static_cast<int>(i);
            }
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
    iResult = avformat_write_header(m_pOutput, nullptr);
    if (iResult < 0) {
        return Fail("Cannot write the output file", iResult);
    }
    if (m_iCoverSource >= 0) {
        AVPacket *pPicture = av_packet_clone(&m_pSource->streams[m_iCoverSource]->attached_pic);
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

bool PacketCopy::Copy(const std::string &strSourcePath, int nTrack, const Range &range, bool bWithTags,
                      FILE *pFile, const std::function<bool()> &fnStopped,
                      const std::function<void(uint64_t)> &fnProgress) {
    const int iSource = OpenSource(strSourcePath, nTrack, true, m_pSource);
    if (iSource < 0) {
        return Fail(m_pSource ? kNoAudio : "Cannot open the source file");
    }
    if (!OpenOutput(iSource, bWithTags, pFile)) {
        return false;
    }
    const AVStream *pIn = m_pSource->streams[iSource];
    const AVRational outBase = m_pOutput->streams[0]->time_base;
    const AVRational sampleBase{1, std::max(1, pIn->codecpar->sample_rate)};
    AVPacket *pPacket = av_packet_alloc();
    if (!pPacket) {
        return Fail("Out of memory");
    }
    const bool bCut = range.nStart > 0 || range.nEnd != UINT64_MAX;
    const int nFrameBytes = std::max(
        1, pIn->codecpar->ch_layout.nb_channels * av_get_bits_per_sample(pIn->codecpar->codec_id) / 8);
    if (bCut && PlanOf(pIn->codecpar->codec_id).wavCodec == AV_CODEC_ID_NONE) {
        av_packet_free(&pPacket);
        return Fail(kWholeOnly);
    }
    uint64_t nFramesRead = 0;
    int64_t llCopied = 0;
    uint64_t nPackets = 0;
    int iResult = 0;
    while (!fnStopped() && (iResult = av_read_frame(m_pSource, pPacket)) >= 0) {
        if (pPacket->stream_index != iSource) {
            av_packet_unref(pPacket);
            continue;
        }
        if (bCut) {
            // The frames are counted from the stream's start rather than taken from the timestamps,
            // which a container may keep in coarser units than frames.
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
            av_packet_rescale_ts(pPacket, sampleBase, pIn->time_base);
        }
        if (m_nSwapBytes > 0 && av_packet_make_writable(pPacket) >= 0) {
            for (int i = 0; i + m_nSwapBytes <= pPacket->size; i += m_nSwapBytes) {
                std::reverse(pPacket->data + i, pPacket->data + i + m_nSwapBytes);
            }
        }
        llCopied += av_rescale_q(pPacket->duration, pIn->time_base, sampleBase);
        av_packet_rescale_ts(pPacket, pIn->time_base, outBase);
        pPacket->stream_index = 0;
        pPacket->pos = -1;
        ++nPackets;
        iResult = av_interleaved_write_frame(m_pOutput, pPacket);
        if (iResult < 0) {
            av_packet_free(&pPacket);
            return Fail("Cannot write the output file", iResult);
        }
        fnProgress(static_cast<uint64_t>(std::max<int64_t>(llCopied, 0)));
    }
    av_packet_free(&pPacket);
    if (iResult < 0 && iResult != AVERROR_EOF) {
        return Fail("Cannot read the source file", iResult);
    }
    if (nPackets == 0 && !fnStopped() && !bCut) {
        return Fail(kNoAudio);
    }
    iResult = FinishFileOutput(m_pOutput);
    if (iResult < 0) {
        return Fail("Cannot write the output file", iResult);
    }
    return true;
}

}  // namespace klangor

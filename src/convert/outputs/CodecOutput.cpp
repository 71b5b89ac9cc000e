#include "convert/outputs/CodecOutput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "convert/tags/ContainerTags.h"
#include "convert/outputs/FileAvio.h"

namespace klangor {

namespace {

// The container is written in large pieces: a few system calls per second of audio.
constexpr uint32_t kOpusRate = 48000;
constexpr const char *kMp4NotSeekable = "An M4A file cannot be written into a pipe or a device";
constexpr const char *kEncoderMissing = "The encoder for this format is not available";

struct FormatPlan {
    const char *szEncoder;
    const char *szMuxer;
};

FormatPlan PlanOf(OutputFormat format) {
    switch (format) {
        case OutputFormat::Flac:
            return {"flac", "flac"};
        case OutputFormat::Opus:
            return {"libopus", "opus"};
        case OutputFormat::Aac:
            return {"aac", "ipod"};
        case OutputFormat::Alac:
            return {"alac", "ipod"};
        case OutputFormat::Vorbis:
        default:
            return {"libvorbis", "ogg"};
    }
}

// Rounded to the nearest, ties to even, as nearbyint does, without its call: a float this far from zero
// keeps no fraction, so adding and taking away the offset rounds in the processor's own mode. Clamped
// first (rounding a clamped sample gives what clamping the rounded one would), NaN to the bottom.
int16_t ToS16(float f) {
    constexpr float kRounder = 12582912.0f;  // 1.5 * 2^23
    float fScaled = f * 32768.0f;
    fScaled = fScaled > -32768.0f ? fScaled : -32768.0f;
    fScaled = fScaled < 32767.0f ? fScaled : 32767.0f;
    return static_cast<int16_t>((fScaled + kRounder) - kRounder);
}

// 24 significant bits at the top of 32, as the lossless encoders take them.
int32_t ToS24High(float f) {
    constexpr double kRounder = 6755399441055744.0;  // 1.5 * 2^52, as ToS16's
    double dScaled = static_cast<double>(f) * 8388608.0;
    dScaled = dScaled > -8388608.0 ? dScaled : -8388608.0;
    dScaled = dScaled < 8388607.0 ? dScaled : 8388607.0;
    return static_cast<int32_t>((dScaled + kRounder) - kRounder) * 256;
}

// Silence fed to the AAC encoder ahead of the audio, and skipped again by the edit list's start. A
// reader that honours the edit list only in whole frames at the end (ffmpeg's does) then still ends
// exactly: with it, the delay and the audio fill whole frames, so the end falls on a frame's end.
// Audio shorter than a frame would then lie all in the last packet, which that reader cannot cut at
// its start: it gets no silence, and that reader pads it to one frame rather than losing it.
int64_t PrimingFor(OutputFormat format, uint64_t nExpectedFrames, int nFrameSize) {
    if (format != OutputFormat::Aac || nFrameSize <= 0 ||
        nExpectedFrames < static_cast<uint64_t>(nFrameSize)) {
        return 0;
    }
    const auto nSize = static_cast<uint64_t>(nFrameSize);
    return static_cast<int64_t>((nSize - nExpectedFrames % nSize) % nSize);
}

}  // namespace

CodecOutput::CodecOutput() = default;

CodecOutput::~CodecOutput() {
    swr_free(&m_pResampler);
    av_packet_free(&m_pPacket);
    av_frame_free(&m_pFrame);
    avcodec_free_context(&m_pCodec);
    if (m_pFormat) {
        CloseFileAvio(&m_pFormat->pb);
        avformat_free_context(m_pFormat);
    }
}

bool CodecOutput::Fail(const std::string &strText, int iError) {
    m_strError = strText;
    if (iError < 0) {
        char szError[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(iError, szError, sizeof szError);
        m_strError += std::string(": ") + szError;
    }
    return false;
}

bool CodecOutput::OpenEncoder(OutputFormat format, const EncoderSettings &settings, uint32_t nRate,
                              int nChannels, int nBits, bool bGlobalHeader) {
    m_format = format;
    m_nChannels = nChannels;
    m_nBits = nBits;
    m_nSourceRate = nRate;
    const AVCodec *pEncoder = avcodec_find_encoder_by_name(PlanOf(format).szEncoder);
    if (!pEncoder) {
        return Fail(kEncoderMissing);
    }
    m_pCodec = avcodec_alloc_context3(pEncoder);
    m_pFrame = av_frame_alloc();
    m_pPacket = av_packet_alloc();
    if (!m_pCodec || !m_pFrame || !m_pPacket) {
        return Fail("Out of memory");
    }
    const bool bOpus = format == OutputFormat::Opus;
    m_pCodec->sample_rate = static_cast<int>(bOpus ? kOpusRate : nRate);
    av_channel_layout_default(&m_pCodec->ch_layout, nChannels);
    m_pCodec->time_base = AVRational{1, m_pCodec->sample_rate};
    switch (format) {
        case OutputFormat::Flac:
            m_pCodec->sample_fmt = nBits > 16 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
            m_pCodec->bits_per_raw_sample = nBits;
            m_pCodec->compression_level = settings.m_iFlacCompression.load();
            m_pCodec->frame_size = m_nFlacBlockSize;
            break;
        case OutputFormat::Alac:
            m_pCodec->sample_fmt = nBits > 16 ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_S16P;
            m_pCodec->bits_per_raw_sample = nBits;
            break;
        case OutputFormat::Aac:
            m_pCodec->sample_fmt = AV_SAMPLE_FMT_FLTP;
            m_pCodec->bit_rate = int64_t{settings.m_iAacBitrate.load()} * 1000;
            break;
        case OutputFormat::Opus:
            m_pCodec->sample_fmt = AV_SAMPLE_FMT_FLT;
            m_pCodec->bit_rate = int64_t{settings.m_iOpusBitrate.load()} * 1000;
            break;
        case OutputFormat::Vorbis:
        default:
            m_pCodec->sample_fmt = AV_SAMPLE_FMT_FLTP;
            m_pCodec->flags |= AV_CODEC_FLAG_QSCALE;
            m_pCodec->global_quality = settings.m_iVorbisQuality.load() * FF_QP2LAMBDA;
            break;
    }
    if (bGlobalHeader) {
        m_pCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int iResult = avcodec_open2(m_pCodec, pEncoder, nullptr);
    if (iResult < 0) {
        return Fail("Cannot start the encoder", iResult);
    }
    const bool bVariableFrames = (pEncoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    m_nFrameSize = m_pCodec->frame_size > 0 && !bVariableFrames ? m_pCodec->frame_size : 4096;

    if (bOpus && nRate != kOpusRate) {
        iResult =
            swr_alloc_set_opts2(&m_pResampler, &m_pCodec->ch_layout, AV_SAMPLE_FMT_FLT, kOpusRate,
                                &m_pCodec->ch_layout, AV_SAMPLE_FMT_FLT, static_cast<int>(nRate), 0, nullptr);
        if (iResult < 0 || swr_init(m_pResampler) < 0) {
            return Fail("Cannot set up the resampler", iResult);
        }
    }
    return true;
}

bool CodecOutput::OpenFrames(OutputFormat format, const EncoderSettings &settings, uint32_t nRate,
                             int nChannels, int nBits, std::function<bool(const uint8_t *, size_t)> onFrame) {
    m_onFrame = std::move(onFrame);
    return OpenEncoder(format, settings, nRate, nChannels, nBits, false);
}

bool CodecOutput::AppendPacket(const uint8_t *pData, size_t nBytes, int64_t llPts, int64_t llDuration) {
    if (!m_pFormat || !m_pending.empty() || llDuration <= 0 || nBytes > INT32_MAX) {
        return Fail("Cannot write the output file");
    }
    av_packet_unref(m_pPacket);
    if (av_new_packet(m_pPacket, static_cast<int>(nBytes)) < 0) {
        return Fail("Out of memory");
    }
    std::memcpy(m_pPacket->data, pData, nBytes);
    // As the encoder marks its own: every packet of a format whose packets stand alone is a key frame.
    m_pPacket->flags |= AV_PKT_FLAG_KEY;
    m_pPacket->pts = m_pPacket->dts = llPts;
    m_pPacket->duration = llDuration;
    m_llNextPts = llPts + llDuration;
    m_pPacket->stream_index = m_iAudioStream;
    av_packet_rescale_ts(m_pPacket, m_pCodec->time_base, m_pFormat->streams[m_iAudioStream]->time_base);
    const int iResult = av_interleaved_write_frame(m_pFormat, m_pPacket);
    if (iResult < 0) {
        return Fail("Cannot write the output file", iResult);
    }
    return FlushFirstPage();
}

bool CodecOutput::OpenContainer(OutputFormat format, const EncoderSettings &settings, uint32_t nRate,
                                int nChannels, int nBits, FILE *pFile, const MediaTags &tags) {
    m_pFile = pFile;
    int iResult = avformat_alloc_output_context2(&m_pFormat, nullptr, PlanOf(format).szMuxer, nullptr);
    if (iResult < 0 || !m_pFormat) {
        return Fail("Cannot set up the output container", iResult);
    }
    if (!OpenEncoder(format, settings, nRate, nChannels, nBits,
                     (m_pFormat->oformat->flags & AVFMT_GLOBALHEADER) != 0)) {
        return false;
    }

    AVStream *pStream = avformat_new_stream(m_pFormat, nullptr);
    if (!pStream) {
        return Fail("Out of memory");
    }
    m_iAudioStream = pStream->index;
    pStream->time_base = m_pCodec->time_base;
    iResult = avcodec_parameters_from_context(pStream->codecpar, m_pCodec);
    if (iResult < 0) {
        return Fail("Cannot set up the output container", iResult);
    }
    SetContainerTags(&m_pFormat->metadata, format, tags);
    if (!AddCoverStream(m_pFormat, format, tags)) {
        return Fail("Out of memory");
    }

    const bool bSeekable = IsSeekableFile(pFile);
    if (!bSeekable && (format == OutputFormat::Aac || format == OutputFormat::Alac)) {
        // Its index is written at the end and points back into the file.
        return Fail(kMp4NotSeekable);
    }
    m_pFormat->pb = OpenFileAvio(pFile);
    if (!m_pFormat->pb) {
        return Fail("Out of memory");
    }
    m_pFormat->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (format == OutputFormat::Opus || format == OutputFormat::Vorbis) {
        // A fixed stream serial number instead of a random one: the same source and settings give
        // the same bytes, however many files are converted at once.
        m_pFormat->flags |= AVFMT_FLAG_BITEXACT;
    }
    AVDictionary *pOptions = nullptr;
    if (format == OutputFormat::Aac || format == OutputFormat::Alac) {
        // The edit list in the track's own units: in milliseconds its end would miss the last sample.
        av_dict_set_int(&pOptions, "movie_timescale", m_pCodec->sample_rate, 0);
    }
    iResult = avformat_write_header(m_pFormat, &pOptions);
    av_dict_free(&pOptions);
    if (iResult < 0) {
        return Fail("Cannot write the output file", iResult);
    }
    if (m_pFormat->nb_streams > 1) {
        // The cover goes out as the attached picture's one packet, before any audio.
        const AVStream *pCover = m_pFormat->streams[1 - m_iAudioStream];
        AVPacket *pPicture = av_packet_clone(&pCover->attached_pic);
        if (!pPicture) {
            return Fail("Out of memory");
        }
        pPicture->stream_index = pCover->index;
        pPicture->pts = pPicture->dts = 0;
        iResult = av_interleaved_write_frame(m_pFormat, pPicture);
        av_packet_free(&pPicture);
        if (iResult < 0) {
            return Fail("Cannot write the output file", iResult);
        }
    }
    return true;
}

bool CodecOutput::OpenForPackets(OutputFormat format, const EncoderSettings &settings, uint32_t nRate,
                                 int nChannels, int nBits, FILE *pFile, const MediaTags &tags) {
    m_bPacketsOnly = true;
    return OpenContainer(format, settings, nRate, nChannels, nBits, pFile, tags);
}

int64_t CodecOutput::PrimingOf(OutputFormat format, uint64_t nExpectedFrames, int nFrameSize) {
    return PrimingFor(format, nExpectedFrames, nFrameSize);
}

bool CodecOutput::OpenTimedPackets(OutputFormat format, const EncoderSettings &settings, uint32_t nRate,
                                   int nChannels, int nBits, int64_t llFirstPts, int64_t nPad,
                                   std::function<bool(const TimedPacket &)> onPacket) {
    m_onTimedPacket = std::move(onPacket);
    if (!OpenEncoder(format, settings, nRate, nChannels, nBits, true)) {
        return false;
    }
    const int64_t nPriming = std::max<int64_t>(nPad, 0);
    m_llNextPts = llFirstPts - nPriming;
    const std::vector<float> silence(static_cast<size_t>(nPriming) * static_cast<size_t>(nChannels), 0.0f);
    return QueueFrames(silence.data(), static_cast<size_t>(nPriming));
}

bool CodecOutput::Open(OutputFormat format, const EncoderSettings &settings, uint32_t nRate, int nChannels,
                       int nBits, FILE *pFile, const MediaTags &tags, uint64_t nExpectedFrames) {
    if (!OpenContainer(format, settings, nRate, nChannels, nBits, pFile, tags)) {
        return false;
    }
    const int64_t llPriming = PrimingFor(format, nExpectedFrames, m_nFrameSize);
    m_llNextPts = -llPriming;
    const std::vector<float> silence(static_cast<size_t>(llPriming) * static_cast<size_t>(nChannels), 0.0f);
    return QueueFrames(silence.data(), static_cast<size_t>(llPriming));
}

bool CodecOutput::Write(const float *pSamples, size_t nFrames) {
    m_nSourceFrames += nFrames;
    if (!m_pResampler) {
        return QueueFrames(pSamples, nFrames);
    }
    const int nOut = swr_get_out_samples(m_pResampler, static_cast<int>(nFrames));
    m_resampled.resize(static_cast<size_t>(std::max(nOut, 1)) * static_cast<size_t>(m_nChannels));
    auto *pOut = reinterpret_cast<uint8_t *>(m_resampled.data());
    const auto *pIn = reinterpret_cast<const uint8_t *>(pSamples);
    const int nGot = swr_convert(m_pResampler, &pOut, nOut, &pIn, static_cast<int>(nFrames));
    if (nGot < 0) {
        return Fail("Cannot resample the audio", nGot);
    }
    return QueueFrames(m_resampled.data(), static_cast<size_t>(nGot));
}

bool CodecOutput::QueueFrames(const float *pSamples, size_t nFrames) {
    m_pending.insert(m_pending.end(), pSamples, pSamples + nFrames * static_cast<size_t>(m_nChannels));
    const size_t nFrameFloats = static_cast<size_t>(m_nFrameSize) * static_cast<size_t>(m_nChannels);
    while (m_pending.size() >= nFrameFloats) {
        if (!EncodeFrame(static_cast<size_t>(m_nFrameSize))) {
            return false;
        }
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<ptrdiff_t>(nFrameFloats));
    }
    return true;
}

bool CodecOutput::EncodeFrame(size_t nFrames) {
    av_frame_unref(m_pFrame);
    m_pFrame->nb_samples = static_cast<int>(nFrames);
    m_pFrame->format = m_pCodec->sample_fmt;
    m_pFrame->sample_rate = m_pCodec->sample_rate;
    if (av_channel_layout_copy(&m_pFrame->ch_layout, &m_pCodec->ch_layout) < 0 ||
        av_frame_get_buffer(m_pFrame, 0) < 0) {
        return Fail("Out of memory");
    }
    const float *pIn = m_pending.data();
    const size_t nChannels = static_cast<size_t>(m_nChannels);
    const size_t nSamples = nFrames * nChannels;
    switch (m_pCodec->sample_fmt) {
        case AV_SAMPLE_FMT_FLT:
            std::memcpy(m_pFrame->data[0], pIn, nSamples * sizeof(float));
            break;
        case AV_SAMPLE_FMT_FLTP:
            for (size_t c = 0; c < nChannels; ++c) {
                auto *pOut = reinterpret_cast<float *>(m_pFrame->data[c]);
                for (size_t i = 0; i < nFrames; ++i) {
                    pOut[i] = pIn[i * nChannels + c];
                }
            }
            break;
        case AV_SAMPLE_FMT_S16: {
            auto *pOut = reinterpret_cast<int16_t *>(m_pFrame->data[0]);
            for (size_t i = 0; i < nSamples; ++i) {
                pOut[i] = ToS16(pIn[i]);
            }
            break;
        }
        case AV_SAMPLE_FMT_S32: {
            auto *pOut = reinterpret_cast<int32_t *>(m_pFrame->data[0]);
            for (size_t i = 0; i < nSamples; ++i) {
                pOut[i] = ToS24High(pIn[i]);
            }
            break;
        }
        case AV_SAMPLE_FMT_S16P:
            for (size_t c = 0; c < nChannels; ++c) {
                for (size_t i = 0; i < nFrames; ++i) {
                    reinterpret_cast<int16_t *>(m_pFrame->data[c])[i] = ToS16(pIn[i * nChannels + c]);
                }
            }
            break;
        case AV_SAMPLE_FMT_S32P:
        default:
            for (size_t c = 0; c < nChannels; ++c) {
                for (size_t i = 0; i < nFrames; ++i) {
                    reinterpret_cast<int32_t *>(m_pFrame->data[c])[i] = ToS24High(pIn[i * nChannels + c]);
                }
            }
            break;
    }
    if (m_onSamples && !SinkSamples()) {
        return false;
    }
    m_pFrame->pts = m_llNextPts;
    m_llNextPts += static_cast<int64_t>(nFrames);
    m_nEncodedFrames += nFrames;
    const int iResult = avcodec_send_frame(m_pCodec, m_pFrame);
    if (iResult < 0) {
        return Fail("Error while encoding", iResult);
    }
    return DrainPackets();
}

bool CodecOutput::SinkSamples() {
    const size_t nSamples = static_cast<size_t>(m_pFrame->nb_samples) * static_cast<size_t>(m_nChannels);
    if (m_pCodec->sample_fmt == AV_SAMPLE_FMT_S16) {
        return m_onSamples(m_pFrame->data[0], nSamples * 2) || Fail("Cannot write the output file");
    }
    if (m_pCodec->sample_fmt != AV_SAMPLE_FMT_S32) {
        return true;  // only FLAC's formats have a checksum
    }
    m_packed.resize(nSamples * 3);
    const auto *pIn = reinterpret_cast<const int32_t *>(m_pFrame->data[0]);
    for (size_t i = 0; i < nSamples; ++i) {
        const int32_t iSample = pIn[i] >> 8;
        m_packed[i * 3] = static_cast<uint8_t>(iSample & 0xFF);
        m_packed[i * 3 + 1] = static_cast<uint8_t>((iSample >> 8) & 0xFF);
        m_packed[i * 3 + 2] = static_cast<uint8_t>((iSample >> 16) & 0xFF);
    }
    return m_onSamples(m_packed.data(), m_packed.size()) || Fail("Cannot write the output file");
}

bool CodecOutput::FitPacketToEnd() {
    const int64_t nEnd = m_llNextPts;
    // The padding of the last frame is no part of the output: an MP4 track's end is where its last
    // sample's duration ends, so that duration is cut to the frames really fed. A packet that begins
    // past them holds padding only (its pts already allows for the delay).
    if (m_format == OutputFormat::Aac) {
        if (m_pPacket->pts >= nEnd) {
            return false;
        }
        // Every AAC packet decodes to a whole frame; the encoder shortens the durations of the last
        // ones to what it was given in all, which the priming silence makes wrong here.
        m_pPacket->duration = m_nFrameSize;
    }
    if (m_pPacket->pts + m_pPacket->duration > nEnd && m_pPacket->pts < nEnd) {
        m_pPacket->duration = nEnd - m_pPacket->pts;
    }
    return true;
}

bool CodecOutput::FlushFirstPage() {
    if (m_bFirstPageFlushed || m_format != OutputFormat::Vorbis) {
        return true;
    }
    // The first audio packet on a page of its own: a reader works out where a Vorbis stream starts from
    // the first page's granule position, which cannot be done when that page is also the last, cut
    // short, one (a file shorter than a page).
    m_bFirstPageFlushed = true;
    const int iResult = av_write_frame(m_pFormat, nullptr);
    return iResult >= 0 || Fail("Cannot write the output file", iResult);
}

bool CodecOutput::DrainPackets() {
    AVStream *pStream = m_pFormat ? m_pFormat->streams[m_iAudioStream] : nullptr;
    for (;;) {
        int iResult = avcodec_receive_packet(m_pCodec, m_pPacket);
        if (iResult == AVERROR(EAGAIN) || iResult == AVERROR_EOF) {
            return true;
        }
        if (iResult < 0) {
            return Fail("Error while encoding", iResult);
        }
        if (m_onTimedPacket) {
            const bool bKept = FitPacketToEnd();
            const bool bOk =
                !bKept || m_onTimedPacket(TimedPacket{m_pPacket->data, static_cast<size_t>(m_pPacket->size),
                                                      m_pPacket->pts, m_pPacket->duration});
            av_packet_unref(m_pPacket);
            if (!bOk) {
                return Fail("Cannot write the output file");
            }
            continue;
        }
        if (!m_pFormat) {
            // The flush's last packet only carries the final stream header, which a part has no use for.
            const bool bOk =
                m_pPacket->size == 0 || m_onFrame(m_pPacket->data, static_cast<size_t>(m_pPacket->size));
            av_packet_unref(m_pPacket);
            if (!bOk) {
                return Fail("Cannot write the output file");
            }
            continue;
        }
        if (!FitPacketToEnd()) {
            av_packet_unref(m_pPacket);
            continue;
        }
        m_pPacket->stream_index = m_iAudioStream;
        av_packet_rescale_ts(m_pPacket, m_pCodec->time_base, pStream->time_base);
        iResult = av_interleaved_write_frame(m_pFormat, m_pPacket);
        if (iResult < 0) {
            return Fail("Cannot write the output file", iResult);
        }
        if (!FlushFirstPage()) {
            return false;
        }
    }
}

bool CodecOutput::Finish() {
    if (m_pResampler) {
        // What the resampler still holds, then exactly the count the source's length gives at 48 kHz.
        const uint64_t nTarget = (m_nSourceFrames * kOpusRate + m_nSourceRate / 2) / m_nSourceRate;
        const int nOut = swr_get_out_samples(m_pResampler, 0) + 64;
        m_resampled.assign(static_cast<size_t>(nOut) * static_cast<size_t>(m_nChannels), 0.0f);
        auto *pOut = reinterpret_cast<uint8_t *>(m_resampled.data());
        const int nGot = std::max(0, swr_convert(m_pResampler, &pOut, nOut, nullptr, 0));
        const uint64_t nHave = m_nEncodedFrames + m_pending.size() / static_cast<size_t>(m_nChannels);
        const uint64_t nWanted = nTarget > nHave ? nTarget - nHave : 0;
        m_resampled.resize(static_cast<size_t>(nWanted) * static_cast<size_t>(m_nChannels), 0.0f);
        (void)nGot;
        if (!QueueFrames(m_resampled.data(), static_cast<size_t>(nWanted))) {
            return false;
        }
        const size_t nKeep = static_cast<size_t>(nTarget - std::min(nTarget, m_nEncodedFrames));
        m_pending.resize(std::min(m_pending.size(), nKeep * static_cast<size_t>(m_nChannels)));
    }
    const size_t nLeft = m_pending.size() / static_cast<size_t>(m_nChannels);
    if (nLeft > 0 && !EncodeFrame(nLeft)) {
        return false;
    }
    m_pending.clear();
    int iResult = m_bPacketsOnly ? 0 : avcodec_send_frame(m_pCodec, nullptr);
    if (iResult < 0 || (!m_bPacketsOnly && !DrainPackets())) {
        return iResult < 0 ? Fail("Error while encoding", iResult) : false;
    }
    if (!m_pFormat) {
        return true;
    }
    iResult = FinishFileOutput(m_pFormat);
    if (iResult < 0) {
        return Fail("Cannot write the output file", iResult);
    }
    return true;
}

}  // namespace klangor

// The FFmpeg decoder behind the reader's needs. Runs on whichever thread uses the reader (one at a time).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "media/AudioDecoder.h"
#include "media/FfmpegHandles.h"

namespace klangor {

namespace {

// An owned copy of a channel layout (layouts with a custom map own memory).
class ChannelLayout {
public:
    ChannelLayout() = default;
    ChannelLayout(const ChannelLayout &) = delete;
    ChannelLayout &operator=(const ChannelLayout &) = delete;
    ~ChannelLayout() { av_channel_layout_uninit(&m_layout); }
    AVChannelLayout *Get() { return &m_layout; }
    // The frame's layout, or the usual layout for its channel count when the source leaves it unspecified
    // (8-bit mono WAV does), which the resampler would refuse.
    void Assign(const AVChannelLayout &source) {
        av_channel_layout_uninit(&m_layout);
        if (source.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy(&m_layout, &source) < 0) {
            av_channel_layout_default(&m_layout, source.nb_channels);
        }
    }
    bool Equals(const AVChannelLayout &other) const {
        ChannelLayout normalised;
        normalised.Assign(other);
        return av_channel_layout_compare(&m_layout, normalised.Get()) == 0;
    }

private:
    AVChannelLayout m_layout{};
};

constexpr int64_t kUnitsPerSecond = 10000000;
// Samples decoded and thrown away after a seek, so that decoders with inter-frame state (MP3's bit
// reservoir, AAC and AC-3 overlap) are settled when the wanted sample comes.
constexpr int64_t kPrerollFrames = 16384;
constexpr int kPrerollCodecFrames = 10;
// Targets this close ahead of the decoder are reached by decoding on, which is exact and cheaper than a
// demuxer seek plus pre-roll.
constexpr int64_t kDecodeThroughSeconds = 5;
constexpr int kMaxDamagedPackets = 1000;

class FfmpegAudioDecoder final : public IAudioDecoder {
public:
    explicit FfmpegAudioDecoder(PcmSampleFormat format) : m_bFloat(format == PcmSampleFormat::Float) {}
    int OpenFile(const std::string &strPath) override;
    int GetDuration(int64_t &llDuration) override;
    int GetFormat(WaveFormat &wfx) override;
    int Run() override { return m_pCodec ? 0 : AVERROR(EINVAL); }
    void SetAudioTrack(int nTrack, bool bStrict) override {
        m_nTrack = nTrack;
        m_bTrackStrict = bStrict;
    }
    std::string GetFailureText() const override { return m_strFailure; }
    int Seek(int64_t llTime) override;
    int Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) override;
    double GetReadFraction() const override;

private:
    int ReceiveFrame();
    int ConvertFrame();
    int DecodeMore();
    void FlushResampler();
    int DiscardUntil(int64_t llTarget);
    int SeekDemuxer(int64_t llTarget);
    int SeekAndPosition(int nStream, int64_t llTs, int64_t llTarget);
    int ReopenAndDecodeTo(int64_t llTarget);
    size_t PendingFrames() const { return (m_pending.size() - m_nPendingOffset) / m_nBlockAlign; }
    void DropPending(size_t nFrames);
    int64_t FramePosition(int64_t llPts) const;
    bool HasExactTimestamps() const;
    int FixedFrameSize() const;

    int FindAudioStream(const AVCodec *&pDecoder);

    const bool m_bFloat;
    int m_nTrack = 0;
    bool m_bTrackStrict = false;
    std::string m_strFailure;
    std::string m_strPath;
    FormatPtr m_pFormat;
    CodecPtr m_pCodec;
    SwrPtr m_pSwr;
    PacketPtr m_pPacket;
    FramePtr m_pFrame;
    AVStream *m_pStream = nullptr;
    ChannelLayout m_swrInLayout;
    int m_iSwrInFormat = -1;
    int m_iSwrInRate = 0;

    int m_nSampleRate = 0;
    int m_nOutChannels = 0;
    size_t m_nBlockAlign = 0;
    // Converted samples not yet handed out; m_llPendingPos is the stream position of the first of them.
    std::vector<uint8_t> m_pending;
    size_t m_nPendingOffset = 0;
    int64_t m_llPendingPos = 0;
    int64_t m_llOriginPts = AV_NOPTS_VALUE;  // timestamp of the first decoded sample
    bool m_bDemuxerDone = false;
    bool m_bDecoderDone = false;
};

int FfmpegAudioDecoder::OpenFile(const std::string &strPath) {
    m_strPath = strPath;
    m_pSwr.reset();
    m_pCodec.reset();
    m_pFormat.reset();
    m_pending.clear();
    m_nPendingOffset = 0;
    m_llPendingPos = 0;
    m_llOriginPts = AV_NOPTS_VALUE;
    m_bDemuxerDone = m_bDecoderDone = false;
    m_iSwrInFormat = -1;

    int iResult = 0;
    m_pFormat = OpenMediaFile(strPath, iResult);
    if (!m_pFormat) {
        return iResult;
    }
    const AVCodec *pDecoder = nullptr;
    const int nStream = FindAudioStream(pDecoder);
    if (nStream < 0) {
        return nStream;
    }
    for (unsigned i = 0; i < m_pFormat->nb_streams; ++i) {
        m_pFormat->streams[i]->discard = static_cast<int>(i) == nStream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    m_pStream = m_pFormat->streams[nStream];

    m_pCodec.reset(avcodec_alloc_context3(pDecoder));
    if (!m_pCodec) {
        return AVERROR(ENOMEM);
    }
    if ((iResult = avcodec_parameters_to_context(m_pCodec.get(), m_pStream->codecpar)) < 0) {
        return iResult;
    }
    m_pCodec->pkt_timebase = m_pStream->time_base;
    if ((iResult = avcodec_open2(m_pCodec.get(), pDecoder, nullptr)) < 0) {
        m_pCodec.reset();
        return iResult;
    }
    m_pPacket.reset(av_packet_alloc());
    m_pFrame.reset(av_frame_alloc());
    if (!m_pPacket || !m_pFrame) {
        return AVERROR(ENOMEM);
    }

    // The output format is fixed by the first decoded frame: some containers only learn the real
    // channel count and rate from the decoder (HE-AAC, streams without headers).
    if ((iResult = ReceiveFrame()) < 0) {
        m_pCodec.reset();
        return iResult;
    }
    if (iResult == 0) {
        // No audio frame at all: take the stream's parameters so the format is still well defined.
        m_nSampleRate = m_pCodec->sample_rate;
        m_nOutChannels = std::clamp(m_pCodec->ch_layout.nb_channels, 1, 2);
        if (m_nSampleRate <= 0) {
            m_pCodec.reset();
            return AVERROR_INVALIDDATA;
        }
    } else {
        m_nSampleRate = m_pFrame->sample_rate;
        m_nOutChannels = std::min(m_pFrame->ch_layout.nb_channels, 2);
    }
    m_nBlockAlign = static_cast<size_t>(m_nOutChannels) * (m_bFloat ? 4 : 2);
    if (iResult > 0) {
        m_llOriginPts = m_pFrame->best_effort_timestamp;
        if ((iResult = ConvertFrame()) < 0) {
            m_pCodec.reset();
            return iResult;
        }
    }
    return 0;
}

// The chosen track when the file has it, else the stream FFmpeg rates best for audio.
int FfmpegAudioDecoder::FindAudioStream(const AVCodec *&pDecoder) {
    m_strFailure.clear();
    if (m_nTrack > 0) {
        int nSeen = 0;
        for (unsigned i = 0; i < m_pFormat->nb_streams; ++i) {
            const AVStream *pStream = m_pFormat->streams[i];
            if (pStream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && ++nSeen == m_nTrack) {
                pDecoder = avcodec_find_decoder(pStream->codecpar->codec_id);
                return pDecoder ? static_cast<int>(i) : AVERROR_DECODER_NOT_FOUND;
            }
        }
        if (m_bTrackStrict) {
            m_strFailure = "The file has no audio track " + std::to_string(m_nTrack) + " (it has " +
                           std::to_string(nSeen) + ")";
            return AVERROR_STREAM_NOT_FOUND;
        }
    }
    return av_find_best_stream(m_pFormat.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &pDecoder, 0);
}

int FfmpegAudioDecoder::GetDuration(int64_t &llDuration) {
    if (!m_pFormat || !m_pStream) {
        return AVERROR(EINVAL);
    }
    llDuration = 0;
    if (m_pStream->duration != AV_NOPTS_VALUE && m_pStream->duration > 0) {
        llDuration = av_rescale_q(m_pStream->duration, m_pStream->time_base, AVRational{1, kUnitsPerSecond});
    } else if (m_pFormat->duration != AV_NOPTS_VALUE && m_pFormat->duration > 0) {
        llDuration = av_rescale(m_pFormat->duration, kUnitsPerSecond, AV_TIME_BASE);
    }
    return 0;
}

int FfmpegAudioDecoder::GetFormat(WaveFormat &wfx) {
    if (!m_pCodec) {
        return AVERROR(EINVAL);
    }
    wfx.wFormatTag = m_bFloat ? kWaveFormatFloat : kWaveFormatPcm;
    wfx.nChannels = static_cast<uint16_t>(m_nOutChannels);
    wfx.nSamplesPerSec = static_cast<uint32_t>(m_nSampleRate);
    wfx.wBitsPerSample = m_bFloat ? 32 : 16;
    wfx.nBlockAlign = static_cast<uint16_t>(m_nBlockAlign);
    wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
    wfx.cbSize = 0;
    return 0;
}

// One decoded frame into m_pFrame: 1, 0 at the end of the stream, or a negative error.
int FfmpegAudioDecoder::ReceiveFrame() {
    int nDamagedInARow = 0;
    while (true) {
        int iResult = avcodec_receive_frame(m_pCodec.get(), m_pFrame.get());
        if (iResult == 0) {
            return 1;
        }
        if (iResult == AVERROR_EOF) {
            m_bDecoderDone = true;
            return 0;
        }
        if (iResult != AVERROR(EAGAIN)) {
            // A damaged packet is skipped, as players do, and decoding goes on; a decoder that keeps
            // failing has nothing left to give.
            if (iResult == AVERROR(ENOMEM) || ++nDamagedInARow > kMaxDamagedPackets) {
                return iResult;
            }
            continue;
        }
        if (m_bDemuxerDone) {
            m_bDecoderDone = true;
            return 0;
        }
        iResult = av_read_frame(m_pFormat.get(), m_pPacket.get());
        if (iResult == AVERROR_EOF) {
            m_bDemuxerDone = true;
            // The null packet drains the decoder, so the last frames it holds come out too.
            avcodec_send_packet(m_pCodec.get(), nullptr);
            continue;
        }
        if (iResult < 0) {
            // A damaged tail reads as an I/O error in some demuxers; what was decoded is kept.
            if (iResult == AVERROR_INVALIDDATA || (m_pFormat->pb && avio_feof(m_pFormat->pb))) {
                m_bDemuxerDone = true;
                avcodec_send_packet(m_pCodec.get(), nullptr);
                continue;
            }
            return iResult;
        }
        if (m_pPacket->stream_index == m_pStream->index) {
            iResult = avcodec_send_packet(m_pCodec.get(), m_pPacket.get());
            if (iResult == AVERROR(ENOMEM) || (iResult < 0 && ++nDamagedInARow > kMaxDamagedPackets)) {
                av_packet_unref(m_pPacket.get());
                return iResult;
            }
        }
        av_packet_unref(m_pPacket.get());
    }
}

// Appends m_pFrame, as interleaved samples of the asked format, to the pending samples.
int FfmpegAudioDecoder::ConvertFrame() {
    const AVFrame &frame = *m_pFrame;
    if (frame.nb_samples <= 0) {
        return 0;
    }
    if (!m_pSwr || m_iSwrInFormat != frame.format || m_iSwrInRate != frame.sample_rate ||
        !m_swrInLayout.Equals(frame.ch_layout)) {
        m_swrInLayout.Assign(frame.ch_layout);
        ChannelLayout outLayout;
        av_channel_layout_default(outLayout.Get(), m_nOutChannels);
        SwrContext *pRawSwr = nullptr;
        int iResult = swr_alloc_set_opts2(
            &pRawSwr, outLayout.Get(), m_bFloat ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16, m_nSampleRate,
            m_swrInLayout.Get(), static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
        m_pSwr.reset(pRawSwr);
        if (iResult < 0 || (iResult = swr_init(m_pSwr.get())) < 0) {
            m_pSwr.reset();
            return iResult;
        }
        m_iSwrInFormat = frame.format;
        m_iSwrInRate = frame.sample_rate;
    }
    const int nMaxOut = swr_get_out_samples(m_pSwr.get(), frame.nb_samples);
    if (nMaxOut < 0) {
        return nMaxOut;
    }
    // Keep the pending store from growing: drop what was handed out before appending.
    if (m_nPendingOffset > 0) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_nPendingOffset));
        m_nPendingOffset = 0;
    }
    const size_t nOldSize = m_pending.size();
    m_pending.resize(nOldSize + static_cast<size_t>(nMaxOut) * m_nBlockAlign);
    uint8_t *pOut = m_pending.data() + nOldSize;
    const int nConverted = swr_convert(m_pSwr.get(), &pOut, nMaxOut,
                                       const_cast<const uint8_t **>(frame.extended_data), frame.nb_samples);
    if (nConverted < 0) {
        m_pending.resize(nOldSize);
        return nConverted;
    }
    m_pending.resize(nOldSize + static_cast<size_t>(nConverted) * m_nBlockAlign);
    return 0;
}

// Decodes the next frame into the pending samples: 1, 0 at the end of the stream, or an error.
int FfmpegAudioDecoder::DecodeMore() {
    if (m_bDecoderDone) {
        return 0;
    }
    const int iResult = ReceiveFrame();
    if (iResult < 0) {
        return iResult;
    }
    if (iResult == 0) {
        FlushResampler();
        return PendingFrames() > 0 ? 1 : 0;
    }
    const int iConverted = ConvertFrame();
    return iConverted < 0 ? iConverted : 1;
}

// A rate change inside the stream makes the resampler hold back a few samples; they belong to the end.
void FfmpegAudioDecoder::FlushResampler() {
    if (!m_pSwr) {
        return;
    }
    const int nMaxOut = swr_get_out_samples(m_pSwr.get(), 0);
    if (nMaxOut > 0) {
        const size_t nOldSize = m_pending.size();
        m_pending.resize(nOldSize + static_cast<size_t>(nMaxOut) * m_nBlockAlign);
        uint8_t *pOut = m_pending.data() + nOldSize;
        const int nFlushed = swr_convert(m_pSwr.get(), &pOut, nMaxOut, nullptr, 0);
        m_pending.resize(nOldSize + static_cast<size_t>(std::max(nFlushed, 0)) * m_nBlockAlign);
    }
    m_pSwr.reset();
}

void FfmpegAudioDecoder::DropPending(size_t nFrames) {
    nFrames = std::min(nFrames, PendingFrames());
    m_nPendingOffset += nFrames * m_nBlockAlign;
    m_llPendingPos += static_cast<int64_t>(nFrames);
    if (m_nPendingOffset == m_pending.size()) {
        m_pending.clear();
        m_nPendingOffset = 0;
    }
}

int FfmpegAudioDecoder::DiscardUntil(int64_t llTarget) {
    while (m_llPendingPos + static_cast<int64_t>(PendingFrames()) <= llTarget) {
        DropPending(PendingFrames());
        const int iResult = DecodeMore();
        if (iResult <= 0) {
            return iResult;  // the target lies past the end: nothing is left to hand out
        }
    }
    DropPending(static_cast<size_t>(std::max<int64_t>(0, llTarget - m_llPendingPos)));
    return 0;
}

// Stream position, in samples from the first decoded sample, of a frame with the given timestamp; -1
// when the timestamps are too coarse to tell.
int64_t FfmpegAudioDecoder::FramePosition(int64_t llPts) const {
    const AVRational tb = m_pStream->time_base;
    const double dPosition = static_cast<double>(llPts - m_llOriginPts) * tb.num / tb.den * m_nSampleRate;
    if (static_cast<int64_t>(tb.num) * m_nSampleRate <= tb.den) {
        return std::llround(dPosition);
    }
    // Containers that count milliseconds (Matroska, ASF, FLV) round the timestamps. Codecs with fixed
    // frames put them whole frames apart, so the position snaps to that grid; for others it cannot be
    // known to the sample.
    const int nFrameSize = FixedFrameSize();
    if (nFrameSize <= 0) {
        return -1;
    }
    return std::llround(dPosition / nFrameSize) * nFrameSize;
}

// The length of every frame of codecs whose frames never vary within a stream (m_pFrame is one).
int FfmpegAudioDecoder::FixedFrameSize() const {
    switch (m_pCodec->codec_id) {
        case AV_CODEC_ID_AAC:
        case AV_CODEC_ID_AC3:
        case AV_CODEC_ID_EAC3:
        case AV_CODEC_ID_MP1:
        case AV_CODEC_ID_MP2:
        case AV_CODEC_ID_MP3:
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2:
            return m_pCodec->frame_size > 0 ? m_pCodec->frame_size : m_pFrame->nb_samples;
        default:
            return 0;
    }
}

// Elementary streams (a bare MP3 or ADTS file) have no timestamps of their own: after a seek the demuxer
// guesses the position from the byte offset, which is not sample-exact.
bool FfmpegAudioDecoder::HasExactTimestamps() const {
    static constexpr const char *kEstimatingDemuxers[] = {
        "mp3", "aac", "ac3", "eac3", "dts", "truehd", "mlp", "loas", "amr", "mpc", "mpc8", "tta", "ape"};
    const AVInputFormat *pInput = m_pFormat->iformat;
    if (pInput->flags & AVFMT_NOTIMESTAMPS) {
        return false;
    }
    return std::none_of(std::begin(kEstimatingDemuxers), std::end(kEstimatingDemuxers),
                        [&](const char *szName) { return std::strcmp(pInput->name, szName) == 0; });
}

int FfmpegAudioDecoder::SeekDemuxer(int64_t llTarget) {
    const int64_t llPreroll =
        std::max<int64_t>(kPrerollFrames, int64_t{kPrerollCodecFrames} * m_pCodec->frame_size);
    const int64_t llSeekFrame = std::max<int64_t>(0, llTarget - llPreroll);
    const int64_t llTs =
        m_llOriginPts + av_rescale_q(llSeekFrame, AVRational{1, m_nSampleRate}, m_pStream->time_base);
    // First by the audio stream's own index; containers that index only their video (Matroska cues)
    // refuse that or land late, and are then sought by the file's default stream.
    if (SeekAndPosition(m_pStream->index, llTs, llTarget) == 0) {
        return 0;
    }
    const int64_t llGlobalTs = av_rescale_q(llTs, m_pStream->time_base, AV_TIME_BASE_Q);
    return SeekAndPosition(-1, llGlobalTs, llTarget);
}

int FfmpegAudioDecoder::SeekAndPosition(int nStream, int64_t llTs, int64_t llTarget) {
    if (avformat_seek_file(m_pFormat.get(), nStream, INT64_MIN, llTs, llTs, 0) < 0) {
        return -1;
    }
    avcodec_flush_buffers(m_pCodec.get());
    m_pSwr.reset();
    m_pending.clear();
    m_nPendingOffset = 0;
    m_bDemuxerDone = m_bDecoderDone = false;
    // The position comes from the first frame that carries a timestamp; from there samples are counted.
    while (true) {
        const int iResult = ReceiveFrame();
        if (iResult <= 0) {
            return -1;
        }
        if (m_pFrame->best_effort_timestamp != AV_NOPTS_VALUE) {
            break;
        }
    }
    m_llPendingPos = FramePosition(m_pFrame->best_effort_timestamp);
    if (m_llPendingPos < 0 || m_llPendingPos > llTarget) {
        return -1;  // position unknown, or landed after the target
    }
    if (ConvertFrame() < 0) {
        return -1;
    }
    return DiscardUntil(llTarget);
}

int FfmpegAudioDecoder::ReopenAndDecodeTo(int64_t llTarget) {
    const int nRate = m_nSampleRate;
    const int nChannels = m_nOutChannels;
    int iResult = OpenFile(m_strPath);
    if (iResult < 0) {
        return iResult;
    }
    if (m_nSampleRate != nRate || m_nOutChannels != nChannels) {
        return AVERROR(EINVAL);  // the file changed under us
    }
    return DiscardUntil(llTarget);
}

int FfmpegAudioDecoder::Seek(int64_t llTime) {
    if (!m_pCodec || llTime < 0) {
        return AVERROR(EINVAL);
    }
    const int64_t llTarget = av_rescale_rnd(llTime, m_nSampleRate, kUnitsPerSecond, AV_ROUND_DOWN);
    if (llTarget >= m_llPendingPos && llTarget - m_llPendingPos <= kDecodeThroughSeconds * m_nSampleRate) {
        return DiscardUntil(llTarget);
    }
    if (m_llOriginPts != AV_NOPTS_VALUE && HasExactTimestamps() && SeekDemuxer(llTarget) == 0) {
        return 0;
    }
    // No usable index or timestamps: count samples from the start instead. Slower, but exact.
    return ReopenAndDecodeTo(llTarget);
}

int FfmpegAudioDecoder::Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) {
    nFilled = 0;
    if (!m_pCodec) {
        return AVERROR(EINVAL);
    }
    while (PendingFrames() < nFrames) {
        const int iResult = DecodeMore();
        if (iResult < 0) {
            return iResult;
        }
        if (iResult == 0) {
            break;
        }
    }
    const size_t nTake = std::min<size_t>(nFrames, PendingFrames());
    // Nothing pending means an empty store whose data() may be null, which memcpy must never see.
    if (nTake > 0) {
        std::memcpy(pBuffer, m_pending.data() + m_nPendingOffset, nTake * m_nBlockAlign);
    }
    DropPending(nTake);
    nFilled = static_cast<uint32_t>(nTake);
    return 0;
}

double FfmpegAudioDecoder::GetReadFraction() const {
    if (!m_pFormat || !m_pFormat->pb) {
        return -1.0;
    }
    const int64_t llSize = avio_size(m_pFormat->pb);
    const int64_t llPos = avio_tell(m_pFormat->pb);
    if (llSize <= 0 || llPos < 0) {
        return -1.0;
    }
    return m_bDecoderDone ? 1.0 : std::min(1.0, static_cast<double>(llPos) / static_cast<double>(llSize));
}

}  // namespace

std::unique_ptr<IAudioDecoder> CreateFfmpegAudioDecoder(PcmSampleFormat format) {
    return std::make_unique<FfmpegAudioDecoder>(format);
}

void SilenceDecoderLog() {
    av_log_set_level(AV_LOG_QUIET);
}

void LimitFfmpegBlockSize() {
    // The largest blocks real files need are sample index tables: 24 bytes per compressed frame, about
    // 4 MiB for an hour of AAC and under 512 MiB for five days of it; video frames are a few tens of
    // megabytes at most.
    constexpr size_t kMaxBlock = size_t{512} << 20;
    static std::once_flag once;
    std::call_once(once, [] { av_max_alloc(kMaxBlock); });
}

}  // namespace klangor

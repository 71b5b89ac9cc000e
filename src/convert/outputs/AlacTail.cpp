#include "convert/outputs/AlacTail.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>

#include "media/FfmpegHandles.h"

namespace klangor {

namespace {

CodecPtr OpenAlacDecoder(const AVCodecParameters &params) {
    const AVCodec *pCodec = avcodec_find_decoder(AV_CODEC_ID_ALAC);
    CodecPtr pContext(pCodec ? avcodec_alloc_context3(pCodec) : nullptr);
    if (!pContext || avcodec_parameters_to_context(pContext.get(), &params) < 0 ||
        avcodec_open2(pContext.get(), pCodec, nullptr) < 0) {
        return nullptr;
    }
    return pContext;
}

// The one frame a packet decodes to.
FramePtr DecodeOne(AVCodecContext &decoder, const AVPacket &packet) {
    FramePtr pFrame(av_frame_alloc());
    if (!pFrame || avcodec_send_packet(&decoder, &packet) < 0 ||
        avcodec_receive_frame(&decoder, pFrame.get()) < 0) {
        return nullptr;
    }
    return pFrame;
}

bool SameSamples(const AVFrame &a, const AVFrame &b, int nFrames) {
    if (a.format != b.format || a.ch_layout.nb_channels != b.ch_layout.nb_channels ||
        b.nb_samples != nFrames) {
        return false;
    }
    const int nBytes = av_get_bytes_per_sample(static_cast<AVSampleFormat>(a.format)) * nFrames;
    for (int c = 0; c < a.ch_layout.nb_channels; ++c) {
        if (std::memcmp(a.extended_data[c], b.extended_data[c], static_cast<size_t>(nBytes)) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ShortenAlacPacket(const AVCodecParameters &params, AVPacket &packet, int nKeep) {
    CodecPtr pDecoder = OpenAlacDecoder(params);
    FramePtr pWhole = pDecoder ? DecodeOne(*pDecoder, packet) : nullptr;
    if (!pWhole || nKeep <= 0 || nKeep >= pWhole->nb_samples ||
        !av_sample_fmt_is_planar(static_cast<AVSampleFormat>(pWhole->format))) {
        return false;
    }
    const AVCodec *pCodec = avcodec_find_encoder(AV_CODEC_ID_ALAC);
    CodecPtr pEncoder(pCodec ? avcodec_alloc_context3(pCodec) : nullptr);
    if (!pEncoder) {
        return false;
    }
    pEncoder->sample_fmt = static_cast<AVSampleFormat>(pWhole->format);
    pEncoder->sample_rate = params.sample_rate;
    pEncoder->bits_per_raw_sample = pDecoder->bits_per_raw_sample;
    if (av_channel_layout_copy(&pEncoder->ch_layout, &pWhole->ch_layout) < 0 ||
        avcodec_open2(pEncoder.get(), pCodec, nullptr) < 0 || nKeep > pEncoder->frame_size) {
        return false;
    }
    FramePtr pShort(av_frame_alloc());
    if (!pShort) {
        return false;
    }
    pShort->format = pWhole->format;
    pShort->nb_samples = nKeep;
    pShort->sample_rate = params.sample_rate;
    if (av_channel_layout_copy(&pShort->ch_layout, &pWhole->ch_layout) < 0 ||
        av_frame_get_buffer(pShort.get(), 0) < 0 ||
        av_samples_copy(pShort->extended_data, pWhole->extended_data, 0, 0, nKeep,
                        pWhole->ch_layout.nb_channels, static_cast<AVSampleFormat>(pWhole->format)) < 0) {
        return false;
    }
    PacketPtr pEncoded(av_packet_alloc());
    // A frame shorter than the encoder's is its last one: sent, then the end, it comes out with its length.
    if (!pEncoded || avcodec_send_frame(pEncoder.get(), pShort.get()) < 0 ||
        avcodec_send_frame(pEncoder.get(), nullptr) < 0 ||
        avcodec_receive_packet(pEncoder.get(), pEncoded.get()) < 0) {
        return false;
    }
    // Read back as the source's own settings read it: the samples must be the ones they replace.
    CodecPtr pCheck = OpenAlacDecoder(params);
    FramePtr pBack = pCheck ? DecodeOne(*pCheck, *pEncoded) : nullptr;
    if (!pBack || !SameSamples(*pWhole, *pBack, nKeep)) {
        return false;
    }
    const int64_t llPts = packet.pts;
    const int64_t llDts = packet.dts;
    const int64_t llDuration = packet.duration;
    const int iStream = packet.stream_index;
    const int iFlags = packet.flags;
    av_packet_unref(&packet);
    av_packet_move_ref(&packet, pEncoded.get());
    packet.pts = llPts;
    packet.dts = llDts;
    packet.duration = llDuration;
    packet.stream_index = iStream;
    packet.flags = iFlags;
    return true;
}

}  // namespace klangor

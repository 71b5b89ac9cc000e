#pragma once

// Owning handles for FFmpeg's contexts, and the one way this program opens a media file through it.
// Every reader of media (decoders, probes, tag readers, and the writers that mux through FFmpeg) uses
// these, so a context is freed on every path and every opening gets the same allocation cap.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace klangor {

struct FormatCloser {
    void operator()(AVFormatContext *p) const { avformat_close_input(&p); }
};
struct CodecFreer {
    void operator()(AVCodecContext *p) const { avcodec_free_context(&p); }
};
struct PacketFreer {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame *p) const { av_frame_free(&p); }
};
struct SwrFreer {
    void operator()(SwrContext *p) const { swr_free(&p); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

// FFmpeg's text for a negative status.
std::string FfmpegErrorText(int iStatus);

// Opens strPath and reads its stream information, under the allocation cap. pInterrupt, when given,
// lets the caller cut off a read that never ends (a stalled share). On failure the result is empty and
// iStatus holds FFmpeg's negative status.
FormatPtr OpenMediaFile(const std::string &strPath, int &iStatus,
                        const AVIOInterruptCB *pInterrupt = nullptr);

}  // namespace klangor

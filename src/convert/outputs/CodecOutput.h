#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/MediaTags.h"
#include "settings/EncoderSettings.h"
#include "settings/OutputFormat.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace klangor {

// One FLAC, Opus, AAC, ALAC or Vorbis output being encoded (libavcodec) and put in its container
// (libavformat), fed interleaved 32-bit float frames at the source's rate. The container's bytes go
// through our own writes to the caller's (temporary) file, so a failed write fails the output instead
// of being dropped. The output holds exactly the frames fed: the encoder's delay and the padding of its
// last frame are declared where players honour them (pre-skip and granule positions in Ogg, the edit
// list in MP4). Owned by the one worker that converts the job.
// One packet an encoder gave, with its place and length in the output's timeline (frames at the
// encoder's rate, the first of the audio at 0).
struct TimedPacket {
    const uint8_t *pData = nullptr;
    size_t nBytes = 0;
    int64_t llPts = 0;
    int64_t llDuration = 0;
};

class CodecOutput {
public:
    CodecOutput();
    ~CodecOutput();
    CodecOutput(const CodecOutput &) = delete;
    CodecOutput &operator=(const CodecOutput &) = delete;

    // Sets up the encoder and writes the container's header with the tags. nBits is the lossless
    // formats' sample depth (16 or 24). nExpectedFrames is how many frames Write will be given, 0 when
    // not known: AAC needs it to end exactly (see PrimingFor). False on a failure; GetError says what
    // failed.
    bool Open(OutputFormat format, const EncoderSettings &settings, uint32_t nRate, int nChannels, int nBits,
              FILE *pFile, const MediaTags &tags, uint64_t nExpectedFrames);
    // One piece of a FLAC or ALAC file encoded in pieces: the encoder alone, without a container,
    // handing each encoded frame to onFrame (false there fails the output). Otherwise as Open.
    bool OpenFrames(OutputFormat format, const EncoderSettings &settings, uint32_t nRate, int nChannels,
                    int nBits, std::function<bool(const uint8_t *, size_t)> onFrame);
    // One piece of an AAC file encoded in pieces: the encoder alone, without a container, fed nPad
    // frames of silence and then the piece's from llFirstPts of the output's timeline on, each packet
    // handed to onPacket with its place and length there, as the container of an undivided encode
    // would be given it.
    bool OpenTimedPackets(OutputFormat format, const EncoderSettings &settings, uint32_t nRate, int nChannels,
                          int nBits, int64_t llFirstPts, int64_t nPad,
                          std::function<bool(const TimedPacket &)> onPacket);
    // Open for packets other encoders with the same settings made, which AppendPacket puts into the
    // container: the header with the tags, and no priming of its own.
    bool OpenForPackets(OutputFormat format, const EncoderSettings &settings, uint32_t nRate, int nChannels,
                        int nBits, FILE *pFile, const MediaTags &tags);
    // After Open, with no frame left short of a packet (what was written fills whole packets), or after
    // OpenForPackets: puts a packet another encoder with the same settings made into the container at
    // llPts for llDuration frames.
    bool AppendPacket(const uint8_t *pData, size_t nBytes, int64_t llPts, int64_t llDuration);
    // The place of the next frame Write takes, in the output's timeline.
    int64_t GetNextPts() const { return m_llNextPts; }
    // The frames PrimingFor puts ahead of an AAC file's audio of nExpectedFrames.
    static int64_t PrimingOf(OutputFormat format, uint64_t nExpectedFrames, int nFrameSize);
    // The samples of every frame from now on go to onSamples too, as the FLAC encoder's checksum reads
    // them: 16-bit or packed 24-bit, little-endian, interleaved (false there fails the output).
    void SetSampleSink(std::function<bool(const uint8_t *, size_t)> onSamples) {
        m_onSamples = std::move(onSamples);
    }
    // The samples per encoded frame, after opening: FLAC's block size, ALAC's packet.
    int GetFrameSize() const { return m_nFrameSize; }
    // Before Open: the frames per FLAC block, 0 (the default) for the encoder's own choice.
    void SetFlacBlockSize(int nFrames) { m_nFlacBlockSize = nFrames; }
    // nFrames interleaved frames, full scale ±1.0.
    bool Write(const float *pSamples, size_t nFrames);
    // Drains the encoder and writes the container's trailer; the file is then complete.
    bool Finish();
    const std::string &GetError() const { return m_strError; }

private:
    bool Fail(const std::string &strText, int iError = 0);
    bool OpenContainer(OutputFormat format, const EncoderSettings &settings, uint32_t nRate, int nChannels,
                       int nBits, FILE *pFile, const MediaTags &tags);
    // The encoder's packet as the container takes it: an AAC packet past the frames fed dropped (false),
    // the last one's length cut to them.
    bool FitPacketToEnd();
    // After the first audio packet: a Vorbis stream's first page goes out at once.
    bool FlushFirstPage();
    bool OpenEncoder(OutputFormat format, const EncoderSettings &settings, uint32_t nRate, int nChannels,
                     int nBits, bool bGlobalHeader);
    bool SinkSamples();
    bool QueueFrames(const float *pSamples, size_t nFrames);
    bool EncodeFrame(size_t nFrames);
    bool DrainPackets();

    OutputFormat m_format = OutputFormat::Flac;
    FILE *m_pFile = nullptr;
    AVFormatContext *m_pFormat = nullptr;
    AVCodecContext *m_pCodec = nullptr;
    AVFrame *m_pFrame = nullptr;
    AVPacket *m_pPacket = nullptr;
    SwrContext *m_pResampler = nullptr;
    int m_nChannels = 0;
    int m_nBits = 16;
    int m_nFrameSize = 0;
    int m_nFlacBlockSize = 0;
    int m_iAudioStream = 0;
    bool m_bFirstPageFlushed = false;
    bool m_bPacketsOnly = false;  // opened by OpenForPackets: its own encoder is never fed
    uint32_t m_nSourceRate = 0;
    uint64_t m_nSourceFrames = 0;   // fed to Write
    uint64_t m_nEncodedFrames = 0;  // handed to the encoder, at its rate
    int64_t m_llNextPts = 0;        // of the next frame handed to the encoder; negative while priming
    std::vector<float> m_pending;   // interleaved, at the encoder's rate, short of one encoder frame
    std::vector<float> m_resampled;
    std::string m_strError;
    std::function<bool(const uint8_t *, size_t)> m_onFrame;    // without a container only
    std::function<bool(const TimedPacket &)> m_onTimedPacket;  // without a container only
    std::function<bool(const uint8_t *, size_t)> m_onSamples;  // when set
    std::vector<uint8_t> m_packed;                             // 24-bit samples for m_onSamples
};

}  // namespace klangor

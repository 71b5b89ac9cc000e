#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "convert/Mp3Encoder.h"
#include "convert/OutputFile.h"
#include "convert/WriterThread.h"
#include "settings/EncoderSettings.h"

// The sample layout of a job, noted once per job: 32-bit float, 16-bit or else 8-bit unsigned; two
// channels or else the first channel only.
struct SampleLayout {
    enum class Kind { U8, S16, Float };
    Kind kind;
    bool bTwoChannel;
    int nChannels;
};

// Splits a chunk into the left and right float buffers LAME takes (full scale is ±1.0), picking one
// channel for mono when the settings ask for it (read for every frame).
void SplitChannels(const uint8_t *pBuffer, int nFrames, const SampleLayout &layout,
                   const EncoderSettings &settings, float *pLeft, float *pRight);

// How one run of an encoder over a reader ended.
struct Mp3EncodeOutcome {
    bool bOk = false;        // flushed; otherwise strError says why
    bool bStopped = false;   // ended early on a stop request (still flushed)
    uint64_t nFramesIn = 0;  // frames that went into the encoder
    std::string strError;
};

const char *Mp3EncodeFailureText(int iResult);

// Feeds at most nLimit frames of the reader to the encoder, writes its output to pOut and flushes it.
// onChunk is told the frames of each chunk encoded; isStopped is asked after each chunk.
Mp3EncodeOutcome EncodeMp3Frames(lame_global_flags *gfp, AudioStreamReader &reader, uint64_t nLimit,
                                 FILE *pOut, const EncoderSettings &settings, LoudnessMeter *pMeter,
                                 const std::function<void(uint32_t)> &onChunk,
                                 const std::function<bool()> &isStopped);

// Where one part of a file encoded in parts ended, for deciding what a stop keeps.
struct Mp3PartEnd {
    bool bWhole = false;            // encoded everything it was given, unstopped and without error
    bool bReachedJoin = false;      // encoded, without error, past the last frame it may take over at
};

// How many parts, from the first, a stopped file keeps: the longest stretch from its start encoded
// without a gap. That is every part that ended whole, and then the next part too when it got past its
// join; the first part is always kept.
int Mp3PartsKeptAfterStop(const std::vector<Mp3PartEnd> &parts);

// Encodes each job of a batch to MP3 with libmp3lame, fed 32-bit float samples, set up per job from the
// shared EncoderSettings (the low-rate bitrate ceiling is written back into them). While fewer files run
// than there are workers, a long file is cut into consecutive parts encoded side by side and joined into
// one stream (Mp3PartsJob.cpp). Start, Stop, IsRunning and the setters on the window thread; the
// encoding on the workers, one encoder per running job or part.
class Mp3WriterThread : public WriterThread {
public:
    static constexpr double kDefaultSplitSeconds = 30.0;

    Mp3WriterThread();
    ~Mp3WriterThread() override;

    // The settings must outlive the batch; the worker reads them at each job's start and the channel
    // pick for every frame.
    int Start(const std::vector<AudioStreamReader *> &jobs, EncoderSettings &settings);
    // Files longer than this are encoded in parts on the spare workers; 0 never divides a file.
    void SetSplitAfterSeconds(double dSeconds) { m_dSplitAfterSeconds = dSeconds < 0.0 ? 0.0 : dSeconds; }
    double GetSplitAfterSeconds() const { return m_dSplitAfterSeconds; }

private:
    PcmSampleFormat JobFormat() const override { return PcmSampleFormat::Float; }
    void ConvertJob(AudioStreamReader &job, int32_t nJob) override;
    void ConvertWhole(AudioStreamReader &job, int32_t nJob, const EncoderSettings &snapshot);
    // Tags the finished file (the source's tags unless turned off, ReplayGain from the meter when one
    // measured it) and gives it its final name; the job fails when that cannot be done.
    void KeepWithTags(OutputFile &file, AudioStreamReader &job, LoudnessMeter *pMeter);
    // How many parts the job is encoded in: 1 unless it is long and workers are spare.
    int PartsFor(const AudioStreamReader &job) const;
    // Encodes the job in nParts parts and joins them into its output. False when the parts could not be
    // joined and the file must be encoded in one piece; true when the job is done (converted, stopped
    // short, or failed with its reason recorded).
    bool ConvertInParts(AudioStreamReader &job, int32_t nJob, const EncoderSettings &snapshot, int nParts);

    EncoderSettings *m_pSettings = nullptr;
    std::atomic<double> m_dSplitAfterSeconds{kDefaultSplitSeconds};
};

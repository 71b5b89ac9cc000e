#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "convert/outputs/Mp3Encoder.h"
#include "common/OutputFile.h"
#include "convert/batch/JobOutput.h"
#include "convert/batch/Loudness.h"
#include "settings/EncoderSettings.h"

namespace klangor {

// The sample layout of a job, noted once per job: 32-bit float, 16-bit or else 8-bit unsigned; two
// channels or else the first channel only.
struct SampleLayout {
    enum class Kind { U8, S16, Float };
    Kind kind;
    bool bTwoChannel;
    int nChannels;
};

// What LAME may write for one chunk or its flush: above its worst case for 1000 frames
// (1.25 × 1000 + 7200).
inline constexpr int kMp3BufferBytes = 16384;

// The layout of the samples the job's reader delivers.
SampleLayout LayoutOf(const AudioStreamReader &job);

// Splits a chunk into the left and right float buffers LAME takes (full scale is ±1.0), picking one
// channel for mono when the settings ask for it.
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
// onChunk is told the frames of each chunk encoded; isStopped is asked after each chunk. The settings
// are the job's own, fixed for it.
Mp3EncodeOutcome EncodeMp3Frames(lame_global_flags *gfp, AudioStreamReader &reader, uint64_t nLimit,
                                 FILE *pOut, const EncoderSettings &settings, LoudnessMeter *pMeter,
                                 const std::function<void(uint32_t)> &onChunk,
                                 const std::function<bool()> &isStopped);

// Encodes each job of a batch to MP3 with libmp3lame, fed 32-bit float samples, set up per job from the
// encoder settings published when its turn came. A long file is cut into consecutive pieces, as many as
// its length and the threshold give (never as the workers' timing would), encoded by whichever workers
// are free and joined into one stream (divide/Mp3Divide.cpp). The encoding on the workers, one encoder
// per running job or piece; BeginBatch and WriteBackSettings on the owner's thread.
//
// Each job takes the settings as a one-at-a-time batch would leave them for that file: the low-rate
// bitrate ceiling an earlier file applied holds for the later ones, while the owner's record itself is
// only written by WriteBackSettings, on the owner's thread.
class Mp3JobOutput : public JobOutput {
public:
    using JobOutput::JobOutput;

    void BeginBatch(size_t nJobs) override;
    // Writes what the jobs fixed so far did to the settings (the lowered bitrate) into the owner's
    // record, unless it was changed since, and into the published settings with it.
    bool WriteBackSettings(EncoderSettings &record) override;
    bool FixesSettingsInTurn() const override { return true; }
    void FixJobSettings(const AudioStreamReader &reader, int32_t nJob) override;
    void ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) override;

private:
    void ConvertWhole(ConversionJob &job, AudioStreamReader &reader, int32_t nJob,
                      const EncoderSettings &snapshot);
    // Tags the finished file (the source's tags unless turned off, ReplayGain from the meter when one
    // measured it) and gives it its final name; the job fails when that cannot be done.
    void KeepWithTags(OutputFile &file, ConversionJob &job, const AudioStreamReader &reader,
                      LoudnessMeter *pMeter);
    // How many pieces the job is encoded in, from the job and the settings alone: 1 unless it is long.
    int PiecesFor(const ConversionJob &job, const AudioStreamReader &reader, int32_t nJob) const;
    // Encodes the job in nPieces pieces and joins them into its output. False when the pieces could not be
    // joined and the file must be encoded whole; true when the job is done (converted, stopped
    // short, or failed with its reason recorded).
    bool ConvertDivided(ConversionJob &job, AudioStreamReader &reader, const EncoderSettings &snapshot,
                        int nPieces);

    // Per job, as FixJobSettings fixed it: entry n written in job n's turn, read by its worker and tasks.
    std::vector<EncoderSettings> m_jobEncoders;
    // Under PublishedMutex(): the published bitrate that a fixed job lowered and that is not yet written
    // back, 0 for none.
    int32_t m_iLoweredFrom = 0;
};

}  // namespace klangor

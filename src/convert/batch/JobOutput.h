#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "convert/batch/AudioStreamReader.h"
#include "convert/batch/ConversionJob.h"
#include "convert/batch/JobSettings.h"
#include "convert/batch/Loudness.h"
#include "media/AudioDecoder.h"
#include "settings/OutputFormat.h"

namespace klangor {

class OutputFile;
class PieceJoiner;
class WriterThread;
struct MediaTags;

// Failure texts that every output gives for the same reason.
inline constexpr const char *kNoAudioText = "Can not find audio in you Media file!";
inline constexpr const char *kCannotCreateText = "Cannot create output file";
inline constexpr const char *kStoppedWhileMeasuringText = "Stopped while its loudness was being measured";
inline constexpr const char *kStoppedBeforeConvertedText = "Stopped before it was converted";

// Adds the first nFrames frames of the reader's last chunk to the meter, whatever their sample format;
// scratch holds widened 8-bit samples between calls. False when the meter refuses them.
bool MeterReaderChunk(LoudnessMeter &meter, const AudioStreamReader &reader, int nFrames,
                      std::vector<float> &scratch);

// How a format's output is joined from pieces encoded side by side, when it is.
enum class PieceJoin {
    None,         // encoded whole by the worker that took the file
    Mp3Frames,    // consecutive LAME streams, joined on their frames (divide/Mp3Divide.cpp)
    FlacFrames,   // FLAC frames encoded apart, renumbered into one stream (divide/FlacDivide.cpp)
    AlacPackets,  // ALAC packets encoded apart, put into one container as they are (divide/AlacDivide.cpp)
    // AAC and Opus packets encoded from well before, spliced on the frame grid
    // (divide/SpliceDivide.cpp)
    SplicedPackets,
};

// What the writer and the divided encodes need to know of an output format.
struct OutputTraits {
    OutputFormat format;
    PcmSampleFormat samples;  // what the jobs' readers deliver
    bool bLossless;
    PieceJoin join;
    const char *szStartFailure;  // told when the batch's thread cannot be started
};

// The traits of each format, from the table of outputs.
const OutputTraits &TraitsOf(OutputFormat format);

// One output format as the batch's writer drives it: what its jobs are opened as, whether each fixes
// its settings in list order, and how one job is converted, whole or in the pieces its traits allow.
// The writer owns one for each format (MakeJobOutput) and uses the one chosen at Start. A JobOutput is
// called on the workers, for several jobs at once; what it keeps per job is indexed by the job.
class JobOutput {
public:
    JobOutput(WriterThread &writer, const OutputTraits &traits) : m_writer(writer), m_traits(traits) {}
    JobOutput(const JobOutput &) = delete;
    JobOutput &operator=(const JobOutput &) = delete;
    virtual ~JobOutput() = default;

    const OutputTraits &Traits() const { return m_traits; }
    PcmSampleFormat JobFormat() const { return m_traits.samples; }
    // How many workers one job can keep busy through RunTasks, for sizing the batch's workers.
    int MostTasksPerJob() const;

    // Before the batch's workers start, on the owner's thread: the batch has nJobs jobs.
    virtual void BeginBatch(size_t nJobs) { (void)nJobs; }
    // Whether FixJobSettings does anything, so that jobs wait for their turn only where it matters:
    // a job whose source is slow to open then holds up no other job.
    virtual bool FixesSettingsInTurn() const { return false; }
    // Fixes what the opened job is converted with, on its worker, in list order: called for job n only
    // after it has returned for every opened job before n. Must not wait for anything but its own work.
    virtual void FixJobSettings(const AudioStreamReader &reader, int32_t nJob) {
        (void)reader;
        (void)nJob;
    }
    // Writes what the jobs fixed so far changed in their settings back into the owner's record and the
    // published settings; on the owner's thread. True when the record changed.
    virtual bool WriteBackSettings(EncoderSettings &record) {
        (void)record;
        return false;
    }
    // Whether the parts of a divided job are converted from their decoded samples; false for an output
    // that reads the source itself, whose parts then open no decoder, only their range described.
    virtual bool PartsReadSamples(const ConversionJob &job, const AudioStreamReader &reader) {
        (void)job;
        (void)reader;
        return true;
    }
    // Converts one job on a worker from its opened reader; nJob is its index in the batch. May run on
    // several workers at once for different jobs.
    virtual void ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) = 0;

protected:
    // The writer's side, for the formats' code.
    bool IsStopRequested() const;
    void SetLastError(const std::string &strText);
    // Records why the job gave no complete output.
    void FailJob(ConversionJob &job, const std::string &strText);
    // Counts a chunk the reader gave for the job's progress.
    static void CountChunk(ConversionJob &job, const AudioStreamReader &reader, uint32_t nFrames);
    // The settings job nJob started with; on its worker, or on a worker running one of its tasks.
    const JobSettings &SettingsOf(int32_t nJob) const;
    // Runs fnTask(0) to fnTask(nTasks - 1) on this worker and on any free worker of the batch; returns
    // when every task has ended (WriterThread::RunTasks).
    void RunTasks(int nTasks, const std::function<void(int)> &fnTask);
    // What feeding a job's samples to its output came to.
    enum class FeedResult {
        Fed,          // to the end of the job's range, or to a stop
        WriteFailed,  // the output refused a chunk: the caller says why
        Failed,       // the job says why
    };
    // Hands the reader's chunks to fnWrite (the chunk's bytes and its frames), counting them for the
    // job's progress, until the range ends or a stop is asked for. Failed when the source could not be
    // read to the end of its range, or gave no sample at all where its selection was not empty (an
    // empty selection gives an empty file): no output that looks complete may then be kept.
    FeedResult FeedSamples(ConversionJob &job, AudioStreamReader &reader,
                           const std::function<bool(const uint8_t *, uint32_t)> &fnWrite);
    // Encodes the job in nPieces pieces on this worker and any free one, as the joiner plans, encodes
    // and joins them (divide/PieceDriver.cpp), and has fnKeep give the joined file its final name and
    // tags. False when the pieces could not be joined and the file must be encoded whole; true when the
    // job is done (converted, stopped short, or failed with its reason recorded).
    bool ConvertInPieces(ConversionJob &job, AudioStreamReader &whole, PieceJoiner &joiner, int nPieces,
                         const MediaTags &tags, const std::function<void(OutputFile &)> &fnKeep);
    // Files longer than this are divided into pieces where the format joins them; 0 never.
    double DivideAfterSeconds() const;
    // The settings jobs taken from now on copy, and what guards them: changed under the lock only.
    std::mutex &PublishedMutex();
    std::shared_ptr<const JobSettings> &Published();

private:
    WriterThread &m_writer;
    const OutputTraits &m_traits;
};

}  // namespace klangor

#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert/batch/AudioStreamReader.h"
#include "convert/batch/ConversionJob.h"
#include "convert/batch/ConversionNotice.h"
#include "convert/batch/JobOutput.h"
#include "convert/batch/JobSettings.h"
#include "convert/batch/Loudness.h"
#include "settings/OutputFormat.h"

namespace klangor {

// A batch run by up to GetJobsAtOnce() workers side by side, each converting one whole job at a time
// (its own reader, encoder and output file), taking the jobs in list order, to the output format
// chosen at Start: the writer drives any format through that format's JobOutput, from a table keyed by
// the format. The stop and running flags, the settings the jobs start with, the notices and the last
// failure text exist once, here. Start, Stop, IsRunning, Wait and the setters are called on the
// owner's (window's) thread; the jobs are converted, and the notices sent, on the workers.
//
// No worker ever waits for the owner's thread: the progress of each job is kept in the job's own
// atomics for the owner to read when it likes, and the only notices, a job's end and the batch's end,
// must return at once. A batch always ends with NOTICE_BATCH_DONE, after every worker has finished: a
// job that cannot be converted is recorded (its failure text and the writer's last-error text) and the
// batch goes on. Each job gets a reader of its own when its turn comes, dropped after it, so open files
// and decoders grow with the number of workers, never with the list. The jobs belong to the caller and
// must stay alive until the batch has ended.
//
// Each job copies the published settings as it is taken (JobSettings): a change published during a
// batch reaches the jobs taken after it. What a file comes out as never depends on how the workers are
// timed: each job fixes its settings (FixJobSettings) only after the job before it in the list has
// fixed its own, and a job that does its work in tasks (RunTasks) has them taken by whichever workers
// are free, its own among them, the tasks' results being the same wherever they ran.
class WriterThread {
public:
    // Files longer than this are encoded in pieces where their format joins pieces (PieceJoin).
    static constexpr double kDefaultDivideSeconds = 30.0;
    static constexpr int kMostPieces = 8;

    // nWavRiffSizeLimit lowers the size past which a WAV output becomes RF64 (for tests).
    explicit WriterThread(uint64_t nWavRiffSizeLimit = 0xFFFFFFFFull);
    WriterThread(const WriterThread &) = delete;
    WriterThread &operator=(const WriterThread &) = delete;
    ~WriterThread();

    // Publishes the settings and starts the batch writing the format: 0 when it runs, 1 when it could
    // not be started (also while a batch still runs; GetLastError says so).
    int Start(const std::vector<ConversionJob *> &jobs, OutputFormat format,
              const EncoderSettings &settings = EncoderSettings());
    // Files longer than this are encoded in pieces where their format allows it; 0 never divides a file.
    void SetDivideAfterSeconds(double dSeconds) { m_dDivideAfterSeconds = dSeconds < 0.0 ? 0.0 : dSeconds; }
    double GetDivideAfterSeconds() const { return m_dDivideAfterSeconds.load(); }
    // Writes what the jobs fixed so far changed in their settings (MP3's lowered bitrate) into the
    // owner's record, unless it was changed since, and into the published settings with it. Call on the
    // owner's thread, during and after the batch. True when the record changed.
    bool WriteBackSettings(EncoderSettings &record);

    // Before Start: where the job and batch ends are told.
    void SetNotify(ConversionNotifyProc pfnNotify, void *pContext);
    // How many jobs the next batches convert at once; 0 (the default) means one per processor this
    // process may run on. 1 converts one file after the other. During a batch a lower number holds for
    // the files that start from then on (the workers beyond it take no more files); a higher one waits
    // for the next batch, whose workers are made at its start.
    void SetJobsAtOnce(int nJobs);
    int GetJobsAtOnce() const;
    // Whether the jobs taken from now on measure their loudness first and are converted with the one
    // gain that brings them to the target (the progress then runs once over both passes); also during
    // a batch.
    void SetLoudnessTarget(const LoudnessTarget &target);
    // The encoder settings the jobs whose turn comes from now on are encoded with; also during a batch.
    void SetEncoderSettings(const EncoderSettings &settings);
    // Whether and where the files that start from now on are divided into several outputs.
    void SetSplitSettings(const SplitSettings &split);
    // Requests the end of the batch: every running file is finished short but well-formed, no further
    // job is started. Returns at once.
    void Stop();
    // 1 from Start until the NOTICE_BATCH_DONE notice has been sent.
    int IsRunning() const { return m_bRunning.load() ? 1 : 0; }
    // Waits for the worker threads of the last batch to end; they wait for nobody, so this returns once
    // the running files are done (at once after a Stop but for the chunks under way). Never call it
    // from the notice callback.
    void Wait();
    std::string GetLastError() const;

    // The processors this process may run on (its affinity mask), at least 1.
    static int ProcessorCount();

private:
    friend class JobOutput;

    // Starts the batch on the jobs with the chosen output: 0 when it runs, 1 when its thread could not
    // be started.
    int StartJobs(const std::vector<ConversionJob *> &jobs);
    // The output of the format chosen at the last Start.
    JobOutput &Chosen() const { return *m_outputs[static_cast<size_t>(m_format.load())]; }
    // Runs fnTask(0) to fnTask(nTasks - 1), each once and taken in that order, on this worker and on any
    // worker of the batch that has no file of its own left; returns when every task has ended. fnTask
    // reports its own failures: an exception it lets through is swallowed so no worker ever ends the
    // program.
    void RunTasks(int nTasks, const std::function<void(int)> &fnTask);

    bool IsStopRequested() const { return m_bStop.load(); }
    void SetLastError(const std::string &strText);
    // Records why the job gave no complete output.
    void FailJob(ConversionJob &job, const std::string &strText);
    // Counts a chunk the reader gave for the job's progress.
    static void CountChunk(ConversionJob &job, const AudioStreamReader &reader, uint32_t nFrames);
    // The settings job nJob started with; on its worker, or on a worker running one of its tasks.
    const JobSettings &SettingsOf(int32_t nJob) const { return *m_jobSettings[static_cast<size_t>(nJob)]; }

    // The settings jobs taken from now on copy, and what guards them. An output changes them under the
    // lock only (its write-back of what its jobs did to the owner's record).
    std::mutex m_settingsMutex;
    std::shared_ptr<const JobSettings> m_pPublished =
        std::make_shared<const JobSettings>();  // under m_settingsMutex

    // The tasks of one RunTasks call, under m_taskMutex.
    struct TaskGroup {
        const std::function<void(int)> *pfnTask = nullptr;
        int nTasks = 0;
        int nNext = 0;
        int nEnded = 0;
    };

    void BatchProc(int nWorkers);
    void WorkerProc();
    // Takes tasks of other workers' jobs until no worker has a job of its own left.
    void HelpWithTasks();
    static void RunTask(const TaskGroup &group, int nTask);
    void Notify(int32_t nKind, int32_t nJob);
    // Takes the next job of the list with the settings published at that moment; false when none is left.
    bool TakeJob(size_t &nJob);
    // The one place that owns a job's life: open for its turn, fix its settings in list order,
    // convert, close, tell.
    void RunJob(size_t nJob);
    // Waits until every job before nJob has fixed its settings, fixes the job's own when it is open
    // (a failure there fails the job and clears bOpen) and lets the next job fix its own.
    void FixSettingsInTurn(ConversionJob &job, const AudioStreamReader &reader, size_t nJob, bool &bOpen);
    // The first pass of a normalised job: measures its range and reopens it with the gain set. False
    // when the job is not to be converted (stopped, or the measuring failed; the job says why).
    bool MeasureLoudness(ConversionJob &job, AudioStreamReader &reader, int32_t nJob);
    // Converts the job as the outputs its split settings divide it into, each part a whole output of
    // its own converted by ConvertJob; a source that does not divide is converted whole.
    void ConvertSplit(ConversionJob &job, AudioStreamReader &reader, int32_t nJob);

    // One per format, indexed by OutputFormat; the one m_format names converts the batch's jobs. Set by
    // Start before the workers exist, read by them.
    std::array<std::unique_ptr<JobOutput>, kOutputFormatCount> m_outputs;
    std::atomic<OutputFormat> m_format{OutputFormat::Mp3};
    std::atomic<double> m_dDivideAfterSeconds{kDefaultDivideSeconds};
    std::vector<ConversionJob *> m_jobs;
    // Per job, what it started with: entry n is written by the worker that takes job n, before it is
    // read (by that worker and its tasks).
    std::vector<std::shared_ptr<const JobSettings>> m_jobSettings;
    size_t m_nNextJob = 0;   // under m_settingsMutex
    int m_nJobLimit = 0;     // under m_settingsMutex: the most files at once from now on, 0 no limit
    int m_nJobsRunning = 0;  // under m_settingsMutex
    std::mutex m_turnMutex;
    std::condition_variable m_turnPassed;
    size_t m_nSettingsTurn = 0;  // under m_turnMutex: the job whose settings are fixed next
    std::mutex m_taskMutex;
    std::condition_variable m_tasksChanged;
    std::vector<TaskGroup *> m_taskGroups;  // under m_taskMutex: groups with tasks not yet taken
    int m_nWorkersWithJobs = 0;             // under m_taskMutex: workers that may still take a job
    int m_nJobsAtOnce = 0;
    ConversionNotifyProc m_pfnNotify = nullptr;
    void *m_pNotifyContext = nullptr;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bRunning{false};
    std::thread m_thread;
    mutable std::mutex m_errorMutex;
    std::string m_strLastError;
};

}  // namespace klangor

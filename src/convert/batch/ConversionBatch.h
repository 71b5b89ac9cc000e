#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clips/ClipList.h"
#include "convert/batch/ConversionJob.h"
#include "convert/batch/ConversionNotice.h"
#include "convert/batch/ConversionView.h"
#include "convert/batch/OutputNames.h"
#include "convert/batch/WriterThread.h"
#include "settings/EncoderSettings.h"

namespace klangor {

// One failed job of the last batch.
struct JobFailure {
    std::string strSourcePath;
    std::string strText;
};

// A source that was given no job: its output is already there.
struct SkippedSource {
    std::string strSourcePath;
    std::string strOutputPath;
};

// How a batch names its outputs, beyond the output folder and the format.
struct BatchNaming {
    std::string strTemplate = kDefaultNameTemplate;
    // Per clip (by index; missing or empty for none), the folder under the output folder its output
    // goes into: the source's own folder below a folder that was walked. All empty: the usual names.
    std::vector<std::string> subfolders;
    bool bSkipExisting = false;  // a source whose final output exists gets no job
};

// What a batch's jobs are made from, taken on the view's thread at Start.
struct BatchRequest {
    std::vector<std::string> sources;  // the clips, in list order
    std::string strOutputFolder;
    OutputFormat format = OutputFormat::Mp3;
    BatchNaming naming;
    int nTrackOverride = 0;
    bool bWriteTags = true;
    AudioDecoderFactory decoderFactory;
};

// The jobs made from a request, in list order, and the sources that were given none.
struct PreparedJobs {
    std::vector<std::unique_ptr<ConversionJob>> jobs;
    std::vector<SkippedSource> skipped;
};

// Makes one job per source with its output's name (numbered where it would meet another output or a
// source, skipped where it exists and the request says so) and its selection read, and readies the
// output folders; a dry run only names them. It reads every source's cut-info record, and a copy's
// name looks into each source's codec, so a window runs it on a thread of its own: it touches no batch.
// fnStopped, asked before each source, ends it early; what it made is then to be thrown away.
PreparedJobs PrepareBatchJobs(const BatchRequest &request, bool bDryRun,
                              const std::function<bool()> &fnStopped = {});

using JobProgress = ConversionJob::State;

// The job whose progress is shown: the earliest one not ended, once it or a later job has started, so
// the count runs 1 of N ... N of N however the workers are timed (job n+1 may be taken before job n
// is seen to have started). With nothing started past the ended ones, the last ended job stays shown.
// -1 while no job has started.
int ShownJobOf(const std::vector<JobProgress> &progress);

// A job's percentage, 0..100: a job read twice (loudness measured first) runs it once over both reads;
// never past 100 where the container's length was short.
double PercentOf(const ConversionJob::Progress &progress);

// The window's side of a conversion: starting and stopping a batch, one job per clip with its output
// name and its selection fixed at Start, the jobs' progress read into status text and progress bar (of
// the earliest file still converting), the ends of jobs and of the batch, and the completion question.
// Window (view) thread only, but OnConversionNotice, which the writer's workers call: it queues the
// notice under m_postMutex and wakes the view, which handles it in HandlePosted. No worker ever waits
// for the view. Owns the writer, which drives any output format, and the jobs of the last batch.
class ConversionBatch {
public:
    // The view and the settings must outlive the batch. The settings are the view's record: the batch
    // publishes them to the writer at Start and at OnSettingsChanged, and writes the MP3 jobs' bitrate
    // ceiling back into them on the view's thread.
    ConversionBatch(IConversionView &view, EncoderSettings &settings,
                    AudioDecoderFactory decoderFactory = CreateMediaAudioDecoder);
    ConversionBatch(const ConversionBatch &) = delete;
    ConversionBatch &operator=(const ConversionBatch &) = delete;
    ~ConversionBatch();

    // "Start to Convert": makes one job per clip and starts the writer of the chosen output type.
    // Nothing happens for an empty list or while a batch runs.
    void OnStartConvert(const ClipList &clips);
    // The same in two steps, for a view that makes the jobs on another thread: what Start takes from
    // the view and the batch's settings, and the start with the jobs PrepareBatchJobs made from it.
    BatchRequest RequestFor(const ClipList &clips);
    void StartPrepared(const BatchRequest &request, PreparedJobs prepared);
    // How many files are converted at once from the next Start: 0 means one per processor, 1 one
    // after the other. During a batch a lower number holds for the files that start from then on.
    void SetJobsAtOnce(int nJobs);
    // From the next Start: every file's n-th audio track (0: as each file's cut-info record chose), and
    // whether outputs carry their source's tags.
    void SetTrackOverride(int nTrack) { m_nTrackOverride = nTrack; }
    void SetWriteTags(bool bWrite) { m_bWriteTags = bWrite; }
    // Whether each output is brought to a target loudness, and which: for the files that start from
    // now on, also during a batch.
    void SetLoudnessTarget(const LoudnessTarget &target);
    // Whether and where each file is divided into several outputs: for the files that start from now on.
    void SetSplitSettings(const SplitSettings &split);
    // The settings record was changed (the settings dialog): the files that start from now on are
    // encoded with it, the running ones keep what they started with.
    void OnSettingsChanged();
    // MP3 and FLAC files longer than this are encoded in pieces, shared by whichever workers are free;
    // 0 never.
    void SetDivideAfterSeconds(double dSeconds) { m_writer.SetDivideAfterSeconds(dSeconds); }
    // "Stop Convert": every running file is finished short, no further file is started; the batch
    // still ends with its completion handling.
    void OnStopConvert();
    // From Start until the batch's end handling, the completion question included, is over.
    bool IsConverting() const { return m_bActive.load(); }
    // The close check: false, after telling the user, while a batch runs or bStarting says its jobs are
    // still being made.
    bool CanClose(bool bStarting = false);

    // Makes the jobs for the clips, with their outputs' names. A dry run only names them: it removes no
    // stale temporaries and makes no folder.
    void PrepareJobs(const ClipList &clips, bool bDryRun = false);
    // From the next Start: how outputs are named, and whether finished ones are skipped.
    void SetNaming(BatchNaming naming) { m_naming = std::move(naming); }
    // The sources the last PrepareJobs skipped, in list order.
    const std::vector<SkippedSource> &GetSkipped() const { return m_skipped; }
    void ClearJobs();
    // What the name template can say about a clip's output; the tags are read only for nTagTrack >= 0.
    static NameFields NameFieldsOf(const std::string &strSource, const std::string &strDefaultPath,
                                   int nIndex, int nCount, int nTagTrack);

    // The ConversionNotifyProc registered with the writer; pContext is the batch. On a worker.
    static int OnConversionNotice(void *pContext, const ConversionNotice *pNotice);
    // On the view's thread, after WakeViewThread: handles the ends of jobs and of the batch posted
    // since the last call, in the order they came (the end handling and the question for the batch's).
    void HandlePosted();
    // On the view's thread, from its timer: reads the jobs' progress and shows it when it changed.
    void ShowProgress();

    // Waits until the writer threads of the last batch have ended. They wait for nobody, so this is
    // short after the batch has ended or been stopped; what they posted still waits for HandlePosted.
    void WaitUntilIdle();

    const std::vector<std::unique_ptr<ConversionJob>> &GetJobs() const { return m_jobs; }
    // The jobs of the last batch that gave no complete output, in job order. Once the batch has ended.
    std::vector<JobFailure> GetFailures() const;
    // True when the last batch was stopped before its last job had ended.
    bool WasStopped() const { return m_bStopRequested; }
    // True when the last Start could not start its writer (the failure was shown).
    bool StartFailed() const { return m_bStartFailed; }

    // Output name of a clip: folder + "/" + its file name (extension kept) + the format's extension.
    static std::string OutputPathFor(const std::string &strFolder, const std::string &strSource,
                                     OutputFormat format, int nTrack = 0);

private:
    void Adopt(const BatchRequest &request, PreparedJobs prepared);
    void OnJobEnded(int nJob);
    void OnBatchDone();
    void WriteBackSettings();

    IConversionView &m_view;
    EncoderSettings &m_settings;
    AudioDecoderFactory m_decoderFactory;
    std::string m_strOutputFolder;
    OutputFormat m_format = OutputFormat::Mp3;
    int m_nTrackOverride = 0;
    bool m_bWriteTags = true;
    std::vector<std::unique_ptr<ConversionJob>> m_jobs;
    BatchNaming m_naming;
    std::vector<SkippedSource> m_skipped;
    int m_nCurrentJob = -1;  // the job shown, as ShownJobOf chose it
    double m_dPercent = 0.0;
    std::string m_strShownProgress;
    std::atomic<bool> m_bActive{false};
    bool m_bEnding = false;  // the end handling has begun: the progress is no longer shown
    std::atomic<bool> m_bStopRequested{false};
    bool m_bStartFailed = false;
    std::mutex m_postMutex;
    std::vector<ConversionNotice> m_posted;  // under m_postMutex: from the workers, not yet handled
    // Declared last: its threads are stopped and collected before the jobs they read go away.
    WriterThread m_writer;
};

}  // namespace klangor

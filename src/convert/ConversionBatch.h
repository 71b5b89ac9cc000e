#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clips/ClipList.h"
#include "convert/AudioStreamReader.h"
#include "convert/ConversionNotice.h"
#include "convert/ConversionView.h"
#include "convert/Mp3WriterThread.h"
#include "convert/WavWriterThread.h"
#include "settings/EncoderSettings.h"

inline constexpr int kOutputTypeMp3 = 0;
inline constexpr int kOutputTypeWav = 1;

// One failed job of the last batch.
struct JobFailure {
    std::string strSourcePath;
    std::string strText;
};

// Where each job of a batch stands, as the notices on the view's thread have told it.
enum class JobProgress : uint8_t { Waiting, Converting, Ended };

// The job whose progress is shown: the earliest one not ended, once it or a later job has started, so
// the count runs 1 of N ... N of N however the workers' notices interleave (a worker may report the
// start of job n+1 before another reports job n). With nothing started past the ended ones, the last
// ended job stays shown. -1 while no job has started.
int ShownJobOf(const std::vector<JobProgress> &progress);

// The window's side of a conversion: starting and stopping a batch, one job per clip with its output
// name and its selection fixed at Start, the writers' notices turned into status text and progress (of
// the earliest file still converting), and the completion question. Window thread only; notices arrive
// on the writer's workers, one at a time, and are handed to the view's thread through
// IConversionView::RunOnViewThread. Owns both writers and the jobs of the last batch. Destroy it only
// when IsConverting() is false (the close check): its destructor stops and waits for the writer, which
// may be waiting for the view's thread.
class ConversionBatch {
public:
    // The view and the settings must outlive the batch. The settings are the view's: the batch writes
    // the MP3 jobs' bitrate ceiling into them only while it handles a notice on the view's thread.
    ConversionBatch(IConversionView &view, EncoderSettings &settings,
                    AudioDecoderFactory decoderFactory = CreateMediaAudioDecoder);
    ConversionBatch(const ConversionBatch &) = delete;
    ConversionBatch &operator=(const ConversionBatch &) = delete;
    ~ConversionBatch();

    // "Start to Convert": makes one job per clip and starts the writer of the chosen output type.
    // Nothing happens for an empty list or while a batch runs.
    void OnStartConvert(const ClipList &clips);
    // How many files are converted at once from the next Start: 0 means one per processor, 1 one
    // after the other.
    void SetJobsAtOnce(int nJobs);
    // From the next Start: every file's n-th audio track (0: as each file's cut-info record chose), and
    // whether outputs carry their source's tags.
    void SetTrackOverride(int nTrack) { m_nTrackOverride = nTrack; }
    void SetWriteTags(bool bWrite) { m_bWriteTags = bWrite; }
    int GetJobsAtOnce() const { return m_mp3Writer.GetJobsAtOnce(); }
    // From the next Start: whether each output is brought to a target loudness, and which.
    void SetLoudnessTarget(const LoudnessTarget &target);
    // MP3 files longer than this are encoded in parts, shared by whichever workers are free; 0 never.
    void SetSplitAfterSeconds(double dSeconds) { m_mp3Writer.SetSplitAfterSeconds(dSeconds); }
    // "Stop Convert": every running file is finished short, no further file is started; the batch
    // still ends with its completion handling.
    void OnStopConvert();
    bool IsConverting() const;
    // The close check: false, after telling the user, while a batch runs.
    bool CanClose();

    void PrepareJobs(const ClipList &clips);
    void ClearJobs();

    // The ConversionNotifyProc registered with both writers; pContext is the batch.
    static int OnConversionNotice(void *pContext, const ConversionNotice *pNotice);
    // Handles one notice on the view's thread.
    void HandleNotice(const ConversionNotice &notice);

    // Waits until the writer thread of the last batch has ended (after its completion handling).
    // Not for the view's thread while a notice is being handed to it.
    void WaitUntilIdle();

    const std::vector<std::unique_ptr<AudioStreamReader>> &GetJobs() const { return m_jobs; }
    // The jobs of the last batch that gave no complete output, in job order.
    std::vector<JobFailure> GetFailures() const;
    // True when the last batch was stopped before its last job had ended.
    bool WasStopped() const { return m_bStopRequested; }
    // True when the last Start could not start its writer (the failure was shown).
    bool StartFailed() const { return m_bStartFailed; }
    int GetCurrentJob() const { return m_nCurrentJob; }
    double GetPercent() const { return m_dPercent; }
    const std::string &GetOutputFolder() const { return m_strOutputFolder; }
    int GetOutputType() const { return m_iOutputType; }

    // Output name of a clip: folder + "/" + its file name (extension kept) + ".mp3" or ".wav".
    static std::string OutputPathFor(const std::string &strFolder, const std::string &strSource,
                                     int iOutputType);

private:
    void OnJobEnded(int nJob);
    void OnBatchDone();
    void ShowProgress();

    IConversionView &m_view;
    EncoderSettings &m_settings;
    AudioDecoderFactory m_decoderFactory;
    std::string m_strOutputFolder;
    int m_iOutputType = kOutputTypeMp3;
    int m_nTrackOverride = 0;
    bool m_bWriteTags = true;
    std::vector<std::unique_ptr<AudioStreamReader>> m_jobs;
    int m_nCurrentJob = -1;  // the job shown, as ShownJobOf chose it
    // Per job of the last batch, written by the notices on the view's thread.
    std::vector<JobProgress> m_jobProgress;
    std::vector<uint32_t> m_jobFramesDone;  // in the job's current pass
    std::vector<int> m_jobPass;
    std::vector<double> m_jobPercent;
    double m_dPercent = 0.0;
    std::string m_strShownProgress;
    std::atomic<bool> m_bStopRequested{false};  // also set from a terminal's signal handling thread
    bool m_bStartFailed = false;
    // Declared last: their threads are stopped and collected before the jobs they read go away.
    Mp3WriterThread m_mp3Writer;
    WavWriterThread m_wavWriter;
};

#include "convert/ConversionBatch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "common/OutputFile.h"

namespace {

constexpr const char *kDoneText = "Conversion Done!";
constexpr const char *kOpenFolderQuestion =
    "Conversion done. Do you want to open the output folder to check the result MP3/WAV file now?";
constexpr const char *kStillRunningText = "Conversion is running, please stop it first!";
constexpr const char *kFailuresHeading = "These files could not be converted:";

// The key under which two paths name the same file, as far as can be told before writing.
std::string SameFileKey(const std::string &strPath) {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::weakly_canonical(strPath, error);
    return error ? std::filesystem::path(strPath).lexically_normal().string() : path.string();
}

// "DIR/talk.avi.mp3" with n = 2 gives "DIR/talk.avi (2).mp3".
std::string NumberedPath(const std::string &strPath, int n) {
    const size_t nDot = strPath.rfind('.');
    return strPath.substr(0, nDot) + " (" + std::to_string(n) + ")" + strPath.substr(nDot);
}

}  // namespace

ConversionBatch::ConversionBatch(IConversionView &view, EncoderSettings &settings,
                                 AudioDecoderFactory decoderFactory)
    : m_view(view), m_settings(settings), m_decoderFactory(std::move(decoderFactory)) {
    m_mp3Writer.SetNotify(&ConversionBatch::OnConversionNotice, this);
    m_wavWriter.SetNotify(&ConversionBatch::OnConversionNotice, this);
}

ConversionBatch::~ConversionBatch() {
    m_mp3Writer.Stop();
    m_wavWriter.Stop();
    m_mp3Writer.Wait();
    m_wavWriter.Wait();
    ClearJobs();
}

std::string ConversionBatch::OutputPathFor(const std::string &strFolder, const std::string &strSource,
                                           int iOutputType) {
    return strFolder + "/" + ClipDisplayName(strSource) + (iOutputType == kOutputTypeMp3 ? ".mp3" : ".wav");
}

void ConversionBatch::OnStartConvert(const ClipList &clips) {
    if (clips.GetCount() == 0 || IsConverting()) {
        return;
    }
    m_strOutputFolder = m_view.GetOutputFolderText();
    m_iOutputType = m_view.GetOutputType();
    PrepareJobs(clips);
    m_nCurrentJob = -1;
    m_dPercent = 0.0;
    m_jobProgress.assign(m_jobs.size(), JobProgress::Waiting);
    m_jobFramesDone.assign(m_jobs.size(), 0);
    m_jobPass.assign(m_jobs.size(), 0);
    m_jobPercent.assign(m_jobs.size(), 0.0);
    m_bStopRequested = false;
    m_bStartFailed = false;
    m_strShownProgress.clear();

    std::vector<AudioStreamReader *> jobs;
    for (const auto &pJob : m_jobs) {
        jobs.push_back(pJob.get());
    }
    // Shown before the writer starts, so a batch that ends at once cannot leave the buttons behind.
    m_view.ShowConvertButtons(true);
    const int iResult =
        m_iOutputType == kOutputTypeMp3 ? m_mp3Writer.Start(jobs, m_settings) : m_wavWriter.Start(jobs);
    if (iResult != 0) {
        m_bStartFailed = true;
        m_view.ShowConvertButtons(false);
        const WriterThread &writer =
            m_iOutputType == kOutputTypeMp3 ? static_cast<WriterThread &>(m_mp3Writer) : m_wavWriter;
        m_view.ShowMessage(writer.GetLastError(), IConversionView::MessageIcon::Exclamation);
    }
}

void ConversionBatch::SetJobsAtOnce(int nJobs) {
    m_mp3Writer.SetJobsAtOnce(nJobs);
    m_wavWriter.SetJobsAtOnce(nJobs);
}

void ConversionBatch::SetLoudnessTarget(const LoudnessTarget &target) {
    m_mp3Writer.SetLoudnessTarget(target);
    m_wavWriter.SetLoudnessTarget(target);
}

void ConversionBatch::OnStopConvert() {
    if (IsConverting()) {
        m_bStopRequested = true;
    }
    m_mp3Writer.Stop();
    m_wavWriter.Stop();
}

bool ConversionBatch::IsConverting() const {
    return m_mp3Writer.IsRunning() || m_wavWriter.IsRunning();
}

bool ConversionBatch::CanClose() {
    if (IsConverting()) {
        m_view.ShowMessage(kStillRunningText, IConversionView::MessageIcon::Exclamation);
        return false;
    }
    return true;
}

void ConversionBatch::PrepareJobs(const ClipList &clips) {
    m_strOutputFolder = m_view.GetOutputFolderText();
    m_iOutputType = m_view.GetOutputType();
    ClearJobs();

    // Within one batch no output may overwrite another job's fresh output or one of the batch's own
    // sources; such an output gets " (2)", " (3)", ... before its extension.
    std::set<std::string> taken;
    for (int i = 0; i < clips.GetCount(); ++i) {
        taken.insert(SameFileKey(clips.GetClip(i)));
    }
    std::set<std::string> folders;
    for (int i = 0; i < clips.GetCount(); ++i) {
        const std::string &strSource = clips.GetClip(i);
        auto pJob = std::make_unique<AudioStreamReader>(m_decoderFactory);
        // The selection is taken now, as Start saw it; the file itself is opened only for its turn, so
        // a long list never means many open files and decoders.
        pJob->FixSelection(strSource);
        pJob->SetTrackOverride(m_nTrackOverride);
        pJob->m_bWriteTags = m_bWriteTags;
        const std::string strPath = OutputPathFor(m_strOutputFolder, strSource, m_iOutputType);
        std::string strCandidate = strPath;
        for (int n = 2; taken.count(SameFileKey(strCandidate)) != 0; ++n) {
            strCandidate = NumberedPath(strPath, n);
        }
        taken.insert(SameFileKey(strCandidate));
        pJob->m_strOutputPath = strCandidate;
        folders.insert(std::filesystem::path(strCandidate).parent_path().string());
        m_jobs.push_back(std::move(pJob));
    }
    // What a killed run of ours left behind in these folders is of no use to anyone.
    for (const std::string &strFolder : folders) {
        OutputFile::RemoveStaleTemporaries(strFolder);
    }
}

void ConversionBatch::ClearJobs() {
    m_jobs.clear();
}

int ConversionBatch::OnConversionNotice(void *pContext, const ConversionNotice *pNotice) {
    auto *pBatch = static_cast<ConversionBatch *>(pContext);
    const ConversionNotice notice = *pNotice;
    pBatch->m_view.RunOnViewThread([pBatch, notice] { pBatch->HandleNotice(notice); });
    return 1;
}

void ConversionBatch::HandleNotice(const ConversionNotice &notice) {
    // The record is the view's: what the MP3 jobs did to it reaches it here, before the end handling
    // and while the batch runs, so the settings dialog shows the lowered bitrate at once.
    m_mp3Writer.WriteBackSettings();
    const int nJob = notice.nJob;
    const bool bKnownJob = nJob >= 0 && nJob < static_cast<int>(m_jobProgress.size());
    switch (notice.nKind) {
        case NOTICE_JOB_STARTED:
            if (bKnownJob) {
                m_jobProgress[nJob] = JobProgress::Converting;
                m_jobFramesDone[nJob] = 0;
                m_jobPass[nJob] = 0;
                m_jobPercent[nJob] = 0.0;
            }
            break;
        case NOTICE_PROGRESS: {
            if (!bKnownJob) {
                break;
            }
            const AudioStreamReader &job = *m_jobs[nJob];
            // A job read twice (loudness measured first) runs its percentage once over both reads.
            const int nPasses = std::max(1, job.m_nPassCount.load());
            const int nPass = std::clamp(job.m_nPassesDone.load(), 0, nPasses - 1);
            if (nPass != m_jobPass[nJob]) {
                m_jobPass[nJob] = nPass;
                m_jobFramesDone[nJob] = 0;
            }
            m_jobFramesDone[nJob] += static_cast<uint32_t>(notice.nValue);
            const uint32_t nToConvert = job.m_nFramesToConvert;
            // The frame count comes from the container's duration, which may be short: never past 100%.
            // A container that tells no length at all is measured by how far its file has been read.
            const double dPassPercent =
                nToConvert == 0
                    ? job.EstimateReadPercent()
                    : std::min(100.0, static_cast<double>(m_jobFramesDone[nJob]) / nToConvert * 100.0);
            m_jobPercent[nJob] = (nPass * 100.0 + dPassPercent) / nPasses;
            ShowProgress();
            break;
        }
        case NOTICE_JOB_ENDED:
            if (bKnownJob) {
                m_jobProgress[nJob] = JobProgress::Ended;
                OnJobEnded(nJob);
                ShowProgress();
            }
            break;
        case NOTICE_BATCH_DONE:
            OnBatchDone();
            break;
        default:
            break;
    }
}

int ShownJobOf(const std::vector<JobProgress> &progress) {
    const auto first = std::find_if(progress.begin(), progress.end(),
                                    [](JobProgress state) { return state != JobProgress::Ended; });
    const bool bStartedFromFirst = std::any_of(
        first, progress.end(), [](JobProgress state) { return state != JobProgress::Waiting; });
    const int nFirst = static_cast<int>(first - progress.begin());
    return bStartedFromFirst ? nFirst : nFirst - 1;
}

void ConversionBatch::ShowProgress() {
    const int nShown = ShownJobOf(m_jobProgress);
    if (nShown < 0) {
        return;
    }
    m_nCurrentJob = nShown;
    m_dPercent = m_jobPercent[m_nCurrentJob];
    char szText[96];
    std::snprintf(szText, sizeof szText, "Progress: %d of %d, %0.1f%%", m_nCurrentJob + 1,
                  static_cast<int>(m_jobs.size()), m_dPercent);
    // Notices of the other running files change nothing that is shown.
    if (m_strShownProgress != szText) {
        m_strShownProgress = szText;
        m_view.SetStatusText(szText);
        m_view.SetProgressPos(static_cast<int>(m_dPercent));
    }
}

void ConversionBatch::OnJobEnded(int nJob) {
    const AudioStreamReader &job = *m_jobs[nJob];
    m_view.OnJobFinished(job.m_strSourcePath, job.m_strOutputPath, job.m_strJobError);
}

void ConversionBatch::OnBatchDone() {
    m_view.EnableClipList(true);
    m_view.ShowConvertButtons(false);
    m_view.SetStatusText(kDoneText);
    m_view.SetProgressPos(0);
    const std::vector<JobFailure> failures = GetFailures();
    if (!failures.empty()) {
        std::string strText = kFailuresHeading;
        for (const JobFailure &failure : failures) {
            strText += "\n" + failure.strSourcePath + ": " + failure.strText;
        }
        m_view.ShowMessage(strText, IConversionView::MessageIcon::Warning);
    }
    if (m_view.AskYesNo(kOpenFolderQuestion)) {
        m_view.OpenFolder(m_strOutputFolder);
    }
}

std::vector<JobFailure> ConversionBatch::GetFailures() const {
    std::vector<JobFailure> failures;
    for (const auto &pJob : m_jobs) {
        if (!pJob->m_strJobError.empty()) {
            failures.push_back({pJob->m_strSourcePath, pJob->m_strJobError});
        }
    }
    return failures;
}

void ConversionBatch::WaitUntilIdle() {
    m_mp3Writer.Wait();
    m_wavWriter.Wait();
}

#include "convert/batch/ConversionBatch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <utility>

#include <sys/stat.h>

#include "clips/CutInfo.h"
#include "common/OutputFile.h"
#include "convert/copy/PacketCopy.h"
#include "convert/divide/ScratchFile.h"
#include "media/MediaTags.h"

namespace klangor {

namespace {

constexpr const char *kDoneText = "Conversion Done!";
constexpr const char *kOpenFolderQuestion =
    "Conversion done. Do you want to open the output folder to check the result MP3/WAV file now?";
constexpr const char *kStillRunningText = "Conversion is running, please stop it first!";
constexpr const char *kFailuresHeading = "These files could not be converted:";
constexpr const char *kNotesHeading = "These files were converted, with a note:";

// The key under which two paths name the same file, as far as can be told before writing.
std::string SameFileKey(const std::string &strPath) {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::weakly_canonical(strPath, error);
    return error ? std::filesystem::path(strPath).lexically_normal().string() : path.string();
}

// A file's identity on its device; {0, 0} when it cannot be looked at. Catches a hard link to a source,
// which no path comparison sees.
std::pair<dev_t, ino_t> IdentityOf(const std::string &strPath) {
    struct stat info {};
    return ::stat(strPath.c_str(), &info) == 0 ? std::pair{info.st_dev, info.st_ino}
                                               : std::pair<dev_t, ino_t>{0, 0};
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
    m_writer.SetNotify(&ConversionBatch::OnConversionNotice, this);
}

ConversionBatch::~ConversionBatch() {
    m_writer.Stop();
    m_writer.Wait();
    ClearJobs();
}

std::string ConversionBatch::OutputPathFor(const std::string &strFolder, const std::string &strSource,
                                           OutputFormat format, int nTrack) {
    // A copy's container follows the source's codec, which only the source itself tells.
    // A pipe or a device is never looked into here: what the look read would be gone for its job, and
    // a fifo with no writer left would keep the next opening waiting for ever.
    const std::string strExtension = format != OutputFormat::Copy ? InfoOf(format).szExtension
                                     : IsStreamFile(strSource)    ? ".mka"
                                                                  : CopyExtensionOf(strSource, nTrack);
    return strFolder + "/" + ClipDisplayName(strSource) + strExtension;
}

void ConversionBatch::OnStartConvert(const ClipList &clips) {
    if (clips.GetCount() == 0 || IsConverting()) {
        return;
    }
    const BatchRequest request = RequestFor(clips);
    StartPrepared(request, PrepareBatchJobs(request, false));
}

void ConversionBatch::StartPrepared(const BatchRequest &request, PreparedJobs prepared) {
    if (IsConverting()) {
        return;
    }
    // The last batch's threads posted their end before they ended; collect them.
    WaitUntilIdle();
    Adopt(request, std::move(prepared));
    m_nCurrentJob = -1;
    m_dPercent = 0.0;
    m_bStopRequested = false;
    m_bStartFailed = false;
    m_bEnding = false;
    m_strShownProgress.clear();
    {
        std::lock_guard lock(m_postMutex);
        m_posted.clear();
    }

    std::vector<ConversionJob *> jobs;
    for (const auto &pJob : m_jobs) {
        jobs.push_back(pJob.get());
    }
    m_bActive = true;
    // Shown before the writer starts, so a batch that ends at once cannot leave the buttons behind.
    m_view.ShowConvertButtons(true);
    const int iResult = m_writer.Start(jobs, m_format, m_settings);
    if (iResult != 0) {
        m_bStartFailed = true;
        m_bActive = false;
        m_view.ShowConvertButtons(false);
        m_view.ShowMessage(m_writer.GetLastError(), IConversionView::MessageIcon::Exclamation);
    }
}

void ConversionBatch::SetJobsAtOnce(int nJobs) {
    m_writer.SetJobsAtOnce(nJobs);
}

void ConversionBatch::SetLoudnessTarget(const LoudnessTarget &target) {
    m_writer.SetLoudnessTarget(target);
}

void ConversionBatch::SetSplitSettings(const SplitSettings &split) {
    m_writer.SetSplitSettings(split);
}

void ConversionBatch::OnSettingsChanged() {
    m_writer.SetEncoderSettings(m_settings);
}

void ConversionBatch::OnStopConvert() {
    if (IsConverting()) {
        m_bStopRequested = true;
    }
    m_writer.Stop();
}

bool ConversionBatch::CanClose(bool bStarting) {
    if (bStarting || IsConverting()) {
        m_view.ShowMessage(kStillRunningText, IConversionView::MessageIcon::Exclamation);
        return false;
    }
    return true;
}

namespace {

// The track a copy of the source takes, as its job will choose it (for the copy's extension).
int CopiedTrackOf(const BatchRequest &request, const std::string &strSource) {
    if (request.format != OutputFormat::Copy || request.nTrackOverride > 0) {
        return request.nTrackOverride;
    }
    uint32_t nDuration = 0, nStart = 0, nEnd = 0, nTrack = 0;
    ReadCutInfo(strSource, nDuration, nStart, nEnd, &nTrack);
    return static_cast<int>(std::min<uint32_t>(nTrack, INT32_MAX));
}

}  // namespace

PreparedJobs PrepareBatchJobs(const BatchRequest &request, bool bDryRun,
                              const std::function<bool()> &fnStopped) {
    PreparedJobs prepared;
    const std::vector<std::string> &clips = request.sources;
    const BatchNaming &naming = request.naming;
    const std::string &strOutputFolder = request.strOutputFolder;
    const int nCount = static_cast<int>(clips.size());

    // Within one batch no output may overwrite another job's fresh output or one of the batch's own
    // sources; such an output gets " (2)", " (3)", ... before its extension.
    std::set<std::string> sourceKeys;
    std::set<std::pair<dev_t, ino_t>> sources;
    for (const std::string &strSource : clips) {
        sourceKeys.insert(SameFileKey(strSource));
        sources.insert(IdentityOf(strSource));
    }
    std::set<std::string> taken = sourceKeys;
    sources.erase({0, 0});
    // Subfolders that are all empty mirror nothing: the usual names.
    const bool bTemplate = naming.strTemplate != kDefaultNameTemplate ||
                           std::any_of(naming.subfolders.begin(), naming.subfolders.end(),
                                       [](const std::string &s) { return !s.empty(); });
    const bool bTags = NameTemplateUsesTags(naming.strTemplate);
    std::set<std::string> folders;
    for (int i = 0; i < nCount; ++i) {
        if (fnStopped && fnStopped()) {
            return prepared;
        }
        const std::string &strSource = clips[static_cast<size_t>(i)];
        const int nTrack = CopiedTrackOf(request, strSource);
        std::string strPath =
            ConversionBatch::OutputPathFor(strOutputFolder, strSource, request.format, nTrack);
        NameFields fields;
        std::string strFolder = strOutputFolder;
        if (bTemplate) {
            fields = ConversionBatch::NameFieldsOf(strSource, strPath, i, nCount, bTags ? nTrack : -1);
            if (static_cast<size_t>(i) < naming.subfolders.size() &&
                !naming.subfolders[static_cast<size_t>(i)].empty()) {
                strFolder += "/" + naming.subfolders[static_cast<size_t>(i)];
            }
            strPath = strFolder + "/" + RenderNameTemplate(naming.strTemplate, fields);
        }
        std::string strCandidate = strPath;
        bool bSourceInTheWay = false;
        for (int n = 2;
             taken.count(SameFileKey(strCandidate)) != 0 || sources.count(IdentityOf(strCandidate)) != 0;
             ++n) {
            bSourceInTheWay = bSourceInTheWay || sources.count(IdentityOf(strCandidate)) != 0 ||
                              sourceKeys.count(SameFileKey(strCandidate)) != 0;
            strCandidate = NumberedPath(strPath, n);
        }
        taken.insert(SameFileKey(strCandidate));
        if (naming.bSkipExisting && std::filesystem::exists(strCandidate)) {
            // Outputs are only ever renamed into place whole: one that is there is complete.
            prepared.skipped.push_back({strSource, strCandidate});
            continue;
        }
        folders.insert(std::filesystem::path(strCandidate).parent_path().string());
        auto pJob = std::make_unique<ConversionJob>(strSource, strCandidate, request.decoderFactory);
        if (bSourceInTheWay) {
            pJob->AddNote("not " + std::filesystem::path(strPath).filename().string() +
                          ", which is a source");
        }
        if (bTemplate) {
            pJob->SetNaming(strFolder, naming.strTemplate, fields);
        }
        // The selection is taken now, as Start saw it; the file itself is opened only for its turn, so
        // a long list never means many open files and decoders.
        pJob->FixSelection();
        pJob->SetTrackOverride(request.nTrackOverride);
        pJob->SetWriteTags(request.bWriteTags);
        prepared.jobs.push_back(std::move(pJob));
    }
    if (bDryRun) {
        return prepared;
    }
    // What a killed run of ours left behind in these folders is of no use to anyone.
    for (const std::string &strFolder : folders) {
        // Folders a template or a walked tree asks for are made below the output folder, never the
        // output folder itself: a missing one fails its jobs, as it always has. A folder that cannot be
        // made fails the jobs that write there.
        std::error_code error;
        if (strFolder != strOutputFolder && std::filesystem::is_directory(strOutputFolder, error)) {
            std::filesystem::create_directories(strFolder, error);
        }
        OutputFile::RemoveStaleTemporaries(strFolder);
    }
    return prepared;
}

BatchRequest ConversionBatch::RequestFor(const ClipList &clips) {
    BatchRequest request;
    for (int i = 0; i < clips.GetCount(); ++i) {
        request.sources.push_back(clips.GetClip(i));
    }
    request.strOutputFolder = m_view.GetOutputFolderText();
    request.format = m_view.GetOutputFormat();
    request.naming = m_naming;
    request.nTrackOverride = m_nTrackOverride;
    request.bWriteTags = m_bWriteTags;
    request.decoderFactory = m_decoderFactory;
    return request;
}

void ConversionBatch::PrepareJobs(const ClipList &clips, bool bDryRun) {
    const BatchRequest request = RequestFor(clips);
    Adopt(request, PrepareBatchJobs(request, bDryRun));
}

void ConversionBatch::Adopt(const BatchRequest &request, PreparedJobs prepared) {
    m_strOutputFolder = request.strOutputFolder;
    m_format = request.format;
    m_jobs = std::move(prepared.jobs);
    m_skipped = std::move(prepared.skipped);
}

NameFields ConversionBatch::NameFieldsOf(const std::string &strSource, const std::string &strDefaultPath,
                                         int nIndex, int nCount, int nTagTrack) {
    NameFields fields;
    fields.strName = ClipDisplayName(strSource);
    const size_t nDot = fields.strName.rfind('.');
    fields.strStem = nDot == std::string::npos || nDot == 0 ? fields.strName : fields.strName.substr(0, nDot);
    const size_t nOutDot = strDefaultPath.rfind('.');
    fields.strExt = nOutDot == std::string::npos ? "" : strDefaultPath.substr(nOutDot + 1);
    fields.strIndex = std::to_string(nIndex + 1);
    fields.strCount = std::to_string(nCount);
    if (nTagTrack >= 0) {
        const MediaTags tags = ReadMediaTags(strSource, nTagTrack);
        fields.strTitle = tags.strTitle;
        fields.strArtist = tags.strArtist;
        fields.strAlbum = tags.strAlbum;
        fields.strTrack = tags.strTrack.substr(0, tags.strTrack.find('/'));
        fields.strDate = tags.strDate;
    }
    return fields;
}

void ConversionBatch::ClearJobs() {
    m_jobs.clear();
}

int ConversionBatch::OnConversionNotice(void *pContext, const ConversionNotice *pNotice) {
    auto *pBatch = static_cast<ConversionBatch *>(pContext);
    {
        std::lock_guard lock(pBatch->m_postMutex);
        pBatch->m_posted.push_back(*pNotice);
    }
    pBatch->m_view.WakeViewThread();
    return 1;
}

void ConversionBatch::HandlePosted() {
    std::vector<ConversionNotice> posted;
    {
        std::lock_guard lock(m_postMutex);
        posted.swap(m_posted);
    }
    for (const ConversionNotice &notice : posted) {
        const int nJob = notice.nJob;
        switch (notice.nKind) {
            case NOTICE_JOB_ENDED:
                if (nJob >= 0 && nJob < static_cast<int>(m_jobs.size())) {
                    // The record is the view's: what the MP3 jobs did to it reaches it here, while the
                    // batch runs, so the settings dialog shows the lowered bitrate at once.
                    WriteBackSettings();
                    OnJobEnded(nJob);
                    ShowProgress();
                }
                break;
            case NOTICE_BATCH_DONE:
                WriteBackSettings();
                OnBatchDone();
                break;
            default:
                break;
        }
    }
}

void ConversionBatch::WriteBackSettings() {
    m_writer.WriteBackSettings(m_settings);
}

int ShownJobOf(const std::vector<JobProgress> &progress) {
    const auto first = std::find_if(progress.begin(), progress.end(),
                                    [](JobProgress state) { return state != JobProgress::Ended; });
    const bool bStartedFromFirst =
        std::any_of(first, progress.end(), [](JobProgress state) { return state != JobProgress::Waiting; });
    const int nFirst = static_cast<int>(first - progress.begin());
    return bStartedFromFirst ? nFirst : nFirst - 1;
}

double PercentOf(const ConversionJob::Progress &progress) {
    const int nPasses = std::max(1, progress.nPasses);
    const int nPass = std::clamp(progress.nPass, 0, nPasses - 1);
    // The frame count comes from the container's duration, which may be short: never past 100%. A
    // container that tells no length at all is measured by how far its file has been read.
    const uint32_t nToConvert = progress.nFramesToConvert;
    const double dPassPercent =
        nToConvert == 0 ? std::clamp(progress.dReadPercent, 0.0, 100.0)
                        : std::min(100.0, static_cast<double>(progress.nFramesDone) / nToConvert * 100.0);
    return (nPass * 100.0 + dPassPercent) / nPasses;
}

void ConversionBatch::ShowProgress() {
    if (!IsConverting() || m_bEnding) {
        return;
    }
    std::vector<JobProgress> states;
    states.reserve(m_jobs.size());
    for (const auto &pJob : m_jobs) {
        states.push_back(pJob->GetState());
    }
    const int nShown = ShownJobOf(states);
    if (nShown < 0) {
        return;
    }
    m_nCurrentJob = nShown;
    m_dPercent = PercentOf(m_jobs[static_cast<size_t>(nShown)]->GetProgress());
    char szText[96];
    std::snprintf(szText, sizeof szText, "Progress: %d of %d, %0.1f%%", m_nCurrentJob + 1,
                  static_cast<int>(m_jobs.size()), m_dPercent);
    if (m_strShownProgress != szText) {
        m_strShownProgress = szText;
        m_view.SetStatusText(szText);
        m_view.SetProgressPos(static_cast<int>(m_dPercent));
    }
}

void ConversionBatch::OnJobEnded(int nJob) {
    const ConversionJob &job = *m_jobs[static_cast<size_t>(nJob)];
    m_view.OnJobFinished(job);
}

void ConversionBatch::OnBatchDone() {
    m_bEnding = true;
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
    std::string strNotes;
    for (const auto &pJob : m_jobs) {
        if (!pJob->GetError().empty()) {
            continue;
        }
        if (!pJob->GetNote().empty()) {
            strNotes += "\n" + pJob->GetSourcePath() + ": " + pJob->GetNote();
        }
        for (size_t i = 0; i < pJob->GetPartNotes().size(); ++i) {
            if (!pJob->GetPartNotes()[i].empty()) {
                strNotes += "\n" + pJob->GetPartOutputs()[i] + ": " + pJob->GetPartNotes()[i];
            }
        }
    }
    if (!strNotes.empty()) {
        m_view.ShowMessage(kNotesHeading + strNotes, IConversionView::MessageIcon::Information);
    }
    if (m_view.AskYesNo(kOpenFolderQuestion)) {
        m_view.OpenFolder(m_strOutputFolder);
    }
    // Only now may the window close or start again: the question was part of the batch.
    m_bActive = false;
}

std::vector<JobFailure> ConversionBatch::GetFailures() const {
    std::vector<JobFailure> failures;
    for (const auto &pJob : m_jobs) {
        if (!pJob->GetError().empty()) {
            failures.push_back({pJob->GetSourcePath(), pJob->GetError()});
        }
    }
    return failures;
}

void ConversionBatch::WaitUntilIdle() {
    m_writer.Wait();
}

}  // namespace klangor

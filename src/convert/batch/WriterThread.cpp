#include "convert/batch/WriterThread.h"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "convert/batch/OutputNames.h"
#include "convert/outputs/JobOutputs.h"
#include "convert/split/SplitPlan.h"
#include "media/MediaTags.h"

namespace klangor {

namespace {
constexpr const char *kUnknownFailure = "Conversion failed";
constexpr const char *kPipeReadOnce =
    "Cannot level the loudness of a pipe or a device, which can be read only once";
}  // namespace

WriterThread::WriterThread(uint64_t nWavRiffSizeLimit) {
    for (int i = 0; i < kOutputFormatCount; ++i) {
        const auto format = static_cast<OutputFormat>(i);
        m_outputs[static_cast<size_t>(i)] = MakeJobOutput(format, *this, nWavRiffSizeLimit);
    }
}

WriterThread::~WriterThread() {
    // No job runs while the outputs it uses go away.
    Stop();
    Wait();
}

int WriterThread::Start(const std::vector<ConversionJob *> &jobs, OutputFormat format,
                        const EncoderSettings &settings) {
    if (m_bRunning) {
        SetLastError(TraitsOf(format).szStartFailure);
        return 1;  // refused; the running batch keeps its format and settings
    }
    // The previous batch's thread has sent its last notice; collect it before starting another.
    Wait();
    m_format = format;
    Chosen().BeginBatch(jobs.size());
    SetEncoderSettings(settings);
    return StartJobs(jobs);
}

bool WriterThread::WriteBackSettings(EncoderSettings &record) {
    return Chosen().WriteBackSettings(record);
}

void WriterThread::Stop() {
    m_bStop = true;
    // A job waiting for the one before it to fix its settings is let go: that one may be stuck opening.
    { std::lock_guard lock(m_turnMutex); }
    m_turnPassed.notify_all();
}

void WriterThread::SetNotify(ConversionNotifyProc pfnNotify, void *pContext) {
    m_pfnNotify = pfnNotify;
    m_pNotifyContext = pContext;
}

int WriterThread::ProcessorCount() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
        return std::max(1, CPU_COUNT(&cpus));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

void WriterThread::SetJobsAtOnce(int nJobs) {
    m_nJobsAtOnce = nJobs < 0 ? 0 : nJobs;
    std::lock_guard lock(m_settingsMutex);
    m_nJobLimit = m_nJobsAtOnce;
}

int WriterThread::GetJobsAtOnce() const {
    return m_nJobsAtOnce > 0 ? m_nJobsAtOnce : ProcessorCount();
}

void WriterThread::Wait() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

std::string WriterThread::GetLastError() const {
    std::lock_guard lock(m_errorMutex);
    return m_strLastError;
}

void WriterThread::SetLastError(const std::string &strText) {
    std::lock_guard lock(m_errorMutex);
    m_strLastError = strText;
}

void WriterThread::FailJob(ConversionJob &job, const std::string &strText) {
    const std::string strReason = strText.empty() ? kUnknownFailure : strText;
    job.Fail(strReason);
    SetLastError(strReason);
}

void WriterThread::CountChunk(ConversionJob &job, const AudioStreamReader &reader, uint32_t nFrames) {
    job.AddFrames(nFrames);
    // A stream that tells no length is measured by how far its file has been read.
    if (reader.m_nFramesToConvert == 0) {
        job.SetReadPercent(reader.EstimateReadPercent());
    }
}

void WriterThread::SetLoudnessTarget(const LoudnessTarget &target) {
    std::lock_guard lock(m_settingsMutex);
    auto pSettings = std::make_shared<JobSettings>(*m_pPublished);
    pSettings->loudness = target;
    m_pPublished = std::move(pSettings);
}

void WriterThread::SetEncoderSettings(const EncoderSettings &settings) {
    std::lock_guard lock(m_settingsMutex);
    auto pSettings = std::make_shared<JobSettings>(*m_pPublished);
    pSettings->encoder = settings;
    m_pPublished = std::move(pSettings);
}

void WriterThread::SetSplitSettings(const SplitSettings &split) {
    std::lock_guard lock(m_settingsMutex);
    auto pSettings = std::make_shared<JobSettings>(*m_pPublished);
    pSettings->split = split;
    m_pPublished = std::move(pSettings);
}

int WriterThread::StartJobs(const std::vector<ConversionJob *> &jobs) {
    m_jobs = jobs;
    m_jobSettings.assign(jobs.size(), nullptr);
    {
        std::lock_guard lock(m_settingsMutex);
        m_nNextJob = 0;
        m_nJobsRunning = 0;
    }
    m_nSettingsTurn = 0;
    m_bStop = false;
    // Workers beyond the files' number only ever help with the tasks of the files.
    const size_t nBusy =
        std::max<size_t>(jobs.size(), 1) * static_cast<size_t>(std::max(1, Chosen().MostTasksPerJob()));
    const int nWorkers = static_cast<int>(std::min<size_t>(nBusy, static_cast<size_t>(GetJobsAtOnce())));
    m_taskGroups.clear();
    m_nWorkersWithJobs = nWorkers;
    // Running from here, not from the thread's first statement, so the close check never sees a gap.
    m_bRunning = true;
    try {
        m_thread = std::thread(&WriterThread::BatchProc, this, nWorkers);
    } catch (const std::system_error &) {
        m_bRunning = false;
        SetLastError(Chosen().Traits().szStartFailure);
        return 1;
    }
    return 0;
}

void WriterThread::Notify(int32_t nKind, int32_t nJob) {
    if (m_pfnNotify) {
        const ConversionNotice notice{nKind, nJob};
        m_pfnNotify(m_pNotifyContext, &notice);
    }
}

bool WriterThread::TakeJob(size_t &nJob) {
    // Taken together, so that a job later in the list never starts with older settings than an
    // earlier one.
    std::lock_guard lock(m_settingsMutex);
    // Fewer files at once asked for since the start: this worker leaves the files to the others, one
    // of which is always converting one and will come back for the next.
    if (m_nNextJob >= m_jobs.size() || (m_nJobLimit > 0 && m_nJobsRunning >= m_nJobLimit)) {
        return false;
    }
    ++m_nJobsRunning;
    nJob = m_nNextJob++;
    m_jobSettings[nJob] = m_pPublished;
    return true;
}

void WriterThread::BatchProc(int nWorkers) {
    // The batch's own thread is one of the workers; a helper that cannot be started only means fewer
    // files at once.
    std::vector<std::thread> helpers;
    for (int i = 1; i < nWorkers; ++i) {
        try {
            helpers.emplace_back(&WriterThread::WorkerProc, this);
        } catch (const std::system_error &) {
            std::lock_guard lock(m_taskMutex);
            m_nWorkersWithJobs -= nWorkers - i;
            break;
        }
    }
    WorkerProc();
    for (std::thread &helper : helpers) {
        helper.join();
    }
    Notify(NOTICE_BATCH_DONE, -1);
    m_bRunning = false;
}

void WriterThread::WorkerProc() {
    size_t nJob = 0;
    while (!IsStopRequested() && TakeJob(nJob)) {
        RunJob(nJob);
    }
    {
        std::lock_guard lock(m_taskMutex);
        --m_nWorkersWithJobs;
    }
    m_tasksChanged.notify_all();
    HelpWithTasks();
}

void WriterThread::RunTask(const TaskGroup &group, int nTask) {
    try {
        (*group.pfnTask)(nTask);
    } catch (...) {
        // The task has recorded what it could; a helper thread must never end the program.
    }
}

void WriterThread::HelpWithTasks() {
    std::unique_lock lock(m_taskMutex);
    while (true) {
        if (!m_taskGroups.empty()) {
            TaskGroup &group = *m_taskGroups.front();
            const int nTask = group.nNext++;
            if (group.nNext == group.nTasks) {
                m_taskGroups.erase(m_taskGroups.begin());
            }
            lock.unlock();
            RunTask(group, nTask);
            lock.lock();
            ++group.nEnded;
            m_tasksChanged.notify_all();
        } else if (m_nWorkersWithJobs == 0) {
            // Tasks come only from workers still converting jobs of their own.
            return;
        } else {
            m_tasksChanged.wait(lock);
        }
    }
}

void WriterThread::RunTasks(int nTasks, const std::function<void(int)> &fnTask) {
    if (nTasks <= 0) {
        return;
    }
    TaskGroup group;
    group.pfnTask = &fnTask;
    group.nTasks = nTasks;
    std::unique_lock lock(m_taskMutex);
    m_taskGroups.push_back(&group);
    m_tasksChanged.notify_all();
    while (group.nNext < group.nTasks) {
        const int nTask = group.nNext++;
        if (group.nNext == group.nTasks) {
            m_taskGroups.erase(std::find(m_taskGroups.begin(), m_taskGroups.end(), &group));
        }
        lock.unlock();
        RunTask(group, nTask);
        lock.lock();
        ++group.nEnded;
        m_tasksChanged.notify_all();
    }
    // The group lives on this worker's stack: every task a helper took must have ended.
    m_tasksChanged.wait(lock, [&group] { return group.nEnded == group.nTasks; });
}

void WriterThread::FixSettingsInTurn(ConversionJob &job, const AudioStreamReader &reader, size_t nJob,
                                     bool &bOpen) {
    std::unique_lock lock(m_turnMutex);
    m_turnPassed.wait(lock, [&] { return m_nSettingsTurn == nJob || IsStopRequested(); });
    if (m_nSettingsTurn != nJob) {
        if (bOpen) {
            FailJob(job, kStoppedBeforeConvertedText);
        }
        bOpen = false;
        return;
    }
    if (bOpen) {
        try {
            Chosen().FixJobSettings(reader, static_cast<int32_t>(nJob));
        } catch (const std::exception &e) {
            FailJob(job, e.what());
            bOpen = false;
        } catch (...) {
            FailJob(job, kUnknownFailure);
            bOpen = false;
        }
    }
    m_nSettingsTurn = nJob + 1;
    lock.unlock();
    m_turnPassed.notify_all();
}

void WriterThread::RunJob(size_t nJob) {
    ConversionJob &job = *m_jobs[nJob];
    const auto nIndex = static_cast<int32_t>(nJob);
    const bool bNormalize = SettingsOf(nIndex).loudness.bNormalize;
    job.Begin(bNormalize ? 2 : 1);
    bool bOpen = false;
    {
        AudioStreamReader reader(job.GetDecoderFactory());
        try {
            reader.UseJob(job);
            reader.Open(job.GetSourcePath(), Chosen().JobFormat());
            bOpen = reader.IsOpen();
            if (bOpen) {
                job.SetFramesToConvert(reader.m_nFramesToConvert);
            } else {
                // Nothing to decode: no output file is made, the reader's reason stands for the job.
                FailJob(job, reader.m_strLastError.empty() ? kNoAudioText : reader.m_strLastError);
            }
        } catch (const std::exception &e) {
            FailJob(job, e.what());
        } catch (...) {
            FailJob(job, kUnknownFailure);
        }
        // Every job passes its turn, opened or not, so the next one never waits for ever.
        if (Chosen().FixesSettingsInTurn()) {
            FixSettingsInTurn(job, reader, nJob, bOpen);
        }
        if (bOpen) {
            try {
                if (SettingsOf(nIndex).split.mode != SplitMode::None) {
                    ConvertSplit(job, reader, nIndex);
                } else if (!bNormalize || MeasureLoudness(job, reader, nIndex)) {
                    Chosen().ConvertJob(job, reader, nIndex);
                }
            } catch (const std::exception &e) {
                FailJob(job, e.what());
            } catch (...) {
                FailJob(job, kUnknownFailure);
            }
        }
    }
    // The reader is gone, and with it the source's decoder, before anyone learns the job has ended.
    {
        std::lock_guard lock(m_settingsMutex);
        --m_nJobsRunning;
    }
    job.End();
    Notify(NOTICE_JOB_ENDED, nIndex);
}

void WriterThread::ConvertSplit(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) {
    const JobSettings &settings = SettingsOf(nJob);
    const bool bNormalize = settings.loudness.bNormalize;
    SourceParts plan;
    std::string strError;
    if (!PlanParts(
            job, reader, settings.split, [this] { return IsStopRequested(); }, plan, strError)) {
        FailJob(job, strError);
        return;
    }
    if (!plan.strNote.empty()) {
        job.AddNote(plan.strNote);
    }
    if (!WritesParts(plan)) {
        if (!bNormalize || MeasureLoudness(job, reader, nJob)) {
            Chosen().ConvertJob(job, reader, nJob);
        }
        return;
    }
    // The parts' frames, each pass of theirs, make up the whole job's one pass.
    job.Begin(1);
    uint64_t llFrames = 0;
    for (const OutputPart &part : plan.parts) {
        llFrames += part.nEndFrame - part.nStartFrame;
    }
    job.SetFramesToConvert(
        static_cast<uint32_t>(std::min<uint64_t>(llFrames * (bNormalize ? 2 : 1), UINT32_MAX)));

    const int nCount = static_cast<int>(plan.parts.size());
    const auto pSource = std::make_shared<const MediaTags>(
        job.WritesTags() ? ReadMediaTags(job.GetSourcePath(), reader.GetTrack()) : MediaTags{});
    const MediaTags &source = *pSource;
    const std::string strAlbum = !plan.strAlbum.empty() ? plan.strAlbum
                                 : !source.strTitle.empty()
                                     ? source.strTitle
                                     : std::filesystem::path(job.GetSourcePath()).stem().string();
    std::vector<std::unique_ptr<ConversionJob>> parts;
    for (int i = 0; i < nCount; ++i) {
        const OutputPart &part = plan.parts[static_cast<size_t>(i)];
        auto pPart = std::make_unique<ConversionJob>(
            job.GetSourcePath(), job.PartOutputPathOf(i + 1, nCount, part.strTitle), job.GetDecoderFactory());
        pPart->SetTrackOverride(job.GetTrackOverride());
        pPart->SetWriteTags(job.WritesTags());
        ConversionJob::PartTags tags;
        tags.strTitle =
            part.strTitle.empty() ? strAlbum + " part " + PartNumber(i + 1, nCount) : part.strTitle;
        tags.strTrack = std::to_string(i + 1) + "/" + std::to_string(nCount);
        tags.strAlbum = strAlbum;
        tags.strArtist = !part.strPerformer.empty()  ? part.strPerformer
                         : !source.strArtist.empty() ? source.strArtist
                                                     : plan.strAlbumArtist;
        pPart->SetPartOf(&job, std::move(tags), pSource);
        pPart->SetOnlyPart(nCount == 1);
        parts.push_back(std::move(pPart));
    }
    // Each part is a whole output of its own; the batch's spare workers take the parts this worker has
    // not reached.
    const bool bReadSamples = bNormalize || Chosen().PartsReadSamples(job, reader);
    RunTasks(nCount, [&](int i) {
        ConversionJob &partJob = *parts[static_cast<size_t>(i)];
        const OutputPart &part = plan.parts[static_cast<size_t>(i)];
        if (IsStopRequested()) {
            return;  // a part not begun is not written; those that ended are kept
        }
        partJob.Begin(bNormalize ? 2 : 1);
        try {
            AudioStreamReader partReader(job.GetDecoderFactory());
            const uint32_t nEnd = part.bToStreamEnd ? UINT32_MAX : part.nEndFrame;
            if (!bReadSamples) {
                partReader.DescribePart(reader, part.nStartFrame, nEnd);
                Chosen().ConvertJob(partJob, partReader, nJob);
            } else if (!partReader.OpenPart(reader, part.nStartFrame, nEnd)) {
                partJob.Fail(partReader.m_strLastError.empty() ? kNoAudioText : partReader.m_strLastError);
            } else if (!bNormalize || MeasureLoudness(partJob, partReader, nJob)) {
                Chosen().ConvertJob(partJob, partReader, nJob);
            }
        } catch (const std::exception &e) {
            partJob.Fail(e.what());
        } catch (...) {
            partJob.Fail(kUnknownFailure);
        }
        partJob.End();
    });
    for (const auto &pPart : parts) {
        if (!pPart->GetError().empty()) {
            FailJob(job, std::filesystem::path(pPart->GetOutputPath()).filename().string() + ": " +
                             pPart->GetError());
        } else if (pPart->GetState() == ConversionJob::State::Ended) {
            job.AddPartOutput(pPart->GetOutputPath(), pPart->GetNote());
        }
    }
}

bool MeterReaderChunk(LoudnessMeter &meter, const AudioStreamReader &reader, int nFrames,
                      std::vector<float> &scratch) {
    const auto nCount = static_cast<size_t>(nFrames);
    const uint8_t *pBytes = reader.m_pBuffer.get();
    // The buffer is the reader's own, allocated by new[], so it is aligned for either sample type.
    if (reader.m_wfx.wFormatTag == kWaveFormatFloat) {
        return meter.AddFloat(reinterpret_cast<const float *>(pBytes), nCount);
    }
    if (reader.m_nBytesPerSample == 2) {
        return meter.AddShort(reinterpret_cast<const int16_t *>(pBytes), nCount);
    }
    scratch.resize(nCount * static_cast<size_t>(reader.m_nChannels));
    for (size_t i = 0; i < scratch.size(); ++i) {
        scratch[i] = static_cast<float>(pBytes[i] - 128) * (1.0f / 128.0f);
    }
    return meter.AddFloat(scratch.data(), nCount);
}

bool WriterThread::MeasureLoudness(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) {
    // Levelling reads the source twice, and a pipe or a device gives its stream only once: the second
    // open would wait for a writer that is gone.
    struct stat info {};
    if (::stat(job.GetSourcePath().c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        FailJob(job, kPipeReadOnce);
        return false;
    }
    LoudnessMeter meter;
    if (!meter.Start(reader.m_nChannels, reader.m_nSampleRate)) {
        FailJob(job, kMeterFailure);
        return false;
    }
    std::vector<float> widened;
    int n = reader.ReadChunk();
    while (n > 0) {
        if (!MeterReaderChunk(meter, reader, n, widened)) {
            FailJob(job, kMeterFailure);
            return false;
        }
        CountChunk(job, reader, static_cast<uint32_t>(n));
        if (IsStopRequested()) {
            // Nothing has been written yet; a file cut short before its second pass would only be
            // a wrongly levelled fragment.
            FailJob(job, kStoppedWhileMeasuringText);
            return false;
        }
        n = reader.ReadChunk();
    }
    if (n < 0) {
        FailJob(job, reader.m_strLastError);
        return false;
    }
    const double dGain = NormalizingGain(meter.Finish(), SettingsOf(nJob).loudness.dTargetLufs);
    job.StartPass(1);
    // The reader reads its range once: the second pass opens it afresh, at the same selection.
    reader.Close();
    if (!reader.Open(job.GetSourcePath(), Chosen().JobFormat())) {
        FailJob(job, reader.m_strLastError);
        return false;
    }
    reader.SetGain(dGain);
    return true;
}

}  // namespace klangor

namespace klangor {

int JobOutput::MostTasksPerJob() const {
    return m_traits.join != PieceJoin::None && m_writer.GetDivideAfterSeconds() > 0.0
               ? WriterThread::kMostPieces
               : 1;
}

bool JobOutput::IsStopRequested() const {
    return m_writer.IsStopRequested();
}

void JobOutput::SetLastError(const std::string &strText) {
    m_writer.SetLastError(strText);
}

void JobOutput::FailJob(ConversionJob &job, const std::string &strText) {
    m_writer.FailJob(job, strText);
}

void JobOutput::CountChunk(ConversionJob &job, const AudioStreamReader &reader, uint32_t nFrames) {
    WriterThread::CountChunk(job, reader, nFrames);
}

const JobSettings &JobOutput::SettingsOf(int32_t nJob) const {
    return m_writer.SettingsOf(nJob);
}

void JobOutput::RunTasks(int nTasks, const std::function<void(int)> &fnTask) {
    m_writer.RunTasks(nTasks, fnTask);
}

JobOutput::FeedResult JobOutput::FeedSamples(ConversionJob &job, AudioStreamReader &reader,
                                             const std::function<bool(const uint8_t *, uint32_t)> &fnWrite) {
    const bool bEmptySelection = !reader.RunsToStreamEnd() && reader.m_nFramesToConvert == 0;
    uint64_t nFed = 0;
    int n = reader.ReadChunk();
    while (n > 0) {
        if (!fnWrite(reader.m_pBuffer.get(), static_cast<uint32_t>(n))) {
            return FeedResult::WriteFailed;
        }
        nFed += static_cast<uint64_t>(n);
        CountChunk(job, reader, static_cast<uint32_t>(n));
        if (IsStopRequested()) {
            break;
        }
        n = reader.ReadChunk();
    }
    if (n < 0) {
        FailJob(job, reader.m_strLastError);
        return FeedResult::Failed;
    }
    if (nFed == 0 && !bEmptySelection) {
        FailJob(job, kNoAudioText);
        return FeedResult::Failed;
    }
    return FeedResult::Fed;
}

double JobOutput::DivideAfterSeconds() const {
    return m_writer.GetDivideAfterSeconds();
}

std::mutex &JobOutput::PublishedMutex() {
    return m_writer.m_settingsMutex;
}

std::shared_ptr<const JobSettings> &JobOutput::Published() {
    return m_writer.m_pPublished;
}

}  // namespace klangor

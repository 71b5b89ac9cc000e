#include "convert/WriterThread.h"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <system_error>
#include <vector>

namespace {
constexpr const char *kUnknownFailure = "Conversion failed";
constexpr const char *kStoppedWhileMeasuring = "Stopped while its loudness was being measured";
constexpr const char *kStoppedBeforeItsTurn = "Stopped before it was converted";
constexpr const char *kPipeReadOnce = "Cannot level the loudness of a pipe or a device, which can be read only once";
}

WriterThread::WriterThread(const char *szStartFailure) : m_szStartFailure(szStartFailure) {}

WriterThread::~WriterThread() {
    Shutdown();
}

void WriterThread::Stop() {
    m_bStop = true;
    // A job waiting for the one before it to fix its settings is let go: that one may be stuck opening.
    { std::lock_guard lock(m_turnMutex); }
    m_turnPassed.notify_all();
}

void WriterThread::Shutdown() {
    Stop();
    Wait();
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

void WriterThread::FailJob(AudioStreamReader &job, const std::string &strText) {
    job.m_strJobError = strText.empty() ? kUnknownFailure : strText;
    SetLastError(job.m_strJobError);
}

int WriterThread::StartJobs(const std::vector<AudioStreamReader *> &jobs) {
    if (m_bRunning) {
        SetLastError(m_szStartFailure);
        return 1;
    }
    // The previous batch's thread has sent its last notice; collect it before starting another.
    Wait();
    m_jobs = jobs;
    m_loudness = m_nextLoudness;
    m_nNextJob = 0;
    m_nSettingsTurn = 0;
    m_bStop = false;
    // Workers beyond the files' number only ever help with the tasks of the files.
    const size_t nBusy = std::max<size_t>(jobs.size(), 1) * static_cast<size_t>(std::max(1, MostTasksPerJob()));
    const int nWorkers = static_cast<int>(std::min<size_t>(nBusy, static_cast<size_t>(GetJobsAtOnce())));
    m_taskGroups.clear();
    m_nWorkersWithJobs = nWorkers;
    // Running from here, not from the thread's first statement, so the close check never sees a gap.
    m_bRunning = true;
    try {
        m_thread = std::thread(&WriterThread::BatchProc, this, nWorkers);
    } catch (const std::system_error &) {
        m_bRunning = false;
        SetLastError(m_szStartFailure);
        return 1;
    }
    return 0;
}

void WriterThread::Notify(int32_t nKind, int32_t nValue, int32_t nJob) {
    if (m_pfnNotify) {
        const ConversionNotice notice{nKind, nValue, nJob};
        std::lock_guard lock(m_notifyMutex);
        m_pfnNotify(m_pNotifyContext, &notice);
    }
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
    Notify(NOTICE_BATCH_DONE, 0, -1);
    m_bRunning = false;
}

void WriterThread::WorkerProc() {
    while (!IsStopRequested()) {
        const size_t nJob = m_nNextJob.fetch_add(1);
        if (nJob >= m_jobs.size()) {
            break;
        }
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

void WriterThread::FixSettingsInTurn(AudioStreamReader &job, size_t nJob, bool &bOpen) {
    std::unique_lock lock(m_turnMutex);
    m_turnPassed.wait(lock, [&] { return m_nSettingsTurn == nJob || IsStopRequested(); });
    if (m_nSettingsTurn != nJob) {
        if (bOpen) {
            FailJob(job, kStoppedBeforeItsTurn);
        }
        bOpen = false;
        return;
    }
    if (bOpen) {
        try {
            FixJobSettings(job, static_cast<int32_t>(nJob));
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
    AudioStreamReader &job = *m_jobs[nJob];
    const auto nIndex = static_cast<int32_t>(nJob);
    job.m_strJobError.clear();
    job.m_nPassCount = m_loudness.bNormalize ? 2 : 1;
    job.m_nPassesDone = 0;
    Notify(NOTICE_JOB_STARTED, nIndex, nIndex);
    bool bOpen = false;
    try {
        if (!job.IsOpen()) {
            job.Open(job.m_strSourcePath, JobFormat());
        }
        bOpen = job.IsOpen();
        if (!bOpen) {
            // Nothing to decode: no output file is made, the reader's reason stands for the job.
            FailJob(job, job.m_strLastError.empty() ? "Can not find audio in you Media file!"
                                                    : job.m_strLastError);
        }
    } catch (const std::exception &e) {
        FailJob(job, e.what());
    } catch (...) {
        FailJob(job, kUnknownFailure);
    }
    // Every job passes its turn, opened or not, so the next one never waits for ever.
    if (FixesSettingsInTurn()) {
        FixSettingsInTurn(job, nJob, bOpen);
    }
    if (bOpen) {
        try {
            if (!m_loudness.bNormalize || MeasureLoudness(job, nIndex)) {
                ConvertJob(job, nIndex);
            }
        } catch (const std::exception &e) {
            FailJob(job, e.what());
        } catch (...) {
            FailJob(job, kUnknownFailure);
        }
    }
    job.Close();
    Notify(NOTICE_JOB_ENDED, 0, nIndex);
}

bool MeterReaderChunk(LoudnessMeter &meter, const AudioStreamReader &job, int nFrames, std::vector<float> &scratch) {
    const auto nCount = static_cast<size_t>(nFrames);
    const uint8_t *pBytes = job.m_pBuffer.get();
    // The buffer is the reader's own, allocated by new[], so it is aligned for either sample type.
    if (job.m_wfx.wFormatTag == kWaveFormatFloat) {
        return meter.AddFloat(reinterpret_cast<const float *>(pBytes), nCount);
    }
    if (job.m_nBytesPerSample == 2) {
        return meter.AddShort(reinterpret_cast<const int16_t *>(pBytes), nCount);
    }
    scratch.resize(nCount * static_cast<size_t>(job.m_nChannels));
    for (size_t i = 0; i < scratch.size(); ++i) {
        scratch[i] = static_cast<float>(pBytes[i] - 128) * (1.0f / 128.0f);
    }
    return meter.AddFloat(scratch.data(), nCount);
}

bool WriterThread::MeasureLoudness(AudioStreamReader &job, int32_t nJob) {
    // Levelling reads the source twice, and a pipe or a device gives its stream only once: the second
    // open would wait for a writer that is gone.
    struct stat info {};
    if (::stat(job.m_strSourcePath.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        FailJob(job, kPipeReadOnce);
        return false;
    }
    LoudnessMeter meter;
    if (!meter.Start(job.m_nChannels, job.m_nSampleRate)) {
        FailJob(job, kMeterFailure);
        return false;
    }
    std::vector<float> widened;
    int n = job.ReadChunk();
    while (n > 0) {
        if (!MeterReaderChunk(meter, job, n, widened)) {
            FailJob(job, kMeterFailure);
            return false;
        }
        Notify(NOTICE_PROGRESS, n, nJob);
        if (IsStopRequested()) {
            // Nothing has been written yet; a file cut short before its second pass would only be
            // a wrongly levelled fragment.
            FailJob(job, kStoppedWhileMeasuring);
            return false;
        }
        n = job.ReadChunk();
    }
    if (n < 0) {
        FailJob(job, job.m_strLastError);
        return false;
    }
    const double dGain = NormalizingGain(meter.Finish(), m_loudness.dTargetLufs);
    job.m_nPassesDone = 1;
    // The reader reads its range once: the second pass opens it afresh, at the same selection.
    job.Close();
    if (!job.Open(job.m_strSourcePath, JobFormat())) {
        FailJob(job, job.m_strLastError);
        return false;
    }
    job.SetGain(dGain);
    return true;
}

#include "convert/WriterThread.h"

#include <sched.h>

#include <algorithm>
#include <exception>
#include <system_error>
#include <vector>

namespace {
constexpr const char *kUnknownFailure = "Conversion failed";
constexpr const char *kStoppedWhileMeasuring = "Stopped while its loudness was being measured";
}

WriterThread::WriterThread(const char *szStartFailure) : m_szStartFailure(szStartFailure) {}

WriterThread::~WriterThread() {
    Shutdown();
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

int WriterThread::SpareWorkers() const {
    const size_t nJobs = m_jobs.size();
    const auto nWaiting = static_cast<int>(nJobs - std::min(m_nNextJob.load(), nJobs));
    return std::max(0, m_nBatchJobsAtOnce.load() - m_nRunningJobs.load() - nWaiting);
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
    m_nRunningJobs = 0;
    m_nBatchJobsAtOnce = GetJobsAtOnce();
    m_bStop = false;
    const int nWorkers = static_cast<int>(std::min<size_t>(std::max<size_t>(jobs.size(), 1), GetJobsAtOnce()));
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
}

void WriterThread::RunJob(size_t nJob) {
    AudioStreamReader &job = *m_jobs[nJob];
    const auto nIndex = static_cast<int32_t>(nJob);
    job.m_strJobError.clear();
    job.m_nPassCount = m_loudness.bNormalize ? 2 : 1;
    job.m_nPassesDone = 0;
    Notify(NOTICE_JOB_STARTED, nIndex, nIndex);
    try {
        if (!job.IsOpen()) {
            job.Open(job.m_strSourcePath, JobFormat());
        }
        if (!job.IsOpen()) {
            // Nothing to decode: no output file is made, the reader's reason stands for the job.
            FailJob(job, job.m_strLastError.empty() ? "Can not find audio in you Media file!"
                                                    : job.m_strLastError);
        } else {
            // Counted while it converts, so a job starting meanwhile knows which workers are spare.
            struct Running {
                std::atomic<int> &nCount;
                explicit Running(std::atomic<int> &n) : nCount(n) { ++nCount; }
                ~Running() { --nCount; }
            } running(m_nRunningJobs);
            if (!m_loudness.bNormalize || MeasureLoudness(job, nIndex)) {
                ConvertJob(job, nIndex);
            }
        }
    } catch (const std::exception &e) {
        FailJob(job, e.what());
    } catch (...) {
        FailJob(job, kUnknownFailure);
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

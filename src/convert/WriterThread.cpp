#include "convert/WriterThread.h"

#include <exception>
#include <system_error>

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
    job.m_strJobError = strText;
    SetLastError(strText);
}

int WriterThread::StartJobs(const std::vector<AudioStreamReader *> &jobs) {
    if (m_bRunning) {
        SetLastError(m_szStartFailure);
        return 1;
    }
    // The previous batch's thread has sent its last notice; collect it before starting another.
    Wait();
    m_jobs = jobs;
    m_bStop = false;
    // Running from here, not from the thread's first statement, so the close check never sees a gap.
    m_bRunning = true;
    try {
        m_thread = std::thread(&WriterThread::ThreadProc, this);
    } catch (const std::system_error &) {
        m_bRunning = false;
        SetLastError(m_szStartFailure);
        return 1;
    }
    return 0;
}

void WriterThread::Notify(int32_t nKind, int32_t nValue) {
    if (m_pfnNotify) {
        const ConversionNotice notice{nKind, nValue};
        m_pfnNotify(m_pNotifyContext, &notice);
    }
}

void WriterThread::ThreadProc() {
    for (size_t i = 0; i < m_jobs.size(); ++i) {
        AudioStreamReader &job = *m_jobs[i];
        job.m_strJobError.clear();
        Notify(NOTICE_JOB_STARTED, static_cast<int32_t>(i));
        if (!job.IsOpen() && job.WasOpened()) {
            job.Open(job.m_strSourcePath);  // checked when the batch was prepared, opened for its turn
        }
        if (!job.IsOpen()) {
            // Nothing to decode: no output file is made, the reader's reason stands for the job.
            FailJob(job, job.m_strLastError.empty() ? "Can not find audio in you Media file!"
                                                    : job.m_strLastError);
        } else {
            try {
                ConvertJob(job);
            } catch (const std::exception &e) {
                FailJob(job, e.what());
            }
        }
        job.Close();
        if (IsStopRequested()) {
            break;
        }
    }
    Notify(NOTICE_BATCH_DONE, 0);
    m_bRunning = false;
}

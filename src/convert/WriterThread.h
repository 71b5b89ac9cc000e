#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert/AudioStreamReader.h"
#include "convert/ConversionNotice.h"

// What the WAV and MP3 writers share: one worker thread per batch, the stop and running flags, the
// notices and the last failure text. Start, Stop, IsRunning and Wait are called on the window thread;
// the jobs are converted, and the notices sent, on the worker thread.
//
// A batch always ends with NOTICE_BATCH_DONE: a job that cannot be converted is recorded (its
// m_strJobError and the writer's last-error text) and the batch goes on with the next one. A job that
// was opened once and closed since is opened again for its turn; every job is closed after its turn.
// The jobs belong to the caller and must stay alive until the batch has ended.
class WriterThread {
public:
    WriterThread(const WriterThread &) = delete;
    WriterThread &operator=(const WriterThread &) = delete;
    virtual ~WriterThread();

    void SetNotify(ConversionNotifyProc pfnNotify, void *pContext);
    // Requests the end of the batch: the current file is finished short but well-formed, the remaining
    // jobs are skipped. Returns at once.
    void Stop() { m_bStop = true; }
    // 1 from Start until the NOTICE_BATCH_DONE callback has returned.
    int IsRunning() const { return m_bRunning.load() ? 1 : 0; }
    // Waits for the worker thread of the last batch to end. Never call it from the notice callback.
    void Wait();
    std::string GetLastError() const;

protected:
    explicit WriterThread(const char *szStartFailure);

    // Starts the worker on the jobs: 0 when it runs, 1 when it could not be started (also while a
    // batch still runs).
    int StartJobs(const std::vector<AudioStreamReader *> &jobs);
    // Derived destructors call this first, so no job runs while the derived part is being destroyed.
    void Shutdown();

    // Converts one opened job on the worker thread.
    virtual void ConvertJob(AudioStreamReader &job) = 0;

    void Notify(int32_t nKind, int32_t nValue);
    bool IsStopRequested() const { return m_bStop.load(); }
    void SetLastError(const std::string &strText);
    // Records why the job gave no complete output.
    void FailJob(AudioStreamReader &job, const std::string &strText);

private:
    void ThreadProc();

    const char *m_szStartFailure;
    std::vector<AudioStreamReader *> m_jobs;
    ConversionNotifyProc m_pfnNotify = nullptr;
    void *m_pNotifyContext = nullptr;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bRunning{false};
    std::thread m_thread;
    mutable std::mutex m_errorMutex;
    std::string m_strLastError;
};

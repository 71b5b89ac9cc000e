#pragma once

#include <cstdint>

// What a writer thread tells the window about a running batch.
enum ConversionNoticeKind : int32_t {
    NOTICE_JOB_STARTED = 0,  // nValue: index of the job, from 0
    NOTICE_PROGRESS = 1,     // nValue: frames just converted
    NOTICE_BATCH_DONE = 2,   // nValue: 0
    NOTICE_JOB_ENDED = 3,    // nValue: 0; the job's output is complete, or its m_strJobError says why not
};

// Jobs run side by side, so every notice but the batch's end names the job it is about.
struct ConversionNotice {
    int32_t nKind = NOTICE_JOB_STARTED;
    int32_t nValue = 0;
    int32_t nJob = -1;  // index of the job, from 0; -1 for NOTICE_BATCH_DONE
};

// Called on a worker thread, one notice at a time; the worker goes on only when it returns. The result
// is ignored.
using ConversionNotifyProc = int (*)(void *pContext, const ConversionNotice *pNotice);

#pragma once

#include <cstdint>

// What a writer thread tells the window about a running batch.
enum ConversionNoticeKind : int32_t {
    NOTICE_JOB_STARTED = 0,  // nValue: index of the job, from 0
    NOTICE_PROGRESS = 1,     // nValue: frames just converted
    NOTICE_BATCH_DONE = 2,   // nValue: 0
};

struct ConversionNotice {
    int32_t nKind = NOTICE_JOB_STARTED;
    int32_t nValue = 0;
};

// Called on the writer's thread; the writer goes on only when it returns. The result is ignored.
using ConversionNotifyProc = int (*)(void *pContext, const ConversionNotice *pNotice);

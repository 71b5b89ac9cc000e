#pragma once

#include <cstdint>

namespace klangor {

// What a writer tells its owner about a running batch. Progress is not told: each job keeps its own
// (ConversionJob::GetProgress) for the owner to read when it likes.
enum ConversionNoticeKind : int32_t {
    NOTICE_BATCH_DONE = 2,  // every worker has finished
    NOTICE_JOB_ENDED = 3,   // the job's output is complete, or its failure text says why not
};

struct ConversionNotice {
    int32_t nKind = NOTICE_JOB_ENDED;
    int32_t nJob = -1;  // index of the job, from 0; -1 for NOTICE_BATCH_DONE
};

// Called on a worker thread, from several workers at once, and must return at once: it may hand the
// notice on, never wait for another thread. The result is ignored.
using ConversionNotifyProc = int (*)(void *pContext, const ConversionNotice *pNotice);

}  // namespace klangor

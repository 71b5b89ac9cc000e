#pragma once

#include <cstdint>
#include <memory>

#include "convert/batch/JobOutput.h"
#include "settings/OutputFormat.h"

namespace klangor {

// The output that converts a batch's jobs to the format, for the writer that drives it.
// nWavRiffSizeLimit is the size past which a WAV output becomes RF64.
std::unique_ptr<JobOutput> MakeJobOutput(OutputFormat format, WriterThread &writer,
                                         uint64_t nWavRiffSizeLimit);

}  // namespace klangor

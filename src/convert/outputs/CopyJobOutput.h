#pragma once

#include "convert/batch/JobOutput.h"

namespace klangor {

// Writes each job of a batch as its source's own audio, the packets copied (PacketCopy). A selection
// is cut exactly where the codec allows it (PCM, AAC, ALAC, Opus and Vorbis in PacketCopy; MP3, FLAC,
// AC-3, E-AC-3 and DTS in SelectionCopy); any other codec's job with a selection fails rather than
// ignore it. The copying on the workers, one PacketCopy per running job.
class CopyJobOutput : public JobOutput {
public:
    using JobOutput::JobOutput;

    void ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) override;
    bool PartsReadSamples(const ConversionJob &job, const AudioStreamReader &reader) override;
};

}  // namespace klangor

#pragma once

#include "convert/batch/WriterThread.h"

namespace klangor {

// Writes each job of a batch as its source's own audio, the packets copied (PacketCopy). A selection
// is cut exactly where the codec allows it (PCM, AAC, ALAC, Opus and Vorbis in PacketCopy; MP3, FLAC,
// AC-3, E-AC-3 and DTS in SelectionCopy); any other codec's job with a selection fails rather than
// ignore it. Start, Stop
// and IsRunning on the owner's thread; the copying on the workers, one PacketCopy per running job.
class CopyWriterThread : public WriterThread {
public:
    CopyWriterThread();
    ~CopyWriterThread() override;

    int Start(const std::vector<ConversionJob *> &jobs) { return StartJobs(jobs); }

private:
    PcmSampleFormat JobFormat() const override { return PcmSampleFormat::Float; }
    void ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) override;
    bool PartsReadSamples(const ConversionJob &job, const AudioStreamReader &reader) override;
};

}  // namespace klangor

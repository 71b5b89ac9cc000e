#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "convert/WriterThread.h"
#include "settings/EncoderSettings.h"
#include "settings/OutputFormat.h"

namespace klangor {

// The sample depth a lossless output of the source keeps: 16 for 8- and 16-bit sources, 24 for
// deeper, floating-point and lossy ones (and for sources that cannot be looked at twice).
int LosslessDepthOf(const std::string &strPath, int nTrack);

// Writes each job of a batch as FLAC, Opus, AAC, ALAC or Vorbis (CodecOutput), fed 32-bit float
// samples; every file is encoded whole by the worker that took it. Start, Stop, IsRunning and the
// setters on the owner's thread; the encoding on the workers, one CodecOutput per running job.
class CodecWriterThread : public WriterThread {
public:
    CodecWriterThread();
    ~CodecWriterThread() override;

    // Publishes the settings and starts the batch writing the format, which is no MP3 or WAV.
    int Start(const std::vector<ConversionJob *> &jobs, OutputFormat format, const EncoderSettings &settings);

private:
    PcmSampleFormat JobFormat() const override { return PcmSampleFormat::Float; }
    void ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) override;
    // Reads the whole source once before it is encoded, counting its frames into nFrames and feeding
    // the meter when one is given, and opens it again. False when the job is not to be converted
    // (the job says why). A pipe or a device cannot be read twice: its frames are the container's
    // estimate, and it cannot be metered.
    bool PrePass(ConversionJob &job, AudioStreamReader &reader, LoudnessMeter *pMeter, uint64_t &nFrames);

    // Set by Start before the workers exist, read by them.
    std::atomic<OutputFormat> m_format{OutputFormat::Flac};
};

}  // namespace klangor

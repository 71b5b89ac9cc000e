#pragma once

#include <cstdint>
#include <vector>

#include "convert/OutputFile.h"
#include "convert/WriterThread.h"
#include "settings/EncoderSettings.h"

// The sample layout of a job, noted once per job: 32-bit float, 16-bit or else 8-bit unsigned; two
// channels or else the first channel only.
struct SampleLayout {
    enum class Kind { U8, S16, Float };
    Kind kind;
    bool bTwoChannel;
    int nChannels;
};

// Splits a chunk into the left and right float buffers LAME takes (full scale is ±1.0), picking one
// channel for mono when the settings ask for it (read for every frame).
void SplitChannels(const uint8_t *pBuffer, int nFrames, const SampleLayout &layout,
                   const EncoderSettings &settings, float *pLeft, float *pRight);

// Encodes each job of a batch to MP3 with libmp3lame, fed 32-bit float samples, set up per job from the
// shared EncoderSettings (the low-rate bitrate ceiling is written back into them). Start, Stop and
// IsRunning on the window thread; the encoding on the workers, one encoder per running job.
class Mp3WriterThread : public WriterThread {
public:
    Mp3WriterThread();
    ~Mp3WriterThread() override;

    // The settings must outlive the batch; the worker reads them at each job's start and the channel
    // pick for every frame.
    int Start(const std::vector<AudioStreamReader *> &jobs, EncoderSettings &settings);

private:
    PcmSampleFormat JobFormat() const override { return PcmSampleFormat::Float; }
    void ConvertJob(AudioStreamReader &job, int32_t nJob) override;

    EncoderSettings *m_pSettings = nullptr;
};

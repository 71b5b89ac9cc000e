#pragma once

#include <cstdint>
#include <vector>

#include "convert/OutputFile.h"
#include "convert/WriterThread.h"
#include "settings/EncoderSettings.h"

// The sample layout of a job, noted once per job: 16-bit or else 8-bit unsigned, two channels or else
// the first channel only.
struct SampleLayout {
    bool b16Bit;
    bool bTwoChannel;
    int nChannels;
};

// Splits a chunk into the left and right buffers LAME takes, picking one channel for mono when the
// settings ask for it (read for every frame).
void SplitChannels(const uint8_t *pBuffer, int nFrames, const SampleLayout &layout,
                   const EncoderSettings &settings, int16_t *pLeft, int16_t *pRight);

// Encodes each job of a batch to MP3 with libmp3lame, set up per job from the shared EncoderSettings
// (the low-rate bitrate ceiling is written back into them). Start, Stop and IsRunning on the window
// thread; the encoding on the worker thread.
class Mp3WriterThread : public WriterThread {
public:
    Mp3WriterThread();
    ~Mp3WriterThread() override;

    // The settings must outlive the batch; the worker reads them at each job's start and the channel
    // pick for every frame.
    int Start(const std::vector<AudioStreamReader *> &jobs, EncoderSettings &settings);

private:
    void ConvertJob(AudioStreamReader &job) override;

    EncoderSettings *m_pSettings = nullptr;
};

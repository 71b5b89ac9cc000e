#pragma once

#include <vector>

#include "convert/OutputFile.h"
#include "convert/WriterThread.h"
#include "settings/EncoderSettings.h"

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

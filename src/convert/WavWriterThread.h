#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/MediaTags.h"
#include "convert/OutputFile.h"
#include "convert/WriterThread.h"

// One RIFF/WAVE output being written: a 44-byte header from the job's PCM format, the frames exactly
// as the reader delivers them, and the real sizes patched in at the end. Owned by the worker that
// converts the job; destroyed unfinished, it leaves nothing behind.
class WavFile {
public:
    // Creates the (temporary) file and writes the header with zero sizes.
    bool WriteHeader(const std::string &strPath, const WaveFormat &wfx);
    bool WriteFrames(uint32_t nCount, const uint8_t *pData);
    // Patches the sizes of what was written and puts the file under its name, with the tags given.
    bool FinishFile(const MediaTags &tags = {});
    void Discard() { m_file.Discard(); }
    uint32_t FrameBytes() const;
    uint32_t FramesWritten() const { return m_nFramesWritten; }

private:
    OutputFile m_file;
    uint32_t m_posRiffSize = 0;
    uint32_t m_posDataSize = 0;
    uint32_t m_nFramesWritten = 0;
    std::string m_strPath;
    WaveFormat m_wfx;
};

// Writes each job of a batch as a WAV file of 16-bit PCM. Start, Stop and IsRunning on the window
// thread; everything else on the workers, one WavFile per running job.
class WavWriterThread : public WriterThread {
public:
    // RIFF sizes are 32 bits and the RIFF size counts 36 header bytes besides the data.
    static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

    explicit WavWriterThread(uint64_t nMaxDataBytes = kMaxDataBytes);
    ~WavWriterThread() override;

    int Start(const std::vector<AudioStreamReader *> &jobs) { return StartJobs(jobs); }

private:
    PcmSampleFormat JobFormat() const override { return PcmSampleFormat::S16; }
    void ConvertJob(AudioStreamReader &job, int32_t nJob) override;

    const uint64_t m_nMaxDataBytes;
};

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/OutputFile.h"
#include "convert/WriterThread.h"

// Writes each job of a batch as a RIFF/WAVE file: a 44-byte header from the job's PCM format, the
// frames exactly as the reader delivers them, and the real sizes patched in at the end.
// Start, Stop and IsRunning on the window thread; everything else on the worker thread.
class WavWriterThread : public WriterThread {
public:
    // RIFF sizes are 32 bits and the RIFF size counts 36 header bytes besides the data.
    static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

    explicit WavWriterThread(uint64_t nMaxDataBytes = kMaxDataBytes);
    ~WavWriterThread() override;

    int Start(const std::vector<AudioStreamReader *> &jobs) { return StartJobs(jobs); }

    // Creates (or truncates) the file and writes the header with zero sizes.
    bool WriteHeader(const std::string &strPath, const WaveFormat &wfx);
    bool WriteFrames(uint32_t nCount, const uint8_t *pData);
    // Patches the sizes of what was written and closes the file.
    bool FinishFile();

private:
    void ConvertJob(AudioStreamReader &job) override;
    uint32_t FrameBytes() const;

    OutputFile m_file;
    uint32_t m_posRiffSize = 0;
    uint32_t m_posDataSize = 0;
    uint32_t m_nFramesWritten = 0;
    std::string m_strPath;
    WaveFormat m_wfx;
    uint64_t m_nMaxDataBytes;
};

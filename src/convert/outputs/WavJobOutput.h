#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/MediaTags.h"
#include "common/OutputFile.h"
#include "convert/batch/JobOutput.h"

namespace klangor {

// One RIFF/WAVE output being written: a header from the job's PCM format and the tags' INFO chunk (in
// front of the data, where no reader can take it for sound), the frames exactly as the reader delivers
// them, and the real sizes patched in at the end. Untagged, the header is the classic 44 bytes. A file
// whose sizes pass what 32-bit fields count becomes RF64 (a ds64 chunk holds the 64-bit sizes), as
// ffmpeg's "-rf64 auto" writes it: the room for the ds64 chunk is reserved as a JUNK chunk when the job's
// length makes that likely, and otherwise made at the end. Owned by the worker that converts the job;
// destroyed unfinished, it leaves nothing behind.
class WavFile {
public:
    // The largest RIFF size a plain RIFF file can state.
    static constexpr uint64_t kRiffSizeLimit = 0xFFFFFFFFull;

    // Creates the (temporary) file and writes the header with zero sizes. nExpectedBytes is the data
    // the job is expected to give; nRiffSizeLimit lowers the RIFF limit (for tests).
    bool WriteHeader(const std::string &strPath, const WaveFormat &wfx, const MediaTags &tags = {},
                     uint64_t nExpectedBytes = 0, uint64_t nRiffSizeLimit = kRiffSizeLimit);
    bool WriteFrames(uint32_t nCount, const uint8_t *pData);
    // Patches the sizes of what was written and puts the file under its name.
    bool FinishFile();
    void Discard() { m_file.Discard(); }
    uint32_t FrameBytes() const;
    uint64_t FramesWritten() const { return m_nFramesWritten; }

private:
    bool PatchSizes();

    OutputFile m_file;
    uint32_t m_posRiffSize = 0;
    uint32_t m_posDataSize = 0;
    uint64_t m_nFramesWritten = 0;
    std::string m_strPath;
    WaveFormat m_wfx;
    bool m_bDs64Reserved = false;
    bool m_bStreaming = false;  // written in place into a pipe or a device, which cannot be patched
    uint64_t m_nRiffSizeLimit = kRiffSizeLimit;
};

// Writes each job of a batch as a WAV file of 16-bit PCM, on the workers, one WavFile per running job.
class WavJobOutput : public JobOutput {
public:
    // A lower RIFF size limit makes small files RF64 (for tests).
    WavJobOutput(WriterThread &writer, const OutputTraits &traits, uint64_t nRiffSizeLimit)
        : JobOutput(writer, traits), m_nRiffSizeLimit(nRiffSizeLimit) {}

    void ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) override;

private:
    const uint64_t m_nRiffSizeLimit;
};

}  // namespace klangor

#include "convert/outputs/WavJobOutput.h"

#include "common/CheckedFileIo.h"
#include "convert/tags/OutputTags.h"

#include <algorithm>
#include <cstring>

namespace klangor {

namespace {

// "ds64" with its 28 bytes: RIFF size, data size and sample count in 64 bits, and an empty table.
constexpr uint32_t kDs64Bytes = 36;

void PutU16(uint8_t *p, uint16_t n) {
    p[0] = static_cast<uint8_t>(n);
    p[1] = static_cast<uint8_t>(n >> 8);
}

void PutU32(uint8_t *p, uint32_t n) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(n >> (8 * i));
    }
}

void PutU64(uint8_t *p, uint64_t n) {
    PutU32(p, static_cast<uint32_t>(n));
    PutU32(p + 4, static_cast<uint32_t>(n >> 32));
}

bool WriteU32At(int fd, uint64_t nPos, uint32_t nValue) {
    uint8_t bytes[4];
    PutU32(bytes, nValue);
    return WriteAllAt(fd, nPos, bytes, sizeof bytes);
}

constexpr const char *kCannotWrite = "Error writing mp3 output";

}  // namespace

uint32_t WavFile::FrameBytes() const {
    return std::max<uint32_t>(m_wfx.nBlockAlign, 1);
}

bool WavFile::WriteHeader(const std::string &strPath, const WaveFormat &wfx, const MediaTags &tags,
                          uint64_t nExpectedBytes, uint64_t nRiffSizeLimit) {
    m_strPath = strPath;
    m_wfx = wfx;
    m_nFramesWritten = 0;
    m_nRiffSizeLimit = nRiffSizeLimit;
    if (!m_file.Create(strPath)) {
        return false;
    }
    const std::string strInfo = RenderWavInfoChunk(tags);
    // A pipe or a device gets the sizes streaming writers give, "unknown" (all ones), which readers
    // take as running to the end of the stream: nothing written to it can be gone back to.
    m_bStreaming = m_file.GetTempPath().empty();
    // Room for the ds64 chunk is reserved when the file may well need it: otherwise making room at the
    // end moves all its data.
    m_bDs64Reserved = !m_bStreaming && 36 + strInfo.size() + nExpectedBytes > nRiffSizeLimit / 2;

    std::vector<uint8_t> header(12);
    std::memcpy(header.data(), "RIFF", 4);
    std::memcpy(header.data() + 8, "WAVE", 4);
    if (m_bDs64Reserved) {
        header.resize(header.size() + kDs64Bytes);
        std::memcpy(header.data() + 12, "JUNK", 4);
        PutU32(header.data() + 16, kDs64Bytes - 8);
    }
    uint8_t format[24];
    std::memcpy(format, "fmt ", 4);
    PutU32(format + 4, 16);
    PutU16(format + 8, wfx.wFormatTag);
    PutU16(format + 10, wfx.nChannels);
    PutU32(format + 12, wfx.nSamplesPerSec);
    PutU32(format + 16, wfx.nAvgBytesPerSec);
    PutU16(format + 20, wfx.nBlockAlign);
    PutU16(format + 22, wfx.wBitsPerSample);
    header.insert(header.end(), format, format + sizeof format);
    header.insert(header.end(), strInfo.begin(), strInfo.end());
    const uint8_t data[8] = {'d', 'a', 't', 'a', 0, 0, 0, 0};
    header.insert(header.end(), data, data + sizeof data);
    PutU32(header.data() + 4, static_cast<uint32_t>(header.size() - 8));
    if (m_bStreaming) {
        PutU32(header.data() + 4, 0xFFFFFFFF);
        PutU32(header.data() + header.size() - 4, 0xFFFFFFFF);
    }
    m_posRiffSize = 4;
    m_posDataSize = static_cast<uint32_t>(header.size() - 4);
    return std::fwrite(header.data(), 1, header.size(), m_file.Get()) == header.size();
}

bool WavFile::WriteFrames(uint32_t nCount, const uint8_t *pData) {
    const size_t nBytes = static_cast<size_t>(nCount) * FrameBytes();
    if (std::fwrite(pData, 1, nBytes, m_file.Get()) != nBytes) {
        return false;
    }
    m_nFramesWritten += nCount;
    return true;
}

bool WavFile::PatchSizes() {
    if (std::fflush(m_file.Get()) != 0) {
        return false;
    }
    if (m_bStreaming) {
        return true;
    }
    const int fd = fileno(m_file.Get());
    const uint64_t nDataBytes = m_nFramesWritten * FrameBytes();
    uint64_t nRiffSize = m_posDataSize + 4 - 8 + nDataBytes;
    if (nRiffSize <= m_nRiffSizeLimit) {
        return WriteU32At(fd, m_posRiffSize, static_cast<uint32_t>(nRiffSize)) &&
               WriteU32At(fd, m_posDataSize, static_cast<uint32_t>(nDataBytes));
    }
    // RF64: the 32-bit sizes say "see ds64", which follows the form type as readers expect it.
    if (!m_bDs64Reserved) {
        nRiffSize += kDs64Bytes;
    }
    uint8_t ds64[kDs64Bytes];
    std::memcpy(ds64, "ds64", 4);
    PutU32(ds64 + 4, kDs64Bytes - 8);
    PutU64(ds64 + 8, nRiffSize);
    PutU64(ds64 + 16, nDataBytes);
    PutU64(ds64 + 24, m_nFramesWritten);
    PutU32(ds64 + 32, 0);
    if (m_bDs64Reserved) {
        if (!WriteAllAt(fd, 12, ds64, sizeof ds64)) {
            return false;
        }
    } else {
        if (!InsertIntoFile(fd, 12, ds64, sizeof ds64)) {
            return false;
        }
        m_posDataSize += kDs64Bytes;
    }
    return WriteAllAt(fd, 0, "RF64", 4) && WriteU32At(fd, m_posRiffSize, 0xFFFFFFFF) &&
           WriteU32At(fd, m_posDataSize, 0xFFFFFFFF);
}

bool WavFile::FinishFile() {
    if (!PatchSizes()) {
        m_file.Discard();
        return false;
    }
    return m_file.Keep();
}

void WavJobOutput::ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t) {
    const MediaTags tags = TagsForJob(job, reader.GetTrack());
    WavFile file;
    const uint64_t nExpectedBytes =
        uint64_t{reader.m_nFramesToConvert} * std::max<uint16_t>(reader.m_wfx.nBlockAlign, 1);
    if (!file.WriteHeader(job.GetOutputPath(), reader.m_wfx, tags, nExpectedBytes, m_nRiffSizeLimit)) {
        FailJob(job, kCannotCreateText);
        return;
    }
    const FeedResult fed = FeedSamples(job, reader, [&file](const uint8_t *pData, uint32_t nFrames) {
        return file.WriteFrames(nFrames, pData);
    });
    if (fed == FeedResult::WriteFailed) {
        FailJob(job, kCannotWrite);
    }
    if (fed != FeedResult::Fed) {
        file.Discard();
        return;
    }
    if (!file.FinishFile()) {
        FailJob(job, kCannotWrite);
    }
}

}  // namespace klangor

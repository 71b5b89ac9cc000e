#include "convert/WavWriterThread.h"

#include "convert/OutputTags.h"

#include <algorithm>
#include <cstring>

namespace {

void PutU16(uint8_t *p, uint16_t n) {
    p[0] = static_cast<uint8_t>(n);
    p[1] = static_cast<uint8_t>(n >> 8);
}

void PutU32(uint8_t *p, uint32_t n) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(n >> (8 * i));
    }
}

bool WriteU32At(FILE *pFile, uint32_t nPos, uint32_t nValue) {
    uint8_t bytes[4];
    PutU32(bytes, nValue);
    return std::fseek(pFile, static_cast<long>(nPos), SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, pFile) == 4;
}

constexpr const char *kCannotCreate = "Cannot create output file";
constexpr const char *kCannotWrite = "Error writing mp3 output";
constexpr const char *kSizeLimit = "WAV output is limited to 4 GB";

}  // namespace

WavWriterThread::WavWriterThread(uint64_t nMaxDataBytes)
    : WriterThread("Cannot start Save WAV to file thread!"), m_nMaxDataBytes(nMaxDataBytes) {}

WavWriterThread::~WavWriterThread() {
    Shutdown();
}

uint32_t WavFile::FrameBytes() const {
    return std::max<uint32_t>(m_wfx.nBlockAlign, 1);
}

bool WavFile::WriteHeader(const std::string &strPath, const WaveFormat &wfx) {
    m_strPath = strPath;
    m_wfx = wfx;
    m_nFramesWritten = 0;
    if (!m_file.Create(strPath)) {
        return false;
    }
    uint8_t header[44];
    std::memcpy(header, "RIFF", 4);
    PutU32(header + 4, 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutU32(header + 16, 16);
    PutU16(header + 20, wfx.wFormatTag);
    PutU16(header + 22, wfx.nChannels);
    PutU32(header + 24, wfx.nSamplesPerSec);
    PutU32(header + 28, wfx.nAvgBytesPerSec);
    PutU16(header + 32, wfx.nBlockAlign);
    PutU16(header + 34, wfx.wBitsPerSample);
    std::memcpy(header + 36, "data", 4);
    PutU32(header + 40, 0);
    m_posRiffSize = 4;
    m_posDataSize = 40;
    return std::fwrite(header, 1, sizeof header, m_file.Get()) == sizeof header;
}

bool WavFile::WriteFrames(uint32_t nCount, const uint8_t *pData) {
    const size_t nBytes = static_cast<size_t>(nCount) * FrameBytes();
    if (std::fwrite(pData, 1, nBytes, m_file.Get()) != nBytes) {
        return false;
    }
    m_nFramesWritten += nCount;
    return true;
}

bool WavFile::FinishFile(const MediaTags &tags) {
    const uint32_t nDataBytes = m_nFramesWritten * FrameBytes();
    const bool bPatched = WriteU32At(m_file.Get(), m_posRiffSize, nDataBytes + 36) &&
                          WriteU32At(m_file.Get(), m_posDataSize, nDataBytes);
    if (!bPatched) {
        m_file.Discard();
        return false;
    }
    return m_file.Keep([&tags](const std::string &strTemp) { return WriteWavTags(strTemp, tags); });
}

void WavWriterThread::ConvertJob(AudioStreamReader &job, int32_t nJob) {
    WavFile file;
    if (!file.WriteHeader(job.m_strOutputPath, job.m_wfx)) {
        FailJob(job, kCannotCreate);
        return;
    }
    const uint64_t nMaxFrames = m_nMaxDataBytes / file.FrameBytes();
    bool bLimitReached = false;
    int n = job.ReadChunk();
    while (n > 0) {
        uint32_t nFrames = static_cast<uint32_t>(n);
        // The file is ended at the format's limit instead of wrapping its size fields.
        if (file.FramesWritten() + uint64_t{nFrames} > nMaxFrames) {
            nFrames = static_cast<uint32_t>(nMaxFrames - file.FramesWritten());
            bLimitReached = true;
        }
        if (!file.WriteFrames(nFrames, job.m_pBuffer.get())) {
            FailJob(job, kCannotWrite);
            return;
        }
        const int nNext = bLimitReached ? 0 : job.ReadChunk();
        if (nFrames > 0) {
            Notify(NOTICE_PROGRESS, static_cast<int32_t>(nFrames), nJob);
        }
        n = nNext;
        if (IsStopRequested()) {
            break;
        }
    }
    if (n < 0) {
        // The source could not be read to the end of its range: no file that looks complete is left.
        FailJob(job, job.m_strLastError);
        return;
    }
    const MediaTags tags = job.m_bWriteTags ? ReadMediaTags(job.m_strSourcePath, job.GetTrack()) : MediaTags{};
    if (!file.FinishFile(tags)) {
        FailJob(job, kCannotWrite);
        return;
    }
    if (bLimitReached) {
        FailJob(job, kSizeLimit);
    }
}

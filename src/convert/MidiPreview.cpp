#include "convert/MidiPreview.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "convert/AudioDecoder.h"

namespace {

constexpr const char *kPrefix = ".klangor-midi-";
constexpr uint32_t kChunkFrames = 4096;

void PutLe(uint8_t *p, uint32_t n, int nBytes) {
    for (int i = 0; i < nBytes; ++i) {
        p[i] = static_cast<uint8_t>(n >> (8 * i));
    }
}

bool WriteAll(int fd, const uint8_t *p, size_t n) {
    while (n > 0) {
        const ssize_t nWritten = ::write(fd, p, n);
        if (nWritten < 0 && errno == EINTR) {
            continue;
        }
        if (nWritten <= 0) {
            return false;
        }
        p += nWritten;
        n -= static_cast<size_t>(nWritten);
    }
    return true;
}

// Names are ".klangor-midi-PID-XXXXXX.wav": a file whose process is gone was left by a crash.
void RemoveDeadRenderings(const std::string &strFolder) {
    std::unique_ptr<DIR, int (*)(DIR *)> pDir(::opendir(strFolder.c_str()), ::closedir);
    if (!pDir) {
        return;
    }
    const size_t nPrefix = std::strlen(kPrefix);
    while (const dirent *pEntry = ::readdir(pDir.get())) {
        if (std::strncmp(pEntry->d_name, kPrefix, nPrefix) != 0) {
            continue;
        }
        const long nPid = std::strtol(pEntry->d_name + nPrefix, nullptr, 10);
        if (nPid > 0 && nPid != ::getpid() && ::kill(static_cast<pid_t>(nPid), 0) != 0 && errno == ESRCH) {
            ::unlinkat(::dirfd(pDir.get()), pEntry->d_name, 0);
        }
    }
}

}  // namespace

MidiPreview::~MidiPreview() {
    if (!m_strPath.empty()) {
        ::unlink(m_strPath.c_str());
    }
}

bool MidiPreview::Render(const std::string &strMidiPath, const std::string &strFolder, std::string &strError) {
    if (!m_strPath.empty()) {
        ::unlink(m_strPath.c_str());
        m_strPath.clear();
    }
    auto pDecoder = CreateMidiAudioDecoder();
    WaveFormat wfx;
    if (pDecoder->OpenFile(strMidiPath) < 0 || pDecoder->GetFormat(wfx) < 0 || pDecoder->Run() < 0) {
        strError = pDecoder->GetFailureText();
        if (strError.empty()) {
            strError = "Can not find audio in you Media file!";
        }
        return false;
    }
    RemoveDeadRenderings(strFolder);
    std::string strTemplate = strFolder + "/" + kPrefix + std::to_string(::getpid()) + "-XXXXXX.wav";
    const int fd = ::mkostemps(strTemplate.data(), 4, O_CLOEXEC);
    if (fd < 0) {
        strError = "Cannot create " + strTemplate + ": " + std::strerror(errno);
        return false;
    }
    m_strPath = strTemplate;

    uint8_t header[44] = {};
    const auto writeHeader = [&](uint32_t nDataBytes) {
        std::memcpy(header, "RIFF", 4);
        PutLe(header + 4, 36 + nDataBytes, 4);
        std::memcpy(header + 8, "WAVEfmt ", 8);
        PutLe(header + 16, 16, 4);
        PutLe(header + 20, wfx.wFormatTag, 2);
        PutLe(header + 22, wfx.nChannels, 2);
        PutLe(header + 24, wfx.nSamplesPerSec, 4);
        PutLe(header + 28, wfx.nAvgBytesPerSec, 4);
        PutLe(header + 32, wfx.nBlockAlign, 2);
        PutLe(header + 34, wfx.wBitsPerSample, 2);
        std::memcpy(header + 36, "data", 4);
        PutLe(header + 40, nDataBytes, 4);
        return ::pwrite(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
    };
    bool bOk = writeHeader(0) && ::lseek(fd, sizeof header, SEEK_SET) == static_cast<off_t>(sizeof header);
    auto pChunk = std::make_unique<uint8_t[]>(size_t{kChunkFrames} * wfx.nBlockAlign);
    uint64_t nDataBytes = 0;
    uint32_t nFilled = kChunkFrames;
    while (bOk && nFilled == kChunkFrames) {
        bOk = pDecoder->Fill(pChunk.get(), kChunkFrames, nFilled) >= 0 &&
              WriteAll(fd, pChunk.get(), size_t{nFilled} * wfx.nBlockAlign);
        nDataBytes += size_t{nFilled} * wfx.nBlockAlign;
        // A song is hours at most; RIFF sizes end at 4 GiB.
        bOk = bOk && nDataBytes < 0xFFFFFFFFull - 36;
    }
    bOk = bOk && writeHeader(static_cast<uint32_t>(nDataBytes));
    const int iErrno = errno;
    ::close(fd);
    if (!bOk) {
        strError = "Cannot write " + m_strPath + ": " + std::strerror(iErrno);
        ::unlink(m_strPath.c_str());
        m_strPath.clear();
        return false;
    }
    return true;
}

#include "convert/OutputFile.h"

#include <sys/stat.h>

namespace {
// Large writes mean few system calls per file; one buffer per open file, not per chunk.
constexpr size_t kWriteBufferBytes = 1 << 18;

bool IsRegularFile(FILE *pFile) {
    struct stat info {};
    return ::fstat(fileno(pFile), &info) == 0 && S_ISREG(info.st_mode);
}
}  // namespace

bool OutputFile::Create(const std::string &strPath, const char *szMode) {
    Discard();
    m_pFile.reset(std::fopen(strPath.c_str(), szMode));
    if (!m_pFile) {
        return false;
    }
    m_strPath = strPath;
    std::setvbuf(m_pFile.get(), nullptr, _IOFBF, kWriteBufferBytes);
    return true;
}

bool OutputFile::Keep() {
    if (!m_pFile) {
        return false;
    }
    if (std::fflush(m_pFile.get()) != 0 || std::ferror(m_pFile.get())) {
        Discard();
        return false;
    }
    const bool bRegular = IsRegularFile(m_pFile.get());
    const bool bClosed = std::fclose(m_pFile.release()) == 0;
    if (!bClosed && bRegular) {
        // Late failures (quota, network file systems) show at close; the file cannot be trusted.
        std::remove(m_strPath.c_str());
    }
    m_strPath.clear();
    return bClosed;
}

void OutputFile::Discard() {
    if (m_pFile) {
        // Only a regular file we wrote is removed; an output path that names a device or a pipe
        // (/dev/null, a FIFO) is left alone.
        const bool bRegular = IsRegularFile(m_pFile.get());
        m_pFile.reset();
        if (bRegular) {
            std::remove(m_strPath.c_str());
        }
        m_strPath.clear();
    }
}

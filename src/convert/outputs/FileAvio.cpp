#include "convert/outputs/FileAvio.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <sys/stat.h>

#include <cerrno>

namespace klangor {

namespace {

constexpr int kIoBufferBytes = 256 * 1024;

int WriteProc(void *pOpaque, uint8_t *pBytes, int nBytes) {
    auto *pFile = static_cast<FILE *>(pOpaque);
    if (std::fwrite(pBytes, 1, static_cast<size_t>(nBytes), pFile) != static_cast<size_t>(nBytes)) {
        return AVERROR(errno != 0 ? errno : EIO);
    }
    return nBytes;
}

int64_t SeekProc(void *pOpaque, int64_t llOffset, int iWhence) {
    auto *pFile = static_cast<FILE *>(pOpaque);
    if (std::fflush(pFile) != 0) {
        return AVERROR(errno != 0 ? errno : EIO);
    }
    if ((iWhence & AVSEEK_SIZE) != 0) {
        struct stat st {};
        return ::fstat(fileno(pFile), &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    }
    if (fseeko(pFile, static_cast<off_t>(llOffset), iWhence & ~AVSEEK_FORCE) != 0) {
        return AVERROR(errno != 0 ? errno : EIO);
    }
    return static_cast<int64_t>(ftello(pFile));
}

}  // namespace

bool IsSeekableFile(FILE *pFile) {
    struct stat st {};
    return ::fstat(fileno(pFile), &st) == 0 && S_ISREG(st.st_mode);
}

AVIOContext *OpenFileAvio(FILE *pFile) {
    auto *pBuffer = static_cast<uint8_t *>(av_malloc(kIoBufferBytes));
    if (pBuffer == nullptr) {
        return nullptr;
    }
    AVIOContext *pContext = avio_alloc_context(pBuffer, kIoBufferBytes, 1, pFile, nullptr, &WriteProc,
                                               IsSeekableFile(pFile) ? &SeekProc : nullptr);
    if (pContext == nullptr) {
        av_free(pBuffer);
    }
    return pContext;
}

void CloseFileAvio(AVIOContext **ppContext) {
    if (*ppContext != nullptr) {
        av_freep(&(*ppContext)->buffer);
        avio_context_free(ppContext);
    }
}

int FinishFileOutput(AVFormatContext *pFormat) {
    const int iResult = av_write_trailer(pFormat);
    avio_flush(pFormat->pb);
    return iResult < 0 ? iResult : pFormat->pb->error;
}

}  // namespace klangor

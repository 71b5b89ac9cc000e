#include "media/FfmpegHandles.h"

#include "media/AudioDecoder.h"

namespace klangor {

std::string FfmpegErrorText(int iStatus) {
    char szText[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(iStatus, szText, sizeof(szText));
    return szText;
}

FormatPtr OpenMediaFile(const std::string &strPath, int &iStatus, const AVIOInterruptCB *pInterrupt) {
    LimitFfmpegBlockSize();
    AVFormatContext *pRaw = avformat_alloc_context();
    if (!pRaw) {
        iStatus = AVERROR(ENOMEM);
        return nullptr;
    }
    if (pInterrupt) {
        pRaw->interrupt_callback = *pInterrupt;
    }
    // On failure avformat_open_input frees the context itself.
    iStatus = avformat_open_input(&pRaw, strPath.c_str(), nullptr, nullptr);
    if (iStatus < 0) {
        return nullptr;
    }
    FormatPtr pFormat(pRaw);
    iStatus = avformat_find_stream_info(pFormat.get(), nullptr);
    if (iStatus < 0) {
        return nullptr;
    }
    iStatus = 0;
    return pFormat;
}

}  // namespace klangor

#include "convert/copy/FlacSelectionCopy.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include "convert/batch/AudioStreamReader.h"
#include "convert/outputs/CodecOutput.h"
#include "convert/copy/PacketCopy.h"

namespace klangor {

int FlacBlockSizeOf(const std::string &strSourcePath, int nTrack) {
    AVFormatContext *pFormat = nullptr;
    const int iStream = OpenSource(strSourcePath, nTrack, false, pFormat);
    int nBlockSize = 0;
    if (iStream >= 0) {
        // The stream information block starts with the smallest and the largest block size.
        const AVCodecParameters *pPar = pFormat->streams[iStream]->codecpar;
        if (pPar->codec_id == AV_CODEC_ID_FLAC && pPar->extradata_size >= 4) {
            const int nSmallest = (pPar->extradata[0] << 8) | pPar->extradata[1];
            const int nLargest = (pPar->extradata[2] << 8) | pPar->extradata[3];
            nBlockSize = nSmallest == nLargest ? nLargest : 0;
        }
    }
    avformat_close_input(&pFormat);
    return nBlockSize;
}

bool FlacSelectionCopy::Copy(const std::string &strSourcePath, AudioStreamReader &reader, int nBits,
                             const EncoderSettings &settings, const MediaTags &tags, FILE *pFile,
                             const std::function<bool()> &fnStopped,
                             const std::function<void(uint32_t)> &fnChunk) {
    CodecOutput output;
    // A block size FLAC cannot hold is left to the encoder.
    const int nBlockSize = FlacBlockSizeOf(strSourcePath, reader.GetTrack());
    output.SetFlacBlockSize(nBlockSize >= 16 && nBlockSize <= 65535 ? nBlockSize : 0);
    if (!output.Open(OutputFormat::Flac, settings, reader.m_nSampleRate, reader.m_nChannels, nBits, pFile,
                     tags, reader.m_nFramesToConvert)) {
        m_strError = output.GetError();
        return false;
    }
    int n = reader.ReadChunk();
    for (; n > 0; n = reader.ReadChunk()) {
        if (!output.Write(reinterpret_cast<const float *>(reader.m_pBuffer.get()), static_cast<size_t>(n))) {
            m_strError = output.GetError();
            return false;
        }
        fnChunk(static_cast<uint32_t>(n));
        if (fnStopped()) {
            break;
        }
    }
    if (n < 0) {
        m_strError = reader.m_strLastError;
        return false;
    }
    if (!output.Finish()) {
        m_strError = output.GetError();
        return false;
    }
    return true;
}

}  // namespace klangor

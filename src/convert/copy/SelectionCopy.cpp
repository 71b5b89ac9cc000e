#include "convert/copy/SelectionCopy.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include "convert/batch/AudioStreamReader.h"
#include "convert/outputs/CodecJobOutput.h"
#include "convert/batch/ConversionJob.h"
#include "convert/copy/FlacSelectionCopy.h"
#include "convert/copy/Mp3FrameCopy.h"
#include "convert/tags/OutputTags.h"
#include "convert/copy/PacketCopy.h"
#include "convert/copy/RawFrameCopy.h"

namespace klangor {

SelectionCopy::Kind SelectionCopy::KindOf(const std::string &strSourcePath, int nTrack) {
    AVFormatContext *pFormat = nullptr;
    const int iStream = OpenSource(strSourcePath, nTrack, false, pFormat);
    const AVCodecID codec = iStream >= 0 ? pFormat->streams[iStream]->codecpar->codec_id : AV_CODEC_ID_NONE;
    avformat_close_input(&pFormat);
    switch (codec) {
        case AV_CODEC_ID_MP3:
            return Kind::Mp3Frames;
        case AV_CODEC_ID_FLAC:
            return Kind::Flac;
        case AV_CODEC_ID_AC3:
        case AV_CODEC_ID_EAC3:
        case AV_CODEC_ID_DTS:
            return Kind::WholeFrames;
        default:
            return Kind::None;
    }
}

bool SelectionCopy::Copy(Kind kind, ConversionJob &job, AudioStreamReader &reader,
                         const EncoderSettings &settings, FILE *pFile, const std::function<bool()> &fnStopped,
                         const std::function<void(uint64_t)> &fnProgress) {
    m_kind = kind;
    const std::string &strSource = job.GetSourcePath();
    const int nTrack = reader.GetTrack();
    const uint64_t nStart = reader.m_nStartFrame;
    const uint64_t nEnd = reader.RunsToStreamEnd() ? UINT64_MAX : uint64_t{reader.m_nEndFrame};
    if (kind != Kind::WholeFrames) {
        m_tags = TagsForJob(job, nTrack);
    }
    switch (kind) {
        case Kind::Mp3Frames: {
            Mp3FrameCopy copy;
            if (!copy.Copy(strSource, nTrack, nStart, nEnd, pFile, fnStopped, fnProgress)) {
                m_strError = copy.GetError();
                return false;
            }
            return true;
        }
        case Kind::Flac: {
            FlacSelectionCopy copy;
            uint64_t nDone = 0;
            if (!copy.Copy(strSource, reader, LosslessDepthOf(strSource, nTrack), settings, m_tags, pFile,
                           fnStopped, [&](uint32_t nFrames) { fnProgress(nDone += nFrames); })) {
                m_strError = copy.GetError();
                return false;
            }
            return true;
        }
        case Kind::WholeFrames: {
            RawFrameCopy copy;
            if (!copy.Copy(strSource, nTrack, nStart, nEnd, pFile, fnStopped, fnProgress)) {
                m_strError = copy.GetError();
                return false;
            }
            const std::string strNote =
                WholeFrameCutNote(copy.GetStartShift(), copy.GetEndShift(), copy.GetSampleRate());
            if (!strNote.empty()) {
                job.AddNote(strNote);
            }
            return true;
        }
        case Kind::None:
        default:
            m_strError = "Cannot cut this codec";
            return false;
    }
}

bool SelectionCopy::Complete(const std::string &strTempPath) const {
    return m_kind != Kind::Mp3Frames || WriteMp3Tags(strTempPath, m_tags);
}

}  // namespace klangor

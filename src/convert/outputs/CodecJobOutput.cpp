#include "convert/outputs/CodecJobOutput.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <sys/stat.h>

#include <optional>

#include "common/OutputFile.h"
#include "convert/outputs/CodecOutput.h"
#include "convert/tags/Mp4FreeformTags.h"
#include "media/AudioDecoder.h"
#include "convert/tags/OutputTags.h"
#include "media/MediaTags.h"

namespace klangor {

namespace {

constexpr const char *kCannotWrite = "Error writing output file";
constexpr const char *kPipeMeasuredOnce =
    "Cannot measure the ReplayGain of a pipe or a device, which can be read only once";

int DepthOfStream(const AVCodecParameters &par) {
    if (par.bits_per_raw_sample > 0) {
        return par.bits_per_raw_sample <= 16 ? 16 : 24;
    }
    switch (static_cast<AVSampleFormat>(par.format)) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            return 16;
        default:
            return 24;
    }
}

}  // namespace

int LosslessDepthOf(const std::string &strPath, int nTrack) {
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return 24;
    }
    if (IsMidiFile(strPath)) {
        return 16;
    }
    AVFormatContext *pFormat = nullptr;
    if (avformat_open_input(&pFormat, strPath.c_str(), nullptr, nullptr) < 0) {
        return 24;
    }
    int nDepth = 24;
    if (avformat_find_stream_info(pFormat, nullptr) >= 0) {
        int iStream = -1;
        if (nTrack <= 0) {
            iStream = av_find_best_stream(pFormat, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        } else {
            int nSeen = 0;
            for (unsigned i = 0; i < pFormat->nb_streams && iStream < 0; ++i) {
                if (pFormat->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && ++nSeen == nTrack) {
                    iStream = static_cast<int>(i);
                }
            }
        }
        if (iStream >= 0) {
            nDepth = DepthOfStream(*pFormat->streams[iStream]->codecpar);
        }
    }
    avformat_close_input(&pFormat);
    return nDepth;
}

bool CodecJobOutput::PrePass(ConversionJob &job, AudioStreamReader &reader, LoudnessMeter *pMeter,
                             uint64_t &nFrames) {
    struct stat info {};
    if (::stat(job.GetSourcePath().c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (pMeter) {
            FailJob(job, kPipeMeasuredOnce);
            return false;
        }
        // A stream read once cannot be counted first: its length is the container's estimate.
        nFrames = reader.m_nTotalFrames;
        return true;
    }
    if (pMeter && !pMeter->Start(reader.m_nChannels, reader.m_nSampleRate)) {
        FailJob(job, kMeterFailure);
        return false;
    }
    std::vector<float> scratch;
    nFrames = 0;
    int n = reader.ReadChunk();
    for (; n > 0 && !IsStopRequested(); n = reader.ReadChunk()) {
        if (pMeter && !MeterReaderChunk(*pMeter, reader, n, scratch)) {
            FailJob(job, kMeterFailure);
            return false;
        }
        nFrames += static_cast<uint64_t>(n);
        CountChunk(job, reader, static_cast<uint32_t>(n));
    }
    if (n < 0) {
        FailJob(job, reader.m_strLastError);
        return false;
    }
    if (IsStopRequested()) {
        FailJob(job, pMeter ? kStoppedWhileMeasuringText : kStoppedBeforeConvertedText);
        return false;
    }
    // A levelled job's gain was set on the reader before this pass and holds for the encoding too.
    const double dGain = reader.GetGain();
    reader.Close();
    if (!reader.Open(job.GetSourcePath(), JobFormat())) {
        FailJob(job, reader.m_strLastError);
        return false;
    }
    reader.SetGain(dGain);
    // The progress ran once over the source; it runs again from 0 over the encoding.
    job.StartPass(job.GetProgress().nPass);
    return true;
}

void CodecJobOutput::ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) {
    const OutputFormat format = Traits().format;
    const JobSettings &settings = SettingsOf(nJob);
    MediaTags tags = TagsForJob(job, reader.GetTrack());
    const bool bLossless = Traits().bLossless;
    const int nDepth = bLossless ? LosslessDepthOf(job.GetSourcePath(), reader.GetTrack()) : 24;

    // What goes into the header is known before the file is written: ReplayGain, which describes what
    // is encoded, and for AAC the exact length. They are found in a pass of their own over the source.
    uint64_t nExpected = reader.RunsToStreamEnd() ? 0 : reader.m_nFramesToConvert;
    const bool bNeedsLength = format == OutputFormat::Aac && reader.RunsToStreamEnd();
    if (settings.loudness.bReplayGain || bNeedsLength) {
        std::optional<LoudnessMeter> meter;
        if (settings.loudness.bReplayGain) {
            meter.emplace();
        }
        if (!PrePass(job, reader, meter ? &*meter : nullptr, nExpected)) {
            return;
        }
        if (meter) {
            ReplayGainText replayGain = FormatReplayGain(meter->Finish());
            tags.strReplayGainGain = std::move(replayGain.strGain);
            tags.strReplayGainPeak = std::move(replayGain.strPeak);
        }
    }

    const int nPieces = PiecesFor(job, reader);
    if (nPieces > 1) {
        if (ConvertEvenDivided(job, reader, settings.encoder, tags, nDepth, nPieces, nExpected)) {
            return;
        }
        // The pieces did not cover the source: it is encoded whole, its progress from 0 again.
        job.StartPass(job.GetProgress().nPass);
    }

    OutputFile file;
    if (!file.Create(job.GetOutputPath())) {
        FailJob(job, kCannotCreateText);
        return;
    }
    CodecOutput output;
    if (!output.Open(format, settings.encoder, reader.m_nSampleRate, reader.m_nChannels, nDepth, file.Get(),
                     tags, nExpected)) {
        FailJob(job, output.GetError());
        return;
    }
    const FeedResult fed = FeedSamples(job, reader, [&output](const uint8_t *pData, uint32_t nFrames) {
        return output.Write(reinterpret_cast<const float *>(pData), nFrames);
    });
    if (fed == FeedResult::WriteFailed) {
        FailJob(job, output.GetError());
    }
    if (fed != FeedResult::Fed) {
        return;
    }
    if (!output.Finish()) {
        FailJob(job, output.GetError());
        return;
    }
    KeepFile(job, file, tags);
}

void CodecJobOutput::KeepFile(ConversionJob &job, OutputFile &file, const MediaTags &tags) {
    // The MP4 muxer has no place for freeform texts: they are added to the finished file.
    const OutputFormat format = Traits().format;
    const bool bMp4 = format == OutputFormat::Aac || format == OutputFormat::Alac;
    std::vector<std::pair<std::string, std::string>> freeform;
    if (bMp4 && !tags.strReplayGainGain.empty()) {
        freeform = {{"replaygain_track_gain", tags.strReplayGainGain},
                    {"replaygain_track_peak", tags.strReplayGainPeak}};
    }
    if (!file.Keep(
            [&freeform](const std::string &strTemp) { return AddMp4FreeformTexts(strTemp, freeform); })) {
        FailJob(job, kCannotWrite);
    }
}

}  // namespace klangor

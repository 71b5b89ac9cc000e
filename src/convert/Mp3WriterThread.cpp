#include "convert/Mp3WriterThread.h"

#include <lame/lame.h>

#include "convert/OutputTags.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

namespace {

struct LameCloser {
    void operator()(lame_global_flags *pFlags) const { lame_close(pFlags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameCloser>;

constexpr int kMp3BufferBytes = 16384;  // above LAME's worst case for 1000 frames (1.25 × 1000 + 7200)

constexpr const char *kCannotCreate = "Cannot create output file";
constexpr const char *kInitFailed = "fatal error during initialization";
constexpr const char *kBufferTooSmall = "mp3 buffer is not big enough...";
constexpr const char *kInternalError = "mp3 internal error:  error code=i";
constexpr const char *kWriteFailed = "Error writing mp3 output";

// One sample as LAME's float input, full scale ±1.0: 16-bit -32768 and 8-bit 0x00 are -1.0, 8-bit
// 0x80 is 0.0.
float ToSample(const uint8_t *pBuffer, size_t nIndex, SampleLayout::Kind kind) {
    switch (kind) {
        case SampleLayout::Kind::Float: {
            float fSample;
            std::memcpy(&fSample, pBuffer + nIndex * 4, sizeof fSample);
            return fSample;
        }
        case SampleLayout::Kind::S16: {
            int16_t iSample;
            std::memcpy(&iSample, pBuffer + nIndex * 2, sizeof iSample);
            return static_cast<float>(iSample) * (1.0f / 32768.0f);
        }
        case SampleLayout::Kind::U8:
        default:
            return static_cast<float>(static_cast<int>(pBuffer[nIndex]) - 128) * (1.0f / 128.0f);
    }
}

}  // namespace

void SplitChannels(const uint8_t *pBuffer, int nFrames, const SampleLayout &layout,
                   const EncoderSettings &settings, float *pLeft, float *pRight) {
    const size_t nStride = static_cast<size_t>(layout.nChannels);
    for (int j = 0; j < nFrames; ++j) {
        const size_t nBase = static_cast<size_t>(j) * nStride;
        const float iLeft = ToSample(pBuffer, nBase, layout.kind);
        const float iRight = layout.bTwoChannel ? ToSample(pBuffer, nBase + 1, layout.kind) : iLeft;
        pLeft[j] = iLeft;
        pRight[j] = iRight;
        // Read for every frame, so a change in the settings dialog reaches the running file at once.
        if (settings.m_iChannelMode.load(std::memory_order_relaxed) == kChannelModeMono) {
            const int32_t iSource = settings.m_iMonoSource.load(std::memory_order_relaxed);
            if (iSource == kMonoSourceLeft) {
                pRight[j] = iLeft;
            } else if (iSource == kMonoSourceRight) {
                pLeft[j] = iRight;
            }
        }
    }
}

namespace {
const char *EncodeFailureText(int iResult) {
    return iResult == -1 ? kBufferTooSmall : kInternalError;
}

}  // namespace

Mp3WriterThread::Mp3WriterThread() : WriterThread("Cannot start Save MP3 to file thread!") {}

Mp3WriterThread::~Mp3WriterThread() {
    Shutdown();
}

int Mp3WriterThread::Start(const std::vector<AudioStreamReader *> &jobs, EncoderSettings &settings) {
    if (IsRunning()) {
        return StartJobs(jobs);  // refused; the running batch keeps its settings
    }
    m_pSettings = &settings;
    return StartJobs(jobs);
}

void Mp3WriterThread::ConvertJob(AudioStreamReader &job, int32_t nJob) {
    EncoderSettings &settings = *m_pSettings;
    OutputFile file;
    // Read back and rewritten at the end by LAME for its VBR/Info header.
    if (!file.Create(job.m_strOutputPath, true)) {
        FailJob(job, kCannotCreate);
        return;
    }
    LamePtr pLame(lame_init());
    if (!pLame) {
        FailJob(job, kInitFailed);
        return;
    }
    lame_global_flags *gfp = pLame.get();
    lame_set_in_samplerate(gfp, static_cast<int>(job.m_nSampleRate));
    const int32_t iOutRate = settings.m_iSampleRate;
    settings.ApplyBitrateCeiling(iOutRate != 0 ? iOutRate : static_cast<int32_t>(job.m_nSampleRate));

    lame_set_out_samplerate(gfp, iOutRate);
    lame_set_quality(gfp, settings.m_iQuality);
    lame_set_brate(gfp, settings.m_iBitrate);
    lame_set_mode(gfp, static_cast<MPEG_mode>(settings.m_iChannelMode.load()));
    lame_set_copyright(gfp, settings.m_bCopyright);
    lame_set_original(gfp, settings.m_bOriginal);
    lame_set_error_protection(gfp, settings.m_bCrc);
    lame_set_extension(gfp, settings.m_bPrivate);
    lame_set_VBR(gfp, static_cast<vbr_mode>(settings.m_iVbrMode.load()));
    lame_set_bWriteVbrTag(gfp, settings.m_bWriteVbrHeader);
    lame_set_VBR_min_bitrate_kbps(gfp, settings.m_iVbrMinBitrate);
    lame_set_VBR_max_bitrate_kbps(gfp, settings.m_iVbrMaxBitrate);
    lame_set_VBR_q(gfp, settings.m_iVbrQuality);
    if (lame_init_params(gfp) < 0) {
        FailJob(job, kInitFailed);
        return;
    }

    const SampleLayout::Kind kind = job.m_wfx.wFormatTag == kWaveFormatFloat ? SampleLayout::Kind::Float
                                    : job.m_nBytesPerSample == 2             ? SampleLayout::Kind::S16
                                                                             : SampleLayout::Kind::U8;
    const SampleLayout layout{kind, job.m_nChannels == 2, job.m_nChannels};
    float left[AudioStreamReader::kChunkFrames];
    float right[AudioStreamReader::kChunkFrames];
    unsigned char mp3[kMp3BufferBytes];

    // ReplayGain describes what was encoded: the samples are metered on their way to the encoder.
    std::optional<LoudnessMeter> meter;
    std::vector<float> meterScratch;
    if (RunningLoudness().bReplayGain) {
        meter.emplace();
        if (!meter->Start(job.m_nChannels, job.m_nSampleRate)) {
            FailJob(job, kMeterFailure);
            return;
        }
    }

    int n = job.ReadChunk();
    while (n > 0) {
        if (meter && !MeterChunk(*meter, job, n, meterScratch)) {
            FailJob(job, kMeterFailure);
            return;
        }
        SplitChannels(job.m_pBuffer.get(), n, layout, settings, left, right);
        const int nBytes = lame_encode_buffer_ieee_float(gfp, left, right, n, mp3, kMp3BufferBytes);
        if (nBytes < 0) {
            FailJob(job, EncodeFailureText(nBytes));
            return;
        }
        if (std::fwrite(mp3, 1, static_cast<size_t>(nBytes), file.Get()) != static_cast<size_t>(nBytes)) {
            FailJob(job, kWriteFailed);
            return;
        }
        Notify(NOTICE_PROGRESS, n, nJob);
        n = job.ReadChunk();
        if (IsStopRequested()) {
            break;
        }
    }
    if (n < 0) {
        FailJob(job, job.m_strLastError);
        return;
    }
    const int nFlushed = lame_encode_flush(gfp, mp3, kMp3BufferBytes);
    if (nFlushed < 0) {
        FailJob(job, EncodeFailureText(nFlushed));
        return;
    }
    if (std::fwrite(mp3, 1, static_cast<size_t>(nFlushed), file.Get()) != static_cast<size_t>(nFlushed)) {
        FailJob(job, kWriteFailed);
        return;
    }
    // LAME seeks back to the start of the file to fill in its header frame, so this comes last.
    lame_mp3_tags_fid(gfp, file.Get());
    MediaTags tags = job.m_bWriteTags ? ReadMediaTags(job.m_strSourcePath, job.GetTrack()) : MediaTags{};
    if (meter) {
        // Asked for on its own, so written even when the source's tags are not copied.
        ReplayGainText replayGain = FormatReplayGain(meter->Finish());
        tags.strReplayGainGain = std::move(replayGain.strGain);
        tags.strReplayGainPeak = std::move(replayGain.strPeak);
    }
    if (!file.Keep([&tags](const std::string &strTemp) { return WriteMp3Tags(strTemp, tags); })) {
        FailJob(job, kWriteFailed);
    }
}

#include "convert/outputs/Mp3JobOutput.h"

#include <lame/lame.h>

#include "convert/tags/OutputTags.h"
#include "convert/outputs/SampleSanitizer.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

namespace klangor {

namespace {

constexpr const char *kBufferTooSmall = "mp3 buffer is not big enough...";
constexpr const char *kInternalError = "mp3 internal error:  error code=i";

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

const char *Mp3EncodeFailureText(int iResult) {
    return iResult == -1 ? kBufferTooSmall : kInternalError;
}

SampleLayout LayoutOf(const AudioStreamReader &job) {
    const SampleLayout::Kind kind = job.m_wfx.wFormatTag == kWaveFormatFloat ? SampleLayout::Kind::Float
                                    : job.m_nBytesPerSample == 2             ? SampleLayout::Kind::S16
                                                                             : SampleLayout::Kind::U8;
    return SampleLayout{kind, job.m_nChannels == 2, job.m_nChannels};
}

Mp3EncodeOutcome EncodeMp3Frames(lame_global_flags *gfp, AudioStreamReader &reader, uint64_t nLimit,
                                 FILE *pOut, const EncoderSettings &settings, LoudnessMeter *pMeter,
                                 const std::function<void(uint32_t)> &onChunk,
                                 const std::function<bool()> &isStopped) {
    Mp3EncodeOutcome outcome;
    const SampleLayout layout = LayoutOf(reader);
    float left[AudioStreamReader::kChunkFrames];
    float right[AudioStreamReader::kChunkFrames];
    unsigned char mp3[kMp3BufferBytes];
    std::vector<float> meterScratch;
    const auto write = [&](int nBytes) {
        if (nBytes < 0) {
            outcome.strError = Mp3EncodeFailureText(nBytes);
            return false;
        }
        if (std::fwrite(mp3, 1, static_cast<size_t>(nBytes), pOut) != static_cast<size_t>(nBytes)) {
            outcome.strError = kMp3WriteFailed;
            return false;
        }
        return true;
    };

    int n = outcome.nFramesIn < nLimit ? reader.ReadChunk() : 0;
    while (n > 0) {
        // A piece of a file ends inside a chunk: only its own frames go in.
        const auto nTake =
            static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(n), nLimit - outcome.nFramesIn));
        if (layout.kind == SampleLayout::Kind::Float) {
            // Made safe in the reader's own buffer (new[], so aligned for floats), so that the meter
            // measures what the encoder gets.
            SanitizeSamples(reinterpret_cast<float *>(reader.m_pBuffer.get()),
                            static_cast<size_t>(nTake) * static_cast<size_t>(layout.nChannels));
        }
        if (pMeter && !MeterReaderChunk(*pMeter, reader, nTake, meterScratch)) {
            outcome.strError = kMeterFailure;
            return outcome;
        }
        SplitChannels(reader.m_pBuffer.get(), nTake, layout, settings, left, right);
        if (!write(lame_encode_buffer_ieee_float(gfp, left, right, nTake, mp3, kMp3BufferBytes))) {
            return outcome;
        }
        outcome.nFramesIn += static_cast<uint64_t>(nTake);
        onChunk(static_cast<uint32_t>(nTake));
        n = outcome.nFramesIn < nLimit ? reader.ReadChunk() : 0;
        if (isStopped()) {
            outcome.bStopped = true;
            break;
        }
    }
    if (n < 0) {
        outcome.strError =
            reader.m_strLastError.empty() ? "Cannot update audio sample" : reader.m_strLastError;
        return outcome;
    }
    if (!write(lame_encode_flush(gfp, mp3, kMp3BufferBytes))) {
        return outcome;
    }
    outcome.bOk = true;
    return outcome;
}

void Mp3JobOutput::BeginBatch(size_t nJobs) {
    m_jobEncoders.assign(nJobs, EncoderSettings());
    std::lock_guard lock(PublishedMutex());
    m_iLoweredFrom = 0;
}

void Mp3JobOutput::FixJobSettings(const AudioStreamReader &reader, int32_t nJob) {
    std::lock_guard lock(PublishedMutex());
    EncoderSettings fixed = Published()->encoder;
    // The settings as the earlier files would have left them: lowered, unless they were published
    // since (by the write-back itself, or from the settings dialog, whose choice then stands).
    if (m_iLoweredFrom != 0) {
        if (fixed.m_iBitrate == m_iLoweredFrom) {
            fixed.m_iBitrate = kLowRateBitrateCeiling;
        } else {
            m_iLoweredFrom = 0;
        }
    }
    const int32_t iPublishedBitrate = fixed.m_iBitrate;
    const int32_t iOutRate = fixed.m_iSampleRate;
    if (fixed.ApplyBitrateCeiling(iOutRate != 0 ? iOutRate : static_cast<int32_t>(reader.m_nSampleRate))) {
        m_iLoweredFrom = iPublishedBitrate;
    }
    m_jobEncoders[static_cast<size_t>(nJob)] = fixed;
}

bool Mp3JobOutput::WriteBackSettings(EncoderSettings &record) {
    std::lock_guard lock(PublishedMutex());
    if (m_iLoweredFrom == 0) {
        return false;
    }
    const bool bChanged = record.LowerBitrateFrom(m_iLoweredFrom);
    // In the same step as the record, so a job whose turn comes now finds the lowered bitrate either
    // way.
    auto pSettings = std::make_shared<JobSettings>(*Published());
    pSettings->encoder.LowerBitrateFrom(m_iLoweredFrom);
    Published() = std::move(pSettings);
    m_iLoweredFrom = 0;
    return bChanged;
}

void Mp3JobOutput::ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) {
    // Every piece of a divided file is encoded with these parameters, whatever is published meanwhile.
    const EncoderSettings &snapshot = m_jobEncoders[static_cast<size_t>(nJob)];
    const int nPieces = PiecesFor(job, reader, nJob);
    if (nPieces > 1) {
        if (ConvertDivided(job, reader, snapshot, nPieces)) {
            return;
        }
        // The pieces could not be joined: the file is encoded whole, its progress from 0 again.
        job.StartPass(job.GetProgress().nPass);
    }
    ConvertWhole(job, reader, nJob, snapshot);
}

void Mp3JobOutput::ConvertWhole(ConversionJob &job, AudioStreamReader &reader, int32_t nJob,
                                const EncoderSettings &snapshot) {
    // An empty selection gives an empty file; a source that gives no sample at all gives none.
    const bool bEmptySelection = !reader.RunsToStreamEnd() && reader.m_nFramesToConvert == 0;
    OutputFile file;
    // Read back and rewritten at the end by LAME for its VBR/Info header.
    if (!file.Create(job.GetOutputPath(), true)) {
        FailJob(job, kMp3CannotCreate);
        return;
    }
    bool bInitFailed = false;
    LamePtr pLame =
        CreateLameEncoder(snapshot, reader.m_nSampleRate, snapshot.m_bWriteVbrHeader != 0, bInitFailed);
    if (!pLame) {
        FailJob(job, kMp3InitFailed);
        return;
    }
    // ReplayGain describes what was encoded: the samples are metered on their way to the encoder.
    std::optional<LoudnessMeter> meter;
    if (SettingsOf(nJob).loudness.bReplayGain) {
        meter.emplace();
        if (!meter->Start(reader.m_nChannels, reader.m_nSampleRate)) {
            FailJob(job, kMeterFailure);
            return;
        }
    }
    const Mp3EncodeOutcome outcome = EncodeMp3Frames(
        pLame.get(), reader, UINT64_MAX, file.Get(), snapshot, meter ? &*meter : nullptr,
        [&](uint32_t nFrames) { CountChunk(job, reader, nFrames); }, [this] { return IsStopRequested(); });
    if (!outcome.bOk) {
        FailJob(job, outcome.strError);
        return;
    }
    if (outcome.nFramesIn == 0 && !bEmptySelection) {
        FailJob(job, kNoAudioText);
        return;
    }
    // LAME seeks back to the start of the file to fill in its header frame, so this comes last. An
    // output written in place is a pipe or a device, which holds nothing to read back: LAME would
    // only complain on the terminal.
    if (!file.GetTempPath().empty()) {
        lame_mp3_tags_fid(pLame.get(), file.Get());
    }
    KeepWithTags(file, job, reader, meter ? &*meter : nullptr);
}

void Mp3JobOutput::KeepWithTags(OutputFile &file, ConversionJob &job, const AudioStreamReader &reader,
                                LoudnessMeter *pMeter) {
    MediaTags tags = TagsForJob(job, reader.GetTrack());
    if (pMeter) {
        // Asked for on its own, so written even when the source's tags are not copied.
        ReplayGainText replayGain = FormatReplayGain(pMeter->Finish());
        tags.strReplayGainGain = std::move(replayGain.strGain);
        tags.strReplayGainPeak = std::move(replayGain.strPeak);
    }
    if (!file.Keep([&tags](const std::string &strTemp) { return WriteMp3Tags(strTemp, tags); })) {
        FailJob(job, kMp3WriteFailed);
    }
}

}  // namespace klangor

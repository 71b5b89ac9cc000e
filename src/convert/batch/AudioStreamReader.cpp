#include "convert/batch/AudioStreamReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "clips/CutInfo.h"
#include "convert/batch/ConversionJob.h"

namespace klangor {

namespace {
constexpr int64_t kUnitsPerSecond = 10000000;
}  // namespace

AudioStreamReader::AudioStreamReader(AudioDecoderFactory decoderFactory)
    : m_decoderFactory(std::move(decoderFactory)) {}

AudioStreamReader::~AudioStreamReader() {
    m_pBuffer.reset();
    Close();
}

void AudioStreamReader::Close() {
    m_pDecoder.reset();
    m_bSeekDone = false;
    m_state = State::Closed;
}

bool AudioStreamReader::Fail(const char *szText) {
    m_strLastError = szText;
    m_state = State::Failed;
    return false;
}

void AudioStreamReader::FixSelection(const std::string &strSourcePath) {
    m_strSourcePath = strSourcePath;
    m_selection = ClipInfo{};
    m_bHasSelection = ReadCutInfo(strSourcePath, m_selection.nDuration, m_selection.nStart, m_selection.nEnd,
                                  &m_selection.nTrack);
    m_bSelectionFixed = true;
}

void AudioStreamReader::UseJob(const ConversionJob &job) {
    m_strSourcePath = job.GetSourcePath();
    m_bSelectionFixed = job.IsSelectionFixed();
    m_bHasSelection = job.HasSelection();
    m_selection = job.GetSelection();
    m_nTrackOverride = job.GetTrackOverride();
}

bool AudioStreamReader::Open(const std::string &strPath, PcmSampleFormat format) {
    Close();
    if (m_bSelectionFixed && strPath != m_strSourcePath) {
        m_bSelectionFixed = false;  // another file: its own selection counts
    }
    m_strSourcePath = strPath;
    m_strLastError.clear();
    m_format = format;
    m_dGain = 1.0;

    m_pDecoder = MakeDecoder(format);
    if (!m_pDecoder) {
        return Fail("Could not create MultiMedia Stream for Audio");
    }
    if (m_pDecoder->OpenFile(strPath) < 0) {
        const std::string strWhy = m_pDecoder->GetFailureText();
        m_pDecoder.reset();
        return Fail(strWhy.empty() ? "Can not find audio in you Media file!" : strWhy.c_str());
    }
    if (m_pDecoder->GetDuration(m_llDuration) < 0) {
        return Fail("Can not get Duration.");
    }
    if (m_pDecoder->GetFormat(m_wfx) < 0) {
        return Fail("Cannot get audio format!");
    }
    const bool bFloat = m_wfx.wFormatTag == kWaveFormatFloat && m_wfx.wBitsPerSample == 32;
    if (m_wfx.wFormatTag != kWaveFormatPcm && !(bFloat && format == PcmSampleFormat::Float)) {
        return Fail("Audio type is not supported!");
    }
    if (m_wfx.nSamplesPerSec == 0 || m_wfx.nChannels == 0 || m_wfx.wBitsPerSample < 8) {
        return Fail("Cannot get audio format!");
    }

    m_nSampleRate = m_wfx.nSamplesPerSec;
    m_dUnitsPerFrame = static_cast<double>(kUnitsPerSecond) / m_nSampleRate;
    const double dTotal = std::floor(static_cast<double>(m_llDuration) / kUnitsPerSecond * m_nSampleRate);
    m_nTotalFrames = dTotal <= 0.0 ? 0 : dTotal >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(dTotal);
    m_nStartFrame = 0;
    m_nEndFrame = m_nFramesToConvert = m_nTotalFrames;
    m_nBytesPerSample = m_wfx.wBitsPerSample / 8;
    m_nChannels = m_wfx.nChannels;
    // A frame occupies the format's block; a decoder's block align is never smaller than its samples.
    const int nFrameBytes = std::max<int>(m_wfx.nBlockAlign, m_nBytesPerSample * m_nChannels);
    m_nBufferBytes = nFrameBytes * static_cast<int>(kChunkFrames);
    m_pBuffer = std::make_unique<uint8_t[]>(static_cast<size_t>(m_nBufferBytes));
    m_nFramesRead = 0;

    if (m_pDecoder->Run() < 0) {
        return Fail("Cannot start the audio stream.");
    }
    // Without a valid saved selection every frame the decoder yields is converted, not just as many as
    // the container's duration promises: that duration is often an estimate, or missing.
    m_state = State::ReadingToStreamEnd;
    ApplySavedSelection();
    return true;
}

void AudioStreamReader::SetTrackOverride(int nTrack) {
    m_nTrackOverride = nTrack;
}

int AudioStreamReader::GetTrack() const {
    if (m_nTrackOverride > 0) {
        return m_nTrackOverride;
    }
    if (m_nInheritedTrack >= 0) {
        return m_nInheritedTrack;
    }
    uint32_t nDuration = 0, nStart = 0, nEnd = 0, nTrack = 0;
    if (m_bSelectionFixed) {
        nTrack = m_bHasSelection ? m_selection.nTrack : 0;
    } else {
        ReadCutInfo(m_strSourcePath, nDuration, nStart, nEnd, &nTrack);
    }
    return static_cast<int>(std::min<uint32_t>(nTrack, INT32_MAX));
}

std::unique_ptr<IAudioDecoder> AudioStreamReader::MakeDecoder(PcmSampleFormat format) {
    std::unique_ptr<IAudioDecoder> pDecoder = m_decoderFactory ? m_decoderFactory(format) : nullptr;
    if (pDecoder) {
        // A track asked for on the command line must exist; one kept in the cut-info record falls back
        // to the best track when the file has fewer (it may have been replaced since).
        pDecoder->SetAudioTrack(GetTrack(), m_nTrackOverride > 0);
    }
    return pDecoder;
}

void AudioStreamReader::TakeSourceOf(const AudioStreamReader &job) {
    m_decoderFactory = job.m_decoderFactory;
    // The part's range is given: no cut-info is read, nothing counted.
    m_strSourcePath = job.m_strSourcePath;
    m_bSelectionFixed = true;
    m_bHasSelection = false;
    // The same audio track as the whole job, chosen the same way (strict only when asked for by number).
    m_nTrackOverride = job.m_nTrackOverride;
    m_nInheritedTrack = job.GetTrack();
}

bool AudioStreamReader::OpenPart(const AudioStreamReader &job, uint32_t nStart, uint32_t nEnd) {
    TakeSourceOf(job);
    if (!Open(job.m_strSourcePath, job.m_format)) {
        return false;
    }
    // A normalised job's one gain holds for every part.
    m_dGain = job.m_dGain;
    SetPartRange(nStart, nEnd);
    return true;
}

void AudioStreamReader::DescribePart(const AudioStreamReader &job, uint32_t nStart, uint32_t nEnd) {
    Close();
    TakeSourceOf(job);
    m_format = job.m_format;
    m_wfx = job.m_wfx;
    m_nBytesPerSample = job.m_nBytesPerSample;
    m_nChannels = job.m_nChannels;
    m_nSampleRate = job.m_nSampleRate;
    m_nTotalFrames = job.m_nTotalFrames;
    m_llDuration = job.m_llDuration;
    m_dUnitsPerFrame = job.m_dUnitsPerFrame;
    m_dGain = job.m_dGain;
    m_state = State::ReadingToStreamEnd;
    SetPartRange(nStart, nEnd);
}

void AudioStreamReader::SetPartRange(uint32_t nStart, uint32_t nEnd) {
    m_nStartFrame = nStart;
    m_nEndFrame = nEnd == UINT32_MAX ? std::max(m_nTotalFrames, nStart) : std::max(nEnd, nStart);
    m_nFramesToConvert = m_nEndFrame - nStart;
    if (nEnd != UINT32_MAX) {
        m_state = State::ReadingRange;
    }
}

void AudioStreamReader::ApplySavedSelection() {
    ClipInfo selection = m_selection;
    const bool bHasSelection = m_bSelectionFixed ? m_bHasSelection
                                                 : ReadCutInfo(m_strSourcePath, selection.nDuration,
                                                               selection.nStart, selection.nEnd);
    if (!bHasSelection) {
        return;
    }
    const uint32_t nDuration = selection.nDuration;
    const uint32_t nStart = selection.nStart;
    const uint32_t nEnd = selection.nEnd;
    if (nDuration == 0 && nEnd == 0) {
        return;  // saved by a player that could not measure the clip: the whole clip
    }
    const auto toFrame = [this](uint32_t nHundredths) {
        const double dFrame = std::trunc(nHundredths / 100.0 * m_nSampleRate);
        return dFrame >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(dFrame);
    };
    const uint32_t nStartFrame = toFrame(nStart);
    const uint32_t nEndFrame = toFrame(nEnd);
    if (nStart == nEnd) {
        // An empty selection converts nothing, wherever it lies, also at the clip's very end.
        m_nStartFrame = m_nEndFrame = nStartFrame;
        m_nFramesToConvert = 0;
        m_state = State::ReadingRange;
        return;
    }
    if (nEnd == nDuration && nStart < nEnd) {
        // The selection ends where the clip ends: run to the real end, whatever the container estimated.
        m_nStartFrame = nStartFrame;
        m_nEndFrame = std::max(m_nTotalFrames, nStartFrame);
        m_nFramesToConvert = m_nEndFrame - m_nStartFrame;
        return;
    }
    if (nStart < nEnd && nEndFrame > m_nTotalFrames) {
        // The container's length may be only an estimate (a VBR MP3 without its header): the real one
        // decides whether the selection lies inside the clip.
        m_nTotalFrames = std::max(m_nTotalFrames, CountRealFrames(m_format));
    }
    SetRange(nStartFrame, nEndFrame);
}

uint32_t AudioStreamReader::CountRealFrames(PcmSampleFormat format) {
    std::unique_ptr<IAudioDecoder> pCounter = MakeDecoder(format);
    if (!pCounter || pCounter->OpenFile(m_strSourcePath) < 0 || pCounter->Run() < 0) {
        return 0;
    }
    uint64_t nFrames = 0;
    uint32_t nFilled = kChunkFrames;
    while (nFilled == kChunkFrames && nFrames < UINT32_MAX) {
        if (pCounter->Fill(m_pBuffer.get(), kChunkFrames, nFilled) < 0) {
            break;
        }
        nFrames += nFilled;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(nFrames, UINT32_MAX));
}

void AudioStreamReader::SetRange(uint32_t nStart, uint32_t nEnd) {
    if (nStart > nEnd || nEnd > m_nTotalFrames) {
        return;
    }
    m_nStartFrame = nStart;
    m_nEndFrame = nEnd;
    m_nFramesToConvert = nEnd - nStart;
    if (IsOpen()) {
        m_state = State::ReadingRange;
    }
}

double AudioStreamReader::EstimateReadPercent() const {
    if (m_state == State::Ended) {
        return 100.0;
    }
    const double dFraction = m_pDecoder ? m_pDecoder->GetReadFraction() : -1.0;
    return dFraction < 0.0 ? 0.0 : std::min(100.0, dFraction * 100.0);
}

int AudioStreamReader::ReadChunk() {
    if (!m_pDecoder || !m_pBuffer) {
        return 0;
    }
    uint32_t nChunk = kChunkFrames;
    switch (m_state) {
        case State::ReadingToStreamEnd:
            break;
        case State::ReadingRange: {
            const uint32_t nRest = m_nFramesToConvert - m_nFramesRead;
            if (nRest == 0) {
                m_state = State::Ended;
                return 0;
            }
            nChunk = std::min(nRest, kChunkFrames);
            break;
        }
        default:
            return 0;
    }
    uint32_t nFilled = 0;
    if (!UpdateSample(nChunk, nFilled)) {
        return -1;
    }
    // A short fill is the real end of the stream: the frames it holds are delivered, the next call ends.
    if (nFilled < nChunk) {
        m_state = State::Ended;
    }
    m_nFramesRead += nFilled;
    if (m_dGain != 1.0) {
        ApplyGain(nFilled);
    }
    return static_cast<int>(nFilled);
}

void AudioStreamReader::ApplyGain(uint32_t nFrames) {
    const size_t nSamples = static_cast<size_t>(nFrames) * static_cast<size_t>(m_nChannels);
    uint8_t *pBytes = m_pBuffer.get();
    if (m_wfx.wFormatTag == kWaveFormatFloat) {
        const auto fGain = static_cast<float>(m_dGain);
        for (size_t i = 0; i < nSamples; ++i) {
            float fSample;
            std::memcpy(&fSample, pBytes + i * 4, sizeof fSample);
            fSample *= fGain;
            std::memcpy(pBytes + i * 4, &fSample, sizeof fSample);
        }
    } else if (m_nBytesPerSample == 2) {
        for (size_t i = 0; i < nSamples; ++i) {
            int16_t iSample;
            std::memcpy(&iSample, pBytes + i * 2, sizeof iSample);
            const long lScaled = std::lround(iSample * m_dGain);
            iSample = static_cast<int16_t>(std::clamp<long>(lScaled, INT16_MIN, INT16_MAX));
            std::memcpy(pBytes + i * 2, &iSample, sizeof iSample);
        }
    } else if (m_nBytesPerSample == 1) {
        for (size_t i = 0; i < nSamples; ++i) {
            const long lScaled = std::lround((pBytes[i] - 128) * m_dGain) + 128;
            pBytes[i] = static_cast<uint8_t>(std::clamp<long>(lScaled, 0, 255));
        }
    }
}

bool AudioStreamReader::UpdateSample(uint32_t nFrames, uint32_t &nFilled) {
    if (!m_bSeekDone) {
        // ceil(frame × 10 000 000 / rate), in integers so that exact times stay exact.
        const int64_t llFrame = int64_t{m_nStartFrame} + m_nFramesRead;
        const int64_t llTime = (llFrame * kUnitsPerSecond + m_nSampleRate - 1) / m_nSampleRate;
        if (m_pDecoder->Seek(llTime) < 0) {
            m_strLastError = "Cannot seek audio.";
            return false;
        }
        m_bSeekDone = true;
    }
    if (m_pDecoder->Fill(m_pBuffer.get(), nFrames, nFilled) < 0) {
        m_strLastError = "Cannot update audio sample";
        return false;
    }
    return true;
}

}  // namespace klangor

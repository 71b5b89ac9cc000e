#include "convert/AudioStreamReader.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "clips/CutInfo.h"

namespace {
constexpr int64_t kUnitsPerSecond = 10000000;
}

AudioStreamReader::AudioStreamReader(AudioDecoderFactory decoderFactory)
    : m_decoderFactory(std::move(decoderFactory)) {}

AudioStreamReader::~AudioStreamReader() {
    m_pBuffer.reset();
    Close();
}

void AudioStreamReader::Close() {
    m_pDecoder.reset();
    m_bSeekDone = false;
    m_bOpen = false;
}

bool AudioStreamReader::Fail(const char *szText) {
    m_strLastError = szText;
    return false;
}

bool AudioStreamReader::Open(const std::string &strPath) {
    Close();
    m_strSourcePath = strPath;
    m_strLastError.clear();
    m_bStreamEnded = false;
    m_bOpened = false;

    m_pDecoder = m_decoderFactory ? m_decoderFactory() : nullptr;
    if (!m_pDecoder) {
        return Fail("Could not create MultiMedia Stream for Audio");
    }
    if (m_pDecoder->OpenFile(strPath) < 0) {
        m_pDecoder.reset();
        return Fail("Can not find audio in you Media file!");
    }
    if (m_pDecoder->GetDuration(m_llDuration) < 0) {
        return Fail("Can not get Duration.");
    }
    if (m_pDecoder->GetFormat(m_wfx) < 0) {
        return Fail("Cannot get audio format!");
    }
    if (m_wfx.wFormatTag != kWaveFormatPcm) {
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
    m_bToStreamEnd = true;
    ApplySavedSelection();
    m_bOpen = m_bOpened = true;
    return true;
}

void AudioStreamReader::ApplySavedSelection() {
    uint32_t nDuration = 0, nStart = 0, nEnd = 0;
    if (!ReadCutInfo(m_strSourcePath, nDuration, nStart, nEnd)) {
        return;
    }
    const auto toFrame = [this](uint32_t nHundredths) {
        const double dFrame = std::trunc(nHundredths / 100.0 * m_nSampleRate);
        return dFrame >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(dFrame);
    };
    const uint32_t nStartFrame = toFrame(nStart);
    const uint32_t nEndFrame = toFrame(nEnd);
    if (nEnd == nDuration && nStart <= nEnd) {
        // The selection ends where the clip ends: run to the real end, whatever the container estimated.
        m_nStartFrame = nStartFrame;
        m_nEndFrame = std::max(m_nTotalFrames, nStartFrame);
        m_nFramesToConvert = m_nEndFrame - m_nStartFrame;
        return;
    }
    SetRange(nStartFrame, nEndFrame);
}

void AudioStreamReader::SetRange(uint32_t nStart, uint32_t nEnd) {
    if (nStart > nEnd || nEnd > m_nTotalFrames) {
        return;
    }
    m_nStartFrame = nStart;
    m_nEndFrame = nEnd;
    m_nFramesToConvert = nEnd - nStart;
    m_bToStreamEnd = false;
}

int AudioStreamReader::ReadChunk() {
    if (!m_pDecoder || !m_pBuffer || m_bStreamEnded) {
        return 0;
    }
    uint32_t nChunk = kChunkFrames;
    if (!m_bToStreamEnd) {
        const uint32_t nRest = m_nFramesToConvert - m_nFramesRead;
        if (nRest == 0) {
            return 0;
        }
        nChunk = std::min(nRest, kChunkFrames);
    }
    uint32_t nFilled = 0;
    if (!UpdateSample(nChunk, nFilled)) {
        return -1;
    }
    // A short fill is the real end of the stream: the frames it holds are delivered, the next call ends.
    if (nFilled < nChunk) {
        m_bStreamEnded = true;
    }
    m_nFramesRead += nFilled;
    return static_cast<int>(nFilled);
}

bool AudioStreamReader::UpdateSample(uint32_t nFrames, uint32_t &nFilled) {
    if (!m_bSeekDone) {
        // ceil(frame × 10 000 000 / rate), in integers so that exact times stay exact.
        const int64_t llFrame = int64_t{m_nStartFrame} + m_nFramesRead;
        const int64_t llTime = (llFrame * kUnitsPerSecond + m_nSampleRate - 1) / m_nSampleRate;
        if (m_pDecoder->Seek(llTime) < 0) {
            return Fail("Cannot seek audio.");
        }
        m_bSeekDone = true;
    }
    if (m_pDecoder->Fill(m_pBuffer.get(), nFrames, nFilled) < 0) {
        return Fail("Cannot update audio sample");
    }
    return true;
}

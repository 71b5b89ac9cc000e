#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "convert/AudioDecoder.h"

// A stand-in decoder that plays a script: a duration, a format, how many frames it really yields and
// which step fails. Each frame's bytes are a pattern of its position, so tests can tell which frames
// were delivered. Records the seeks and fills it was asked for.
struct DecoderScript {
    int64_t llDuration = 10000000;
    WaveFormat wfx{kWaveFormatPcm, 2, 44100, 44100 * 4, 4, 16, 0};
    uint64_t nRealFrames = 44100;
    int iOpenResult = 0;
    int iDurationResult = 0;
    int iFormatResult = 0;
    int iRunResult = 0;
    int iSeekResult = 0;
    int64_t llFailFillAtFrame = -1;  // a fill that would reach this frame fails

    std::vector<int64_t> seeks;
    int nFills = 0;
    int nLiveDecoders = 0;
    int nMostLiveDecoders = 0;

    static uint8_t PatternByte(uint64_t nFrame, size_t nByte) {
        return static_cast<uint8_t>(nFrame * 31 + nByte * 7 + (nFrame >> 8));
    }
};

class ScriptedDecoder : public IAudioDecoder {
public:
    explicit ScriptedDecoder(std::shared_ptr<DecoderScript> pScript) : m_pScript(std::move(pScript)) {
        m_pScript->nMostLiveDecoders = std::max(m_pScript->nMostLiveDecoders, ++m_pScript->nLiveDecoders);
    }
    ~ScriptedDecoder() override { --m_pScript->nLiveDecoders; }

    int OpenFile(const std::string &) override { return m_pScript->iOpenResult; }
    int GetDuration(int64_t &llDuration) override {
        llDuration = m_pScript->llDuration;
        return m_pScript->iDurationResult;
    }
    int GetFormat(WaveFormat &wfx) override {
        wfx = m_pScript->wfx;
        return m_pScript->iFormatResult;
    }
    int Run() override { return m_pScript->iRunResult; }
    int Seek(int64_t llTime) override {
        m_pScript->seeks.push_back(llTime);
        m_nPosition = static_cast<uint64_t>(llTime) * m_pScript->wfx.nSamplesPerSec / 10000000;
        return m_pScript->iSeekResult;
    }
    int Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) override {
        ++m_pScript->nFills;
        nFilled = 0;
        if (m_pScript->llFailFillAtFrame >= 0 &&
            m_nPosition + nFrames > static_cast<uint64_t>(m_pScript->llFailFillAtFrame)) {
            return -5;
        }
        const size_t nFrameBytes = m_pScript->wfx.nBlockAlign;
        while (nFilled < nFrames && m_nPosition < m_pScript->nRealFrames) {
            for (size_t b = 0; b < nFrameBytes; ++b) {
                pBuffer[nFilled * nFrameBytes + b] = DecoderScript::PatternByte(m_nPosition, b);
            }
            ++nFilled;
            ++m_nPosition;
        }
        return 0;
    }

private:
    std::shared_ptr<DecoderScript> m_pScript;
    uint64_t m_nPosition = 0;
};

inline AudioDecoderFactory ScriptedFactory(std::shared_ptr<DecoderScript> pScript) {
    return [pScript] { return std::make_unique<ScriptedDecoder>(pScript); };
}

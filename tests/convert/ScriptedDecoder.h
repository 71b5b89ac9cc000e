#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "media/AudioDecoder.h"

namespace klangor {

// A stand-in decoder that plays a script: a duration, a format, how many frames it really yields and
// which step fails. Each frame's bytes are a pattern of its position, so tests can tell which frames
// were delivered. Records the seeks and fills it was asked for; several decoders of one script may run
// on the workers of a batch at once.
struct DecoderScript {
    int64_t llDuration = 10000000;
    WaveFormat wfx{kWaveFormatPcm, 2, 44100, 44100 * 4, 4, 16, 0};
    uint64_t nRealFrames = 44100;
    int iOpenResult = 0;
    int iDurationResult = 0;
    int iFormatResult = 0;
    int iRunResult = 0;
    int iSeekResult = 0;
    int64_t llFailFillAtFrame = -1;   // a fill that would reach this frame fails
    bool bThrowInFill = false;        // a fill throws, as a decoder out of memory would
    bool bTellsReadFraction = false;  // reports how far it has read, as a file-backed decoder does
    uint64_t nSeekSlipFrames = 0;     // a seek lands this many frames late, as rounded timestamps may
    // Fills wait (up to 10 s) until this many decoders of the script were made, so that jobs meant to
    // run side by side really do, on any machine.
    int nFillsWaitForDecoders = 0;
    // Called, outside the script's lock, by the first fill that would reach this frame, before it
    // delivers: lets a test act at a known place in one decoder while the others go on.
    int64_t llHookAtFrame = -1;
    std::function<void()> onFrameReached;
    std::atomic<bool> bHookCalled{false};
    // Called, outside the script's lock, at the start of every fill with the frame it starts at: lets a
    // test hold a worker at a known place.
    std::function<void(uint64_t)> onFill;
    // Slows every opening and every fill, as a busy disk or a slow decoder would.
    std::chrono::milliseconds openDelay{0};
    std::chrono::milliseconds fillDelay{0};
    std::condition_variable created;

    std::mutex mutex;
    std::vector<int64_t> seeks;  // under mutex
    std::atomic<int> nFills{0};
    std::atomic<int> nLiveDecoders{0};
    std::atomic<int> nMostLiveDecoders{0};
    std::atomic<int> nCreated{0};
    PcmSampleFormat lastFormat = PcmSampleFormat::S16;  // under mutex

    static uint8_t PatternByte(uint64_t nFrame, size_t nByte) {
        return static_cast<uint8_t>(nFrame * 31 + nByte * 7 + (nFrame >> 8));
    }
};

class ScriptedDecoder : public IAudioDecoder {
public:
    ScriptedDecoder(std::shared_ptr<DecoderScript> pScript, PcmSampleFormat format)
        : m_pScript(std::move(pScript)) {
        const int nLive = ++m_pScript->nLiveDecoders;
        int nMost = m_pScript->nMostLiveDecoders.load();
        while (nLive > nMost && !m_pScript->nMostLiveDecoders.compare_exchange_weak(nMost, nLive)) {
        }
        std::lock_guard lock(m_pScript->mutex);
        ++m_pScript->nCreated;
        m_pScript->lastFormat = format;
        m_pScript->created.notify_all();
    }
    ~ScriptedDecoder() override { --m_pScript->nLiveDecoders; }

    int OpenFile(const std::string &) override {
        std::this_thread::sleep_for(m_pScript->openDelay);
        return m_pScript->iOpenResult;
    }
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
        {
            std::lock_guard lock(m_pScript->mutex);
            m_pScript->seeks.push_back(llTime);
        }
        m_nPosition = static_cast<uint64_t>(llTime) * m_pScript->wfx.nSamplesPerSec / 10000000;
        m_nPosition += m_nPosition > 0 ? m_pScript->nSeekSlipFrames : 0;
        return m_pScript->iSeekResult;
    }
    int Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) override {
        ++m_pScript->nFills;
        if (m_pScript->onFill) {
            m_pScript->onFill(m_nPosition);
        }
        nFilled = 0;
        if (m_pScript->nFillsWaitForDecoders > 0) {
            std::unique_lock lock(m_pScript->mutex);
            m_pScript->created.wait_for(lock, std::chrono::seconds(10), [this] {
                return m_pScript->nCreated >= m_pScript->nFillsWaitForDecoders;
            });
        }
        std::this_thread::sleep_for(m_pScript->fillDelay);
        if (m_pScript->bThrowInFill) {
            throw std::runtime_error("decoder ran out of memory");
        }
        if (m_pScript->llFailFillAtFrame >= 0 &&
            m_nPosition + nFrames > static_cast<uint64_t>(m_pScript->llFailFillAtFrame)) {
            return -5;
        }
        if (m_pScript->llHookAtFrame >= 0 &&
            m_nPosition + nFrames > static_cast<uint64_t>(m_pScript->llHookAtFrame) &&
            m_nPosition <= static_cast<uint64_t>(m_pScript->llHookAtFrame) &&
            !m_pScript->bHookCalled.exchange(true)) {
            m_pScript->onFrameReached();
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

    double GetReadFraction() const override {
        if (!m_pScript->bTellsReadFraction || m_pScript->nRealFrames == 0) {
            return -1.0;
        }
        return static_cast<double>(m_nPosition) / static_cast<double>(m_pScript->nRealFrames);
    }

private:
    std::shared_ptr<DecoderScript> m_pScript;
    uint64_t m_nPosition = 0;
};

inline AudioDecoderFactory ScriptedFactory(std::shared_ptr<DecoderScript> pScript) {
    return [pScript](PcmSampleFormat format) { return std::make_unique<ScriptedDecoder>(pScript, format); };
}

}  // namespace klangor

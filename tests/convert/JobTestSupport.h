#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ScriptedDecoder.h"
#include "clips/CutInfo.h"
#include "convert/batch/ConversionJob.h"
#include "convert/batch/ConversionNotice.h"

namespace klangor {

// Jobs over scripted decoders, and a recorder for the ends a writer tells.
struct JobSet {
    std::vector<std::shared_ptr<DecoderScript>> scripts;
    std::vector<std::unique_ptr<ConversionJob>> jobs;

    // A job whose source is strSource (its cut-info is read from there now), written to strOutput.
    ConversionJob &Add(const std::string &strSource, const std::string &strOutput,
                       std::shared_ptr<DecoderScript> pScript = std::make_shared<DecoderScript>()) {
        scripts.push_back(pScript);
        jobs.push_back(std::make_unique<ConversionJob>(strSource, strOutput, ScriptedFactory(pScript)));
        jobs.back()->FixSelection();
        return *jobs.back();
    }
    std::vector<ConversionJob *> Pointers() const {
        std::vector<ConversionJob *> pointers;
        for (const auto &pJob : jobs) {
            pointers.push_back(pJob.get());
        }
        return pointers;
    }
    // Frames converted in the last pass of each job that was taken, in job order.
    std::vector<uint64_t> FramesPerJob() const {
        std::vector<uint64_t> frames;
        for (const auto &pJob : jobs) {
            if (pJob->GetState() != ConversionJob::State::Waiting) {
                frames.push_back(pJob->GetProgress().nFramesDone);
            }
        }
        return frames;
    }
};

// The notices come from several workers at once.
struct NoticeRecorder {
    std::mutex mutex;
    std::vector<ConversionNotice> notices;  // under mutex
    std::function<void(const ConversionNotice &)> onNotice;

    static int Proc(void *pContext, const ConversionNotice *pNotice) {
        auto *pSelf = static_cast<NoticeRecorder *>(pContext);
        {
            std::lock_guard lock(pSelf->mutex);
            pSelf->notices.push_back(*pNotice);
        }
        if (pSelf->onNotice) {
            pSelf->onNotice(*pNotice);
        }
        return 1;
    }
};

inline uint32_t ReadU32(const std::string &strBytes, size_t nPos) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) {
        n = (n << 8) | static_cast<uint8_t>(strBytes[nPos + static_cast<size_t>(i)]);
    }
    return n;
}

inline uint16_t ReadU16(const std::string &strBytes, size_t nPos) {
    return static_cast<uint16_t>(static_cast<uint8_t>(strBytes[nPos]) |
                                 (static_cast<uint8_t>(strBytes[nPos + 1]) << 8));
}

}  // namespace klangor

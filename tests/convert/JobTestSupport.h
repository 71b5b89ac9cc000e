#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedDecoder.h"
#include "clips/CutInfo.h"
#include "convert/AudioStreamReader.h"
#include "convert/ConversionNotice.h"

// Jobs over scripted decoders, and a recorder for the notices a writer sends.
struct JobSet {
    std::vector<std::shared_ptr<DecoderScript>> scripts;
    std::vector<std::unique_ptr<AudioStreamReader>> jobs;

    // A job whose source is strSource (its cut-info is read from there), written to strOutput.
    AudioStreamReader &Add(const std::string &strSource, const std::string &strOutput,
                           std::shared_ptr<DecoderScript> pScript = std::make_shared<DecoderScript>()) {
        scripts.push_back(pScript);
        jobs.push_back(std::make_unique<AudioStreamReader>(ScriptedFactory(pScript)));
        jobs.back()->Open(strSource);
        jobs.back()->m_strOutputPath = strOutput;
        return *jobs.back();
    }
    std::vector<AudioStreamReader *> Pointers() const {
        std::vector<AudioStreamReader *> pointers;
        for (const auto &pJob : jobs) {
            pointers.push_back(pJob.get());
        }
        return pointers;
    }
};

struct NoticeRecorder {
    std::vector<ConversionNotice> notices;
    std::function<void(const ConversionNotice &)> onNotice;

    static int Proc(void *pContext, const ConversionNotice *pNotice) {
        auto *pSelf = static_cast<NoticeRecorder *>(pContext);
        pSelf->notices.push_back(*pNotice);
        if (pSelf->onNotice) {
            pSelf->onNotice(*pNotice);
        }
        return 1;
    }
    // Frames reported for each job that started, in job order.
    std::vector<uint64_t> FramesPerJob() const {
        std::vector<uint64_t> frames;
        for (const ConversionNotice &notice : notices) {
            if (notice.nKind == NOTICE_JOB_STARTED) {
                frames.resize(std::max<size_t>(frames.size(), static_cast<size_t>(notice.nJob) + 1));
            } else if (notice.nKind == NOTICE_PROGRESS && notice.nJob >= 0 &&
                       static_cast<size_t>(notice.nJob) < frames.size()) {
                frames[static_cast<size_t>(notice.nJob)] += static_cast<uint64_t>(notice.nValue);
            }
        }
        return frames;
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

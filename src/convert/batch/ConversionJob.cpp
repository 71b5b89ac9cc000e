#include "convert/batch/ConversionJob.h"

#include <algorithm>
#include <utility>

#include "clips/CutInfo.h"

namespace klangor {

namespace {
constexpr uint64_t kFramesMask = 0xFFFFFFFFull;
}  // namespace

ConversionJob::ConversionJob(std::string strSourcePath, std::string strOutputPath,
                             AudioDecoderFactory decoderFactory)
    : m_strSourcePath(std::move(strSourcePath)),
      m_strOutputPath(std::move(strOutputPath)),
      m_decoderFactory(std::move(decoderFactory)) {}

void ConversionJob::FixSelection() {
    m_selection = ClipInfo{};
    m_bHasSelection = ReadCutInfo(m_strSourcePath, m_selection.nDuration, m_selection.nStart,
                                  m_selection.nEnd, &m_selection.nTrack);
    m_bSelectionFixed = true;
}

void ConversionJob::End() {
    m_ended = std::chrono::steady_clock::now();
    m_state.store(State::Ended, std::memory_order_release);
}

double ConversionJob::GetSeconds() const {
    if (m_begun == std::chrono::steady_clock::time_point{}) {
        return 0.0;
    }
    return std::chrono::duration<double>(m_ended - m_begun).count();
}

std::string ConversionJob::PartOutputPathOf(int n, int nCount, const std::string &strTitle) const {
    if (m_strNameTemplate.empty() || !NameTemplateNamesParts(m_strNameTemplate)) {
        return PartOutputPath(m_strOutputPath, n, nCount, strTitle);
    }
    NameFields fields = m_nameFields;
    fields.strPart = PartNumber(n, nCount);
    fields.strPartTitle = strTitle;
    return m_strNamingFolder + "/" + RenderNameTemplate(m_strNameTemplate, fields);
}

ConversionJob::Progress ConversionJob::GetProgress() const {
    Progress progress;
    progress.state = GetState();
    const uint64_t llPassAndFrames = m_llPassAndFrames.load(std::memory_order_relaxed);
    progress.nPass = static_cast<int>(llPassAndFrames >> 32);
    progress.nFramesDone = static_cast<uint32_t>(llPassAndFrames & kFramesMask);
    progress.nPasses = m_nPasses.load(std::memory_order_relaxed);
    progress.nFramesToConvert = m_nFramesToConvert.load(std::memory_order_relaxed);
    progress.dReadPercent = m_dReadPercent.load(std::memory_order_relaxed);
    return progress;
}

void ConversionJob::Begin(int nPasses) {
    if (m_begun == std::chrono::steady_clock::time_point{}) {
        m_begun = std::chrono::steady_clock::now();
    }
    m_strError.clear();
    m_partOutputs.clear();
    m_partNotes.clear();
    m_nPasses.store(nPasses < 1 ? 1 : nPasses, std::memory_order_relaxed);
    m_llPassAndFrames.store(0, std::memory_order_relaxed);
    m_nFramesToConvert.store(0, std::memory_order_relaxed);
    m_dReadPercent.store(0.0, std::memory_order_relaxed);
    m_state.store(State::Converting, std::memory_order_release);
}

void ConversionJob::StartPass(int nPass) {
    m_llPassAndFrames.store(static_cast<uint64_t>(nPass) << 32, std::memory_order_relaxed);
    m_dReadPercent.store(0.0, std::memory_order_relaxed);
}

void ConversionJob::AddFrames(uint32_t nFrames) {
    if (m_pWhole) {
        m_pWhole->AddFrames(nFrames);
    }
    // Held at the top of the lower half rather than carried into the pass: a count that long (a day of
    // audio) only stops moving.
    uint64_t llOld = m_llPassAndFrames.load(std::memory_order_relaxed);
    uint64_t llNew = 0;
    do {
        const uint64_t llFrames = std::min<uint64_t>((llOld & kFramesMask) + nFrames, kFramesMask);
        llNew = (llOld & ~kFramesMask) | llFrames;
    } while (!m_llPassAndFrames.compare_exchange_weak(llOld, llNew, std::memory_order_relaxed));
}

}  // namespace klangor

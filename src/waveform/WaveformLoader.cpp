#include "waveform/WaveformLoader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace klangor {

namespace {

constexpr uint32_t kScanChunkFrames = 8192;
constexpr auto kReportInterval = std::chrono::milliseconds(150);
constexpr int64_t kUnitsPerSecond = 10000000;

}  // namespace

WaveformLoader::WaveformLoader(AudioDecoderFactory decoderFactory, std::filesystem::path cacheFolder)
    : m_decoderFactory(std::move(decoderFactory)), m_cache(std::move(cacheFolder)) {}

WaveformLoader::~WaveformLoader() {
    CancelScan();
}

std::string WaveformLoader::CacheKey(const std::string &strPath, uint32_t nTrack) {
    struct stat info {};
    if (::stat(strPath.c_str(), &info) != 0) {
        return {};
    }
    return strPath + '\n' + std::to_string(info.st_size) + '\n' + std::to_string(info.st_mtim.tv_sec) + '.' +
           std::to_string(info.st_mtim.tv_nsec) + '\n' + std::to_string(nTrack);
}

void WaveformLoader::CancelScan() {
    m_bCancel = true;
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_bCancel = false;
}

void WaveformLoader::Load(const std::string &strPath, uint32_t nTrack) {
    if (strPath == m_strPath && nTrack == m_nTrack && !strPath.empty() && m_worker.joinable() &&
        GetState() == State::Scanning) {
        return;  // the same clip and track again: its scan goes on
    }
    CancelScan();
    std::shared_ptr<Entry> pCurrent;
    {
        std::lock_guard lock(m_mutex);
        // A scan cut short by this load is not worth keeping: it would pass for the whole clip.
        if (m_pCurrent && m_pCurrent->state == State::Scanning) {
            m_kept.erase(m_strKey);
        }
        m_strPath = strPath;
        m_nTrack = nTrack;
        m_strKey = strPath.empty() ? std::string() : CacheKey(strPath, nTrack);
        m_pCurrent.reset();
        if (strPath.empty()) {
            return;
        }
        const auto it = m_strKey.empty() ? m_kept.end() : m_kept.find(m_strKey);
        if (it != m_kept.end()) {
            m_pCurrent = it->second;
            return;
        }
        pCurrent = m_pCurrent = std::make_shared<Entry>();
        if (!m_strKey.empty()) {
            m_kept[m_strKey] = pCurrent;
        }
    }
    try {
        m_worker = std::thread(&WaveformLoader::ScanProc, this, pCurrent, strPath, nTrack, m_strKey);
    } catch (const std::system_error &) {
        // No thread to spare: the timeline simply shows no waveform.
        std::lock_guard lock(m_mutex);
        m_kept.erase(m_strKey);
        pCurrent->state = State::NoAudio;
    }
}

WaveformLoader::State WaveformLoader::GetState() const {
    std::lock_guard lock(m_mutex);
    return m_pCurrent ? m_pCurrent->state : State::Idle;
}

std::vector<WavePeak> WaveformLoader::Columns(int nColumns, double dSeconds) const {
    std::lock_guard lock(m_mutex);
    if (!m_pCurrent) {
        return std::vector<WavePeak>(static_cast<size_t>(std::max(nColumns, 0)));
    }
    return m_pCurrent->summary.Columns(nColumns, dSeconds);
}

WaveformSummary WaveformLoader::Snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_pCurrent ? m_pCurrent->summary : WaveformSummary{};
}

bool WaveformLoader::WaitUntilSettled(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_settled.wait_for(lock, timeout,
                              [this] { return !m_pCurrent || m_pCurrent->state != State::Scanning; });
}

void WaveformLoader::Finish(Entry &entry, State state) {
    {
        std::lock_guard lock(m_mutex);
        entry.state = state;
    }
    // Reported before waiters wake, so whoever waited for the end has also had its last notice. A
    // notice that cannot be handed over (no memory for the event) must not keep the waiters asleep.
    try {
        ReportChanged();
    } catch (...) {
    }
    m_settled.notify_all();
}

void WaveformLoader::ReportChanged() {
    if (m_fnChanged) {
        m_fnChanged();
    }
}

void WaveformLoader::ScanProc(std::shared_ptr<Entry> pEntry, std::string strPath, uint32_t nTrack,
                              std::string strKey) {
    // Nothing thrown here may end the program: a clip that needs more memory than there is shows what
    // was summarised before, as a clip failing halfway does.
    try {
        Scan(*pEntry, strPath, nTrack, strKey);
    } catch (...) {
        Finish(*pEntry, State::Failed);
    }
}

void WaveformLoader::Scan(Entry &entry, const std::string &strPath, uint32_t nTrack,
                          const std::string &strKey) {
    // Read here, not on the window's thread: the cache may sit on a slow disk.
    if (WaveformSummary kept; m_cache.Find(strKey, kept)) {
        {
            std::lock_guard lock(m_mutex);
            entry.summary = std::move(kept);
        }
        Finish(entry, State::Complete);
        return;
    }
    // A named pipe or a device can be read only once, by the conversion, and opening one waits for its
    // writer, which would hold up the next Load's cancelling for ever.
    if (struct stat info{}; ::stat(strPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        Finish(entry, State::NoAudio);
        return;
    }
    std::unique_ptr<IAudioDecoder> pDecoder =
        m_decoderFactory ? m_decoderFactory(PcmSampleFormat::Float) : nullptr;
    if (pDecoder) {
        pDecoder->SetAudioTrack(static_cast<int>(std::min<uint32_t>(nTrack, INT32_MAX)), false);
    }
    WaveFormat wfx{};
    int64_t llDuration = 0;
    if (!pDecoder || pDecoder->OpenFile(strPath) < 0 || pDecoder->GetFormat(wfx) < 0 ||
        wfx.wFormatTag != kWaveFormatFloat || wfx.nChannels == 0 || wfx.nSamplesPerSec == 0 ||
        pDecoder->Run() < 0) {
        Finish(entry, State::NoAudio);
        return;
    }
    if (pDecoder->GetDuration(llDuration) < 0 || llDuration < 0) {
        llDuration = 0;
    }
    const auto nExpected = static_cast<uint64_t>(
        std::floor(static_cast<double>(llDuration) / kUnitsPerSecond * wfx.nSamplesPerSec));
    const int nChannels = wfx.nChannels;
    {
        std::lock_guard lock(m_mutex);
        entry.summary.Reset(wfx.nSamplesPerSec, nExpected);
    }
    std::vector<float> samples(static_cast<size_t>(kScanChunkFrames) * static_cast<size_t>(nChannels));
    auto lastReport = std::chrono::steady_clock::now();
    while (!m_bCancel) {
        uint32_t nFilled = 0;
        if (pDecoder->Fill(reinterpret_cast<uint8_t *>(samples.data()), kScanChunkFrames, nFilled) < 0) {
            Finish(entry, State::Failed);
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            entry.summary.AddFrames(samples.data(), nFilled, nChannels);
        }
        if (nFilled < kScanChunkFrames) {
            // Only whole summaries go to disk: one cut short by a failure is read again next time, in
            // case the file was still being written. This thread alone changes the summary, so it
            // reads it without the lock.
            try {
                m_cache.Store(strKey, entry.summary);
            } catch (...) {
                // Not kept on disk: the next session reads the clip again.
            }
            Finish(entry, State::Complete);
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastReport >= kReportInterval) {
            lastReport = now;
            ReportChanged();
        }
    }
    // Cancelled: Load drops this entry from the kept ones.
}

}  // namespace klangor

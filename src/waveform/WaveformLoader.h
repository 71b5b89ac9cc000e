#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/AudioDecoder.h"
#include "waveform/WaveformCache.h"
#include "waveform/WaveformSummary.h"

namespace klangor {

// Summarises the loaded clip's audio track on a worker thread of its own, through the same decoder the
// conversion uses, and keeps every summary it finished for the rest of the session (by path, size,
// modification time and track, so a file changed on disk is read afresh), and on disk for later
// sessions. Load, Columns, GetState and the
// destructor are called on one thread (the window's); the worker only fills the summary under the
// lock and reports through the changed callback.
class WaveformLoader {
public:
    enum class State {
        Idle,      // nothing asked for
        Scanning,  // the worker is filling the summary
        Complete,  // the whole stream is summarised
        Failed,    // decoding stopped halfway: the summary holds what was read
        NoAudio,   // the file has no audio the decoder can open: nothing to draw
    };

    // Summaries are kept on disk in cacheFolder (none when it is empty).
    explicit WaveformLoader(AudioDecoderFactory decoderFactory = CreateMediaAudioDecoder,
                            std::filesystem::path cacheFolder = WaveformCache::DefaultFolder());
    WaveformLoader(const WaveformLoader &) = delete;
    WaveformLoader &operator=(const WaveformLoader &) = delete;
    ~WaveformLoader();

    // Called on the worker whenever more of the summary can be drawn (a few times a second) and once
    // when it ends. It must only hand the news over to its own thread. Set before the first Load.
    void SetChangedCallback(std::function<void()> fnChanged) { m_fnChanged = std::move(fnChanged); }

    // Shows the summary of this file's audio track from now on (0 its best track, n >= 1 its n-th, a
    // track it does not have the best one, as the conversion reads it): a kept one at once, otherwise a
    // fresh scan, which cancels the one running. An empty path shows nothing.
    void Load(const std::string &strPath, uint32_t nTrack = 0);
    State GetState() const;
    const std::string &GetPath() const { return m_strPath; }
    // The current summary's peaks for nColumns columns over dSeconds (see WaveformSummary::Columns).
    std::vector<WavePeak> Columns(int nColumns, double dSeconds) const;
    // A copy of the current summary.
    WaveformSummary Snapshot() const;
    // Waits until the current scan has ended; false when the deadline came first.
    bool WaitUntilSettled(std::chrono::milliseconds timeout) const;

private:
    struct Entry {
        WaveformSummary summary;
        State state = State::Scanning;
    };

    void CancelScan();
    void ScanProc(std::shared_ptr<Entry> pEntry, std::string strPath, uint32_t nTrack, std::string strKey);
    void Scan(Entry &entry, const std::string &strPath, uint32_t nTrack, const std::string &strKey);
    void Finish(Entry &entry, State state);
    void ReportChanged();
    static std::string CacheKey(const std::string &strPath, uint32_t nTrack);

    AudioDecoderFactory m_decoderFactory;
    const WaveformCache m_cache;
    std::function<void()> m_fnChanged;
    std::string m_strPath;
    uint32_t m_nTrack = 0;
    std::string m_strKey;
    // Guards the entries' contents; the pointers themselves change on the window thread only.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_settled;
    std::shared_ptr<Entry> m_pCurrent;
    std::map<std::string, std::shared_ptr<Entry>> m_kept;
    std::atomic<bool> m_bCancel{false};
    std::thread m_worker;
};

}  // namespace klangor

#pragma once

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/MediaPlayer.h"
#include "support/MediaFactory.h"
#include <gtest/gtest.h>

namespace klangor {

// The owner window as the player sees it, recording what the player asks of it.
class RecordingWindow : public IPlayerWindow {
public:
    struct Box {
        std::string strCaption;
        std::string strText;
    };

    void ShowErrorBox(const std::string &strCaption, const std::string &strText) override {
        boxes.push_back({strCaption, strText});
    }
    void ShowUnownedErrorBox(const std::string &strCaption, const std::string &strText) override {
        boxes.push_back({strCaption, strText});
        ++nUnownedBoxes;
    }
    void SetBusy(bool bBusy) override { nBusyDepth += bBusy ? 1 : -1; }
    VideoRect GetControlRect(int iControlId) override {
        lastControlId = iControlId;
        return hostRect;
    }
    void ShowAndActivate() override { ++nShows; }
    void RepaintNow() override { ++nRepaints; }
    void InvalidateAll() override { ++nInvalidates; }
    void SetKeyboardFocus() override { ++nFocus; }
    void PostGraphNotify() override {
        {
            std::lock_guard lock(m_notifyMutex);
            ++nNotifies;
        }
        m_notified.notify_all();
    }
    // Waits until a notice has been posted since the count seen, at most the time given.
    void WaitForNotify(int nSeen, std::chrono::milliseconds limit) {
        std::unique_lock lock(m_notifyMutex);
        m_notified.wait_for(lock, limit, [&] { return nNotifies.load() != nSeen; });
    }

    std::vector<Box> boxes;
    VideoRect hostRect{0, 0, 320, 240};
    int lastControlId = 0;
    int nShows = 0;
    int nRepaints = 0;
    int nInvalidates = 0;
    int nFocus = 0;
    int nUnownedBoxes = 0;
    int nBusyDepth = 0;
    std::atomic<int> nNotifies{0};

private:
    std::mutex m_notifyMutex;
    std::condition_variable m_notified;
};

// Ends the test program with a message when the step it guards has not ended within the limit: a
// window stuck for minutes would otherwise hold up the whole run before any expectation could fail.
class StallGuard {
public:
    StallGuard(std::chrono::seconds limit, std::string strStep)
        : m_strStep(std::move(strStep)), m_thread([this, limit] {
              std::unique_lock lock(m_mutex);
              if (!m_ended.wait_for(lock, limit, [this] { return m_bEnded; })) {
                  std::fprintf(stderr, "FAILED: %s took more than %lld s\n", m_strStep.c_str(),
                               static_cast<long long>(limit.count()));
                  std::fflush(stderr);
                  std::_Exit(1);
              }
          }) {}
    StallGuard(const StallGuard &) = delete;
    StallGuard &operator=(const StallGuard &) = delete;
    ~StallGuard() {
        {
            std::lock_guard lock(m_mutex);
            m_bEnded = true;
        }
        m_ended.notify_all();
        m_thread.join();
    }

private:
    std::string m_strStep;
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_bEnded = false;
    std::thread m_thread;
};

// Runs the window's side until the condition holds or the time is up: the player's pending events are
// drained on each notice (as the window does) and handed to onEvent. Conditions that follow no event
// (a position) are looked at again every 10 ms at the latest.
inline bool WaitUntil(MediaPlayer &player, const std::function<bool()> &fnDone, double dSeconds = 5.0,
                      const std::function<void(const GraphEvent &)> &fnOnEvent = {},
                      RecordingWindow *pWindow = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(dSeconds);
    for (;;) {
        const int nSeen = pWindow ? pWindow->nNotifies.load() : 0;
        GraphEvent event;
        while (player.GetGraphEvent(event)) {
            if (fnOnEvent) {
                fnOnEvent(event);
            }
        }
        if (fnDone()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        if (pWindow) {
            pWindow->WaitForNotify(nSeen, std::chrono::milliseconds(10));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

// Opens the clip and runs the window's side until the open has ended; the open's outcome.
inline int LoadAndWait(MediaPlayer &player, const std::string &strPath) {
    const int iStatus = player.LoadClip(strPath);
    if (PlaybackFailed(iStatus)) {
        return iStatus;
    }
    WaitUntil(
        player, [&] { return !player.IsOpening(); }, 30.0);
    return player.GetOpenStatus();
}

inline long PositionOf(MediaPlayer &player) {
    long lPosition = -1;
    player.GetCurrentPosition(lPosition);
    return lPosition;
}

// The position once it has stopped changing (the sound output reports its last hundredth a moment after
// a pause): the same value read on five polls in a row, or the last one read after two seconds.
inline long SettledPosition(MediaPlayer &player) {
    long lLast = PositionOf(player);
    int nSame = 0;
    WaitUntil(
        player,
        [&] {
            const long lNow = PositionOf(player);
            nSame = lNow == lLast ? nSame + 1 : 0;
            lLast = lNow;
            return nSame >= 5;
        },
        2.0);
    return lLast;
}

// A 25 fps test picture with a tone, the size of a typical small test clip.
inline std::string MakeClip(MediaFactory &media, const std::string &strName, double dSeconds,
                            bool bAudio = true, bool bVideo = true) {
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    const std::string strLength = std::to_string(dSeconds);
    if (bVideo) {
        inputs.insert(inputs.end(), {"-f", "lavfi", "-i", "testsrc2=s=320x240:r=25:d=" + strLength});
        outputs.insert(outputs.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    }
    if (bAudio) {
        inputs.insert(inputs.end(), {"-f", "lavfi", "-i", "sine=f=440:r=44100:d=" + strLength});
        outputs.insert(outputs.end(), {"-c:a", bVideo ? "aac" : "pcm_s16le"});
    }
    return media.Make(strName, inputs, outputs);
}

// Sends one request line to the playback's inspection socket, as an outside tool would, and returns the
// reply line; empty when the playback went away without answering (as it does after "quit").
inline std::string AskSocket(const std::string &strPath, const std::string &strRequest) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strPath.copy(address.sun_path, sizeof(address.sun_path) - 1);
    for (int iTry = 0; iTry < 200; ++iTry) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        // A playback that never answers must fail the test, not hang it.
        timeval timeout{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
            close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        // Sent once: a request sent again could be carried out twice. A peer that is shutting down
        // may refuse it; the caller then sees no reply.
        const std::string strLine = strRequest + "\n";
        const bool bSent =
            send(fd, strLine.data(), strLine.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(strLine.size());
        // The socket also carries unrequested event lines; the answer is the one with an error field.
        std::string strReply;
        bool bOpen = bSent;
        while (bOpen) {
            strReply.clear();
            char c = 0;
            while ((bOpen = read(fd, &c, 1) == 1) && c != '\n') {
                strReply += c;
            }
            if (strReply.find("\"error\"") != std::string::npos) {
                close(fd);
                return strReply;
            }
        }
        close(fd);
        return {};
    }
    return {};
}

}  // namespace klangor

// Prints how long the preview takes from LoadClip to its open and first drawn picture, and the worst
// stall of the window's thread (a 5 ms tick's lateness) while clips open, a burst of seeks lands and
// frames are stepped, on a 10-minute 720p H.264 clip with AAC sound made with the ffmpeg command. Usage:
// player_bench [folder for the test clip]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "player/MediaPlayer.h"
#include "player/MpvPlayback.h"

namespace klangor {

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The window's thread as the bench runs it: work posted from any thread, and a tick every 5 ms whose
// lateness is how long the thread was held by whatever ran before it.
class WindowLoop {
public:
    void Post(std::function<void()> fnWork) {
        {
            std::lock_guard lock(m_mutex);
            m_posted.push_back(std::move(fnWork));
        }
        m_wake.notify_one();
    }
    // Runs posted work and fnTick on every tick until fnDone holds or the time is up; the worst
    // lateness of a tick meanwhile, in milliseconds (negative when the time ran out).
    double RunUntil(const std::function<bool()> &fnDone, const std::function<void()> &fnTick,
                    double dSeconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(dSeconds);
        auto nextTick = Clock::now() + kTick;
        double dWorst = 0;
        while (!fnDone()) {
            if (Clock::now() > deadline) {
                return -1;
            }
            std::function<void()> fnWork;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait_until(lock, nextTick, [&] { return !m_posted.empty(); });
                if (!m_posted.empty()) {
                    fnWork = std::move(m_posted.front());
                    m_posted.pop_front();
                }
            }
            if (fnWork) {
                fnWork();
                continue;
            }
            const auto now = Clock::now();
            if (now >= nextTick) {
                dWorst = std::max(dWorst, std::chrono::duration<double, std::milli>(now - nextTick).count());
                nextTick = now + kTick;
                fnTick();
            }
        }
        return dWorst;
    }

private:
    static constexpr std::chrono::milliseconds kTick{5};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_posted;
};

class BenchWindow : public IPlayerWindow {
public:
    explicit BenchWindow(WindowLoop &loop) : m_loop(loop) {}
    void ShowErrorBox(const std::string &strCaption, const std::string &strText) override {
        std::fprintf(stderr, "%s: %s", strCaption.c_str(), strText.c_str());
    }
    VideoRect GetControlRect(int) override { return VideoRect{0, 0, 480, 270}; }
    void ShowAndActivate() override {}
    void RepaintNow() override {}
    void InvalidateAll() override {}
    void SetKeyboardFocus() override {}
    void PostGraphNotify() override {
        m_loop.Post([this] {
            GraphEvent event;
            while (m_pPlayer && m_pPlayer->GetGraphEvent(event)) {
                if (m_fnOnEvent) {
                    m_fnOnEvent(event);
                }
            }
        });
    }

    MediaPlayer *m_pPlayer = nullptr;
    std::function<void(const GraphEvent &)> m_fnOnEvent;

private:
    WindowLoop &m_loop;
};

// Waits for pictures published by the rendering thread.
class FrameWaiter {
public:
    explicit FrameWaiter(VideoSurface &surface) : m_surface(surface) {
        surface.SetChangeCallback([this] {
            std::lock_guard lock(m_mutex);
            m_changed.notify_all();
        });
    }
    ~FrameWaiter() { m_surface.SetChangeCallback({}); }
    bool WaitPast(uint64_t nSerial, double dSeconds) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::duration<double>(dSeconds),
                                  [&] { return m_surface.GetFrameSerial() > nSerial; });
    }

private:
    VideoSurface &m_surface;
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

long PositionNow(MediaPlayer &player) {
    long lPosition = -1;
    player.GetCurrentPosition(lPosition);
    return lPosition;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

}  // namespace klangor

using namespace klangor;

int main(int argc, char **argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const std::string strClip = (folder / "klangor-bench-720p-10min.mp4").string();
    if (!std::filesystem::exists(strClip)) {
        std::printf("making %s ...\n", strClip.c_str());
        const std::string strCommand =
            "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=1280x720:r=25:d=600 "
            "-f lavfi -i sine=f=440:r=48000:d=600 -c:v libx264 -preset ultrafast -pix_fmt yuv420p "
            "-c:a aac -b:a 96k '" +
            strClip + "'";
        if (std::system(strCommand.c_str()) != 0) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
    }
    WindowLoop loop;
    BenchWindow window(loop);
    MediaPlayer player(window, 1037, std::make_unique<MpvPlaybackEngine>(MpvEngineOptions{"null"}));
    window.m_pPlayer = &player;
    FrameWaiter waiter(player.GetVideoSurface());
    auto none = [] {};

    // Opening: from LoadClip to the first picture drawn and the open ended, the window's loop running.
    std::vector<double> firstFrame;
    double dOpenStall = 0;
    for (int i = 0; i < 7; ++i) {
        const uint64_t nSerial = player.GetVideoSurface().GetFrameSerial();
        const auto start = Clock::now();
        loop.Post([&] { player.LoadClip(strClip); });
        const double dStall = loop.RunUntil(
            [&] {
                return !player.IsOpening() && player.IsClipLoaded() &&
                       player.GetVideoSurface().GetFrameSerial() > nSerial;
            },
            none, 10.0);
        if (dStall < 0) {
            std::fprintf(stderr, "no picture after LoadClip\n");
            return 1;
        }
        dOpenStall = std::max(dOpenStall, dStall);
        firstFrame.push_back(Milliseconds(start));
    }
    std::printf(
        "LoadClip to open and first picture: median %.1f ms, best %.1f ms, worst %.1f ms (%zu runs)\n",
        Median(firstFrame), *std::min_element(firstFrame.begin(), firstFrame.end()),
        *std::max_element(firstFrame.begin(), firstFrame.end()), firstFrame.size());
    std::printf("worst window-thread stall while opening: %.1f ms\n", dOpenStall);

    player.StopClip();
    std::mt19937 random(7);
    std::uniform_int_distribution<long> position(0, static_cast<long>(player.GetClipInfo().nDuration) - 100);
    // libmpv reports the end of a seek (playback restarted at the target) as its own event.
    const long lRestarted = kEventEngine + 21;
    int nRestarts = 0;
    window.m_fnOnEvent = [&](const GraphEvent &event) { nRestarts += event.lCode == lRestarted ? 1 : 0; };

    // Seeking: a burst of 15 seeks 20 ms apart (as a drag sends them), then until the last has landed.
    int nSeeks = 0;
    int nTicks = 0;
    long lLast = -1;
    const auto seekStart = Clock::now();
    const double dSeekStall =
        loop.RunUntil([&] { return nSeeks == 15 && nRestarts > 0 && PositionNow(player) == lLast; },
                      [&] {
                          if (nSeeks < 15 && ++nTicks % 4 == 0) {
                              lLast = position(random);
                              player.SetPosition(lLast);
                              nRestarts = 0;
                              ++nSeeks;
                          }
                      },
                      10.0);
    std::printf("15 seeks 20 ms apart until the last landed: %.1f ms; worst window-thread stall: %.1f ms\n",
                Milliseconds(seekStart), dSeekStall);

    // Stepping: ten steps 80 ms apart on the held clip.
    int nSteps = 0;
    nTicks = 0;
    const double dStepStall = loop.RunUntil([&] { return nSteps == 10; },
                                            [&] {
                                                if (++nTicks % 16 == 0) {
                                                    player.StepFrame();
                                                    ++nSteps;
                                                }
                                            },
                                            10.0);
    std::printf("worst window-thread stall while stepping (10 steps): %.1f ms\n", dStepStall);
    window.m_pPlayer = nullptr;
    return dOpenStall < 0 || dSeekStall < 0 || dStepStall < 0 ? 1 : 0;
}

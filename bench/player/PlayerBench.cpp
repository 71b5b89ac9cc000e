// Prints how long the preview takes from LoadClip to its first drawn picture and how long a seek takes
// until the picture at the new position is drawn, on a 10-minute 720p H.264 clip with AAC sound made
// with the ffmpeg command. Usage: player_bench [folder for the test clip]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "player/MediaPlayer.h"
#include "player/MpvPlayback.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class BenchWindow : public IPlayerWindow {
public:
    void ShowErrorBox(const std::string &strCaption, const std::string &strText) override {
        std::fprintf(stderr, "%s: %s", strCaption.c_str(), strText.c_str());
    }
    VideoRect GetControlRect(int) override { return VideoRect{0, 0, 480, 270}; }
    void ShowAndActivate() override {}
    void RepaintNow() override {}
    void InvalidateAll() override {}
    void SetKeyboardFocus() override {}
    void PostGraphNotify() override {}
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

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
    BenchWindow window;
    MediaPlayer player(window, 1037, std::make_unique<MpvPlaybackEngine>(MpvEngineOptions{"null"}));
    FrameWaiter waiter(player.GetVideoSurface());

    std::vector<double> firstFrame;
    for (int i = 0; i < 7; ++i) {
        const uint64_t nSerial = player.GetVideoSurface().GetFrameSerial();
        const auto start = Clock::now();
        if (player.LoadClip(strClip) != kPlaybackOk || !waiter.WaitPast(nSerial, 5.0)) {
            std::fprintf(stderr, "no picture after LoadClip\n");
            return 1;
        }
        firstFrame.push_back(Milliseconds(start));
    }
    std::printf("LoadClip to first picture: median %.1f ms, best %.1f ms, worst %.1f ms (%zu runs)\n",
                Median(firstFrame), *std::min_element(firstFrame.begin(), firstFrame.end()),
                *std::max_element(firstFrame.begin(), firstFrame.end()), firstFrame.size());

    player.StopClip();
    std::mt19937 random(7);
    std::uniform_int_distribution<long> position(0, static_cast<long>(player.GetClipInfo().nDuration) - 100);
    std::vector<double> seekCall;
    std::vector<double> seekDone;
    // libmpv reports the end of a seek (playback restarted at the target) as its own event.
    const long lRestarted = kEventEngine + 21;
    for (int i = 0; i < 15; ++i) {
        const long lTarget = position(random);
        const auto start = Clock::now();
        player.SetPosition(lTarget);
        seekCall.push_back(Milliseconds(start));
        bool bRestarted = false;
        while (!bRestarted && Milliseconds(start) < 5000) {
            GraphEvent event;
            while (player.GetGraphEvent(event)) {
                bRestarted = bRestarted || event.lCode == lRestarted;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        const uint64_t nSerial = player.GetVideoSurface().GetFrameSerial();
        if (!bRestarted || (!waiter.WaitPast(nSerial - 1, 5.0))) {
            std::fprintf(stderr, "the seek did not finish\n");
            return 1;
        }
        seekDone.push_back(Milliseconds(start));
        long lNow = -1;
        player.GetCurrentPosition(lNow);
        if (lNow != lTarget) {
            std::fprintf(stderr, "seek to %ld landed at %ld\n", lTarget, lNow);
        }
    }
    std::printf("seek (paused, exact) until SetPosition returns: median %.1f ms, worst %.1f ms\n",
                Median(seekCall), *std::max_element(seekCall.begin(), seekCall.end()));
    std::printf(
        "seek (paused, exact) until playback restarted at the target and its picture drawn: median %.1f ms, "
        "best %.1f ms, worst %.1f ms (%zu seeks)\n",
        Median(seekDone), *std::min_element(seekDone.begin(), seekDone.end()),
        *std::max_element(seekDone.begin(), seekDone.end()), seekDone.size());
    return 0;
}

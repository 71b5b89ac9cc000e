#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "clips/MediaPlayer.h"
#include "support/MediaFactory.h"

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
    VideoRect GetControlRect(int iControlId) override {
        lastControlId = iControlId;
        return hostRect;
    }
    void ShowAndActivate() override { ++nShows; }
    void RepaintNow() override { ++nRepaints; }
    void InvalidateAll() override { ++nInvalidates; }
    void SetKeyboardFocus() override { ++nFocus; }
    void PostGraphNotify() override { ++nNotifies; }

    std::vector<Box> boxes;
    VideoRect hostRect{0, 0, 320, 240};
    int lastControlId = 0;
    int nShows = 0;
    int nRepaints = 0;
    int nInvalidates = 0;
    int nFocus = 0;
    std::atomic<int> nNotifies{0};
};

// Polls until the condition holds or the time is up; the player's pending events are drained meanwhile
// (as the window would on each notification) and handed to onEvent.
inline bool WaitUntil(MediaPlayer &player, const std::function<bool()> &fnDone, double dSeconds = 5.0,
                      const std::function<void(const GraphEvent &)> &fnOnEvent = {}) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(dSeconds);
    for (;;) {
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
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

inline long PositionOf(MediaPlayer &player) {
    long lPosition = -1;
    player.GetCurrentPosition(lPosition);
    return lPosition;
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

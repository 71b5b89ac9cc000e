#pragma once

#include <cstdint>
#include <optional>

namespace klangor {

// Where a playback stands, from the things that tell it: the engine's reported time, the target of a
// seek that has not landed yet (sent without waiting, it still reports where playback came from), the
// target of a seek made while held (an audio output reports what it has buffered minus its latency,
// which on a held clip can trail the target for good), and the last place seen (a playback stopped on a
// damaged stream reports no time at all, and must not fail every poll). Media time throughout. Window thread
// only.
class PlaybackPosition {
public:
    void SetDuration(int64_t llDuration) { m_llDuration = llDuration; }

    // A seek to llTarget has been sent; until it lands, and while held, the target is the position.
    void OnSeek(int64_t llTarget, bool bHeld);
    // The last seek sent has landed (playback restarted there).
    void OnLanded();
    // Playback runs or steps: the engine's time counts again, once a seek under way has landed.
    void OnMoving();

    // The position now, from the engine's time when it has one (none: unavailable) and whether the
    // playback is held.
    int64_t Read(std::optional<double> dEngineSeconds, bool bHeld);

private:
    int64_t m_llDuration = 0;
    int64_t m_llLast = 0;
    std::optional<int64_t> m_llHeld;
    bool m_bLanding = false;
    bool m_bHeldSeek = false;
};

}  // namespace klangor

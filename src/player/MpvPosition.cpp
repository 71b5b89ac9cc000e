#include "player/MpvPosition.h"

#include <algorithm>
#include <cmath>

#include "player/PlaybackGraph.h"

void PlaybackPosition::OnSeek(int64_t llTarget, bool bHeld) {
    if (bHeld) {
        m_llHeld = llTarget;
    } else {
        m_llHeld.reset();
    }
}

int64_t PlaybackPosition::Read(std::optional<double> dEngineSeconds, bool bHeld) {
    if (m_llHeld) {
        if (bHeld) {
            m_llLast = *m_llHeld;
            return m_llLast;
        }
        m_llHeld.reset();
    }
    if (dEngineSeconds) {
        const int64_t llTime = std::llround(*dEngineSeconds * static_cast<double>(kMediaTimePerSecond));
        m_llLast = std::clamp<int64_t>(llTime, 0, std::max<int64_t>(m_llDuration, 0));
    }
    return m_llLast;
}

#include "player/MpvPosition.h"

#include <algorithm>
#include <cmath>

#include "player/PlaybackGraph.h"

namespace klangor {

void PlaybackPosition::OnSeek(int64_t llTarget, bool bHeld) {
    m_llHeld = llTarget;
    m_bLanding = true;
    m_bHeldSeek = bHeld;
}

void PlaybackPosition::OnLanded() {
    m_bLanding = false;
    if (!m_bHeldSeek) {
        m_llHeld.reset();
    }
}

void PlaybackPosition::OnMoving() {
    m_bHeldSeek = false;
    if (!m_bLanding) {
        m_llHeld.reset();
    }
}

int64_t PlaybackPosition::Read(std::optional<double> dEngineSeconds, bool bHeld) {
    if (m_llHeld) {
        if (m_bLanding || (bHeld && m_bHeldSeek)) {
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

}  // namespace klangor

#include "player/MpvEvents.h"

#include <mpv/client.h>

namespace klangor {

static_assert(MpvEventTranslator::kEndEof == static_cast<int>(MPV_END_FILE_REASON_EOF) &&
              MpvEventTranslator::kEndStop == static_cast<int>(MPV_END_FILE_REASON_STOP) &&
              MpvEventTranslator::kEndQuit == static_cast<int>(MPV_END_FILE_REASON_QUIT) &&
              MpvEventTranslator::kEndError == static_cast<int>(MPV_END_FILE_REASON_ERROR) &&
              MpvEventTranslator::kEndRedirect == static_cast<int>(MPV_END_FILE_REASON_REDIRECT));

std::optional<GraphEvent> MpvEventTranslator::OnEofReached(bool bEof) {
    if (m_bLost) {
        return std::nullopt;
    }
    // Only the rising edge: a seek back clears the flag, and reaching the end again completes again.
    const bool bReached = bEof && !m_bEofReached;
    m_bEofReached = bEof;
    if (!bReached) {
        return std::nullopt;
    }
    return GraphEvent{kEventComplete, 0, 0};
}

std::optional<GraphEvent> MpvEventTranslator::OnEndFile(int iReason, int iError) {
    if (m_bLost) {
        return std::nullopt;
    }
    switch (iReason) {
        case kEndError:
            return GraphEvent{kEventErrorAbort, iError, 0};
        case kEndEof:
            return GraphEvent{kEventComplete, 0, 0};
        default:
            m_bLost = true;
            return GraphEvent{kEventEndedElsewhere, iReason, 0};
    }
}

std::optional<GraphEvent> MpvEventTranslator::OnShutdown() {
    if (m_bLost) {
        return std::nullopt;
    }
    m_bLost = true;
    return GraphEvent{kEventEndedElsewhere, kEndQuit, 0};
}

std::optional<GraphEvent> MpvEventTranslator::OnOther(long lEngineId) {
    if (m_bLost) {
        return std::nullopt;
    }
    return GraphEvent{kEventEngine + lEngineId, 0, 0};
}

}  // namespace klangor

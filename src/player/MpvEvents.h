#pragma once

#include <cstdint>
#include <optional>

#include "player/PlaybackGraph.h"

namespace klangor {

// How a playback turns libmpv's events into the player's graph events. Two roads lead to "complete":
// the eof-reached flag rising (the clip held at its stop position or at the end of the file) and a
// file end for the end of the stream. A file end for any other reason (stopped, replaced or quit from
// outside, through the inspection socket) is no completion: the playback is then lost, and nothing it
// reports afterwards is taken as ours. Window thread only; no libmpv call is made here.
class MpvEventTranslator {
public:
    // libmpv's end-file reasons, by their numbers in its interface.
    static constexpr int kEndEof = 0;
    static constexpr int kEndStop = 2;
    static constexpr int kEndQuit = 3;
    static constexpr int kEndError = 4;
    static constexpr int kEndRedirect = 5;

    std::optional<GraphEvent> OnEofReached(bool bEof);
    std::optional<GraphEvent> OnEndFile(int iReason, int iError);
    std::optional<GraphEvent> OnShutdown();
    // Any other engine notice, passed on under kEventEngine + its id.
    std::optional<GraphEvent> OnOther(long lEngineId);

    bool IsLost() const { return m_bLost; }
    // A playback that failed to open: whatever its file still reports is nobody's event.
    void Lose() { m_bLost = true; }

private:
    bool m_bEofReached = false;
    bool m_bLost = false;
};

}  // namespace klangor

#pragma once

#include <functional>
#include <string>

#include "clips/ClipInfo.h"
#include "common/BackgroundTasks.h"

namespace klangor {

// The loaded clip's selection and the cut-info record that keeps it beside the media file. Records are
// read and written on a thread of their own, one at a time in the order asked for, so a slow disk
// never holds the window; what comes back runs through the poster on the owner's thread. Owner's thread
// only, apart from the record work itself.
class ClipSelection {
public:
    // fnWriteFailed gets the file-system error text of a record that could not be written.
    ClipSelection(BackgroundTasks::Poster post, std::function<void(const std::string &)> fnWriteFailed);

    const std::string &GetPath() const { return m_strPath; }
    const ClipInfo &GetInfo() const { return m_info; }

    // Another clip (or none, for an empty path): every record read still under way for the last one is
    // dropped when it comes back.
    void Begin(const std::string &strPath);
    void SetInfo(const ClipInfo &info) { m_info = info; }
    void SetTrack(uint32_t nTrack) { m_info.nTrack = nTrack; }

    // -1 leaves a bound unchanged; the selection collapses to one point rather than turn inside out.
    // Compared as signed numbers, as the selection is handled everywhere in memory.
    void Set(long lStart, long lEnd);

    // Reads this clip's record; fnDone(bFound, stored) follows on the owner's thread, unless another
    // clip has begun meanwhile.
    void ReadRecord(std::function<void(bool, const ClipInfo &)> fnDone);
    // Writes the selection as it is now behind the writes before it; false when there is no clip.
    bool WriteRecord();
    // Waits for every record read and write asked for so far; for the program's end and for tests.
    void Drain() { m_tasks.Drain(); }

private:
    std::function<void(const std::string &)> m_fnWriteFailed;
    std::string m_strPath;
    ClipInfo m_info;
    unsigned m_nClip = 0;
    BackgroundTasks m_tasks;  // last: its thread goes before what its results reach
};

}  // namespace klangor

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace klangor {

// What reading one list entry's audio tracks needs, taken on the window's thread when its menu is asked
// for: the file, and the track the preview plays when that file is the loaded clip (otherwise the
// choice is read from the file's record).
struct AudioTrackProbe {
    std::string strPath;
    std::optional<uint32_t> nLoadedTrack;
};

// What the audio-track menu of one list entry offers: the best track (0) and each track of the file,
// the one in force checked; or, when there is nothing to choose, the reason in strMessage.
struct AudioTrackMenu {
    struct Entry {
        uint32_t nTrack = 0;
        std::string strLabel;
        bool bChecked = false;
    };
    std::vector<Entry> entries;
    std::string strMessage;
};

// Reads the file's tracks and, for a file not loaded, its record. It can take seconds on a slow disk
// (it gives up after a few), so it runs off the window's thread; it touches nothing but the files.
AudioTrackMenu ProbeAudioTrackMenu(const AudioTrackProbe &probe);

}  // namespace klangor

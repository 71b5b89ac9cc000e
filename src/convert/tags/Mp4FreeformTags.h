#pragma once

#include <string>
#include <utility>
#include <vector>

namespace klangor {

// Adds iTunes-style freeform texts ("----" atoms named com.apple.iTunes:NAME, such as
// replaygain_track_gain) to the tag list of a finished MP4 file whose movie atom comes last, as our
// muxer writes it: the movie atom grows at the end of the file, so no sample offset moves. Written by
// our own checked writes. False when the file is not laid out so or a byte could not be written; the
// file must then not be kept.
bool AddMp4FreeformTexts(const std::string &strPath,
                         const std::vector<std::pair<std::string, std::string>> &texts);

}  // namespace klangor

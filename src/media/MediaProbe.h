#pragma once

#include <string>

namespace klangor {

// Whether a file's first bytes are those of a container or stream FFmpeg reads, or of a MIDI song: a
// quick look for walking a folder, so that its documents and pictures are passed over without a
// failure each. A file it cannot read is no media.
bool LooksLikeMedia(const std::string &strPath);

}  // namespace klangor

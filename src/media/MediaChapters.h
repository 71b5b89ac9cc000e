#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace klangor {

// A chapter a media file's container marks: MP4/M4B chapters, Matroska editions, MP3 CHAP frames, Ogg
// CHAPTERxx comments, as FFmpeg reads them.
struct MediaChapter {
    int64_t llStartNs = 0;
    int64_t llEndNs = 0;
    std::string strTitle;  // UTF-8; empty when the chapter has none
};

// The file's chapters in order of their start, those that begin no later than the one before left out.
// Empty for a file without chapters, or one that cannot be read (its conversion says why).
std::vector<MediaChapter> ReadMediaChapters(const std::string &strPath);

}  // namespace klangor

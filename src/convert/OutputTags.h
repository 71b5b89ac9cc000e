#pragma once

#include <string>

#include "convert/MediaTags.h"

// Writes a source's tags into a finished output file, before it gets its final name: an ID3v2.3 tag in
// front of an MP3 (Latin-1 text where it suffices, UTF-16 where not, so that old players read it too) with
// the cover as its front-cover picture, or a RIFF LIST/INFO chunk in a WAV file (UTF-8 text). The audio
// and an MP3's Xing/Info frame with its gapless fields stay as they are. Nothing is written when the tags
// are empty. False when the file could not be rewritten; it must then not be kept.
bool WriteMp3Tags(const std::string &strPath, const MediaTags &tags);
bool WriteWavTags(const std::string &strPath, const MediaTags &tags);

#pragma once

#include <string>

#include "media/MediaTags.h"

namespace klangor {

class ConversionJob;

// The tags the job's output gets: none when it writes none, else the source's for the track, with a
// part's own title, number, album and artist over them.
MediaTags TagsForJob(const ConversionJob &job, int nTrack);

// Writes a source's tags into a finished MP3 file, before it gets its final name: an ID3v2.3 tag in front
// of the stream (Latin-1 text where it suffices, UTF-16 where not, so that old players read it too) with
// the cover as its front-cover picture. The audio and the Xing/Info frame with its gapless fields stay as
// they are. TagLib only renders the tag; it is put in place by our own checked writes, since TagLib's file
// layer reports success on a full disk. Nothing is written when the tags are empty. False when any byte
// could not be written; the file must then not be kept.
bool WriteMp3Tags(const std::string &strPath, const MediaTags &tags);

// The RIFF LIST/INFO chunk of a WAV file that carries the tags' texts (UTF-8, each NUL-ended and padded
// to an even size), to be written in front of the data chunk; empty when there is no text.
std::string RenderWavInfoChunk(const MediaTags &tags);

}  // namespace klangor

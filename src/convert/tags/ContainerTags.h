#pragma once

#include "media/MediaTags.h"
#include "settings/OutputFormat.h"

struct AVDictionary;
struct AVFormatContext;

namespace klangor {

// A source's tags as a libavformat output of the given format carries them: the texts for its
// dictionary (Vorbis comments in Ogg, atoms in MP4), ReplayGain where the format has a field for it,
// and in Ogg the cover as a FLAC picture comment.
void SetContainerTags(AVDictionary **ppDict, OutputFormat format, const MediaTags &tags);

// The cover as an attached-picture stream, for the formats that carry it that way (FLAC, MP4, MP3);
// its one packet is the stream's attached_pic, to be written after the header. A picture whose size
// cannot be read is left out rather than failing the file. False only when out of memory.
bool AddCoverStream(AVFormatContext *pFormat, OutputFormat format, const MediaTags &tags);

}  // namespace klangor

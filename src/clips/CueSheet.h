#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace klangor {

// One part a cue sheet marks in a media file: where its INDEX 01 lies, and what the sheet calls it.
struct CueTrack {
    int64_t llStartNs = 0;  // from the start of the media file
    std::string strTitle;
    std::string strPerformer;
};

// What a cue sheet says about one media file, its texts in UTF-8.
struct CueSheet {
    std::string strTitle;  // the sheet's own TITLE and PERFORMER: the album's
    std::string strPerformer;
    std::vector<CueTrack> tracks;  // the file's, each starting after the one before
};

// The largest cue sheet read: a real one is a few kilobytes.
inline constexpr size_t kMostCueSheetBytes = 1 << 20;

// The cue sheet beside a media file: "talk.flac.cue", else "talk.cue", in any case of ".cue". Empty
// when there is none.
std::string FindCueSheetFor(const std::string &strMediaPath);

// A cue sheet's bytes as UTF-8: UTF-16 with a byte-order mark; otherwise, where strEncoding names an
// encoding (as iconv knows it), in that one; UTF-8 with or without a mark as it is; and anything else
// in the encoding it is found to be written in (cp1251, Shift-JIS, GBK, Big5 and the like), or as
// Latin-1 where none is found. Bytes the encoding has no character for become U+FFFD.
std::string CueTextToUtf8(const std::string &strBytes, const std::string &strEncoding = {});

// Whether strName is an encoding a cue sheet can be read in.
bool IsKnownTextEncoding(const std::string &strName);

// Takes the tracks of strMediaName (a file name, no folder) from a cue sheet's bytes: those of the FILE
// line that names it in any case, else of the one naming a file of the same stem ("album.wav" for
// "album.flac"), else, when the sheet names a single file, that file's. False, with the reason in
// strError, when no track of the file has an INDEX 01.
// strEncoding as for CueTextToUtf8.
bool ParseCueSheet(const std::string &strBytes, const std::string &strMediaName, CueSheet &sheet,
                   std::string &strError, const std::string &strEncoding = {});

// Reads and parses the sheet at strCuePath for the media file strMediaName.
bool ReadCueSheet(const std::string &strCuePath, const std::string &strMediaName, CueSheet &sheet,
                  std::string &strError, const std::string &strEncoding = {});

}  // namespace klangor

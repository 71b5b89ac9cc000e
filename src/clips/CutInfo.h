#pragma once

#include <cstdint>
#include <string>

#include "clips/ClipInfo.h"

namespace klangor {

// The owner word that marks a cut-info file as ours.
inline constexpr const char *CutInfoOwner = "Vellumar";

// The media file's path with ".clipinfo" appended to the whole name.
std::string CutInfoPath(const std::string &mediaPath);

// Reads the selection kept beside the media file. True only when the file is ours; then the numbers are
// stored as far as the record holds them (a record that stops after the duration sets only the duration).
// Otherwise the outputs are untouched. Nothing is ever reported: a missing file is an ordinary case.
// *pnTrack, when given, gets the record's fourth number, the chosen audio track (0 when it has none).
bool ReadCutInfo(const std::string &mediaPath, uint32_t &nDuration, uint32_t &nStart, uint32_t &nEnd,
                 uint32_t *pnTrack = nullptr);

// Writes the selection and the chosen track (the fourth number, 0 for the best track) beside the media
// file, replacing the file as a whole (see ReplaceFileContents: atomic where the folder allows it, in
// place where only the file is writable, through symbolic links, keeping mode and owner).
// On failure nothing changes, the result is false and *pstrError (when given) holds the file-system
// error text naming the cut-info path, for the caller to show.
bool WriteCutInfo(const std::string &mediaPath, const ClipInfo &info, std::string *pstrError = nullptr);

// The file-system error text for an errno value, "%1" replaced by the path.
std::string FileErrorText(int iErrno, const std::string &strPath);

}  // namespace klangor

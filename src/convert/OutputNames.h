#pragma once

#include <string>

namespace klangor {

// The longest file name (one path component) written, in bytes: what Linux file systems allow.
inline constexpr size_t kMostFileNameBytes = 255;

// A text made fit for a file name: characters that file systems or common players refuse (/ \ : * ? " <
// > | and control characters) become '_', and so do leading dots; cut to at most nMostBytes bytes on a
// character's boundary, without trailing spaces or dots.
std::string FileNameSafe(const std::string &strText, size_t nMostBytes = kMostFileNameBytes);

// "03" for part 3 of 12: as wide as the count.
std::string PartNumber(int n, int nCount);

// The output of part n of nCount of a divided source, beside the whole source's output strWholePath:
// "DIR/talk.avi.mp3" gives "DIR/talk.avi - 03 - Title.mp3", the number as wide as the count's, the
// title left out when empty; never more than kMostFileNameBytes in its name.
std::string PartOutputPath(const std::string &strWholePath, int n, int nCount, const std::string &strTitle);

}  // namespace klangor

#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace klangor {

// ffmpeg's decode of a file's first audio track, its first channel as 32-bit float, for comparing a
// cut with its source sample by sample. strFilters run on the decode first ("atrim=start_pts=0").
std::vector<float> DecodeFirstChannel(const std::string &strPath, const std::string &strFilters = "");

// Where in the source the cut's samples from nFrom on (nCount of them) match best, relative to the
// source's frame nExpected + nFrom: 0 when the cut starts at nExpected. Offsets within ±nWindow are tried.
long BestOffset(const std::vector<float> &source, const std::vector<float> &cut, size_t nExpected,
                size_t nFrom, size_t nCount, long nWindow);

// The cut's samples from nFrom on against the source's from nExpected + nFrom, to the cut's end: the
// largest difference, and the signal-to-difference ratio in dB.
float MaxDifference(const std::vector<float> &source, const std::vector<float> &cut, size_t nExpected,
                    size_t nFrom);
double SignalToDifferenceDb(const std::vector<float> &source, const std::vector<float> &cut, size_t nExpected,
                            size_t nFrom);

// The checksums of the file's first audio track's packets, in order (ffmpeg's framemd5 of a copy).
std::vector<std::string> PacketChecksums(const std::string &strPath);

}  // namespace klangor

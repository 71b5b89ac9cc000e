#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace klangor {

// Closes the stream, then frees the buffer it was given (when it was given one of ours).
struct FileCloser {
    std::unique_ptr<char[]> pBuffer;
    void operator()(FILE *pFile) const { std::fclose(pFile); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// A nameless scratch file for one part of a file encoded in parts, in the output's folder (so a
// killed process leaves nothing behind), or in the system's temporary folder where that folder cannot
// hold one. Null when neither can.
FilePtr CreateScratchFile(const std::string &strOutputPath);

// A pipe, a device or a link to one: written or read as a stream, never rewound.
bool IsStreamFile(const std::string &strPath);

}  // namespace klangor

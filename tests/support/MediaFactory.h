#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace klangor {

// Makes small, deterministic media files with the ffmpeg command in a temporary folder and checks
// results with independent tools (ffprobe, ffmpeg's own raw decodes). Failures throw std::runtime_error,
// which GoogleTest reports as a failed test with the tool's message.
struct CommandResult {
    int iExitStatus = -1;   // exit status, or -1 when the program did not end normally
    std::string strStdout;  // binary-safe
    std::string strStderr;
};

// Runs a program (looked up in PATH) with the given arguments, no shell in between.
CommandResult RunCommand(const std::vector<std::string> &args);

class MediaFactory {
public:
    const std::filesystem::path &Dir() const { return m_dir.Path(); }
    std::string PathOf(const std::string &strName) const { return (m_dir.Path() / strName).string(); }

    // Runs "ffmpeg -y <inputArgs> <outputArgs> DIR/name" and returns the file's path.
    std::string Make(const std::string &strName, const std::vector<std::string> &inputArgs,
                     const std::vector<std::string> &outputArgs);

    // A tone of the given length whose channels each carry their own frequency (so a channel swap or a
    // wrong pick shows), encoded with codecArgs. With bVideo a small test picture is added as a video
    // stream (video codec from codecArgs or the container's default).
    std::string MakeTone(const std::string &strName, double dSeconds, int iSampleRate, int iChannels,
                         const std::vector<std::string> &codecArgs, bool bVideo = false);

    // A file with the given bytes.
    std::string MakeRaw(const std::string &strName, const std::string &strBytes);

private:
    TempDir m_dir;
};

// The first audio stream decoded by ffmpeg as 16-bit interleaved little-endian PCM. extraArgs go before
// the output (for example {"-ac", "2"}).
std::string DecodeS16(const std::string &strPath, const std::vector<std::string> &extraArgs = {});

// ffprobe's view of one stream ("a:0" by default): codec_name, sample_rate, channels, bit_rate, ...
std::map<std::string, std::string> ProbeStream(const std::string &strPath,
                                               const std::string &strStream = "a:0");

// ffprobe's format section: format_name, duration, ...
std::map<std::string, std::string> ProbeFormat(const std::string &strPath);

// The whole file's bytes.
std::string ReadFileBytes(const std::string &strPath);

// The names in a folder, sorted: what a user listing it would see.
std::vector<std::string> FileNamesIn(const std::filesystem::path &folder);

}  // namespace klangor

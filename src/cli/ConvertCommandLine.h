#pragma once

#include <string>
#include <vector>

#include "convert/batch/Loudness.h"
#include "convert/batch/OutputNames.h"
#include "settings/EncoderSettings.h"
#include "settings/OutputFormat.h"
#include "settings/SplitSettings.h"

namespace klangor {

inline constexpr int kMaxConvertJobs = 256;
inline constexpr int kMaxConvertTrack = 999;
inline constexpr int kMaxShards = 100000;

// What klangor-convert was asked to do.
struct ConvertOptions {
    std::string strOutputFolder;
    std::string strSoundFont;  // the instrument bank for MIDI files; empty: the usual search
    OutputFormat format = OutputFormat::Mp3;
    bool bQuiet = false;
    bool bHelp = false;
    bool bVersion = false;
    int nJobs = 0;   // files converted at once; 0: one per processor
    int nTrack = 0;  // the audio track of every file; 0: as its cut-info record chose (or the best)
    bool bNoTags = false;
    double dSplitAfterSeconds = 30.0;  // longer MP3 and FLAC files are encoded in parts; 0 never
    EncoderSettings settings;
    LoudnessTarget loudness;
    SplitSettings split;
    bool bListSplits = false;  // print each file's parts instead of converting
    std::string strNameTemplate = kDefaultNameTemplate;
    bool bSkipExisting = false;
    bool bDryRun = false;       // print what would be written, write nothing
    bool bRecursive = false;    // folders among the files are walked for media
    bool bFollowLinks = false;  // the walk follows links to folders
    std::string strFilesFrom;   // more files, one a line (NUL-separated with bNulSeparated); "-" stdin
    bool bNulSeparated = false;
    int nShardIndex = 0;  // with nShardCount > 1: only the files whose index modulo it is this
    int nShardCount = 1;
    std::string strReport;  // a JSON line per file written here; empty: none
    std::vector<std::string> files;
};

// Parses the arguments after the program name. strDefaultFolder is used when -o is not given. False on
// a usage error, with a one-line strError that names the option and, for a bad value, what it allows.
bool ParseConvertCommandLine(const std::vector<std::string> &args, const std::string &strDefaultFolder,
                             ConvertOptions &options, std::string &strError);

// The --help text.
std::string ConvertUsageText();

}  // namespace klangor

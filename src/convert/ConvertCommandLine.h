#pragma once

#include <string>
#include <vector>

#include "settings/EncoderSettings.h"

inline constexpr int kMaxConvertJobs = 256;

// What klangor-convert was asked to do.
struct ConvertOptions {
    std::string strOutputFolder;
    bool bWav = false;
    bool bQuiet = false;
    bool bHelp = false;
    bool bVersion = false;
    int nJobs = 0;  // files converted at once; 0: one per processor
    double dSplitAfterSeconds = 30.0;  // longer MP3 files are encoded in parts on spare processors; 0 never
    EncoderSettings settings;
    std::vector<std::string> files;
};

// Parses the arguments after the program name. strDefaultFolder is used when -o is not given. False on
// a usage error, with a one-line strError that names the option and, for a bad value, what it allows.
bool ParseConvertCommandLine(const std::vector<std::string> &args, const std::string &strDefaultFolder,
                             ConvertOptions &options, std::string &strError);

// The --help text.
std::string ConvertUsageText();

#include "cli/ConvertCommandLine.h"

#include "clips/CueSheet.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <optional>

namespace klangor {

namespace {

// The names an option value may take besides its list's labels and numbers.
struct ValueName {
    const char *szName;
    int32_t iValue;
};

bool EqualsIgnoringCase(const std::string &a, const std::string &b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// A value given as one of the list's numbers, one of its labels, or one of the extra names.
bool LookUpValue(const std::string &strText, const SettingChoice *pChoices, int nCount,
                 const std::vector<ValueName> &names, bool bNumbersAreValues, int32_t &iValue) {
    for (const ValueName &name : names) {
        if (EqualsIgnoringCase(strText, name.szName)) {
            iValue = name.iValue;
            return true;
        }
    }
    for (int i = 0; i < nCount; ++i) {
        if (EqualsIgnoringCase(strText, pChoices[i].szLabel) ||
            (bNumbersAreValues && strText == std::to_string(pChoices[i].iValue))) {
            iValue = pChoices[i].iValue;
            return true;
        }
    }
    return false;
}

std::string AllowedValues(const SettingChoice *pChoices, int nCount, const std::vector<ValueName> &names,
                          bool bNumbersAreValues) {
    std::string strText;
    for (const ValueName &name : names) {
        strText += (strText.empty() ? "" : ", ") + std::string(name.szName);
    }
    if (bNumbersAreValues) {
        for (int i = 0; i < nCount; ++i) {
            if (std::none_of(names.begin(), names.end(),
                             [&](const ValueName &name) { return name.iValue == pChoices[i].iValue; })) {
                strText += (strText.empty() ? "" : ", ") + std::to_string(pChoices[i].iValue);
            }
        }
    }
    return strText;
}

struct ValueOption {
    const char *szName;
    const SettingChoice *pChoices;
    int nCount;
    std::vector<ValueName> names;
    bool bNumbersAreValues;
    std::atomic<int32_t> EncoderSettings::*pField;
};

const std::vector<ValueName> kQualityNames = {{"0", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4},
                                              {"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}, {"9", 9}};

const std::vector<ValueOption> &ValueOptions() {
    static const std::vector<ValueOption> options = {
        {"--samplerate",
         kSampleRateChoices,
         kSampleRateCount,
         {{"auto", 0}},
         true,
         &EncoderSettings::m_iSampleRate},
        {"--quality", kQualityChoices, kQualityCount, kQualityNames, false, &EncoderSettings::m_iQuality},
        {"--mode",
         kChannelModeChoices,
         kChannelModeCount,
         {{"stereo", kChannelModeStereo},
          {"joint", kChannelModeJointStereo},
          {"dual", kChannelModeDualChannel},
          {"mono", kChannelModeMono}},
         false,
         &EncoderSettings::m_iChannelMode},
        {"--mono-source",
         kMonoSourceChoices,
         kMonoSourceCount,
         {{"merge", kMonoSourceMerge}, {"left", kMonoSourceLeft}, {"right", kMonoSourceRight}},
         false,
         &EncoderSettings::m_iMonoSource},
        {"--vbr-min", kBitrateChoices, kBitrateCount, {}, true, &EncoderSettings::m_iVbrMinBitrate},
        {"--vbr-max", kBitrateChoices, kBitrateCount, {}, true, &EncoderSettings::m_iVbrMaxBitrate},
        {"--vbr-quality", kQualityChoices, kQualityCount, kQualityNames, false,
         &EncoderSettings::m_iVbrQuality},
    };
    return options;
}

struct FlagOption {
    const char *szName;
    std::function<void(ConvertOptions &)> apply;
};

const std::vector<FlagOption> &FlagOptions() {
    static const std::vector<FlagOption> options = {
        {"--mp3", [](ConvertOptions &o) { o.format = OutputFormat::Mp3; }},
        {"--wav", [](ConvertOptions &o) { o.format = OutputFormat::Wav; }},
        {"--quiet", [](ConvertOptions &o) { o.bQuiet = true; }},
        {"-q", [](ConvertOptions &o) { o.bQuiet = true; }},
        {"--help", [](ConvertOptions &o) { o.bHelp = true; }},
        {"-h", [](ConvertOptions &o) { o.bHelp = true; }},
        {"--version", [](ConvertOptions &o) { o.bVersion = true; }},
        {"--copyright", [](ConvertOptions &o) { o.settings.m_bCopyright = 1; }},
        {"--no-original", [](ConvertOptions &o) { o.settings.m_bOriginal = 0; }},
        {"--crc", [](ConvertOptions &o) { o.settings.m_bCrc = 1; }},
        {"--private", [](ConvertOptions &o) { o.settings.m_bPrivate = 1; }},
        {"--vbr", [](ConvertOptions &o) { o.settings.m_iVbrMode = kVbrModeOn; }},
        {"--no-vbr-header", [](ConvertOptions &o) { o.settings.m_bWriteVbrHeader = 0; }},
        {"--no-tags", [](ConvertOptions &o) { o.bNoTags = true; }},
        {"--replaygain", [](ConvertOptions &o) { o.loudness.bReplayGain = true; }},
        {"--list-splits", [](ConvertOptions &o) { o.bListSplits = true; }},
        {"--skip-existing", [](ConvertOptions &o) { o.bSkipExisting = true; }},
        {"--dry-run", [](ConvertOptions &o) { o.bDryRun = true; }},
        {"-r", [](ConvertOptions &o) { o.bRecursive = true; }},
        {"--recursive", [](ConvertOptions &o) { o.bRecursive = true; }},
        {"--follow-links", [](ConvertOptions &o) { o.bFollowLinks = true; }},
        {"-0", [](ConvertOptions &o) { o.bNulSeparated = true; }},
        {"--null", [](ConvertOptions &o) { o.bNulSeparated = true; }},
    };
    return options;
}

// A whole number from nMin to nMax.
bool ParseIntIn(const std::string &strText, int32_t nMin, int32_t nMax, int32_t &iValue) {
    char *pEnd = nullptr;
    const long nValue = std::strtol(strText.c_str(), &pEnd, 10);
    if (strText.empty() || pEnd != strText.c_str() + strText.size() || nValue < nMin || nValue > nMax) {
        return false;
    }
    iValue = static_cast<int32_t>(nValue);
    return true;
}

struct RangeOption {
    const char *szName;
    int32_t nMin;
    int32_t nMax;
    std::atomic<int32_t> EncoderSettings::*pField;
};

const RangeOption kRangeOptions[] = {
    {"--compression", kFlacCompressionMin, kFlacCompressionMax, &EncoderSettings::m_iFlacCompression},
    {"--vorbis-quality", kVorbisQualityMin, kVorbisQualityMax, &EncoderSettings::m_iVorbisQuality},
};

std::string RangeError(const std::string &strValue, const std::string &strName, int32_t nMin, int32_t nMax,
                       const std::string &strFor = {}) {
    return "invalid value '" + strValue + "' for " + strName + strFor + " (allowed: " + std::to_string(nMin) +
           " to " + std::to_string(nMax) + ")";
}

// The options that take seconds or decibels for splitting, with their ranges.
struct SplitNumberOption {
    const char *szName;
    double dMin;
    double dMax;
    const char *szUnit;
    double SplitSettings::*pField;
};

const SplitNumberOption kSplitNumberOptions[] = {
    {"--silence-threshold", kSilenceThresholdMin, kSilenceThresholdMax, "dBFS", &SplitSettings::dThresholdDb},
    {"--silence-length", kSilenceSecondsMin, kSplitSecondsMax, "seconds", &SplitSettings::dSilenceSeconds},
    {"--least-part", 0.0, kSplitSecondsMax, "seconds", &SplitSettings::dLeastPartSeconds},
    {"--snap-to-silence", 0.0, kSplitSecondsMax, "seconds", &SplitSettings::dSnapSeconds},
};

std::string NumberText(double d) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "%g", d);
    return szText;
}

// The bitrate means what the format makes of it, whichever of -f and --bitrate came first.
bool ApplyBitrate(const std::string &strValue, ConvertOptions &options, std::string &strError) {
    if (options.format == OutputFormat::Opus || options.format == OutputFormat::Aac) {
        const bool bOpus = options.format == OutputFormat::Opus;
        const int32_t nMin = bOpus ? kOpusBitrateMin : kAacBitrateMin;
        const int32_t nMax = bOpus ? kOpusBitrateMax : kAacBitrateMax;
        int32_t iValue = 0;
        if (!ParseIntIn(strValue, nMin, nMax, iValue)) {
            strError = RangeError(strValue, "--bitrate", nMin, nMax, bOpus ? " with opus" : " with aac");
            return false;
        }
        (bOpus ? options.settings.m_iOpusBitrate : options.settings.m_iAacBitrate) = iValue;
        return true;
    }
    int32_t iValue = 0;
    if (!LookUpValue(strValue, kBitrateChoices, kBitrateCount, {}, true, iValue)) {
        strError = "invalid value '" + strValue +
                   "' for --bitrate (allowed: " + AllowedValues(kBitrateChoices, kBitrateCount, {}, true) +
                   ")";
        return false;
    }
    options.settings.m_iBitrate = iValue;
    return true;
}

}  // namespace

bool ParseConvertCommandLine(const std::vector<std::string> &args, const std::string &strDefaultFolder,
                             ConvertOptions &options, std::string &strError) {
    options.strOutputFolder = strDefaultFolder;
    bool bOptionsEnded = false;
    std::optional<std::string> bitrate;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &strArg = args[i];
        if (bOptionsEnded || strArg.empty() || strArg[0] != '-' || strArg == "-") {
            options.files.push_back(strArg);
            continue;
        }
        if (strArg == "--") {
            bOptionsEnded = true;
            continue;
        }
        // "--name=value" or "--name value".
        std::string strName = strArg;
        std::string strValue;
        bool bHasInlineValue = false;
        if (const size_t nEq = strArg.find('='); strArg.rfind("--", 0) == 0 && nEq != std::string::npos) {
            strName = strArg.substr(0, nEq);
            strValue = strArg.substr(nEq + 1);
            bHasInlineValue = true;
        }
        const auto takeValue = [&]() {
            if (bHasInlineValue) {
                return true;
            }
            if (i + 1 >= args.size()) {
                strError = strName + " needs a value";
                return false;
            }
            strValue = args[++i];
            return true;
        };

        if (const auto flag = std::find_if(FlagOptions().begin(), FlagOptions().end(),
                                           [&](const FlagOption &o) { return strName == o.szName; });
            flag != FlagOptions().end()) {
            if (bHasInlineValue) {
                strError = strName + " takes no value";
                return false;
            }
            flag->apply(options);
            continue;
        }
        if (strName == "-j" || strName == "--jobs" || strName == "--track") {
            if (!takeValue()) {
                return false;
            }
            const bool bDigits = !strValue.empty() && strValue.size() <= 4 &&
                                 std::all_of(strValue.begin(), strValue.end(), [](char c) {
                                     return std::isdigit(static_cast<unsigned char>(c));
                                 });
            const int nValue = bDigits ? std::stoi(strValue) : 0;
            const int nMax = strName == "--track" ? kMaxConvertTrack : kMaxConvertJobs;
            if (nValue < 1 || nValue > nMax) {
                strError = "invalid value '" + strValue + "' for " + strName + " (allowed: 1 to " +
                           std::to_string(nMax) + ")";
                return false;
            }
            (strName == "--track" ? options.nTrack : options.nJobs) = nValue;
            continue;
        }
        if (strName == "-f" || strName == "--format") {
            if (!takeValue()) {
                return false;
            }
            if (!ParseOutputFormatName(strValue, options.format)) {
                strError = "invalid value '" + strValue + "' for " + strName +
                           " (allowed: " + OutputFormatNames() + ")";
                return false;
            }
            continue;
        }
        if (strName == "--bitrate") {
            if (!takeValue()) {
                return false;
            }
            bitrate = strValue;
            continue;
        }
        if (const auto range = std::find_if(std::begin(kRangeOptions), std::end(kRangeOptions),
                                            [&](const RangeOption &o) { return strName == o.szName; });
            range != std::end(kRangeOptions)) {
            if (!takeValue()) {
                return false;
            }
            int32_t iValue = 0;
            if (!ParseIntIn(strValue, range->nMin, range->nMax, iValue)) {
                strError = RangeError(strValue, strName, range->nMin, range->nMax);
                return false;
            }
            (options.settings.*(range->pField)) = iValue;
            continue;
        }
        if (strName == "--normalize") {
            // The target is optional, so it is only ever taken from "--normalize=LUFS": a following
            // argument is a file.
            options.loudness.bNormalize = true;
            options.loudness.dTargetLufs = kLoudnessTargetDefault;
            if (bHasInlineValue) {
                char *pEnd = nullptr;
                const double dTarget = std::strtod(strValue.c_str(), &pEnd);
                if (strValue.empty() || pEnd != strValue.c_str() + strValue.size() ||
                    !std::isfinite(dTarget) || dTarget < kLoudnessTargetMin || dTarget > kLoudnessTargetMax) {
                    strError = "invalid value '" + strValue + "' for --normalize (allowed: -31 to -5 LUFS)";
                    return false;
                }
                options.loudness.dTargetLufs = dTarget;
            }
            continue;
        }
        if (strName == "--split") {
            if (!takeValue()) {
                return false;
            }
            if (!ParseSplitChoice(strValue, options.split)) {
                strError = "invalid value '" + strValue + "' for --split " +
                           (strValue.rfind("every=", 0) == 0
                                ? "(every= takes " + NumberText(kEverySecondsMin) + " to " +
                                      NumberText(kSplitSecondsMax) + " seconds)"
                                : std::string("(allowed: chapters, cue, cue=FILE, silence, every=SECONDS)"));
                return false;
            }
            continue;
        }
        if (strName == "--cue-encoding") {
            if (!takeValue()) {
                return false;
            }
            if (!IsKnownTextEncoding(strValue)) {
                strError = "unknown encoding '" + strValue +
                           "' for --cue-encoding (for example cp1251, SHIFT_JIS, GBK, BIG5, LATIN1)";
                return false;
            }
            options.split.strCueEncoding = strValue;
            continue;
        }
        if (const auto number = std::find_if(std::begin(kSplitNumberOptions), std::end(kSplitNumberOptions),
                                             [&](const SplitNumberOption &o) { return strName == o.szName; });
            number != std::end(kSplitNumberOptions)) {
            if (!takeValue()) {
                return false;
            }
            char *pEnd = nullptr;
            const double dValue = std::strtod(strValue.c_str(), &pEnd);
            if (strValue.empty() || pEnd != strValue.c_str() + strValue.size() || !std::isfinite(dValue) ||
                dValue < number->dMin || dValue > number->dMax) {
                strError = "invalid value '" + strValue + "' for " + strName +
                           " (allowed: " + NumberText(number->dMin) + " to " + NumberText(number->dMax) +
                           " " + number->szUnit + ")";
                return false;
            }
            options.split.*(number->pField) = dValue;
            continue;
        }
        if (strName == "--name") {
            if (!takeValue()) {
                return false;
            }
            std::string strWhy;
            if (!CheckNameTemplate(strValue, strWhy)) {
                strError = "invalid value '" + strValue + "' for --name: " + strWhy;
                return false;
            }
            options.strNameTemplate = strValue;
            continue;
        }
        if (strName == "--files-from" || strName == "--report") {
            if (!takeValue()) {
                return false;
            }
            if (strValue.empty()) {
                strError = strName + " needs a file name";
                return false;
            }
            (strName == "--report" ? options.strReport : options.strFilesFrom) = strValue;
            continue;
        }
        if (strName == "--shard") {
            if (!takeValue()) {
                return false;
            }
            const size_t nSlash = strValue.find('/');
            int32_t nIndex = -1;
            int32_t nCount = 0;
            if (nSlash == std::string::npos ||
                !ParseIntIn(strValue.substr(nSlash + 1), 1, kMaxShards, nCount) ||
                !ParseIntIn(strValue.substr(0, nSlash), 0, nCount - 1, nIndex)) {
                strError = "invalid value '" + strValue + "' for --shard (allowed: K/N, N from 1 to " +
                           std::to_string(kMaxShards) + " and K from 0 to N-1)";
                return false;
            }
            options.nShardIndex = nIndex;
            options.nShardCount = nCount;
            continue;
        }
        if (strName == "--split-after") {
            if (!takeValue()) {
                return false;
            }
            char *pEnd = nullptr;
            const double dSeconds = std::strtod(strValue.c_str(), &pEnd);
            if (strValue.empty() || pEnd != strValue.c_str() + strValue.size() || !(dSeconds >= 0.0) ||
                dSeconds > 1e6) {
                strError = "invalid value '" + strValue + "' for " + strName +
                           " (allowed: 0 to 1000000 seconds; 0 never divides)";
                return false;
            }
            options.dSplitAfterSeconds = dSeconds;
            continue;
        }
        if (strName == "-o" || strName == "--out") {
            if (!takeValue()) {
                return false;
            }
            // An empty folder would put every output at the root of the file system ("/NAME.mp3").
            if (strValue.empty()) {
                strError = strName + " needs a folder name";
                return false;
            }
            options.strOutputFolder = strValue;
            continue;
        }
        if (strName == "--soundfont") {
            if (!takeValue()) {
                return false;
            }
            options.strSoundFont = strValue;
            continue;
        }
        const auto option = std::find_if(ValueOptions().begin(), ValueOptions().end(),
                                         [&](const ValueOption &o) { return strName == o.szName; });
        if (option == ValueOptions().end()) {
            strError = "unknown option " + strName;
            return false;
        }
        if (!takeValue()) {
            return false;
        }
        int32_t iValue = 0;
        if (!LookUpValue(strValue, option->pChoices, option->nCount, option->names, option->bNumbersAreValues,
                         iValue)) {
            strError =
                "invalid value '" + strValue + "' for " + strName + " (allowed: " +
                AllowedValues(option->pChoices, option->nCount, option->names, option->bNumbersAreValues) +
                ")";
            return false;
        }
        (options.settings.*(option->pField)) = iValue;
    }
    if (bitrate && !ApplyBitrate(*bitrate, options, strError)) {
        return false;
    }
    if (options.loudness.bNormalize && options.loudness.bReplayGain) {
        // One changes the samples, the other tells the player how to: both at once would level twice.
        strError = "--normalize and --replaygain cannot be used together";
        return false;
    }
    if (options.bHelp || options.bVersion) {
        return true;
    }
    if (options.split.dSnapSeconds > 0.0 && options.split.mode != SplitMode::Every) {
        strError = "--snap-to-silence moves the points of --split every=SECONDS only";
        return false;
    }
    if (!options.split.strCueEncoding.empty() && options.split.mode != SplitMode::Cue) {
        strError = "--cue-encoding reads the sheets of --split cue only";
        return false;
    }
    if (options.bListSplits && options.split.mode == SplitMode::None) {
        strError = "--list-splits needs --split";
        return false;
    }
    if (options.files.empty() && options.strFilesFrom.empty()) {
        strError = "no input files";
        return false;
    }
    return true;
}

std::string ConvertUsageText() {
    return "Usage: klangor-convert [options] FILE...\n"
           "Writes the audio track of each media file as MP3, WAV, FLAC, Opus, AAC, ALAC or Vorbis,\n"
           "limited to the selection kept in its FILE.clipinfo beside it. Output names are\n"
           "DIR/NAME.EXT.mp3 (.wav, .flac, .opus, .m4a for AAC and ALAC, .ogg for Vorbis;\n"
           "copy keeps the source's audio packets in their codec's own file, .m4a, .ac3, ...).\n"
           "\n"
           "  -o, --out DIR          output folder (default $HOME/VellumarMP3, created when missing)\n"
           "  -f, --format FORMAT    mp3, wav, flac, opus, aac, alac, vorbis or copy (default mp3)\n"
           "      --mp3              write MP3 files (the same as --format mp3)\n"
           "      --wav              write WAV files, 16-bit PCM (the same as --format wav)\n"
           "  -j, --jobs N           convert N files at once (default: one per processor);\n"
           "                         --jobs 1 converts one file after the other\n"
           "      --track N          convert the N-th audio track of every file (a file with fewer\n"
           "                         fails); by default the track chosen in the window, else the best\n"
           "      --no-tags          copy neither the source's tags nor its cover into the outputs\n"
           "      --normalize[=LUFS] bring each output to this integrated loudness, -31 to -5\n"
           "                         (default -16): the file is measured first, then converted\n"
           "                         with one gain, lowered so the true peak stays at -1 dBTP or\n"
           "                         below; silence is left as it is\n"
           "      --replaygain       leave the samples as they are and write each output's ReplayGain\n"
           "                         track gain and peak into its tag instead (MP3, FLAC, Vorbis,\n"
           "                         M4A; Opus gets R128_TRACK_GAIN; WAV gets none)\n"
           "      --split-after SEC  a file longer than this (any format but WAV, Vorbis and copy) is\n"
           "                         encoded in parts by the workers that are free and joined into\n"
           "                         one stream; the parts follow from the file alone, so --jobs\n"
           "                         never changes the bytes written (default 30; 0 never)\n"
           "      --split HOW        one output per part of each file: chapters (the container's),\n"
           "                         cue (the cue sheet NAME.cue beside it, or cue=FILE), silence\n"
           "                         (split in the middle of each pause), every=SECONDS; outputs\n"
           "                         are named NAME - NN - TITLE.EXT and tagged with the part's\n"
           "                         title and number; a file with nothing to split at is\n"
           "                         converted whole, with a note\n"
           "      --cue-encoding NAME  read cue sheets that are not UTF-8 or UTF-16 as NAME (cp1251,\n"
           "                         SHIFT_JIS, GBK, BIG5, LATIN1, ...) instead of the encoding\n"
           "                         they are found to be in\n"
           "      --silence-threshold DB  below this level is silence (default -35 dBFS)\n"
           "      --silence-length SEC    a pause lasts at least this long (default 1)\n"
           "      --least-part SEC   a shorter part joins its neighbour (default 5)\n"
           "      --snap-to-silence SEC  move each every=SECONDS point to the quietest moment\n"
           "                         within SEC of it\n"
           "      --list-splits      print each file's parts (start, end, title); write nothing\n"
           "  -r, --recursive        walk folders given as FILE for their media files, in path\n"
           "                         order; the outputs mirror the tree under the output folder\n"
           "      --follow-links     follow links to folders while walking (a loop is detected)\n"
           "      --files-from LIST  also convert the files named in LIST, one a line ('-' reads\n"
           "                         standard input)\n"
           "  -0, --null             the names in LIST end with NUL instead of a line end\n"
           "      --name TEMPLATE    name outputs by fields: {name} {stem} {ext} {title} {artist}\n"
           "                         {album} {track} {date} {n} {N} {part} {part_title};\n"
           "                         {title|stem} falls back to another field, {artist|Unknown}\n"
           "                         to text (default {name}.{ext})\n"
           "      --skip-existing    skip a file whose output is already there\n"
           "      --shard K/N        convert only the files whose place in the list, from 0, is K\n"
           "                         modulo N: N machines share one library\n"
           "      --dry-run          print each file's output, or why it is skipped; write nothing\n"
           "      --report FILE      write one JSON object a file: source, output, status, reason,\n"
           "                         seconds, bytes\n"
           "  -q, --quiet            no progress and no per-file lines\n"
           "  -h, --help             show this text\n"
           "      --version          show the program's version\n"
           "      --soundfont FILE   General MIDI instrument bank (.sf2/.sf3) for MIDI files (default:\n"
           "                         $KLANGOR_SOUNDFONT, else the system's FluidR3_GM or TimGM6mb bank)\n"
           "\n"
           "MP3 settings:\n"
           "      --samplerate HZ    auto, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000\n"
           "                         (default auto)\n"
           "      --bitrate KBPS     320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56, 48, 40, 32\n"
           "                         (default 128; at most 64 when the output rate is 12000 Hz or less);\n"
           "                         with --format opus 6 to 510 (default 128, variable bitrate at\n"
           "                         48 kHz), with --format aac 32 to 320 (default 192)\n"
           "      --quality 0-9      encoder quality, 0 best and slowest (default 2)\n"
           "      --mode MODE        stereo, joint, dual, mono (default joint)\n"
           "      --mono-source SRC  merge, left, right: what mono mode keeps (default merge)\n"
           "      --copyright        set the copyright bit\n"
           "      --no-original      clear the original bit\n"
           "      --crc              protect every frame with a CRC\n"
           "      --private          set the private bit\n"
           "      --vbr              variable bitrate\n"
           "      --no-vbr-header    write no VBR header frame\n"
           "      --vbr-min KBPS     lowest VBR bitrate (default 128)\n"
           "      --vbr-max KBPS     highest VBR bitrate (default 128)\n"
           "      --vbr-quality 0-9  VBR quality, 0 best (default 2)\n"
           "\n"
           "FLAC, Vorbis settings (FLAC and ALAC keep the source's depth, 16 or 24 bits):\n"
           "      --compression 0-8  FLAC compression level, 8 smallest and slowest (default 5)\n"
           "      --vorbis-quality Q Vorbis quality, -1 to 10, 10 best (default 5)\n"
           "\n"
           "Values may also be given as the settings dialog's labels, such as \"44,100 Hz\" or \"128 "
           "Kbps\".\n"
           "Ctrl-C stops: the files being converted are finished short, the rest are not written.\n"
           "Exit status: 0 all converted, 1 some file failed, 2 usage error, 130 stopped.\n";
}

}  // namespace klangor

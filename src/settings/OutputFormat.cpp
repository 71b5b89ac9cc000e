#include "settings/OutputFormat.h"

namespace klangor {

const OutputFormatInfo kOutputFormats[kOutputFormatCount] = {
    {OutputFormat::Mp3, "mp3", ".mp3", "MP3"},
    {OutputFormat::Wav, "wav", ".wav", "WAV"},
    {OutputFormat::Flac, "flac", ".flac", "FLAC (lossless)"},
    {OutputFormat::Opus, "opus", ".opus", "Opus"},
    {OutputFormat::Aac, "aac", ".m4a", "AAC (M4A)"},
    {OutputFormat::Alac, "alac", ".m4a", "ALAC (M4A, lossless)"},
    {OutputFormat::Vorbis, "vorbis", ".ogg", "Ogg Vorbis"},
    {OutputFormat::Copy, "copy", "", "Original audio (copied)"},
};

const OutputFormatInfo &InfoOf(OutputFormat format) {
    for (const OutputFormatInfo &info : kOutputFormats) {
        if (info.format == format) {
            return info;
        }
    }
    return kOutputFormats[0];
}

bool ParseOutputFormatName(const std::string &strName, OutputFormat &format) {
    for (const OutputFormatInfo &info : kOutputFormats) {
        if (strName == info.szName) {
            format = info.format;
            return true;
        }
    }
    return false;
}

std::string OutputFormatNames() {
    std::string strNames;
    for (const OutputFormatInfo &info : kOutputFormats) {
        if (!strNames.empty()) {
            strNames += ", ";
        }
        strNames += info.szName;
    }
    return strNames;
}

OutputFormat OutputFormatOf(int iOutputType) {
    for (const OutputFormatInfo &info : kOutputFormats) {
        if (static_cast<int>(info.format) == iOutputType) {
            return info.format;
        }
    }
    return OutputFormat::Mp3;
}

}  // namespace klangor

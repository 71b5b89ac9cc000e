#pragma once

#include <cstdint>
#include <string>

namespace klangor {

// What a batch writes. The values are the output type numbers the window's MP3 and WAV buttons have
// always used (0 and 1), the newer formats following them.
enum class OutputFormat : int32_t {
    Mp3 = 0,
    Wav = 1,
    Flac = 2,
    Opus = 3,
    Aac = 4,
    Alac = 5,
    Vorbis = 6,
    Copy = 7
};

inline constexpr int kOutputFormatCount = 8;

// One output format: its command-line name, the extension its files get (after the source's own
// name; a copy's depends on the source's codec), and the label the settings dialog shows.
struct OutputFormatInfo {
    OutputFormat format;
    const char *szName;
    const char *szExtension;
    const char *szLabel;
};

extern const OutputFormatInfo kOutputFormats[kOutputFormatCount];

const OutputFormatInfo &InfoOf(OutputFormat format);
// The format of a command-line name ("flac"); false when no format has that name.
bool ParseOutputFormatName(const std::string &strName, OutputFormat &format);
// The names joined for a usage error: "mp3, wav, flac, ...".
std::string OutputFormatNames();
// An output type number as the window and the batch pass it; anything unknown is MP3.
OutputFormat OutputFormatOf(int iOutputType);

// The ranges and defaults of the newer formats' settings.
inline constexpr int32_t kFlacCompressionMin = 0;
inline constexpr int32_t kFlacCompressionMax = 8;
inline constexpr int32_t kFlacCompressionDefault = 5;
inline constexpr int32_t kOpusBitrateMin = 6;
inline constexpr int32_t kOpusBitrateMax = 510;
inline constexpr int32_t kOpusBitrateDefault = 128;
inline constexpr int32_t kAacBitrateMin = 32;
inline constexpr int32_t kAacBitrateMax = 320;
inline constexpr int32_t kAacBitrateDefault = 192;
inline constexpr int32_t kVorbisQualityMin = -1;
inline constexpr int32_t kVorbisQualityMax = 10;
inline constexpr int32_t kVorbisQualityDefault = 5;

}  // namespace klangor

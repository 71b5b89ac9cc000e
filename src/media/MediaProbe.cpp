#include "media/MediaProbe.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/AudioDecoder.h"

namespace klangor {

namespace {

// Enough for the headers of every common container; MP3 frames after a large ID3 tag are found by
// skipping the tag first.
constexpr size_t kProbeBytes = 64 * 1024;

// The size of an ID3v2 tag at the start, 0 for none.
size_t Id3Size(const unsigned char *pBytes, size_t nBytes) {
    if (nBytes < 10 || std::memcmp(pBytes, "ID3", 3) != 0) {
        return 0;
    }
    return 10 + ((pBytes[6] & 0x7Fu) << 21 | (pBytes[7] & 0x7Fu) << 14 | (pBytes[8] & 0x7Fu) << 7 |
                 (pBytes[9] & 0x7Fu));
}

}  // namespace

bool LooksLikeMedia(const std::string &strPath) {
    if (IsMidiFile(strPath)) {
        return true;
    }
    std::FILE *pFile = std::fopen(strPath.c_str(), "rbe");
    if (!pFile) {
        return false;
    }
    std::vector<unsigned char> bytes(kProbeBytes + AVPROBE_PADDING_SIZE, 0);
    size_t nRead = std::fread(bytes.data(), 1, kProbeBytes, pFile);
    const size_t nTag = Id3Size(bytes.data(), nRead);
    if (nTag > 0 && nTag < SIZE_MAX / 2 && std::fseek(pFile, static_cast<long>(nTag), SEEK_SET) == 0) {
        // An MP3 with a large cover: its frames come after the tag.
        nRead = std::fread(bytes.data(), 1, kProbeBytes, pFile);
        std::memset(bytes.data() + nRead, 0, AVPROBE_PADDING_SIZE);
    }
    std::fclose(pFile);
    if (nRead == 0) {
        return false;
    }
    AVProbeData probe{};
    probe.filename = "";
    probe.buf = bytes.data();
    probe.buf_size = static_cast<int>(nRead);
    int iScore = 0;
    // By content alone: a name's extension says nothing of what is inside.
    const AVInputFormat *pFormat = av_probe_input_format3(&probe, 1, &iScore);
    // FFmpeg itself still reads a file it finds with the retry score, warning of it.
    if (pFormat == nullptr || iScore < AVPROBE_SCORE_RETRY) {
        return false;
    }
    // Pictures, subtitles and metadata are read by FFmpeg too, but have no sound to take.
    const std::string strName = pFormat->name;
    for (const char *szSilent :
         {"image2", "ffmetadata", "srt", "ass", "webvtt", "subviewer", "microdvd", "lrc"}) {
        if (strName == szSilent) {
            return false;
        }
    }
    return strName.size() < 5 || strName.compare(strName.size() - 5, 5, "_pipe") != 0;
}

}  // namespace klangor

#include "convert/tags/ContainerTags.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/base64.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace klangor {

namespace {

void PutBe32(std::string &strOut, uint32_t n) {
    for (int i = 3; i >= 0; --i) {
        strOut.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    }
}

// The cover as Ogg files carry it: a FLAC PICTURE block (front cover), base64 in a comment.
std::string PictureComment(const MediaTags &tags) {
    std::string strBlock;
    PutBe32(strBlock, 3);
    PutBe32(strBlock, static_cast<uint32_t>(tags.strCoverMime.size()));
    strBlock += tags.strCoverMime;
    PutBe32(strBlock, 0);  // no description
    for (int i = 0; i < 4; ++i) {
        PutBe32(strBlock, 0);  // size and depth unknown, which readers allow
    }
    PutBe32(strBlock, static_cast<uint32_t>(tags.cover.size()));
    strBlock.append(reinterpret_cast<const char *>(tags.cover.data()), tags.cover.size());
    std::string strBase64(AV_BASE64_SIZE(strBlock.size()), '\0');
    av_base64_encode(strBase64.data(), static_cast<int>(strBase64.size()),
                     reinterpret_cast<const uint8_t *>(strBlock.data()), static_cast<int>(strBlock.size()));
    strBase64.resize(std::strlen(strBase64.c_str()));
    return strBase64;
}

// The ReplayGain gain as an Opus R128 gain: Q7.8 dB relative to -23 LUFS, 5 dB below ReplayGain's
// reference.
std::string R128Gain(const std::string &strReplayGain) {
    const double dGain = std::strtod(strReplayGain.c_str(), nullptr) - 5.0;
    const long nQ78 = std::lround(std::clamp(dGain * 256.0, -32768.0, 32767.0));
    return std::to_string(nQ78);
}

uint32_t Be(const std::vector<uint8_t> &bytes, size_t nAt, int nBytes) {
    uint32_t n = 0;
    for (int i = 0; i < nBytes; ++i) {
        n = (n << 8) | bytes[nAt + static_cast<size_t>(i)];
    }
    return n;
}

// A JPEG's or PNG's width and height, which the muxers want for a picture stream; false when the
// picture does not tell them.
bool PictureSize(const std::vector<uint8_t> &bytes, bool bPng, int &nWidth, int &nHeight) {
    if (bPng) {
        if (bytes.size() < 24) {
            return false;
        }
        nWidth = static_cast<int>(Be(bytes, 16, 4));
        nHeight = static_cast<int>(Be(bytes, 20, 4));
        return nWidth > 0 && nHeight > 0;
    }
    size_t nAt = 2;
    while (nAt + 9 <= bytes.size() && bytes[nAt] == 0xFF) {
        const uint8_t marker = bytes[nAt + 1];
        const bool bFrameHeader =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (bFrameHeader) {
            nHeight = static_cast<int>(Be(bytes, nAt + 5, 2));
            nWidth = static_cast<int>(Be(bytes, nAt + 7, 2));
            return nWidth > 0 && nHeight > 0;
        }
        nAt += 2 + Be(bytes, nAt + 2, 2);
    }
    return false;
}

}  // namespace

void SetContainerTags(AVDictionary **ppDict, OutputFormat format, const MediaTags &tags) {
    const std::pair<const char *, const std::string *> texts[] = {
        {"title", &tags.strTitle},     {"artist", &tags.strArtist},
        {"album", &tags.strAlbum},     {"album_artist", &tags.strAlbumArtist},
        {"date", &tags.strDate},       {"track", &tags.strTrack},
        {"disc", &tags.strDisc},       {"genre", &tags.strGenre},
        {"comment", &tags.strComment}, {"composer", &tags.strComposer},
    };
    for (const auto &[szKey, pText] : texts) {
        if (!pText->empty()) {
            av_dict_set(ppDict, szKey, pText->c_str(), 0);
        }
    }
    const bool bMp4 = format == OutputFormat::Aac || format == OutputFormat::Alac;
    if (!tags.strLanguage.empty() && !bMp4) {
        av_dict_set(ppDict, "LANGUAGE", tags.strLanguage.c_str(), 0);
    }
    if (!tags.strReplayGainGain.empty()) {
        if (format == OutputFormat::Opus) {
            av_dict_set(ppDict, "R128_TRACK_GAIN", R128Gain(tags.strReplayGainGain).c_str(), 0);
        } else if (!bMp4) {
            av_dict_set(ppDict, "REPLAYGAIN_TRACK_GAIN", tags.strReplayGainGain.c_str(), 0);
            av_dict_set(ppDict, "REPLAYGAIN_TRACK_PEAK", tags.strReplayGainPeak.c_str(), 0);
        }
    }
    if (!tags.cover.empty() && (format == OutputFormat::Opus || format == OutputFormat::Vorbis)) {
        av_dict_set(ppDict, "METADATA_BLOCK_PICTURE", PictureComment(tags).c_str(), 0);
    }
}

bool AddCoverStream(AVFormatContext *pFormat, OutputFormat format, const MediaTags &tags) {
    const bool bAttached = format == OutputFormat::Flac || format == OutputFormat::Aac ||
                           format == OutputFormat::Alac || format == OutputFormat::Mp3;
    int nWidth = 0;
    int nHeight = 0;
    const bool bPng = tags.strCoverMime == "image/png";
    if (tags.cover.empty() || !bAttached || !PictureSize(tags.cover, bPng, nWidth, nHeight)) {
        return true;
    }
    AVStream *pCover = avformat_new_stream(pFormat, nullptr);
    if (!pCover) {
        return false;
    }
    pCover->disposition = AV_DISPOSITION_ATTACHED_PIC;
    pCover->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    pCover->codecpar->codec_id = bPng ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG;
    pCover->codecpar->width = nWidth;
    pCover->codecpar->height = nHeight;
    pCover->time_base = AVRational{1, 90000};
    av_dict_set(&pCover->metadata, "comment", "Cover (front)", 0);
    if (av_new_packet(&pCover->attached_pic, static_cast<int>(tags.cover.size())) < 0) {
        return false;
    }
    std::memcpy(pCover->attached_pic.data, tags.cover.data(), tags.cover.size());
    pCover->attached_pic.flags |= AV_PKT_FLAG_KEY;
    pCover->attached_pic.stream_index = pCover->index;
    return true;
}

}  // namespace klangor

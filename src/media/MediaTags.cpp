#include "media/MediaTags.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "media/AudioDecoder.h"
#include "media/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace klangor {

namespace {

// Covers are pictures of a few hundred kilobytes; a larger "cover" is not carried into every output.
constexpr size_t kMaxCoverBytes = 8 << 20;

// A probe that reads forever (a stalled share, a file that keeps growing) is cut off at its deadline.
struct ProbeDeadline {
    std::chrono::steady_clock::time_point deadline;
    static int Expired(void *pOpaque) {
        return std::chrono::steady_clock::now() > static_cast<ProbeDeadline *>(pOpaque)->deadline ? 1 : 0;
    }
};

FormatPtr OpenMedia(const std::string &strPath, std::string *pstrError = nullptr,
                    ProbeDeadline *pDeadline = nullptr) {
    const AVIOInterruptCB interrupt{&ProbeDeadline::Expired, pDeadline};
    int iStatus = 0;
    FormatPtr pFormat = OpenMediaFile(strPath, iStatus, pDeadline ? &interrupt : nullptr);
    if (!pFormat && pstrError) {
        *pstrError = FfmpegErrorText(iStatus);
    }
    return pFormat;
}

bool IsAudio(const AVStream *pStream) {
    return pStream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

// The stream of the n-th audio track, or the best audio stream for 0 and for a track the file lacks.
const AVStream *AudioStream(AVFormatContext *pFormat, int nTrack) {
    int nSeen = 0;
    for (unsigned i = 0; i < pFormat->nb_streams && nTrack > 0; ++i) {
        if (IsAudio(pFormat->streams[i]) && ++nSeen == nTrack) {
            return pFormat->streams[i];
        }
    }
    const int nBest = av_find_best_stream(pFormat, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    return nBest >= 0 ? pFormat->streams[nBest] : nullptr;
}

std::string Entry(const AVDictionary *pDict, const char *szKey) {
    const AVDictionaryEntry *pEntry = av_dict_get(pDict, szKey, nullptr, 0);
    return pEntry && pEntry->value ? SanitizedTagText(pEntry->value) : std::string();
}

// The container's entry, else the track's own (Ogg and FLAC keep their comments on the stream).
std::string Lookup(const AVFormatContext *pFormat, const AVStream *pStream,
                   std::initializer_list<const char *> keys) {
    for (const char *szKey : keys) {
        if (std::string strValue = Entry(pFormat->metadata, szKey); !strValue.empty()) {
            return strValue;
        }
        if (pStream) {
            if (std::string strValue = Entry(pStream->metadata, szKey); !strValue.empty()) {
                return strValue;
            }
        }
    }
    return {};
}

// "image/jpeg" or "image/png" when the bytes really are such a picture.
std::string PictureMime(const uint8_t *pData, size_t nBytes) {
    if (nBytes >= 3 && pData[0] == 0xFF && pData[1] == 0xD8 && pData[2] == 0xFF) {
        return "image/jpeg";
    }
    if (nBytes >= 8 && std::memcmp(pData, "\x89PNG\r\n\x1a\n", 8) == 0) {
        return "image/png";
    }
    return {};
}

void TakeCover(MediaTags &tags, const uint8_t *pData, size_t nBytes) {
    if (!tags.cover.empty() || !pData || nBytes == 0 || nBytes > kMaxCoverBytes) {
        return;
    }
    const std::string strMime = PictureMime(pData, nBytes);
    if (!strMime.empty()) {
        tags.strCoverMime = strMime;
        tags.cover.assign(pData, pData + nBytes);
    }
}

// Attached pictures (an MP3's APIC, an MP4's covr, a FLAC picture) first, then Matroska attachments,
// those named as covers before the rest.
void FindCover(const AVFormatContext *pFormat, MediaTags &tags) {
    for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
        const AVStream *pStream = pFormat->streams[i];
        if (pStream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
            TakeCover(tags, pStream->attached_pic.data,
                      static_cast<size_t>(std::max(pStream->attached_pic.size, 0)));
        }
    }
    for (int nPass = 0; nPass < 2 && tags.cover.empty(); ++nPass) {
        for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
            const AVStream *pStream = pFormat->streams[i];
            if (pStream->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT) {
                continue;
            }
            const std::string strName = Entry(pStream->metadata, "filename");
            if (nPass == 0 && strName.find("cover") == std::string::npos) {
                continue;
            }
            TakeCover(tags, pStream->codecpar->extradata,
                      static_cast<size_t>(std::max(pStream->codecpar->extradata_size, 0)));
        }
    }
}

bool HasVideo(const AVFormatContext *pFormat) {
    for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
        const AVStream *pStream = pFormat->streams[i];
        if (pStream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(pStream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            return true;
        }
    }
    return false;
}

std::string CodecName(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_AAC:
            return "AAC";
        case AV_CODEC_ID_AC3:
            return "AC-3";
        case AV_CODEC_ID_EAC3:
            return "E-AC-3";
        case AV_CODEC_ID_MP3:
            return "MP3";
        case AV_CODEC_ID_MP2:
            return "MP2";
        case AV_CODEC_ID_OPUS:
            return "Opus";
        case AV_CODEC_ID_VORBIS:
            return "Vorbis";
        case AV_CODEC_ID_FLAC:
            return "FLAC";
        case AV_CODEC_ID_DTS:
            return "DTS";
        case AV_CODEC_ID_TRUEHD:
            return "TrueHD";
        case AV_CODEC_ID_ALAC:
            return "ALAC";
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2:
            return "WMA";
        default:
            break;
    }
    const AVCodecDescriptor *pDescriptor = avcodec_descriptor_get(id);
    if (!pDescriptor) {
        return "audio";
    }
    std::string strName = pDescriptor->name;
    if (strName.rfind("pcm_", 0) == 0) {
        return "PCM";
    }
    for (char &c : strName) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return strName;
}

std::string ChannelsText(const AVChannelLayout &layout) {
    switch (layout.nb_channels) {
        case 1:
            return "mono";
        case 2:
            return "stereo";
        case 6:
            return "5.1";
        case 8:
            return "7.1";
        default:
            return std::to_string(layout.nb_channels) + " channels";
    }
}

std::string RateText(int nRate) {
    if (nRate % 1000 == 0) {
        return std::to_string(nRate / 1000) + " kHz";
    }
    return std::to_string(nRate / 1000) + "." + std::to_string(nRate % 1000 / 100) + " kHz";
}

// Whether the bytes are UTF-8 as Unicode defines it: shortest forms only, no UTF-16 surrogates
// (U+D800 to U+DFFF) and nothing above U+10FFFF. Such sequences are refused by the readers of the tags
// we write, so a text holding one is taken for an old 8-bit text like any other invalid byte.
bool IsValidUtf8(const std::string &strText) {
    for (size_t i = 0; i < strText.size();) {
        const auto c = static_cast<unsigned char>(strText[i]);
        size_t nLength = 1;
        // The range of the second byte; the later ones are always 0x80 to 0xBF.
        unsigned char lo = 0x80, hi = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            nLength = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            nLength = 3;
            lo = c == 0xE0 ? 0xA0 : 0x80;
            hi = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            nLength = 4;
            lo = c == 0xF0 ? 0x90 : 0x80;
            hi = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + nLength > strText.size()) {
            return false;
        }
        const auto second = static_cast<unsigned char>(strText[i + 1]);
        if (second < lo || second > hi) {
            return false;
        }
        for (size_t k = 2; k < nLength; ++k) {
            if ((static_cast<unsigned char>(strText[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += nLength;
    }
    return true;
}

}  // namespace

std::string SanitizedTagText(const std::string &strText, size_t nMaxBytes) {
    std::string strUtf8;
    if (IsValidUtf8(strText)) {
        strUtf8 = strText;
    } else {
        for (const char ch : strText) {
            const auto c = static_cast<unsigned char>(ch);
            if (c < 0x80) {
                strUtf8 += ch;
            } else {
                strUtf8 += static_cast<char>(0xC0 | (c >> 6));
                strUtf8 += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
    }
    // Control characters other than line breaks and tabs have no place in a tag; a NUL would end it.
    std::string strClean;
    for (const char ch : strUtf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 || ch == '\n' || ch == '\t') {
            strClean += ch;
        }
    }
    if (strClean.size() > nMaxBytes) {
        size_t nCut = nMaxBytes;
        while (nCut > 0 && (static_cast<unsigned char>(strClean[nCut]) & 0xC0) == 0x80) {
            --nCut;  // never in the middle of a character
        }
        strClean.resize(nCut);
    }
    return strClean;
}

MediaTags ReadMediaTags(const std::string &strPath, int nTrack) {
    MediaTags tags;
    // A named pipe or a device has been read by the conversion already: opening it again would wait
    // for a writer that is gone, or take bytes meant for someone else.
    std::error_code error;
    if (!std::filesystem::is_regular_file(strPath, error)) {
        return tags;
    }
    FormatPtr pFormat = OpenMedia(strPath);
    if (!pFormat) {
        return tags;
    }
    const AVStream *pStream = AudioStream(pFormat.get(), nTrack);
    const AVFormatContext *pCtx = pFormat.get();
    tags.strTitle = Lookup(pCtx, pStream, {"title"});
    tags.strArtist = Lookup(pCtx, pStream, {"artist", "author"});
    tags.strAlbum = Lookup(pCtx, pStream, {"album"});
    tags.strAlbumArtist = Lookup(pCtx, pStream, {"album_artist"});
    tags.strDate = Lookup(pCtx, pStream, {"date", "year", "creation_time"});
    tags.strTrack = Lookup(pCtx, pStream, {"track"});
    tags.strDisc = Lookup(pCtx, pStream, {"disc"});
    tags.strGenre = Lookup(pCtx, pStream, {"genre"});
    tags.strComment = Lookup(pCtx, pStream, {"comment", "description"});
    tags.strComposer = Lookup(pCtx, pStream, {"composer"});
    if (pStream) {
        tags.strLanguage = Entry(pStream->metadata, "language");
        if (tags.strLanguage == "und") {
            tags.strLanguage.clear();
        }
    }
    if (tags.strTitle.empty() && HasVideo(pCtx)) {
        tags.strTitle = SanitizedTagText(std::filesystem::path(strPath).stem().string());
    }
    FindCover(pCtx, tags);
    return tags;
}

std::vector<AudioTrackInfo> ListAudioTracks(const std::string &strPath) {
    std::string strError;
    return ListAudioTracks(strPath, strError);
}

std::vector<AudioTrackInfo> ListAudioTracks(const std::string &strPath, std::string &strError) {
    std::vector<AudioTrackInfo> tracks;
    strError.clear();
    std::error_code error;
    const auto status = std::filesystem::status(strPath, error);
    if (!std::filesystem::exists(status)) {
        strError = "the file was not found";
        return tracks;
    }
    if (!std::filesystem::is_regular_file(status)) {
        strError = "it is not a regular file";
        return tracks;
    }
    ProbeDeadline deadline{std::chrono::steady_clock::now() + std::chrono::seconds(5)};
    FormatPtr pFormat = OpenMedia(strPath, &strError, &deadline);
    if (!pFormat) {
        if (strError.empty()) {
            strError = "it cannot be read";
        }
        return tracks;
    }
    for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
        const AVStream *pStream = pFormat->streams[i];
        if (!IsAudio(pStream)) {
            continue;
        }
        AudioTrackInfo track;
        track.nNumber = static_cast<int>(tracks.size()) + 1;
        track.strLanguage = Entry(pStream->metadata, "language");
        if (track.strLanguage == "und") {
            track.strLanguage.clear();
        }
        track.strTitle = Entry(pStream->metadata, "title");
        track.strCodec = CodecName(pStream->codecpar->codec_id);
        track.nChannels = pStream->codecpar->ch_layout.nb_channels;
        track.nSampleRate = pStream->codecpar->sample_rate;
        std::string strWho = track.strLanguage;
        if (!track.strTitle.empty()) {
            strWho += (strWho.empty() ? "" : ", ") + track.strTitle;
        }
        track.strLabel = std::to_string(track.nNumber) + (strWho.empty() ? "" : ": " + strWho) + " \u2014 " +
                         track.strCodec + " " + ChannelsText(pStream->codecpar->ch_layout);
        if (track.nSampleRate > 0) {
            track.strLabel += ", " + RateText(track.nSampleRate);
        }
        tracks.push_back(std::move(track));
    }
    return tracks;
}

}  // namespace klangor

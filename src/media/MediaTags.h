#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace klangor {

// What a source file says about itself, as FFmpeg reads it: the texts an output file's tag carries and
// its cover picture. Every text is valid UTF-8 of a sane length, whatever the source held, and the
// picture is a JPEG or PNG or nothing.
struct MediaTags {
    std::string strTitle;
    std::string strArtist;
    std::string strAlbum;
    std::string strAlbumArtist;
    std::string strDate;
    std::string strTrack;  // "3" or "3/12"
    std::string strDisc;
    std::string strGenre;
    std::string strComment;
    std::string strComposer;
    std::string strLanguage;   // of the chosen audio track, ISO 639-2 ("fra")
    std::string strCoverMime;  // "image/jpeg" or "image/png" when there is a cover
    std::vector<uint8_t> cover;
    // ReplayGain of the output itself, not of the source: "-6.52 dB" and "0.977237" (linear true peak),
    // written as TXXX frames of an MP3's tag; empty when not asked for or the audio is silent.
    std::string strReplayGainGain;
    std::string strReplayGainPeak;
};

// One audio track of a file, for a person to choose from.
struct AudioTrackInfo {
    int nNumber = 0;  // 1 for the file's first audio track
    std::string strLanguage;
    std::string strTitle;
    std::string strCodec;  // "AAC", "AC-3", ...
    int nChannels = 0;
    int nSampleRate = 0;
    // "2: fra, Commentary — AC-3 5.1, 48 kHz"
    std::string strLabel;
};

// The tags of a source for the audio track nTrack (0: the best one, as the conversion picks it). A file
// that cannot be read gives no tags, and so does a pipe or a device, which is never opened again after
// the conversion has read it; broken entries are dropped or repaired, never passed on raw. A video
// without a title is titled after its file name without the extension.
MediaTags ReadMediaTags(const std::string &strPath, int nTrack);

// The file's audio tracks in order; empty when it cannot be read or has none.
std::vector<AudioTrackInfo> ListAudioTracks(const std::string &strPath);
// The same, for a person waiting on a menu: only regular files are opened (a pipe or a device would block
// for ever), the probe gives up after a few seconds, and strError says why a file could not be read.
std::vector<AudioTrackInfo> ListAudioTracks(const std::string &strPath, std::string &strError);

// The text as valid UTF-8 of at most nMaxBytes: bytes that are not UTF-8 are read as Latin-1, which is
// what such old tags almost always are.
std::string SanitizedTagText(const std::string &strText, size_t nMaxBytes = 1024);

}  // namespace klangor

// Cue sheets as ripping programs and people write them: encodings, line ends, FILE lines in another case
// or naming the WAV a FLAC was made from, sheets of several files, and entries that mark nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clips/CueSheet.h"

namespace klangor {

namespace {

// UTF-16 with a byte-order mark, of an ASCII or Latin-1 text.
std::string Utf16(const std::string &strText, bool bBigEndian) {
    std::string strOut = bBigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : strText) {
        const char szUnit[2] = {bBigEndian ? '\0' : c, bBigEndian ? c : '\0'};
        strOut.append(szUnit, 2);
    }
    return strOut;
}

const std::string kAlbum =
    "PERFORMER \"The Band\"\r\nTITLE \"Live\"\r\nFILE \"ALBUM.WAV\" WAVE\r\n"
    "  TRACK 01 AUDIO\r\n    TITLE \"Caf\xE9\"\r\n    INDEX 01 00:00:00\r\n"
    "  TRACK 02 AUDIO\r\n    TITLE \"Two\"\r\n    PERFORMER \"Guest\"\r\n"
    "    INDEX 00 03:10:00\r\n    INDEX 01 03:12:40\r\n";

int64_t Ns(int64_t llCueFrames) {
    return (llCueFrames * 1000000000 + 37) / 75;
}

}  // namespace

TEST(CueSheet, EveryEncodingAndLineEndGivesTheSameTracks) {
    std::string strLf = kAlbum;
    for (size_t n; (n = strLf.find("\r\n")) != std::string::npos;) {
        strLf.replace(n, 2, "\n");
    }
    std::string strUtf8 = "\xEF\xBB\xBF" + kAlbum;
    strUtf8.replace(strUtf8.find('\xE9'), 1, "\xC3\xA9");
    const std::vector<std::pair<const char *, std::string>> encodings = {
        {"Latin-1, CR LF", kAlbum},
        {"Latin-1, LF", strLf},
        {"UTF-8 with a mark", strUtf8},
        {"UTF-8 without", strUtf8.substr(3)},
        // A mark written before Latin-1 by mistake.
        {"Latin-1 behind a UTF-8 mark", "\xEF\xBB\xBF" + kAlbum},
        {"UTF-16 LE", Utf16(kAlbum, false)},
        {"UTF-16 BE", Utf16(strLf, true)},
    };
    for (const auto &[szName, strBytes] : encodings) {
        SCOPED_TRACE(szName);
        CueSheet sheet;
        std::string strError;
        ASSERT_TRUE(ParseCueSheet(strBytes, "album.flac", sheet, strError)) << strError;
        EXPECT_EQ(sheet.strTitle, "Live");
        EXPECT_EQ(sheet.strPerformer, "The Band");
        ASSERT_EQ(sheet.tracks.size(), 2u);
        EXPECT_EQ(sheet.tracks[0].strTitle, "Caf\xC3\xA9");
        EXPECT_EQ(sheet.tracks[0].llStartNs, 0);
        EXPECT_EQ(sheet.tracks[1].strTitle, "Two");
        EXPECT_EQ(sheet.tracks[1].strPerformer, "Guest");
        // INDEX 01, not the pregap's INDEX 00.
        EXPECT_EQ(sheet.tracks[1].llStartNs, Ns((3 * 60 + 12) * 75 + 40));
    }
}

TEST(CueSheet, TakesTheTracksOfTheFileItIsAskedFor) {
    const std::string strTwoFiles =
        "FILE \"a.wav\" WAVE\n TRACK 01 AUDIO\n  TITLE \"A1\"\n  INDEX 01 00:00:00\n"
        " TRACK 02 AUDIO\n  TITLE \"A2\"\n  INDEX 01 01:00:00\n"
        "FILE \"sub\\B.wav\" WAVE\n TRACK 03 AUDIO\n  TITLE \"B1\"\n  INDEX 01 00:00:00\n"
        " TRACK 04 AUDIO\n  TITLE \"B2\"\n  INDEX 01 00:30:00\n";
    struct Case {
        const char *szSheet;
        const char *szMedia;
        std::vector<std::string> titles;  // empty: refused
    };
    const std::string strOne = "FILE \"rip.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTITLE \"Only\"\n";
    const std::string strDisordered =
        "FILE \"x.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"1\"\nINDEX 01 00:10:00\nTRACK 02 AUDIO\nTITLE \"2\"\n"
        "INDEX 01 00:05:00\nTRACK 03 AUDIO\nTITLE \"3\"\nINDEX 01 00:20:75\nTRACK 04 AUDIO\nTITLE \"4\"\n"
        "INDEX 01 00:30:00\n";
    const std::string strNoFile = "TRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    for (const Case &c :
         {Case{strTwoFiles.c_str(), "b.WAV", {"B1", "B2"}}, Case{strTwoFiles.c_str(), "a.mkv", {"A1", "A2"}},
          Case{strTwoFiles.c_str(), "c.wav", {}},
          // One file named: its tracks, whatever the media is called now.
          Case{strOne.c_str(), "Concert 2019.mka", {"Only"}},
          // Starts that go back, and a frame number past 74, mark nothing.
          Case{strDisordered.c_str(), "x.wav", {"1", "4"}}, Case{strNoFile.c_str(), "x.wav", {}}}) {
        SCOPED_TRACE(std::string(c.szMedia) + " in " + c.szSheet);
        CueSheet sheet;
        std::string strError;
        const bool bParsed = ParseCueSheet(c.szSheet, c.szMedia, sheet, strError);
        EXPECT_EQ(bParsed, !c.titles.empty()) << strError;
        std::vector<std::string> titles;
        for (const CueTrack &track : sheet.tracks) {
            titles.push_back(track.strTitle);
        }
        EXPECT_EQ(titles, c.titles);
    }
}

}  // namespace klangor

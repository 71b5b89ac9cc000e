// Cue sheets as ripping programs and people write them: encodings, line ends, FILE lines in another case
// or naming the WAV a FLAC was made from, sheets of several files, and entries that mark nothing.
#include <gtest/gtest.h>

#include <iconv.h>

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

// UTF-8 text in another encoding, as a ripping program of that language writes it.
std::string Encoded(const std::string &strUtf8, const char *szEncoding) {
    const iconv_t converter = iconv_open(szEncoding, "UTF-8");
    std::string strIn = strUtf8;
    std::string strOut(strUtf8.size() * 2, '\0');
    char *pIn = strIn.data();
    char *pOut = strOut.data();
    size_t nIn = strIn.size();
    size_t nOut = strOut.size();
    const size_t nResult = iconv(converter, &pIn, &nIn, &pOut, &nOut);
    iconv_close(converter);
    EXPECT_NE(nResult, static_cast<size_t>(-1)) << szEncoding;
    strOut.resize(strOut.size() - nOut);
    return strOut;
}

// A sheet of an album whose texts are in one language.
std::string AlbumIn(const std::vector<std::string> &texts) {
    std::string strSheet = "REM GENRE Rock\r\nREM DATE 2004\r\nPERFORMER \"" + texts[0] + "\"\r\nTITLE \"" +
                           texts[1] + "\"\r\nFILE \"" + texts[1] + ".flac\" WAVE\r\n";
    for (size_t i = 2; i < texts.size(); ++i) {
        strSheet += "  TRACK 0" + std::to_string(i - 1) + " AUDIO\r\n    TITLE \"" + texts[i] +
                    "\"\r\n    PERFORMER \"" + texts[0] + "\"\r\n    INDEX 01 0" + std::to_string(i) +
                    ":00:00\r\n";
    }
    return strSheet;
}

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

// Sheets that are not UTF-8 are read in the encoding their text is in; an ASCII sheet stays as it is,
// and an encoding asked for wins over the one found.
TEST(CueSheet, EightBitAndMultibyteSheetsAreReadInTheirOwnEncoding) {
    const std::vector<std::pair<const char *, std::vector<std::string>>> albums = {
        {"CP1251",
         {"Белые ночи", "Город у реки", "Трек первый", "Дорога домой", "Осенний вальс", "Последний снег"}},
        {"SHIFT_JIS", {"山田花子", "夜の歌", "さくら色の空", "遠い街へ", "雨の日の約束", "ありがとう"}},
        {"GBK", {"张小明", "城市的夜晚", "远方的朋友", "春天来了", "我们的故事", "再见了"}},
        {"BIG5", {"陳大文", "城市的夜晚", "遠方的朋友", "春天來了", "我們的故事", "再見了"}},
        {"ASCII", {"The Band", "Live", "One", "Two", "Three", "Four"}},
    };
    for (const auto &[szEncoding, texts] : albums) {
        SCOPED_TRACE(szEncoding);
        const std::string strBytes = Encoded(AlbumIn(texts), szEncoding);
        CueSheet sheet;
        std::string strError;
        ASSERT_TRUE(ParseCueSheet(strBytes, texts[1] + ".flac", sheet, strError)) << strError;
        EXPECT_EQ(sheet.strPerformer, texts[0]);
        EXPECT_EQ(sheet.strTitle, texts[1]);
        ASSERT_EQ(sheet.tracks.size(), texts.size() - 2);
        for (size_t i = 0; i < sheet.tracks.size(); ++i) {
            EXPECT_EQ(sheet.tracks[i].strTitle, texts[i + 2]);
        }
    }
    CueSheet sheet;
    std::string strError;
    ASSERT_TRUE(ParseCueSheet(kAlbum, "album.flac", sheet, strError, "CP1251"));
    EXPECT_EQ(sheet.tracks[0].strTitle, "Caf\xD0\xB9");  // "Café"'s last byte is "й" there
    EXPECT_TRUE(IsKnownTextEncoding("cp1251"));
    EXPECT_FALSE(IsKnownTextEncoding("no-such-encoding"));
}

}  // namespace klangor

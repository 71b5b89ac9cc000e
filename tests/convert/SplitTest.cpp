// klangor-convert --split, checked with ffmpeg and ffprobe: where each source divides (its chapters, its
// cue sheet, its pauses, fixed lengths with and without snapping, inside a selection), that the parts
// join to exactly the whole, and what they are named and tagged.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/wait.h>

#include "ConvertProgram.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

constexpr size_t kFrameBytes = 4;  // 16-bit stereo, as DecodeS16 gives it

const char *const kChapters =
    ";FFMETADATA1\ntitle=Lecture\nartist=Prof\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2500\ntitle=Intro\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2500\nEND=5250\ntitle=Middle: part/two\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=5250\nEND=8000\ntitle=End\n";

// A tone with pauses at 6.0-7.5 s and 14.0-14.4 s (too short to split at), 20 s at 44.1 kHz.
const char *const kPausedTone =
    "aevalsrc=0.5*sin(2*PI*440*t)*not(between(t\\,6\\,7.5))*not(between(t\\,14\\,14.4)):s=44100:d=20";

struct Part {
    std::string strName;
    uint64_t nStart;  // frames of the source
    uint64_t nEnd;
    std::string strTitle;
    std::string strTrack;
    std::string strArtist;
};

std::string TagsOf(const std::string &strPath) {
    return RunCommand({"ffprobe", "-v", "error", "-show_entries", "format_tags=title,track,album,artist",
                       "-of", "default=noprint_wrappers=1", strPath})
        .strStdout;
}

// Each part decodes to exactly its frames of the whole; with bExact they are the whole's samples too.
void ExpectParts(const std::string &strFolder, const std::string &strWhole, const std::vector<Part> &parts,
                 bool bExact, const std::string &strAlbum = {}) {
    std::vector<std::string> names;
    for (const Part &part : parts) {
        names.push_back(part.strName);
    }
    ASSERT_EQ(FileNamesIn(strFolder), names);
    for (const Part &part : parts) {
        SCOPED_TRACE(part.strName);
        const std::string strPath = strFolder + "/" + part.strName;
        const std::string strSamples = DecodeS16(strPath, {"-ac", "2"});
        EXPECT_EQ(strSamples.size() / kFrameBytes, part.nEnd - part.nStart);
        if (bExact) {
            EXPECT_TRUE(strSamples ==
                        strWhole.substr(part.nStart * kFrameBytes, (part.nEnd - part.nStart) * kFrameBytes))
                << "not the whole's samples";
        }
        const std::string strTags = TagsOf(strPath);
        EXPECT_NE(strTags.find("TAG:title=" + part.strTitle + "\n"), std::string::npos) << strTags;
        EXPECT_NE(strTags.find("TAG:track=" + part.strTrack + "\n"), std::string::npos) << strTags;
        if (!part.strArtist.empty()) {
            EXPECT_NE(strTags.find("TAG:artist=" + part.strArtist + "\n"), std::string::npos) << strTags;
        }
        if (!strAlbum.empty()) {
            EXPECT_NE(strTags.find("TAG:album=" + strAlbum + "\n"), std::string::npos) << strTags;
        }
    }
}

}  // namespace

TEST(Split, ChaptersOfMp4AndMatroskaMakeOnePartEach) {
    MediaFactory media;
    const std::string strMeta = media.MakeRaw("chapters.txt", kChapters);
    struct Case {
        const char *szName;
        const char *szCodec;
        const char *szSelection;  // a cut-info record, or nullptr
        std::vector<uint64_t> bounds;
    };
    for (const Case &c : {Case{"lec.m4a", "alac", nullptr, {0, 110250, 231525, 352800}},
                          // 1.00 s to 6.00 s: only the parts inside, the first and last cut at its bounds.
                          Case{"lec.mkv",
                               "flac",
                               "Owner=Vellumar\r\nCutInfo=800,100,600,0;",
                               {44100, 110250, 231525, 264600}}}) {
        SCOPED_TRACE(c.szName);
        // Not through MediaFactory::Make, which leaves every metadata out, chapter titles too.
        const std::string strSource = media.PathOf(c.szName);
        ASSERT_EQ(RunCommand({"ffmpeg",
                              "-v",
                              "error",
                              "-y",
                              "-f",
                              "lavfi",
                              "-i",
                              "anoisesrc=d=8:r=44100:a=0.3:seed=7",
                              "-i",
                              strMeta,
                              "-map",
                              "0",
                              "-map_metadata",
                              "1",
                              "-map_chapters",
                              "1",
                              "-ac",
                              "2",
                              "-c:a",
                              c.szCodec,
                              strSource})
                      .iExitStatus,
                  0);
        if (c.szSelection) {
            media.MakeRaw(std::string(c.szName) + ".clipinfo", c.szSelection);
        }
        const std::string strOut = media.PathOf(std::string("out-") + c.szName);
        const CommandResult result =
            Convert({"-q", "--split", "chapters", "-f", "wav", "-o", strOut, strSource});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strName = c.szName;
        const std::vector<std::string> titles = {"Intro", "Middle: part/two", "End"};
        const std::vector<std::string> files = {" - 1 - Intro.wav", " - 2 - Middle_ part_two.wav",
                                                " - 3 - End.wav"};
        std::vector<Part> parts;
        for (size_t i = 0; i + 1 < c.bounds.size(); ++i) {
            parts.push_back({strName + files[i], c.bounds[i], c.bounds[i + 1], titles[i],
                             std::to_string(i + 1) + "/3", "Prof"});
        }
        ExpectParts(strOut, DecodeS16(strSource, {"-ac", "2"}), parts, true, "Lecture");
    }
}

TEST(Split, ACueSheetBesideTheMediaSplitsAtItsTracks) {
    MediaFactory media;
    const std::string strSource =
        media.Make("concert.wav", {"-f", "lavfi", "-i", "anoisesrc=d=9:r=44100:a=0.3:seed=3"}, {"-ac", "2"});
    // Latin-1, named after the media without its extension, naming the file in another case.
    media.MakeRaw(
        "concert.cue",
        "PERFORMER \"The Band\"\r\nTITLE \"Live\"\r\nFILE \"CONCERT.WAV\" WAVE\r\n"
        "  TRACK 01 AUDIO\r\n    TITLE \"Caf\xE9\"\r\n    INDEX 01 00:00:00\r\n"
        "  TRACK 02 AUDIO\r\n    TITLE \"Two\"\r\n    PERFORMER \"Guest\"\r\n    INDEX 01 00:03:37\r\n"
        "  TRACK 03 AUDIO\r\n    INDEX 01 00:07:00\r\n");
    const std::string strOut = media.PathOf("out");
    // Listed first: the parts and their times, and nothing written.
    const CommandResult listed = Convert({"--split", "cue", "--list-splits", "-o", strOut, strSource});
    ASSERT_EQ(listed.iExitStatus, 0) << listed.strStderr;
    EXPECT_NE(listed.strStdout.find("  2  0:00:03.493  0:00:07.000  Two\n"), std::string::npos)
        << listed.strStdout;
    EXPECT_FALSE(fs::exists(strOut));
    const CommandResult result = Convert({"-q", "--split", "cue", "-f", "flac", "-o", strOut, strSource});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    // INDEX 01 is in frames of 1/75 s: 588 samples each at 44.1 kHz.
    const uint64_t nTwo = (3 * 75 + 37) * 588;
    const uint64_t nThree = 7 * 75 * 588;
    ExpectParts(strOut, DecodeS16(strSource),
                {{"concert.wav - 1 - Caf\xC3\xA9.flac", 0, nTwo, "Caf\xC3\xA9", "1/3", "The Band"},
                 {"concert.wav - 2 - Two.flac", nTwo, nThree, "Two", "2/3", "Guest"},
                 {"concert.wav - 3.flac", nThree, 9 * 44100, "Live part 3", "3/3", "The Band"}},
                true, "Live");
}

// A multi-file sheet as a Russian rip has it, in cp1251: the file it gives one track is that track,
// named and tagged; a track that starts past its file's end is left out with a note, and the track
// before it ends with the audio.
TEST(Split, AMultiFileSheetNamesEveryTrackAndLeavesOutThosePastTheEnd) {
    MediaFactory media;
    const std::string strSide1 =
        media.Make("side1.wav", {"-f", "lavfi", "-i", "anoisesrc=d=4:r=44100:a=0.3:seed=4"}, {"-ac", "2"});
    const std::string strSide2 =
        media.Make("side2.wav", {"-f", "lavfi", "-i", "anoisesrc=d=6:r=44100:a=0.3:seed=5"}, {"-ac", "2"});
    // "Белые ночи", "Вступление", "Город", "Река", "Снег" in cp1251.
    const std::string strNights = "\xC1\xE5\xEB\xFB\xE5 \xED\xEE\xF7\xE8";
    media.MakeRaw("album.cue",
                  "PERFORMER \"" + strNights + "\"\r\nTITLE \"" + strNights +
                      "\"\r\nFILE \"side1.wav\" WAVE\r\n"
                      "  TRACK 01 AUDIO\r\n    TITLE \"\xC2\xF1\xF2\xF3\xEF\xEB\xE5\xED\xE8\xE5\"\r\n"
                      "    INDEX 01 00:00:00\r\n"
                      "FILE \"side2.wav\" WAVE\r\n"
                      "  TRACK 02 AUDIO\r\n    TITLE \"\xC3\xEE\xF0\xEE\xE4\"\r\n    INDEX 01 00:00:00\r\n"
                      "  TRACK 03 AUDIO\r\n    TITLE \"\xD0\xE5\xEA\xE0\"\r\n    INDEX 01 00:03:00\r\n"
                      "  TRACK 04 AUDIO\r\n    TITLE \"\xD1\xED\xE5\xE3\"\r\n    INDEX 01 00:08:00\r\n");
    const std::string strCue = "cue=" + media.PathOf("album.cue");
    const CommandResult side1 =
        Convert({"--split", strCue, "-f", "flac", "-o", media.PathOf("out1"), strSide1});
    const CommandResult side2 =
        Convert({"--split", strCue, "-f", "flac", "-o", media.PathOf("out2"), strSide2});
    ASSERT_EQ(side1.iExitStatus, 0) << side1.strStderr;
    ASSERT_EQ(side2.iExitStatus, 0) << side2.strStderr;
    EXPECT_NE(
        (side2.strStdout + side2.strStderr).find("track 3 of the cue sheet starts past the end of the audio"),
        std::string::npos)
        << side2.strStdout << side2.strStderr;
    const std::string strAlbum = "\xD0\x91\xD0\xB5\xD0\xBB\xD1\x8B\xD0\xB5 \xD0\xBD\xD0\xBE\xD1\x87\xD0\xB8";
    const std::string strIntro =
        "\xD0\x92\xD1\x81\xD1\x82\xD1\x83\xD0\xBF\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5";
    const std::string strTown = "\xD0\x93\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4";
    const std::string strRiver = "\xD0\xA0\xD0\xB5\xD0\xBA\xD0\xB0";
    const uint64_t nRiver = 3 * 44100;
    std::vector<Part> parts = {
        {"side1.wav - 1 - " + strIntro + ".flac", 0, 4 * 44100, strIntro, "1/1", strAlbum}};
    ExpectParts(media.PathOf("out1"), DecodeS16(strSide1), parts, true, strAlbum);
    parts = {{"side2.wav - 1 - " + strTown + ".flac", 0, nRiver, strTown, "1/2", strAlbum},
             {"side2.wav - 2 - " + strRiver + ".flac", nRiver, 6 * 44100, strRiver, "2/2", strAlbum}};
    ExpectParts(media.PathOf("out2"), DecodeS16(strSide2), parts, true, strAlbum);
}

TEST(Split, PausesAndFixedLengthsFallWhereTheyShould) {
    MediaFactory media;
    const std::string strSource = media.Make("talk.wav", {"-f", "lavfi", "-i", kPausedTone}, {"-ac", "2"});
    const std::string strWhole = DecodeS16(strSource);
    struct Case {
        std::vector<std::string> args;
        // Each split point's earliest and latest frame: a pause's middle, or the quietest moment near
        // a fixed point, found to 10 ms.
        std::vector<std::pair<uint64_t, uint64_t>> splits;
    };
    const auto at = [](double dSeconds) { return static_cast<uint64_t>(dSeconds * 44100); };
    for (const Case &c : {Case{{"--split", "silence", "--least-part", "2"}, {{at(6.74), at(6.76)}}},
                          // The second part would be 6 s: shorter than 7 s, it joins the first.
                          Case{{"--split", "silence", "--least-part", "7"}, {}},
                          Case{{"--split", "every=5"}, {{at(5), at(5)}, {at(10), at(10)}, {at(15), at(15)}}},
                          Case{{"--split", "every=5", "--snap-to-silence", "1"},
                               {{at(6.0), at(6.02)}, {at(9), at(11)}, {at(14.0), at(14.4)}}}}) {
        SCOPED_TRACE(c.args[1] + (c.args.size() > 2 ? " " + c.args[2] + " " + c.args[3] : ""));
        const std::string strOut = media.PathOf("out" + std::to_string(c.splits.size()) + c.args.back());
        std::vector<std::string> args = {"-q", "-f", "mp3", "-o", strOut};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(strSource);
        const CommandResult result = Convert(args);
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::vector<std::string> names = FileNamesIn(strOut);
        ASSERT_EQ(names.size(), c.splits.empty() ? 1u : c.splits.size() + 1);
        if (c.splits.empty()) {
            EXPECT_EQ(names[0], "talk.wav.mp3");
            continue;
        }
        // The MP3 parts are lossy, but exact in length: each split point is where the lengths add up to.
        uint64_t nAt = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            nAt += DecodeS16(strOut + "/" + names[i], {"-ac", "2"}).size() / kFrameBytes;
            if (i < c.splits.size()) {
                EXPECT_GE(nAt, c.splits[i].first) << names[i];
                EXPECT_LE(nAt, c.splits[i].second) << names[i];
            }
        }
        EXPECT_EQ(nAt, strWhole.size() / kFrameBytes);
    }
}

TEST(Split, AFileWithNothingToSplitAtIsConvertedWholeWithANote) {
    MediaFactory media;
    const std::string strSource =
        media.Make("plain.flac", {"-f", "lavfi", "-i", "sine=d=1"}, {"-ac", "2", "-c:a", "flac"});
    for (const char *szHow : {"chapters", "cue"}) {
        const std::string strOut = media.PathOf(std::string("out-") + szHow);
        const CommandResult result = Convert({"--split", szHow, "-f", "wav", "-o", strOut, strSource});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        EXPECT_NE(result.strStdout.find("plain.flac.wav (no " +
                                        std::string(szHow == std::string("cue") ? "cue sheet" : "chapters") +
                                        ", converted whole)"),
                  std::string::npos)
            << result.strStdout;
        EXPECT_EQ(FileNamesIn(strOut), std::vector<std::string>{"plain.flac.wav"});
    }
}

TEST(Split, StopKeepsTheFinishedPartsAndEndsTheRunningOneShort) {
    MediaFactory media;
    const std::string strLong = media.MakeTone("long.wav", 200, 44100, 2, {"-c:a", "pcm_s16le"});
    const std::string strOut = media.PathOf("out");
    // One worker takes the parts one after the other.
    const pid_t pid = Spawn({"-q", "--jobs", "1", "--split", "every=40", "-o", strOut, strLong});
    EXPECT_TRUE(WaitForPartialBytes(strOut, "long.wav - 2.mp3", 20000));
    ::kill(pid, SIGINT);
    int iStatus = 0;
    ASSERT_EQ(::waitpid(pid, &iStatus, 0), pid);
    ASSERT_TRUE(WIFEXITED(iStatus)) << "signal " << WTERMSIG(iStatus);
    EXPECT_EQ(WEXITSTATUS(iStatus), 130);
    EXPECT_EQ(FileNamesIn(strOut), (std::vector<std::string>{"long.wav - 1.mp3", "long.wav - 2.mp3"}));
    EXPECT_EQ(DecodeS16(strOut + "/long.wav - 1.mp3").size() / kFrameBytes, 40u * 44100u);
    const size_t nShort = DecodeS16(strOut + "/long.wav - 2.mp3").size() / kFrameBytes;
    EXPECT_GT(nShort, 0u);
    EXPECT_LT(nShort, 40u * 44100u);
}

// Copied parts are cut as copies are: exactly where the codec allows, else on whole frames, each part's
// line saying how far off its own cut is; the parts still follow one another without a gap.
TEST(Split, CopiedPartsAreCutAsTheirCodecAllowsAndSaySo) {
    MediaFactory media;
    const std::string strMp3 = media.Make("talk.mp3", {"-f", "lavfi", "-i", "sine=d=8:r=44100"},
                                          {"-c:a", "libmp3lame", "-b:a", "96k"});
    const std::string strAc3 =
        media.Make("film.ac3", {"-f", "lavfi", "-i", "sine=d=8:r=48000"}, {"-c:a", "ac3"});
    const CommandResult result =
        Convert({"--split", "every=3", "-f", "copy", "-o", media.PathOf("out"), strMp3, strAc3});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    uint64_t nAc3 = 0;
    for (int i = 1; i <= 3; ++i) {
        const std::string strPart = " - " + std::to_string(i);
        EXPECT_EQ(DecodeS16(media.PathOf("out/talk.mp3" + strPart + ".mp3")).size() / 2,
                  i < 3 ? 3u * 44100u : 2u * 44100u);
        nAc3 += DecodeS16(media.PathOf("out/film.ac3" + strPart + ".ac3")).size() / 2;
    }
    EXPECT_EQ(nAc3, DecodeS16(strAc3).size() / 2) << "the whole-frame parts leave a gap or overlap";
    EXPECT_NE(result.strStdout.find("film.ac3 - 2.ac3 (copied, cut on whole frames, starts "),
              std::string::npos)
        << result.strStdout;
    EXPECT_NE(result.strStdout.find("talk.mp3 - 2.mp3 (copied)\n"), std::string::npos) << result.strStdout;
}

}  // namespace klangor

// MIDI files through klangor-convert as a user meets them: the music comes out, the same every time, cut
// exactly to the selection, found by content, and damaged files or a missing bank named plainly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "MidiSongs.h"
#include "ConvertProgram.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace {

constexpr size_t kFrameBytes = 4;  // 16-bit stereo
constexpr size_t kTailFrames = 2 * 44100;

// Converts one file to WAV and returns ffmpeg's own decode of the result.
std::string ConvertToPcm(MediaFactory &media, const std::string &strSource, const std::string &strOutDir) {
    const std::string strOut = media.PathOf(strOutDir);
    const CommandResult result = Convert({"-q", "--wav", "-o", strOut, strSource});
    EXPECT_EQ(result.iExitStatus, 0) << result.strStderr;
    const std::string strName = strSource.substr(strSource.rfind('/') + 1);
    return DecodeS16(strOut + "/" + strName + ".wav");
}

double Rms(const std::string &strPcm, size_t nFirstFrame, size_t nFrames) {
    double dSum = 0;
    size_t nCount = 0;
    for (size_t i = nFirstFrame * 2; i < (nFirstFrame + nFrames) * 2 && (i + 1) * 2 <= strPcm.size(); ++i) {
        int16_t iSample;
        std::memcpy(&iSample, strPcm.data() + i * 2, 2);
        dSum += static_cast<double>(iSample) * iSample;
        ++nCount;
    }
    return nCount ? std::sqrt(dSum / nCount) : 0.0;
}

// Compares two decodes without printing megabytes of samples when they differ.
void ExpectSamePcm(const std::string &strActual, const std::string &strExpected) {
    ASSERT_EQ(strActual.size(), strExpected.size())
        << "frames: " << strActual.size() / kFrameBytes << " against " << strExpected.size() / kFrameBytes;
    const auto mismatch = std::mismatch(strActual.begin(), strActual.end(), strExpected.begin());
    EXPECT_TRUE(mismatch.first == strActual.end())
        << "first difference at frame " << (mismatch.first - strActual.begin()) / kFrameBytes;
}

TEST(MidiConversion, SongsComeOutWithTheirTimingAndARingingTail) {
    MediaFactory media;
    struct Case {
        std::string strName;
        std::string strBytes;
        size_t nEndFrame;  // the last event, from the file's own timing
    };
    const Case cases[] = {{"type1.mid", midi::TwoChannelSongWithDrums(), 55125},
                          {"type0.mid", midi::RunningStatusSong(), 99225}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.strName);
        const std::string strSource = media.MakeRaw(c.strName, c.strBytes);
        const std::string strPcm = ConvertToPcm(media, strSource, "out");
        ASSERT_EQ(strPcm.size() % kFrameBytes, 0u);
        const size_t nFrames = strPcm.size() / kFrameBytes;
        EXPECT_GT(nFrames, c.nEndFrame);
        EXPECT_LE(nFrames, c.nEndFrame + kTailFrames);
        const auto stream = ProbeStream(media.PathOf("out/" + c.strName + ".wav"));
        EXPECT_EQ(stream.at("sample_rate"), "44100");
        EXPECT_EQ(stream.at("channels"), "2");
        // Every half second of the song sounds; the end of the tail has died away.
        for (size_t nStart = 0; nStart + 22050 <= c.nEndFrame; nStart += 22050) {
            EXPECT_GT(Rms(strPcm, nStart, 22050), 100.0) << "silent from frame " << nStart;
        }
        EXPECT_LT(Rms(strPcm, nFrames - 441, 441), 2.0);
    }
}

TEST(MidiConversion, TheSameFileGivesTheSameBytesEveryTime) {
    MediaFactory media;
    const std::string strSource = media.MakeRaw("song.mid", midi::TwoChannelSongWithDrums());
    for (const char *szType : {"--wav", "--mp3"}) {
        ASSERT_EQ(Convert({"-q", szType, "-o", media.PathOf("a"), strSource}).iExitStatus, 0);
        ASSERT_EQ(Convert({"-q", szType, "-o", media.PathOf("b"), strSource}).iExitStatus, 0);
        const std::string strExt = std::string(szType) == "--wav" ? ".wav" : ".mp3";
        const std::string strFirst = ReadFileBytes(media.PathOf("a/song.mid" + strExt));
        EXPECT_GT(strFirst.size(), 1000u);
        SCOPED_TRACE(szType);
        ExpectSamePcm(ReadFileBytes(media.PathOf("b/song.mid" + strExt)), strFirst);
    }
}

TEST(MidiConversion, ALongSongIsNeverDividedIntoParts) {
    // Ten seconds of one held note: far past a 2 s threshold, where any other long file is divided.
    MediaFactory media;
    using namespace midi;
    const std::string strSource = media.MakeRaw(
        "long.mid",
        Header(0, 1, 480) +
            Track({{0, Tempo(500000)}, {0, Bytes({0x90, 60, 100})}, {9600, Bytes({0x80, 60, 0})}}));
    for (const char *szSplit : {"2", "0"}) {
        const CommandResult result =
            Convert({"-q", "--split-after", szSplit, "-o", media.PathOf(szSplit), strSource});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    }
    EXPECT_TRUE(ReadFileBytes(media.PathOf("2/long.mid.mp3")) ==
                ReadFileBytes(media.PathOf("0/long.mid.mp3")));
}

TEST(MidiConversion, SelectionsAreCutToTheSampleOfTheWholeRendering) {
    MediaFactory media;
    const std::string strSong = midi::RunningStatusSong();
    const std::string strWhole = ConvertToPcm(media, media.MakeRaw("whole.mid", strSong), "whole");

    const std::string strCut = media.MakeRaw("cut.mid", strSong);
    // 0.50 s to 1.50 s of a clip the player measured as 3.00 s long.
    media.MakeRaw("cut.mid.clipinfo", "Owner=Vellumar\r\nCutInfo=300,50,150,0;");
    const std::string strPart = ConvertToPcm(media, strCut, "cut");
    ExpectSamePcm(strPart, strWhole.substr(22050 * kFrameBytes, 44100 * kFrameBytes));

    // A selection to the clip's end runs to the real end of the rendering.
    const std::string strToEnd = media.MakeRaw("end.mid", strSong);
    media.MakeRaw("end.mid.clipinfo", "Owner=Vellumar\r\nCutInfo=300,100,300,0;");
    const std::string strTail = ConvertToPcm(media, strToEnd, "end");
    ExpectSamePcm(strTail, strWhole.substr(44100 * kFrameBytes));
}

TEST(MidiConversion, ContentDecidesNotTheFileName) {
    MediaFactory media;
    const std::string strSong = midi::TwoChannelSongWithDrums();
    const std::string strReference = ConvertToPcm(media, media.MakeRaw("song.mid", strSong), "ref");
    ExpectSamePcm(ConvertToPcm(media, media.MakeRaw("misnamed.mp3", strSong), "misnamed"), strReference);
    ExpectSamePcm(ConvertToPcm(media, media.MakeRaw("wrapped.rmi", midi::Rmid(strSong)), "rmi"),
                  strReference);

    // Real audio that happens to be called .mid goes to the ordinary decoder.
    const std::string strTone = media.MakeTone("tone.wav", 1, 22050, 1, {"-c:a", "pcm_s16le"});
    std::filesystem::rename(strTone, media.PathOf("tone.mid"));
    const std::string strPcm = ConvertToPcm(media, media.PathOf("tone.mid"), "tone");
    EXPECT_EQ(strPcm.size(), 22050u * 2);
}

TEST(MidiConversion, DamagedSongsFailPlainlyOrKeepTheirValidPart) {
    MediaFactory media;
    const std::string strGarbage = media.MakeRaw("garbage.mid", "MThd" + std::string(64, '\xEE'));
    CommandResult result = Convert({"-q", "--wav", "-o", media.PathOf("out"), strGarbage});
    EXPECT_EQ(result.iExitStatus, 1);
    EXPECT_NE(result.strStderr.find("Can not find audio in you Media file!"), std::string::npos)
        << result.strStderr;
    EXPECT_FALSE(std::filesystem::exists(media.PathOf("out/garbage.mid.wav")));

    // Cut off in the middle of its second note: the first note still converts.
    const std::string strSong = midi::RunningStatusSong();
    const std::string strCut = media.MakeRaw("cut.mid", strSong.substr(0, strSong.size() - 20));
    const std::string strPcm = ConvertToPcm(media, strCut, "out");
    EXPECT_GT(Rms(strPcm, 0, 22050), 100.0);
}

TEST(MidiConversion, AMissingOrBrokenBankIsNamed) {
    MediaFactory media;
    const std::string strSource = media.MakeRaw("song.mid", midi::RunningStatusSong());
    const std::string strNotABank = media.MakeRaw("bank.sf2", "this is no instrument bank");

    CommandResult result =
        Convert({"-q", "--soundfont", media.PathOf("none.sf2"), "-o", media.PathOf("o"), strSource});
    EXPECT_EQ(result.iExitStatus, 1);
    EXPECT_NE(result.strStderr.find("none.sf2"), std::string::npos) << result.strStderr;

    result = RunCommand(
        {"env", "KLANGOR_SOUNDFONT=" + strNotABank, kProgram, "-q", "-o", media.PathOf("o"), strSource});
    EXPECT_EQ(result.iExitStatus, 1);
    EXPECT_NE(result.strStderr.find("Cannot load SoundFont"), std::string::npos) << result.strStderr;
    EXPECT_TRUE(std::filesystem::is_empty(media.PathOf("o")));

    // The option wins over the environment.
    result = RunCommand({"env", "KLANGOR_SOUNDFONT=" + strNotABank, kProgram, "-q", "--soundfont",
                         "/usr/share/sounds/sf2/TimGM6mb.sf2", "-o", media.PathOf("o"), strSource});
    EXPECT_EQ(result.iExitStatus, 0) << result.strStderr;
}

}  // namespace

}  // namespace klangor

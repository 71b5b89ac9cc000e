// FLAC, Opus, AAC, ALAC and Vorbis outputs of klangor-convert, checked with ffmpeg and ffprobe: exact
// sample counts, containers, tags and cover, lossless identity, a stop, a full disk.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <memory>

#include "ConvertProgram.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

struct FormatCase {
    const char *szName;
    const char *szExtension;
    const char *szCodec;
    const char *szContainer;  // the start of ffprobe's format_name
    bool bLossless;
};

const FormatCase kFormats[] = {
    {"flac", ".flac", "flac", "flac", true},    {"opus", ".opus", "opus", "ogg", false},
    {"aac", ".m4a", "aac", "mov,mp4", false},   {"alac", ".m4a", "alac", "mov,mp4", true},
    {"vorbis", ".ogg", "vorbis", "ogg", false},
};

constexpr int kRate = 44100;
constexpr uint64_t kToneFrames = 544415;  // 12.345 s at 44.1 kHz
// The selection saved for the clip, in hundredths of a second, and the frames it covers.
constexpr const char *kSelection = "Owner=Vellumar\r\nCutInfo=1234,123,1011,0;";
constexpr uint64_t kSelectionStart = 54243;  // trunc(1.23 * 44100)
constexpr uint64_t kSelectionEnd = 445851;   // trunc(10.11 * 44100)

// Frames of the first audio stream as ffmpeg decodes it, at its own rate.
uint64_t DecodedFrames(const std::string &strPath, int nChannels = 2) {
    return DecodeS16(strPath).size() / (2u * static_cast<unsigned>(nChannels));
}

std::string Probe(const std::string &strPath, const std::string &strEntries) {
    return RunCommand({"ffprobe", "-v", "error", "-show_entries", strEntries, "-of", "default=nw=1", strPath})
        .strStdout;
}

// The attached picture's bytes, empty when there is none.
std::string CoverOf(const std::string &strPath) {
    return RunCommand(
               {"ffmpeg", "-v", "error", "-i", strPath, "-map", "0:v", "-c", "copy", "-f", "image2pipe", "-"})
        .strStdout;
}

// The frames a format holds for nFrames at 44.1 kHz: Opus counts them at 48 kHz.
uint64_t ExpectedFrames(const FormatCase &format, uint64_t nFrames) {
    return std::string(format.szName) == "opus"
               ? static_cast<uint64_t>(std::llround(nFrames * 48000.0 / kRate))
               : nFrames;
}

class CodecFormats : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_pMedia = std::make_unique<MediaFactory>();
        MediaFactory &media = *s_pMedia;
        s_strCover = media.Make("cover.png", {"-f", "lavfi", "-i", "testsrc=size=40x30:duration=1"},
                                {"-frames:v", "1"});
        const std::string strTone = "aevalsrc=exprs=0.4*sin(440*2*PI*t)|0.3*sin(660*2*PI*t):s=44100:d=12.345";
        s_strTone = media.Make("tone.flac", {"-f", "lavfi", "-i", strTone, "-i", s_strCover},
                               {"-map", "0", "-map", "1", "-c:v", "copy", "-disposition:v", "attached_pic",
                                "-metadata", "title=Tone Title", "-metadata", "artist=Some Artist"});
        fs::create_directory(media.Dir() / "sel");
        fs::copy_file(s_strTone, media.Dir() / "sel" / "tone.flac");
        media.MakeRaw("sel/tone.flac.clipinfo", kSelection);
    }
    static void TearDownTestSuite() { s_pMedia.reset(); }

    static std::unique_ptr<MediaFactory> s_pMedia;
    static std::string s_strCover;
    static std::string s_strTone;
};

std::unique_ptr<MediaFactory> CodecFormats::s_pMedia;
std::string CodecFormats::s_strCover;
std::string CodecFormats::s_strTone;

TEST_F(CodecFormats, EachHoldsExactlyItsSelectionWithTagsAndCover) {
    MediaFactory &media = *s_pMedia;
    ASSERT_EQ(DecodedFrames(s_strTone), kToneFrames);
    const std::string strSourcePcm = DecodeS16(s_strTone);
    const std::string strSelectedPcm =
        strSourcePcm.substr(kSelectionStart * 4, (kSelectionEnd - kSelectionStart) * 4);
    for (const FormatCase &format : kFormats) {
        SCOPED_TRACE(format.szName);
        const std::string strOut = media.PathOf(std::string("out-") + format.szName);
        const CommandResult result =
            Convert({"-q", "-f", format.szName, "-o", strOut, s_strTone, media.PathOf("sel/tone.flac")});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strWhole = strOut + "/tone.flac" + format.szExtension;
        const std::string strSelected = strOut + "/tone.flac (2)" + format.szExtension;

        EXPECT_EQ(ProbeStream(strWhole).at("codec_name"), format.szCodec);
        EXPECT_EQ(ProbeFormat(strWhole).at("format_name").rfind(format.szContainer, 0), 0u);
        EXPECT_EQ(DecodedFrames(strWhole), ExpectedFrames(format, kToneFrames));
        EXPECT_EQ(DecodedFrames(strSelected), ExpectedFrames(format, kSelectionEnd - kSelectionStart));
        if (format.bLossless) {
            EXPECT_TRUE(DecodeS16(strWhole) == strSourcePcm) << "not the source's samples";
            EXPECT_TRUE(DecodeS16(strSelected) == strSelectedPcm) << "not the selection's samples";
        }
        const std::string strTags = Probe(strWhole, "format_tags=title,artist:stream_tags=title,artist");
        EXPECT_NE(strTags.find("=Tone Title"), std::string::npos) << strTags;
        EXPECT_NE(strTags.find("=Some Artist"), std::string::npos) << strTags;
        EXPECT_TRUE(CoverOf(strWhole) == ReadFileBytes(s_strCover)) << "the cover did not come through";
    }
}

TEST_F(CodecFormats, NoTagsLeavesTagsAndCoverOut) {
    MediaFactory &media = *s_pMedia;
    for (const FormatCase &format : kFormats) {
        SCOPED_TRACE(format.szName);
        const std::string strOut = media.PathOf(std::string("bare-") + format.szName);
        const CommandResult result =
            Convert({"-q", "--no-tags", "-f", format.szName, "-o", strOut, s_strTone});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strFile = strOut + "/tone.flac" + format.szExtension;
        EXPECT_EQ(Probe(strFile, "format_tags=title:stream_tags=title").find("Tone"), std::string::npos);
        EXPECT_EQ(CoverOf(strFile), "");
    }
}

TEST_F(CodecFormats, LosslessFormatsKeepTwentyFourBits) {
    MediaFactory &media = *s_pMedia;
    const std::string strDeep = media.MakeTone("deep.wav", 2, 48000, 2, {"-c:a", "pcm_s24le"});
    const std::string strSourcePcm =
        RunCommand({"ffmpeg", "-v", "error", "-i", strDeep, "-f", "s32le", "-"}).strStdout;
    for (const char *szFormat : {"flac", "alac"}) {
        SCOPED_TRACE(szFormat);
        const std::string strOut = media.PathOf(std::string("deep-") + szFormat);
        const CommandResult result = Convert({"-q", "-f", szFormat, "-o", strOut, strDeep});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strFile =
            strOut + "/deep.wav" + (std::string(szFormat) == "flac" ? ".flac" : ".m4a");
        EXPECT_EQ(ProbeStream(strFile).at("bits_per_raw_sample"), "24");
        const std::string strPcm =
            RunCommand({"ffmpeg", "-v", "error", "-i", strFile, "-f", "s32le", "-"}).strStdout;
        EXPECT_EQ(strPcm.size(), strSourcePcm.size());
        EXPECT_TRUE(strPcm == strSourcePcm) << "not the source's 24-bit samples";
    }
}

TEST_F(CodecFormats, ReplayGainIsWrittenAsEachFormatKeepsIt) {
    MediaFactory &media = *s_pMedia;
    const std::string strOut = media.PathOf("gain");
    for (const char *szFormat : {"flac", "vorbis", "opus", "aac"}) {
        const CommandResult result = Convert({"-q", "--replaygain", "-f", szFormat, "-o", strOut, s_strTone});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    }
    const auto tagOf = [&](const std::string &strExtension, const std::string &strKey) {
        const std::string strTags = Probe(strOut + "/tone.flac" + strExtension, "format_tags:stream_tags");
        const size_t nAt = strTags.find(strKey + "=");
        return nAt == std::string::npos ? std::string()
                                        : strTags.substr(nAt + strKey.size() + 1,
                                                         strTags.find('\n', nAt) - nAt - strKey.size() - 1);
    };
    const std::string strGain = tagOf(".flac", "TAG:REPLAYGAIN_TRACK_GAIN");
    ASSERT_NE(strGain.find(" dB"), std::string::npos) << strGain;
    EXPECT_FALSE(tagOf(".flac", "TAG:REPLAYGAIN_TRACK_PEAK").empty());
    EXPECT_EQ(tagOf(".ogg", "TAG:REPLAYGAIN_TRACK_GAIN"), strGain);
    EXPECT_EQ(tagOf(".m4a", "TAG:replaygain_track_gain"), strGain);
    EXPECT_EQ(tagOf(".m4a", "TAG:replaygain_track_peak"), tagOf(".flac", "TAG:REPLAYGAIN_TRACK_PEAK"));
    // Opus keeps the gain to -23 LUFS, 5 dB below ReplayGain's reference, in 1/256 dB.
    EXPECT_EQ(tagOf(".opus", "TAG:R128_TRACK_GAIN"),
              std::to_string(std::lround((std::stod(strGain) - 5.0) * 256)));
}

TEST_F(CodecFormats, NormalizeBringsEachToTheTarget) {
    MediaFactory &media = *s_pMedia;
    for (const FormatCase &format : kFormats) {
        SCOPED_TRACE(format.szName);
        const std::string strOut = media.PathOf(std::string("level-") + format.szName);
        const CommandResult result =
            Convert({"-q", "--normalize=-20", "-f", format.szName, "-o", strOut, s_strTone});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strSummary =
            RunCommand({"ffmpeg", "-nostats", "-i", strOut + "/tone.flac" + format.szExtension, "-af",
                        "ebur128", "-f", "null", "-"})
                .strStderr;
        const size_t nAt = strSummary.rfind("I:");
        ASSERT_NE(nAt, std::string::npos) << strSummary;
        EXPECT_NEAR(std::stod(strSummary.substr(nAt + 2)), -20.0, 0.5);
    }
}

TEST_F(CodecFormats, StopLeavesAShortWellFormedFile) {
    MediaFactory &media = *s_pMedia;
    const std::string strLong = media.MakeTone("long.wav", 240, kRate, 2, {"-c:a", "pcm_s16le"});
    for (const FormatCase &format : kFormats) {
        SCOPED_TRACE(format.szName);
        const std::string strOut = media.PathOf(std::string("stop-") + format.szName);
        const pid_t pid = Spawn({"-q", "-f", format.szName, "-o", strOut, strLong});
        EXPECT_TRUE(WaitForPartialBytes(strOut, std::string("long.wav") + format.szExtension, 20000));
        ::kill(pid, SIGINT);
        int iStatus = 0;
        ASSERT_EQ(::waitpid(pid, &iStatus, 0), pid);
        ASSERT_TRUE(WIFEXITED(iStatus));
        EXPECT_EQ(WEXITSTATUS(iStatus), 130);
        const std::string strFile = strOut + "/long.wav" + format.szExtension;
        const CommandResult check = RunCommand({"ffmpeg", "-v", "error", "-i", strFile, "-f", "null", "-"});
        EXPECT_EQ(check.iExitStatus, 0);
        EXPECT_EQ(check.strStderr, "") << "not well-formed";
        const uint64_t nFrames = DecodedFrames(strFile);
        EXPECT_GT(nFrames, 0u);
        EXPECT_LT(nFrames, ExpectedFrames(format, 240u * kRate)) << "the file was not cut short";
        EXPECT_TRUE(FilesStartingWith(strOut, ".").empty());
    }
}

TEST_F(CodecFormats, FullDiskFailsThatFileAloneAndLeavesNothing) {
    MediaFactory &media = *s_pMedia;
    // Noise, so that every format needs more than the limit for it.
    const std::string strBig = media.Make("noise.wav", {"-f", "lavfi", "-i", "anoisesrc=d=30:r=44100:a=0.5"},
                                          {"-ac", "2", "-c:a", "pcm_s16le"});
    const std::string strSmall = media.MakeTone("small.wav", 1, kRate, 1, {"-c:a", "pcm_s16le"});
    for (const FormatCase &format : kFormats) {
        SCOPED_TRACE(format.szName);
        const std::string strOut = media.PathOf(std::string("full-") + format.szName);
        fs::create_directories(strOut);
        // A file-size limit of 200 KiB stands in for a disk that fills up: writes past it fail.
        const CommandResult result =
            RunCommand({"bash", "-c", "trap '' XFSZ; ulimit -f 200; exec \"$@\"", "limit", kProgram, "-q",
                        "-f", format.szName, "--jobs", "1", "-o", strOut, strBig, strSmall});
        EXPECT_EQ(result.iExitStatus, 1);
        EXPECT_NE(result.strStderr.find(strBig + ": "), std::string::npos) << result.strStderr;
        EXPECT_FALSE(fs::exists(strOut + "/noise.wav" + format.szExtension));
        EXPECT_EQ(DecodedFrames(strOut + "/small.wav" + format.szExtension, 1),
                  ExpectedFrames(format, kRate));
        EXPECT_TRUE(FilesStartingWith(strOut, ".").empty());
    }
}

}  // namespace

}  // namespace klangor

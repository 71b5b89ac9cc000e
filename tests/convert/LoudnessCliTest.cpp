// --normalize as a user runs it, the outputs measured by ffmpeg's own EBU R128 meter.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "convert/ConvertCommandLine.h"
#include "convert/Loudness.h"
#include "support/MediaFactory.h"

namespace {

const std::string kProgram = std::string(KLANGOR_BINARY_DIR) + "/src/klangor-convert";

struct Measured {
    double dIntegrated = NAN;
    double dTruePeak = NAN;
};

// ffmpeg's ebur128 filter over the first audio stream: integrated loudness and true peak.
Measured MeasureWithFfmpeg(const std::string &strPath) {
    const CommandResult result =
        RunCommand({"ffmpeg", "-nostats", "-hide_banner", "-i", strPath, "-af", "ebur128=peak=true", "-f", "null", "-"});
    Measured measured;
    std::smatch match;
    const std::string &strLog = result.strStderr;
    const size_t nSummary = strLog.rfind("Summary:");
    const std::string strTail = nSummary == std::string::npos ? strLog : strLog.substr(nSummary);
    if (std::regex_search(strTail, match, std::regex(R"(I:\s+(-?[0-9.]+|-inf) LUFS)"))) {
        measured.dIntegrated = match[1] == "-inf" ? -INFINITY : std::stod(match[1]);
    }
    if (std::regex_search(strTail, match, std::regex(R"(Peak:\s+(-?[0-9.]+|-inf) dBFS)"))) {
        measured.dTruePeak = match[1] == "-inf" ? -INFINITY : std::stod(match[1]);
    }
    return measured;
}

// Music-like sources: pink noise kept below 10 kHz (what an MP3 encoder keeps), at a given level.
std::string MakeNoise(MediaFactory &media, const std::string &strName, double dAmplitude, double dBoostDb = 0) {
    return media.Make(strName,
                      {"-f", "lavfi", "-i",
                       "anoisesrc=c=pink:r=44100:seed=7:d=12:a=" + std::to_string(dAmplitude) +
                           ",lowpass=f=10000,volume=" + std::to_string(dBoostDb) +
                           "dB,aformat=channel_layouts=stereo"},
                      {"-c:a", "pcm_s16le"});
}

}  // namespace

TEST(LoudnessGainTest, SilenceKeepsItsSamplesAndThePeakCeilingWinsOverTheTarget) {
    EXPECT_EQ(NormalizingGain({false, -INFINITY, 0.0}, -16.0), 1.0);
    EXPECT_EQ(NormalizingGain({true, -75.0, 0.001}, -16.0), 1.0);  // below the absolute gate
    // 10 dB up, with plenty of headroom.
    EXPECT_NEAR(20 * std::log10(NormalizingGain({true, -26.0, 0.1}, -16.0)), 10.0, 1e-9);
    // 10 dB asked, but the peak at -6 dBTP allows 5 dB only.
    EXPECT_NEAR(20 * std::log10(NormalizingGain({true, -26.0, std::pow(10.0, -6.0 / 20)}, -16.0)), 5.0, 1e-9);
    // Turning down is never held back by the peak.
    EXPECT_NEAR(20 * std::log10(NormalizingGain({true, -8.0, 1.2}, -16.0)), -8.0, 1e-9);
}

TEST(LoudnessCommandLineTest, TargetIsOptionalAndHeldToItsRange) {
    const auto parse = [](std::vector<std::string> args, ConvertOptions &options, std::string &strError) {
        return ParseConvertCommandLine(args, "/out", options, strError);
    };
    ConvertOptions options;
    std::string strError;
    ASSERT_TRUE(parse({"--normalize", "a.wav"}, options, strError)) << strError;
    EXPECT_TRUE(options.loudness.bNormalize);
    EXPECT_EQ(options.loudness.dTargetLufs, -16.0);
    ASSERT_EQ(options.files.size(), 1u);  // the file after it is no target

    ConvertOptions fractional;
    ASSERT_TRUE(parse({"--normalize=-23.5", "a.wav"}, fractional, strError)) << strError;
    EXPECT_EQ(fractional.loudness.dTargetLufs, -23.5);
    for (const char *szBad : {"--normalize=-4", "--normalize=-31.5", "--normalize=loud", "--normalize=",
                              "--normalize=-16x", "--normalize=nan"}) {
        ConvertOptions bad;
        EXPECT_FALSE(parse({szBad, "a.wav"}, bad, strError)) << szBad;
        EXPECT_NE(strError.find("--normalize"), std::string::npos);
    }
    ConvertOptions plain;
    ASSERT_TRUE(parse({"a.wav"}, plain, strError));
    EXPECT_FALSE(plain.loudness.bNormalize);
}

TEST(LoudnessCliTest, QuietAndLoudSourcesLandOnTheTargetUnderTheCeilingAndSilenceIsUntouched) {
    MediaFactory media;
    const std::string strQuiet = MakeNoise(media, "quiet.wav", 0.015);  // about -45 LUFS
    const std::string strLoud = MakeNoise(media, "loud.wav", 0.5, 8.0);  // about -14 LUFS, its crests clipped
    const std::string strSilent = media.Make("silent.wav", {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo"},
                                             {"-t", "5", "-c:a", "pcm_s16le"});
    ASSERT_LT(MeasureWithFfmpeg(strQuiet).dIntegrated, -35.0);
    ASSERT_GT(MeasureWithFfmpeg(strLoud).dIntegrated, -14.5);
    const std::string strOut = (media.Dir() / "out").string();

    for (const auto &[strFormat, dTarget] : {std::pair{std::string("--mp3"), -16.0}, {std::string("--wav"), -23.0}}) {
        const std::string strTarget = "--normalize=" + std::to_string(dTarget);
        const CommandResult result =
            RunCommand({kProgram, "-q", strFormat, strTarget, "-o", strOut, strQuiet, strLoud, strSilent});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strExt = strFormat == "--mp3" ? ".mp3" : ".wav";
        for (const char *szName : {"quiet.wav", "loud.wav"}) {
            const Measured measured = MeasureWithFfmpeg(strOut + "/" + szName + strExt);
            EXPECT_NEAR(measured.dIntegrated, dTarget, 0.5) << szName << strExt;
            EXPECT_LE(measured.dTruePeak, -1.0) << szName << strExt;
        }
        if (strFormat == "--wav") {
            // Not a sample changed: no gain was put on silence.
            EXPECT_EQ(DecodeS16(strOut + "/silent.wav.wav"), DecodeS16(strSilent));
        }
        EXPECT_FALSE(std::isfinite(MeasureWithFfmpeg(strOut + "/silent.wav" + strExt).dTruePeak)) << strExt;
    }
}

TEST(LoudnessCliTest, PeakyQuietSourceStopsAtTheTruePeakCeilingInsteadOfTheTarget) {
    MediaFactory media;
    // A quiet hum with a loud click every two seconds: reaching -16 LUFS would clip the clicks.
    const std::string strPeaky = media.Make(
        "peaky.wav",
        {"-f", "lavfi", "-i",
         "aevalsrc='0.01*sin(2*PI*220*t)+if(lt(mod(t\\,2)\\,0.01)\\,0.7*sin(2*PI*1000*t)\\,0)':s=44100:d=10"},
        {"-c:a", "pcm_s16le"});
    const std::string strOut = (media.Dir() / "out").string();
    const CommandResult result = RunCommand({kProgram, "-q", "--wav", "--normalize", "-o", strOut, strPeaky});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    const Measured source = MeasureWithFfmpeg(strPeaky);
    const Measured measured = MeasureWithFfmpeg(strOut + "/peaky.wav.wav");
    EXPECT_LE(measured.dTruePeak, -1.0);
    EXPECT_GE(measured.dTruePeak, -1.6);  // raised as far as the ceiling allows
    EXPECT_LT(measured.dIntegrated, -17.0);
    // One gain over the whole file: loudness and peak moved by the same amount.
    EXPECT_NEAR(measured.dIntegrated - source.dIntegrated, measured.dTruePeak - source.dTruePeak, 0.6);
}

// --normalize and --replaygain as a user runs them, the outputs measured by ffmpeg's own EBU R128 meter.
#include <gtest/gtest.h>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <cmath>
#include <cstdlib>
#include <map>

#include "cli/ConvertCommandLine.h"
#include "convert/batch/Loudness.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace {

const std::string kProgram = std::string(KLANGOR_BINARY_DIR) + "/src/klangor-convert";

struct Measured {
    double dIntegrated = NAN;
    double dTruePeak = NAN;
};

// ffmpeg's ebur128 filter over the first audio stream: integrated loudness and true peak.
Measured MeasureWithFfmpeg(const std::string &strPath) {
    const CommandResult result = RunCommand(
        {"ffmpeg", "-nostats", "-hide_banner", "-i", strPath, "-af", "ebur128=peak=true", "-f", "null", "-"});
    Measured measured;
    const std::string &strLog = result.strStderr;
    const size_t nSummary = strLog.rfind("Summary:");
    const std::string strTail = nSummary == std::string::npos ? strLog : strLog.substr(nSummary);
    // The number after a label of the summary ("I:  -23.0 LUFS", "Peak:  -1.2 dBFS"), or -inf.
    const auto valueAfter = [&strTail](const std::string &strLabel) -> double {
        const size_t nLabel = strTail.find(strLabel);
        if (nLabel == std::string::npos) {
            return NAN;
        }
        const size_t nValue = strTail.find_first_not_of(' ', nLabel + strLabel.size());
        if (nValue == std::string::npos) {
            return NAN;
        }
        if (strTail.compare(nValue, 4, "-inf") == 0) {
            return -INFINITY;
        }
        char *pEnd = nullptr;
        const double dValue = std::strtod(strTail.c_str() + nValue, &pEnd);
        return pEnd == strTail.c_str() + nValue ? NAN : dValue;
    };
    measured.dIntegrated = valueAfter("I:");
    measured.dTruePeak = valueAfter("Peak:");
    return measured;
}

// Music-like sources: pink noise kept below 10 kHz (what an MP3 encoder keeps), at a given level.
std::string MakeNoise(MediaFactory &media, const std::string &strName, double dAmplitude,
                      double dBoostDb = 0) {
    return media.Make(
        strName,
        {"-f", "lavfi", "-i",
         "anoisesrc=c=pink:r=44100:seed=7:d=12:a=" + std::to_string(dAmplitude) +
             ",lowpass=f=10000,volume=" + std::to_string(dBoostDb) + "dB,aformat=channel_layouts=stereo"},
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
    // ReplayGain's text: the way to -18 LUFS and the peak, nothing for silence.
    const ReplayGainText text = FormatReplayGain({true, -23.456, 0.5});
    EXPECT_EQ(text.strGain, "5.46 dB");
    EXPECT_EQ(text.strPeak, "0.500000");
    EXPECT_EQ(FormatReplayGain({true, -9.0, 1.3}).strGain, "-9.00 dB");
    EXPECT_TRUE(FormatReplayGain({false, -INFINITY, 0.0}).strGain.empty());
    EXPECT_TRUE(FormatReplayGain({true, -75.0, 0.001}).strPeak.empty());
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
    for (const char *szBad : {"--normalize=-4", "--normalize=-31.5", "--normalize=loud",
                              "--normalize=", "--normalize=-16x", "--normalize=nan"}) {
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
    const std::string strQuiet = MakeNoise(media, "quiet.wav", 0.015);   // about -45 LUFS
    const std::string strLoud = MakeNoise(media, "loud.wav", 0.5, 8.0);  // about -14 LUFS, its crests clipped
    const std::string strSilent = media.Make(
        "silent.wav", {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo"}, {"-t", "5", "-c:a", "pcm_s16le"});
    ASSERT_LT(MeasureWithFfmpeg(strQuiet).dIntegrated, -35.0);
    ASSERT_GT(MeasureWithFfmpeg(strLoud).dIntegrated, -14.5);
    const std::string strOut = (media.Dir() / "out").string();

    for (const auto &[strFormat, dTarget] :
         {std::pair{std::string("--mp3"), -16.0}, {std::string("--wav"), -23.0}}) {
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

namespace {

// The user-defined text frames of an MP3's ID3v2 tag, by description.
std::map<std::string, std::string> UserTexts(const std::string &strPath) {
    std::map<std::string, std::string> texts;
    TagLib::MPEG::File file(strPath.c_str(), false);
    if (TagLib::ID3v2::Tag *pTag = file.isValid() ? file.ID3v2Tag() : nullptr) {
        for (const TagLib::ID3v2::Frame *pFrame : pTag->frameList("TXXX")) {
            if (const auto *pText =
                    dynamic_cast<const TagLib::ID3v2::UserTextIdentificationFrame *>(pFrame)) {
                const TagLib::StringList fields = pText->fieldList();
                texts[pText->description().to8Bit(true)] = fields.size() > 1 ? fields[1].to8Bit(true) : "";
            }
        }
    }
    return texts;
}

}  // namespace

TEST(ReplayGainCliTest, GainAndPeakDescribeTheOutputAndNoSampleChanges) {
    MediaFactory media;
    const std::string strQuiet = MakeNoise(media, "quiet.wav", 0.015);
    const std::string strSilent = media.Make(
        "silent.wav", {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo"}, {"-t", "5", "-c:a", "pcm_s16le"});
    const std::string strPlain = (media.Dir() / "plain").string();
    const std::string strGained = (media.Dir() / "gained").string();
    ASSERT_EQ(RunCommand({kProgram, "-q", "-o", strPlain, strQuiet}).iExitStatus, 0);
    const CommandResult result =
        RunCommand({kProgram, "-q", "--replaygain", "-o", strGained, strQuiet, strSilent});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;

    const std::string strOut = strGained + "/quiet.wav.mp3";
    EXPECT_EQ(DecodeS16(strOut), DecodeS16(strPlain + "/quiet.wav.mp3")) << "the samples are left alone";
    const std::map<std::string, std::string> texts = UserTexts(strOut);
    ASSERT_TRUE(texts.count("REPLAYGAIN_TRACK_GAIN") && texts.count("REPLAYGAIN_TRACK_PEAK"));
    const std::string &strGain = texts.at("REPLAYGAIN_TRACK_GAIN");
    // "-6.52 dB": two decimals and the unit, as players parse it.
    const size_t nUnit = strGain.find(" dB");
    ASSERT_TRUE(nUnit != std::string::npos && nUnit + 3 == strGain.size() && nUnit >= 4 &&
                strGain[nUnit - 3] == '.')
        << strGain;
    // Measured independently on the output as a player decodes it: the gain brings it to -18 LUFS.
    const Measured measured = MeasureWithFfmpeg(strOut);
    EXPECT_NEAR(std::stod(strGain), -18.0 - measured.dIntegrated, 0.5);
    EXPECT_GT(std::stod(strGain), 20.0);  // a quiet source is raised a lot
    const double dPeakDb = 20 * std::log10(std::stod(texts.at("REPLAYGAIN_TRACK_PEAK")));
    EXPECT_NEAR(dPeakDb, measured.dTruePeak, 1.0);

    // Silence gets no gain at all, rather than +80 dB.
    EXPECT_TRUE(UserTexts(strGained + "/silent.wav.mp3").empty());

    // Asked for on its own, ReplayGain is written even when the source's tags are not copied.
    const std::string strBare = (media.Dir() / "bare").string();
    ASSERT_EQ(RunCommand({kProgram, "-q", "--replaygain", "--no-tags", "-o", strBare, strQuiet}).iExitStatus,
              0);
    EXPECT_EQ(UserTexts(strBare + "/quiet.wav.mp3").count("REPLAYGAIN_TRACK_GAIN"), 1u);

    const CommandResult both = RunCommand({kProgram, "--normalize", "--replaygain", "-o", strBare, strQuiet});
    EXPECT_EQ(both.iExitStatus, 2);
    EXPECT_NE(both.strStderr.find("--normalize and --replaygain cannot be used together"), std::string::npos);
}

}  // namespace klangor

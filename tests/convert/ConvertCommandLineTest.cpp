#include <gtest/gtest.h>

#include "cli/ConvertCommandLine.h"

namespace klangor {

namespace {

bool Parse(const std::vector<std::string> &args, ConvertOptions &options, std::string &strError) {
    return ParseConvertCommandLine(args, "/home/u/VellumarMP3", options, strError);
}

TEST(ConvertCommandLine, DefaultsAreTheSettingsRecordsAndTheHomeFolder) {
    ConvertOptions options;
    std::string strError;
    ASSERT_TRUE(Parse({"a.avi"}, options, strError));
    EXPECT_EQ(options.strOutputFolder, "/home/u/VellumarMP3");
    EXPECT_EQ(options.format, OutputFormat::Mp3);
    EXPECT_TRUE(options.settings == EncoderSettings());
    EXPECT_EQ(options.files, std::vector<std::string>{"a.avi"});
}

TEST(ConvertCommandLine, ValuesAreTakenAsNumbersLabelsOrNames) {
    ConvertOptions options;
    std::string strError;
    ASSERT_TRUE(
        Parse({"--samplerate", "11,025 Hz", "--bitrate=256 Kbps", "--quality", "7", "--mode", "Dual_Channel",
               "--mono-source", "right", "--vbr-min", "32", "--vbr-max", "320", "--vbr-quality",
               "Level 9  worst quality (fastest encoding speed)", "--out=/tmp/o", "--wav", "a.avi"},
              options, strError))
        << strError;
    const EncoderSettings &s = options.settings;
    EXPECT_EQ(s.m_iSampleRate, 11025);
    EXPECT_EQ(s.m_iBitrate, 256);
    EXPECT_EQ(s.m_iQuality, 7);
    EXPECT_EQ(s.m_iChannelMode, kChannelModeDualChannel);
    EXPECT_EQ(s.m_iMonoSource, kMonoSourceRight);
    EXPECT_EQ(s.m_iVbrMinBitrate, 32);
    EXPECT_EQ(s.m_iVbrMaxBitrate, 320);
    EXPECT_EQ(s.m_iVbrQuality, 9);
    EXPECT_EQ(options.strOutputFolder, "/tmp/o");
    EXPECT_EQ(options.format, OutputFormat::Wav);
}

TEST(ConvertCommandLine, FlagsSetTheirBitsAndVbrIsTwo) {
    ConvertOptions options;
    std::string strError;
    ASSERT_TRUE(Parse({"--copyright", "--no-original", "--crc", "--private", "--vbr", "--no-vbr-header", "x"},
                      options, strError));
    const EncoderSettings &s = options.settings;
    EXPECT_EQ(s.m_bCopyright, 1);
    EXPECT_EQ(s.m_bOriginal, 0);
    EXPECT_EQ(s.m_bCrc, 1);
    EXPECT_EQ(s.m_bPrivate, 1);
    EXPECT_EQ(s.m_iVbrMode, 2);
    EXPECT_EQ(s.m_bWriteVbrHeader, 0);
}

TEST(ConvertCommandLine, DoubleDashMakesTheRestFiles) {
    ConvertOptions options;
    std::string strError;
    ASSERT_TRUE(Parse({"-q", "--", "--wav", "-o"}, options, strError));
    EXPECT_TRUE(options.bQuiet);
    EXPECT_EQ(options.format, OutputFormat::Mp3);
    EXPECT_EQ(options.files, (std::vector<std::string>{"--wav", "-o"}));
}

TEST(ConvertCommandLine, BadInputNamesTheOptionAndWhatItAllows) {
    ConvertOptions options;
    std::string strError;
    EXPECT_FALSE(Parse({"--samplerate", "44000", "a"}, options, strError));
    EXPECT_EQ(
        strError,
        "invalid value '44000' for --samplerate (allowed: auto, 48000, 44100, 32000, 24000, 22050, 16000, "
        "12000, 11025, 8000)");
    EXPECT_FALSE(Parse({"--vbr-quality", "11", "a"}, options, strError));
    EXPECT_NE(strError.find("--vbr-quality"), std::string::npos);
    EXPECT_FALSE(Parse({"--wav=yes", "a"}, options, strError));
    EXPECT_EQ(strError, "--wav takes no value");
    EXPECT_FALSE(Parse({"-o"}, options, strError));
    EXPECT_EQ(strError, "-o needs a value");
    // Found by fuzzing: an empty folder put every output at the root of the file system.
    EXPECT_FALSE(Parse({"-q", "-o", "", "a.avi"}, options, strError));
    EXPECT_EQ(strError, "-o needs a folder name");
    EXPECT_FALSE(Parse({"--out=", "a.avi"}, options, strError));
    EXPECT_EQ(strError, "--out needs a folder name");
    EXPECT_FALSE(Parse({"-x", "a"}, options, strError));
    EXPECT_EQ(strError, "unknown option -x");
}

TEST(ConvertCommandLine, FormatSettingsTakeTheirRangesAndTheBitrateFollowsTheFormat) {
    // Each bad value, and what its error must name; the bitrate is judged by the format wherever
    // -f stands.
    const struct {
        std::vector<std::string> args;
        const char *szError;
    } kBad[] = {
        {{"-f", "wma"},
         "invalid value 'wma' for -f (allowed: mp3, wav, flac, opus, aac, alac, vorbis, copy)"},
        {{"--format=FLAC"},
         "invalid value 'FLAC' for --format (allowed: mp3, wav, flac, opus, aac, alac, vorbis, copy)"},
        {{"-f", "opus", "--bitrate", "5"}, "invalid value '5' for --bitrate with opus (allowed: 6 to 510)"},
        {{"--bitrate", "511", "-f", "opus"},
         "invalid value '511' for --bitrate with opus (allowed: 6 to 510)"},
        {{"--bitrate", "321", "-f", "aac"},
         "invalid value '321' for --bitrate with aac (allowed: 32 to 320)"},
        {{"-f", "aac", "--bitrate", "96k"},
         "invalid value '96k' for --bitrate with aac (allowed: 32 to 320)"},
        {{"--bitrate", "300", "-f", "opus", "--mp3"}, "invalid value '300' for --bitrate (allowed: 320, 256"},
        {{"--compression", "9"}, "invalid value '9' for --compression (allowed: 0 to 8)"},
        {{"--compression="}, "invalid value '' for --compression (allowed: 0 to 8)"},
        {{"--vorbis-quality", "-2"}, "invalid value '-2' for --vorbis-quality (allowed: -1 to 10)"},
        {{"--vorbis-quality", "5.5"}, "invalid value '5.5' for --vorbis-quality (allowed: -1 to 10)"},
    };
    for (const auto &bad : kBad) {
        ConvertOptions options;
        std::string strError;
        std::vector<std::string> args = bad.args;
        args.push_back("a.avi");
        EXPECT_FALSE(Parse(args, options, strError)) << bad.szError;
        EXPECT_EQ(strError.substr(0, std::string(bad.szError).size()), bad.szError);
    }
    ConvertOptions options;
    std::string strError;
    ASSERT_TRUE(Parse({"--bitrate", "300", "--compression", "8", "--vorbis-quality", "-1", "-f", "opus", "a"},
                      options, strError))
        << strError;
    EXPECT_EQ(options.format, OutputFormat::Opus);
    EXPECT_EQ(options.settings.m_iOpusBitrate, 300);
    EXPECT_EQ(options.settings.m_iBitrate, EncoderSettings().m_iBitrate.load());
    EXPECT_EQ(options.settings.m_iFlacCompression, 8);
    EXPECT_EQ(options.settings.m_iVorbisQuality, -1);
    ASSERT_TRUE(Parse({"-f", "aac", "--bitrate=32", "a"}, options, strError)) << strError;
    EXPECT_EQ(options.settings.m_iAacBitrate, 32);
}

TEST(ConvertCommandLine, SplitThresholdTakesSecondsAndZeroButNothingElse) {
    ConvertOptions options;
    std::string strError;
    ASSERT_TRUE(Parse({"a.avi"}, options, strError));
    EXPECT_EQ(options.dSplitAfterSeconds, 30.0);
    ASSERT_TRUE(Parse({"--split-after", "2.5", "a.avi"}, options, strError)) << strError;
    EXPECT_EQ(options.dSplitAfterSeconds, 2.5);
    ASSERT_TRUE(Parse({"--split-after=0", "a.avi"}, options, strError)) << strError;
    EXPECT_EQ(options.dSplitAfterSeconds, 0.0);
    for (const char *szBad : {"-1", "ten", "", "5s", "nan", "1e9"}) {
        EXPECT_FALSE(Parse({"--split-after", szBad, "a.avi"}, options, strError)) << szBad;
        EXPECT_NE(strError.find("--split-after"), std::string::npos);
    }
}

}  // namespace

TEST(ConvertCommandLine, ACueEncodingMustBeKnownAndGoWithCueSheets) {
    ConvertOptions options;
    std::string strError;
    ASSERT_TRUE(Parse({"--split", "cue", "--cue-encoding", "cp1251", "a.flac"}, options, strError))
        << strError;
    EXPECT_EQ(options.split.strCueEncoding, "cp1251");
    EXPECT_FALSE(Parse({"--split", "cue", "--cue-encoding", "klingon", "a.flac"}, options, strError));
    EXPECT_NE(strError.find("unknown encoding 'klingon' for --cue-encoding"), std::string::npos) << strError;
    EXPECT_FALSE(Parse({"--split", "chapters", "--cue-encoding", "GBK", "a.flac"}, options, strError));
    EXPECT_EQ(strError, "--cue-encoding reads the sheets of --split cue only");
}

}  // namespace klangor

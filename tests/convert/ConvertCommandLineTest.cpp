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
    EXPECT_FALSE(options.bWav);
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
    EXPECT_TRUE(options.bWav);
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
    EXPECT_FALSE(options.bWav);
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

}  // namespace klangor

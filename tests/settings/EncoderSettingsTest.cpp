#include <gtest/gtest.h>

#include <string>

#include "settings/EncoderSettings.h"

namespace klangor {

TEST(EncoderSettings, DefaultsAreTheEasyToGetWrongOnes) {
    const EncoderSettings settings;
    EXPECT_EQ(settings.m_iSampleRate, 0);
    EXPECT_EQ(settings.m_iQuality, 2);
    EXPECT_EQ(settings.m_iBitrate, 128);
    EXPECT_EQ(settings.m_iChannelMode, 1);
    EXPECT_EQ(settings.m_iMonoSource, 0);
    EXPECT_EQ(settings.m_bCopyright, 0);
    EXPECT_EQ(settings.m_bOriginal, 1);
    EXPECT_EQ(settings.m_bCrc, 0);
    EXPECT_EQ(settings.m_bPrivate, 0);
    EXPECT_EQ(settings.m_iVbrMode, 0);
    EXPECT_EQ(settings.m_bWriteVbrHeader, 1);
    EXPECT_EQ(settings.m_iVbrMinBitrate, 128);
    EXPECT_EQ(settings.m_iVbrMaxBitrate, 128);
    EXPECT_EQ(settings.m_iVbrQuality, 2);
}

TEST(EncoderSettings, CopyIsASnapshotOfEveryField) {
    EncoderSettings settings;
    settings.m_iSampleRate = 22050;
    settings.m_iVbrQuality = 7;
    settings.m_bPrivate = 1;
    EncoderSettings snapshot(settings);
    EXPECT_TRUE(snapshot == settings);
    settings.m_iVbrQuality = 3;
    EXPECT_EQ(snapshot.m_iVbrQuality, 7);
    snapshot = EncoderSettings();
    EXPECT_TRUE(snapshot == EncoderSettings());
}

TEST(EncoderSettings, ValueListsMatchTheDialogsPositions) {
    EXPECT_EQ(FindSampleRateIndex(0), 0);
    EXPECT_EQ(FindSampleRateIndex(44100), 2);
    EXPECT_EQ(FindSampleRateIndex(8000), 9);
    EXPECT_EQ(FindSampleRateIndex(44000), -1);
    EXPECT_EQ(FindBitrateIndex(320), 0);
    EXPECT_EQ(FindBitrateIndex(128), 5);
    EXPECT_EQ(FindBitrateIndex(32), 13);
    EXPECT_EQ(FindBitrateIndex(129), -1);
    EXPECT_STREQ(kSampleRateChoices[8].szLabel, "11,025 Hz");
    EXPECT_STREQ(kBitrateChoices[5].szLabel, "128 Kbps");
    EXPECT_EQ(std::string(kQualityChoices[0].szLabel), "Level 0,  best quality (very slow encoding speed)");
    EXPECT_EQ(std::string(kQualityChoices[5].szLabel), "Level 5  good quality (fast encoding speed)");
    EXPECT_STREQ(kChannelModeChoices[1].szLabel, "Joint_Stereo");
    EXPECT_STREQ(kMonoSourceChoices[2].szLabel, "Only keep right channel");
    for (int i = 1; i < kBitrateCount; ++i) {
        EXPECT_GT(kBitrateChoices[i - 1].iValue, kBitrateChoices[i].iValue) << "list must run high to low";
    }
}

TEST(EncoderSettings, LowRateCeilingLowersOnlyTheConstantBitrateAndSticks) {
    EncoderSettings settings;
    settings.m_iBitrate = 192;
    settings.m_iVbrMaxBitrate = 320;
    EXPECT_FALSE(settings.ApplyBitrateCeiling(12001));
    EXPECT_EQ(settings.m_iBitrate, 192);
    EXPECT_TRUE(settings.ApplyBitrateCeiling(11025));
    EXPECT_EQ(settings.m_iBitrate, 64);
    EXPECT_EQ(settings.m_iVbrMaxBitrate, 320);
    EXPECT_FALSE(settings.ApplyBitrateCeiling(48000));
    EXPECT_EQ(settings.m_iBitrate, 64);
    settings.m_iBitrate = 48;
    EXPECT_FALSE(settings.ApplyBitrateCeiling(8000));
    EXPECT_EQ(settings.m_iBitrate, 48);
    settings.m_iBitrate = 128;
    EXPECT_TRUE(settings.ApplyBitrateCeiling(12000));
}

}  // namespace klangor

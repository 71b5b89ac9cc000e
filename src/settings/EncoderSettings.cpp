#include "settings/EncoderSettings.h"

namespace klangor {

const SettingChoice kSampleRateChoices[kSampleRateCount] = {
    {"Auto Select", 0},   {"48,000 Hz", 48000}, {"44,100 Hz", 44100}, {"32,000 Hz", 32000},
    {"24,000 Hz", 24000}, {"22,050 Hz", 22050}, {"16,000 Hz", 16000}, {"12,000 Hz", 12000},
    {"11,025 Hz", 11025}, {"8,000 Hz", 8000},
};

const SettingChoice kBitrateChoices[kBitrateCount] = {
    {"320 Kbps", 320}, {"256 Kbps", 256}, {"224 Kbps", 224}, {"192 Kbps", 192}, {"160 Kbps", 160},
    {"128 Kbps", 128}, {"112 Kbps", 112}, {"96 Kbps", 96},   {"80 Kbps", 80},   {"64 Kbps", 64},
    {"56 Kbps", 56},   {"48 Kbps", 48},   {"40 Kbps", 40},   {"32 Kbps", 32},
};

const SettingChoice kQualityChoices[kQualityCount] = {
    {"Level 0,  best quality (very slow encoding speed)", 0},
    {"Level 1", 1},
    {"Level 2,  near-best quality (not too slow encoding speed)", 2},
    {"Level 3", 3},
    {"Level 4", 4},
    {"Level 5  good quality (fast encoding speed)", 5},
    {"Level 6", 6},
    {"Level 7  ok quality (really fast encoding speed)", 7},
    {"Level 8", 8},
    {"Level 9  worst quality (fastest encoding speed)", 9},
};

const SettingChoice kChannelModeChoices[kChannelModeCount] = {
    {"Stereo", kChannelModeStereo},
    {"Joint_Stereo", kChannelModeJointStereo},
    {"Dual_Channel", kChannelModeDualChannel},
    {"Mono", kChannelModeMono},
};

const SettingChoice kMonoSourceChoices[kMonoSourceCount] = {
    {"Merge both channels", kMonoSourceMerge},
    {"Only keep left channel", kMonoSourceLeft},
    {"Only keep right channel", kMonoSourceRight},
};

int FindChoiceIndex(const SettingChoice *pChoices, int nCount, int32_t iValue) {
    for (int i = 0; i < nCount; ++i) {
        if (pChoices[i].iValue == iValue) {
            return i;
        }
    }
    return -1;
}

int FindSampleRateIndex(int32_t iSampleRate) {
    return FindChoiceIndex(kSampleRateChoices, kSampleRateCount, iSampleRate);
}

int FindBitrateIndex(int32_t iKbps) {
    return FindChoiceIndex(kBitrateChoices, kBitrateCount, iKbps);
}

bool EncoderSettings::ApplyBitrateCeiling(int32_t iEffectiveSampleRate) {
    if (iEffectiveSampleRate <= 0 || iEffectiveSampleRate > kLowSampleRateLimit) {
        return false;
    }
    int32_t iBitrate = m_iBitrate.load();
    // A concurrent edit from the dialog either lands before (and is capped) or after (and wins).
    while (iBitrate > kLowRateBitrateCeiling) {
        if (m_iBitrate.compare_exchange_weak(iBitrate, kLowRateBitrateCeiling)) {
            return true;
        }
    }
    return false;
}

bool EncoderSettings::LowerBitrateFrom(int32_t iFrom) {
    return iFrom > kLowRateBitrateCeiling &&
           m_iBitrate.compare_exchange_strong(iFrom, kLowRateBitrateCeiling);
}

bool EncoderSettings::operator==(const EncoderSettings &other) const {
    return m_iSampleRate == other.m_iSampleRate && m_iQuality == other.m_iQuality &&
           m_iBitrate == other.m_iBitrate && m_iChannelMode == other.m_iChannelMode &&
           m_iMonoSource == other.m_iMonoSource && m_bCopyright == other.m_bCopyright &&
           m_bOriginal == other.m_bOriginal && m_bCrc == other.m_bCrc && m_bPrivate == other.m_bPrivate &&
           m_iVbrMode == other.m_iVbrMode && m_bWriteVbrHeader == other.m_bWriteVbrHeader &&
           m_iVbrMinBitrate == other.m_iVbrMinBitrate && m_iVbrMaxBitrate == other.m_iVbrMaxBitrate &&
           m_iVbrQuality == other.m_iVbrQuality && m_iFlacCompression == other.m_iFlacCompression &&
           m_iOpusBitrate == other.m_iOpusBitrate && m_iAacBitrate == other.m_iAacBitrate &&
           m_iVorbisQuality == other.m_iVorbisQuality;
}

void EncoderSettings::CopyFrom(const EncoderSettings &other) {
    m_iSampleRate = other.m_iSampleRate.load();
    m_iQuality = other.m_iQuality.load();
    m_iBitrate = other.m_iBitrate.load();
    m_iChannelMode = other.m_iChannelMode.load();
    m_iMonoSource = other.m_iMonoSource.load();
    m_bCopyright = other.m_bCopyright.load();
    m_bOriginal = other.m_bOriginal.load();
    m_bCrc = other.m_bCrc.load();
    m_bPrivate = other.m_bPrivate.load();
    m_iVbrMode = other.m_iVbrMode.load();
    m_bWriteVbrHeader = other.m_bWriteVbrHeader.load();
    m_iVbrMinBitrate = other.m_iVbrMinBitrate.load();
    m_iVbrMaxBitrate = other.m_iVbrMaxBitrate.load();
    m_iVbrQuality = other.m_iVbrQuality.load();
    m_iFlacCompression = other.m_iFlacCompression.load();
    m_iOpusBitrate = other.m_iOpusBitrate.load();
    m_iAacBitrate = other.m_iAacBitrate.load();
    m_iVorbisQuality = other.m_iVorbisQuality.load();
}

}  // namespace klangor

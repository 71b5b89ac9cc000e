#pragma once

#include <atomic>
#include <cstdint>

#include "settings/OutputFormat.h"

namespace klangor {

// One entry of a settings value list: the text a list shows and the value the record stores.
struct SettingChoice {
    const char *szLabel;
    int32_t iValue;
};

inline constexpr int kSampleRateCount = 10;
inline constexpr int kBitrateCount = 14;
inline constexpr int kQualityCount = 10;
inline constexpr int kChannelModeCount = 4;
inline constexpr int kMonoSourceCount = 3;

// The value lists, in the order the settings dialog shows them; the position is the index used both ways.
extern const SettingChoice kSampleRateChoices[kSampleRateCount];
extern const SettingChoice kBitrateChoices[kBitrateCount];  // highest first
extern const SettingChoice kQualityChoices[kQualityCount];  // value = level = position
extern const SettingChoice kChannelModeChoices[kChannelModeCount];
extern const SettingChoice kMonoSourceChoices[kMonoSourceCount];

inline constexpr int32_t kChannelModeStereo = 0;
inline constexpr int32_t kChannelModeJointStereo = 1;
inline constexpr int32_t kChannelModeDualChannel = 2;
inline constexpr int32_t kChannelModeMono = 3;
inline constexpr int32_t kMonoSourceMerge = 0;
inline constexpr int32_t kMonoSourceLeft = 1;
inline constexpr int32_t kMonoSourceRight = 2;
inline constexpr int32_t kVbrModeOff = 0;
inline constexpr int32_t kVbrModeOn = 2;  // the encoder's default VBR mode number, never 1

// Rates at or below this limit the constant bitrate to kLowRateBitrateCeiling.
inline constexpr int32_t kLowSampleRateLimit = 12000;
inline constexpr int32_t kLowRateBitrateCeiling = 64;

// Position of a value in a list, -1 when the value is in none.
int FindChoiceIndex(const SettingChoice *pChoices, int nCount, int32_t iValue);
int FindSampleRateIndex(int32_t iSampleRate);
int FindBitrateIndex(int32_t iKbps);

// The user's encoder settings: the MP3 encoder's, and below them the newer formats' own. Written on the
// window thread (settings dialog, and the write-back of the bitrate ceiling the MP3 output applied to its
// files) and read on the writer's workers as each file's turn comes, so every field is atomic. Copying
// takes a field-by-field snapshot.
class EncoderSettings {
public:
    EncoderSettings() = default;
    EncoderSettings(const EncoderSettings &other) { CopyFrom(other); }
    EncoderSettings &operator=(const EncoderSettings &other) {
        if (this != &other) {
            CopyFrom(other);
        }
        return *this;
    }

    // Lowers m_iBitrate to 64 kbps, in this record, when the effective output rate is 12 kHz or less.
    // The VBR limits are left alone. Returns true when the bitrate was lowered.
    bool ApplyBitrateCeiling(int32_t iEffectiveSampleRate);
    // The write-back of a ceiling applied to a copy: lowers m_iBitrate to 64 kbps only while it still
    // holds iFrom, the value the copy was taken with, so a choice made since is kept.
    bool LowerBitrateFrom(int32_t iFrom);

    bool operator==(const EncoderSettings &other) const;

    std::atomic<int32_t> m_iSampleRate{0};  // 0 = "Auto Select"
    std::atomic<int32_t> m_iQuality{2};
    std::atomic<int32_t> m_iBitrate{128};
    std::atomic<int32_t> m_iChannelMode{kChannelModeJointStereo};
    std::atomic<int32_t> m_iMonoSource{kMonoSourceMerge};
    std::atomic<int32_t> m_bCopyright{0};
    std::atomic<int32_t> m_bOriginal{1};
    std::atomic<int32_t> m_bCrc{0};
    std::atomic<int32_t> m_bPrivate{0};
    std::atomic<int32_t> m_iVbrMode{kVbrModeOff};
    std::atomic<int32_t> m_bWriteVbrHeader{1};
    std::atomic<int32_t> m_iVbrMinBitrate{128};
    std::atomic<int32_t> m_iVbrMaxBitrate{128};
    std::atomic<int32_t> m_iVbrQuality{2};
    std::atomic<int32_t> m_iFlacCompression{kFlacCompressionDefault};
    std::atomic<int32_t> m_iOpusBitrate{kOpusBitrateDefault};  // kbps
    std::atomic<int32_t> m_iAacBitrate{kAacBitrateDefault};    // kbps
    std::atomic<int32_t> m_iVorbisQuality{kVorbisQualityDefault};

private:
    void CopyFrom(const EncoderSettings &other);
};

}  // namespace klangor

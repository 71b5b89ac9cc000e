#include <gtest/gtest.h>

#include <memory>

#include "settings/EncoderSettings.h"
#include "settings/SettingsDialogLogic.h"

namespace klangor {

namespace {

// Stands in for the dialog's window: "shown" is what the controls display, and a user's choice is a
// change to it followed by the handler the window would run.
class FakeView : public SettingsDialogView {
public:
    void SaveControls(SettingsDialogControls &controls) override { controls = shown; }
    void LoadControls(const SettingsDialogControls &controls) override { shown = controls; }
    void EnableMonoControls(bool bEnable) override { bMonoEnabled = bEnable; }
    void EnableVbrControls(bool bEnable) override { bVbrEnabled = bEnable; }
    void ShowFormatControls(int iOutputFormat) override { iFormatShown = iOutputFormat; }

    SettingsDialogControls shown;
    bool bMonoEnabled = true;
    bool bVbrEnabled = true;
    int iFormatShown = -2;
};

// List positions, taken from the record's own lists so a test reads as the user sees it.
int RatePos(int32_t iHz) {
    return FindSampleRateIndex(iHz);
}
int KbpsPos(int32_t iKbps) {
    return FindBitrateIndex(iKbps);
}

class SettingsDialogLogicTest : public ::testing::Test {
protected:
    void Open() {
        m_pLogic = std::make_unique<SettingsDialogLogic>(m_settings, m_view);
        m_pLogic->Initialise();
    }
    void ChooseSampleRate(int32_t iHz) {
        m_view.shown.nSampleRate = RatePos(iHz);
        m_pLogic->CommitAndRefresh();
    }
    void ChooseBitrate(int32_t iKbps) {
        m_view.shown.nBitrate = KbpsPos(iKbps);
        m_pLogic->CommitAndRefresh();
    }
    void ChooseVbrMin(int32_t iKbps) {
        m_view.shown.nVbrMinBitrate = KbpsPos(iKbps);
        m_pLogic->RefreshVbrControls();
    }
    void ChooseVbrMax(int32_t iKbps) {
        m_view.shown.nVbrMaxBitrate = KbpsPos(iKbps);
        m_pLogic->RefreshVbrControls();
    }
    void ClickChannel(int iMode) {
        m_view.shown.iChannelMode = iMode;
        m_pLogic->RefreshMonoControls();
    }
    void ClickVbr(bool bOn) {
        m_view.shown.bVbr = bOn;
        m_pLogic->RefreshVbrControls();
    }

    EncoderSettings m_settings;
    FakeView m_view;
    std::unique_ptr<SettingsDialogLogic> m_pLogic;
};

// A record far from the defaults, every field changed.
void MakeUnusual(EncoderSettings &s) {
    s.m_iSampleRate = 44100;
    s.m_iQuality = 7;
    s.m_iBitrate = 192;
    s.m_iChannelMode = kChannelModeMono;
    s.m_iMonoSource = kMonoSourceRight;
    s.m_bCopyright = 1;
    s.m_bOriginal = 0;
    s.m_bCrc = 1;
    s.m_bPrivate = 1;
    s.m_iVbrMode = kVbrModeOn;
    s.m_bWriteVbrHeader = 0;
    s.m_iVbrMinBitrate = 96;
    s.m_iVbrMaxBitrate = 256;
    s.m_iVbrQuality = 4;
}

}  // namespace

TEST_F(SettingsDialogLogicTest, FreshStartShowsTheDefaultsWithDependentControlsDisabled) {
    Open();
    const SettingsDialogControls &c = m_view.shown;
    EXPECT_EQ(c.nSampleRate, 0);  // "Auto Select"
    EXPECT_EQ(c.nBitrate, KbpsPos(128));
    EXPECT_EQ(c.nQuality, 2);
    EXPECT_EQ(c.iChannelMode, kChannelModeJointStereo);
    EXPECT_EQ(c.iMonoSource, kMonoSourceMerge);
    EXPECT_FALSE(m_view.bMonoEnabled);
    EXPECT_TRUE(c.bOriginal);
    EXPECT_FALSE(c.bCopyright);
    EXPECT_FALSE(c.bCrc);
    EXPECT_FALSE(c.bPrivate);
    EXPECT_FALSE(c.bVbr);
    EXPECT_FALSE(m_view.bVbrEnabled);
    EXPECT_TRUE(c.bWriteVbrHeader);
    EXPECT_EQ(c.nVbrMinBitrate, KbpsPos(128));
    EXPECT_EQ(c.nVbrMaxBitrate, KbpsPos(128));
    EXPECT_EQ(c.nVbrQuality, 2);
}

TEST_F(SettingsDialogLogicTest, LowSampleRateCapsBitrateAt64AndOnlyAutoSelectLiftsTheCap) {
    m_settings.m_iVbrMinBitrate = 320;
    m_settings.m_iVbrMaxBitrate = 320;
    Open();

    ChooseSampleRate(8000);
    EXPECT_EQ(m_settings.m_iSampleRate, 8000);
    EXPECT_EQ(m_settings.m_iBitrate, 64);
    EXPECT_EQ(m_view.shown.nBitrate, KbpsPos(64));
    // The cap is on the constant bitrate only.
    EXPECT_EQ(m_settings.m_iVbrMinBitrate, 320);
    EXPECT_EQ(m_settings.m_iVbrMaxBitrate, 320);

    ChooseBitrate(256);
    EXPECT_EQ(m_view.shown.nBitrate, KbpsPos(64));
    EXPECT_EQ(m_settings.m_iBitrate, 64);

    // A higher rate does not bring the old bitrate back.
    ChooseSampleRate(48000);
    EXPECT_EQ(m_settings.m_iBitrate, 64);

    ChooseSampleRate(0);
    ChooseBitrate(256);
    EXPECT_EQ(m_view.shown.nBitrate, KbpsPos(256));
    EXPECT_EQ(m_settings.m_iBitrate, 256);
}

TEST_F(SettingsDialogLogicTest, CapAppliesAtTwelveKilohertzAndBelowButNotAbove) {
    Open();
    ChooseBitrate(128);
    ChooseSampleRate(16000);
    EXPECT_EQ(m_settings.m_iBitrate, 128);
    ChooseSampleRate(12000);
    EXPECT_EQ(m_settings.m_iBitrate, 64);
    ChooseBitrate(56);  // below the cap stays as chosen
    ChooseSampleRate(11025);
    EXPECT_EQ(m_settings.m_iBitrate, 56);
}

TEST_F(SettingsDialogLogicTest, CommitWritesEveryShownControlSoCancelKeepsThem) {
    Open();
    m_view.shown.nQuality = 9;
    m_view.shown.bCopyright = true;
    m_view.shown.bOriginal = false;
    m_view.shown.nVbrQuality = 6;
    ClickChannel(kChannelModeMono);
    m_view.shown.iMonoSource = kMonoSourceLeft;
    EXPECT_EQ(m_settings.m_iQuality, 2) << "nothing is written before a commit";

    ChooseSampleRate(22050);
    // Cancel runs no code: what the commit wrote is what stays.
    m_pLogic.reset();
    EXPECT_EQ(m_settings.m_iSampleRate, 22050);
    EXPECT_EQ(m_settings.m_iQuality, 9);
    EXPECT_EQ(m_settings.m_bCopyright, 1);
    EXPECT_EQ(m_settings.m_bOriginal, 0);
    EXPECT_EQ(m_settings.m_iVbrQuality, 6);
    EXPECT_EQ(m_settings.m_iChannelMode, kChannelModeMono);
    EXPECT_EQ(m_settings.m_iMonoSource, kMonoSourceLeft);
}

TEST_F(SettingsDialogLogicTest, VbrMaximumFollowsMinimumUpwardAndNeverDropsBelowIt) {
    Open();
    ClickVbr(true);

    ChooseVbrMax(96);
    EXPECT_EQ(m_view.shown.nVbrMaxBitrate, KbpsPos(128));
    EXPECT_EQ(m_view.shown.nVbrMinBitrate, KbpsPos(128));

    ChooseVbrMin(192);
    EXPECT_EQ(m_view.shown.nVbrMaxBitrate, KbpsPos(192));
    EXPECT_EQ(m_view.shown.nVbrMinBitrate, KbpsPos(192));

    // Widening the range either way is allowed and leaves the other end alone.
    ChooseVbrMax(320);
    ChooseVbrMin(32);
    EXPECT_EQ(m_view.shown.nVbrMinBitrate, KbpsPos(32));
    EXPECT_EQ(m_view.shown.nVbrMaxBitrate, KbpsPos(320));

    m_pLogic->Ok();
    EXPECT_EQ(m_settings.m_iVbrMinBitrate, 32);
    EXPECT_EQ(m_settings.m_iVbrMaxBitrate, 320);
}

TEST_F(SettingsDialogLogicTest, VbrSwitchStoresTwoAndDisabledVbrControlsKeepTheirValues) {
    m_settings.m_bWriteVbrHeader = 0;
    m_settings.m_iVbrMinBitrate = 96;
    m_settings.m_iVbrMaxBitrate = 256;
    m_settings.m_iVbrQuality = 5;
    Open();
    EXPECT_FALSE(m_view.bVbrEnabled);
    EXPECT_EQ(m_view.shown.nVbrMinBitrate, KbpsPos(96));
    EXPECT_EQ(m_view.shown.nVbrMaxBitrate, KbpsPos(256));

    m_pLogic->Ok();
    EXPECT_EQ(m_settings.m_iVbrMode, kVbrModeOff);
    EXPECT_EQ(m_settings.m_bWriteVbrHeader, 0);
    EXPECT_EQ(m_settings.m_iVbrMinBitrate, 96);
    EXPECT_EQ(m_settings.m_iVbrMaxBitrate, 256);
    EXPECT_EQ(m_settings.m_iVbrQuality, 5);

    ClickVbr(true);
    EXPECT_TRUE(m_view.bVbrEnabled);
    m_pLogic->Ok();
    EXPECT_EQ(m_settings.m_iVbrMode, 2);

    ClickVbr(false);
    EXPECT_FALSE(m_view.bVbrEnabled);
    m_pLogic->Ok();
    EXPECT_EQ(m_settings.m_iVbrMode, 0);
}

TEST_F(SettingsDialogLogicTest, MonoChoicesEnabledOnlyForMonoAndKeptWhenSwitchingAway) {
    Open();
    for (int iMode :
         {kChannelModeStereo, kChannelModeDualChannel, kChannelModeMono, kChannelModeJointStereo}) {
        ClickChannel(iMode);
        EXPECT_EQ(m_view.bMonoEnabled, iMode == kChannelModeMono) << "mode " << iMode;
    }
    ClickChannel(kChannelModeMono);
    m_view.shown.iMonoSource = kMonoSourceRight;
    ClickChannel(kChannelModeStereo);
    m_pLogic->Ok();
    EXPECT_EQ(m_settings.m_iChannelMode, kChannelModeStereo);
    EXPECT_EQ(m_settings.m_iMonoSource, kMonoSourceRight);

    // Opening again on a mono record starts with the choices enabled.
    m_settings.m_iChannelMode = kChannelModeMono;
    Open();
    EXPECT_TRUE(m_view.bMonoEnabled);
    EXPECT_EQ(m_view.shown.iMonoSource, kMonoSourceRight);
}

TEST_F(SettingsDialogLogicTest, LoadDefaultReturnsToTheRecordAsOpenedNotToFactoryDefaults) {
    MakeUnusual(m_settings);
    const EncoderSettings opened(m_settings);
    Open();
    const SettingsDialogControls shownAtOpening = m_view.shown;
    const bool bMonoAtOpening = m_view.bMonoEnabled;
    const bool bVbrAtOpening = m_view.bVbrEnabled;

    ClickChannel(kChannelModeJointStereo);
    ChooseVbrMin(320);
    ClickVbr(false);
    m_view.shown.bCrc = false;
    m_view.shown.nQuality = 0;
    ChooseSampleRate(8000);  // commits all of the above, bitrate capped to 64
    ASSERT_EQ(m_settings.m_iBitrate, 64);
    ASSERT_FALSE(m_settings == opened);

    m_pLogic->LoadDefault();
    EXPECT_EQ(m_view.shown, shownAtOpening);
    EXPECT_EQ(m_view.bMonoEnabled, bMonoAtOpening);
    EXPECT_EQ(m_view.bVbrEnabled, bVbrAtOpening);
    EXPECT_TRUE(m_settings == opened);
    EXPECT_FALSE(m_settings == EncoderSettings());
}

TEST_F(SettingsDialogLogicTest, OkWithoutTouchingAnythingWritesBackExactlyWhatWasShown) {
    MakeUnusual(m_settings);
    const EncoderSettings opened(m_settings);
    Open();
    m_pLogic->Ok();
    EXPECT_TRUE(m_settings == opened);

    m_settings = EncoderSettings();
    Open();
    m_pLogic->Ok();
    EXPECT_TRUE(m_settings == EncoderSettings());
}

// Values no list can show (a record filled by other code) must survive the dialog untouched rather
// than be replaced by whatever the control happened to show, or by -1.
TEST_F(SettingsDialogLogicTest, ValuesOutsideTheListsSurviveOkUnchanged) {
    m_settings.m_iBitrate = 100;
    m_settings.m_iVbrMinBitrate = 100;
    m_settings.m_iSampleRate = 7000;
    m_settings.m_iQuality = 12;
    m_settings.m_iVbrQuality = -3;
    m_settings.m_iChannelMode = 7;
    m_settings.m_iMonoSource = 5;
    Open();
    EXPECT_EQ(m_view.shown.nBitrate, -1);
    EXPECT_EQ(m_view.shown.nQuality, -1);
    EXPECT_EQ(m_view.shown.iChannelMode, -1);
    EXPECT_EQ(m_view.shown.nVbrMaxBitrate, KbpsPos(128)) << "an empty minimum must not clear the maximum";

    m_pLogic->Ok();
    EXPECT_EQ(m_settings.m_iBitrate, 100);
    EXPECT_EQ(m_settings.m_iVbrMinBitrate, 100);
    EXPECT_EQ(m_settings.m_iSampleRate, 7000);
    EXPECT_EQ(m_settings.m_iQuality, 12);
    EXPECT_EQ(m_settings.m_iVbrQuality, -3);
    EXPECT_EQ(m_settings.m_iChannelMode, 7);
    EXPECT_EQ(m_settings.m_iMonoSource, 5);
    EXPECT_EQ(m_settings.m_iVbrMaxBitrate, 128);
}

// The output format list and the newer formats' settings. The format is the window's, not the
// record's: only OK writes it, a commit of a new sample rate and "Load Default" leave it to OK.
TEST_F(SettingsDialogLogicTest, OutputFormatIsShownWithItsOwnSettingAndOnlyOkWritesIt) {
    enum class Close { Ok, CommitThenCancel, LoadDefaultThenOk };
    constexpr int kNone = -1;
    struct Case {
        const char *szRule;
        int iTypeAtOpen;
        int32_t iOpusInRecord;
        int iChosenFormat;  // kNone: the list is left as it opened
        int iOpusTyped;     // kNone: the box is left as it opened
        Close close;
        int iTypeAfter;
        int iFormatShown;
        int32_t iOpusAfter;
    };
    const int kMp3 = static_cast<int>(OutputFormat::Mp3);
    const int kWav = static_cast<int>(OutputFormat::Wav);
    const int kFlac = static_cast<int>(OutputFormat::Flac);
    const int kOpus = static_cast<int>(OutputFormat::Opus);
    const int kAac = static_cast<int>(OutputFormat::Aac);
    const int kVorbis = static_cast<int>(OutputFormat::Vorbis);
    const Case cases[] = {
        {"a type the list lacks opens, and is written, as MP3", 99, 128, kNone, kNone, Close::Ok, kMp3, kMp3,
         128},
        {"the type the dialog opens with is shown, its setting beside it", kFlac, 128, kNone, kNone,
         Close::Ok, kFlac, kFlac, 128},
        {"a chosen format shows its own setting, and OK writes both", kMp3, 128, kOpus, 300, Close::Ok, kOpus,
         kOpus, 300},
        {"a new sample rate commits the record but not the format", kWav, 128, kVorbis, kNone,
         Close::CommitThenCancel, kWav, kVorbis, 128},
        {"Load Default returns the setting, OK still writes the chosen format", kMp3, 200, kAac, 300,
         Close::LoadDefaultThenOk, kAac, kAac, 200},
        {"a bitrate above the range is shown and written as its highest", kOpus, 9999, kNone, kNone,
         Close::Ok, kOpus, kOpus, kOpusBitrateMax},
        {"a bitrate below the range is shown and written as its lowest", kOpus, 1, kNone, kNone, Close::Ok,
         kOpus, kOpus, kOpusBitrateMin},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szRule);
        m_settings = EncoderSettings();
        m_settings.m_iOpusBitrate = c.iOpusInRecord;
        int iOutputType = c.iTypeAtOpen;
        m_view = FakeView();
        m_pLogic = std::make_unique<SettingsDialogLogic>(m_settings, m_view, &iOutputType);
        m_pLogic->Initialise();
        if (c.iChosenFormat != kNone) {
            m_view.shown.iOutputFormat = c.iChosenFormat;
            m_pLogic->RefreshFormatControls();
        }
        if (c.iOpusTyped != kNone) {
            m_view.shown.iOpusBitrate = c.iOpusTyped;
        }
        switch (c.close) {
            case Close::Ok:
                m_pLogic->Ok();
                break;
            case Close::CommitThenCancel:
                ChooseSampleRate(44100);
                break;
            case Close::LoadDefaultThenOk:
                m_pLogic->LoadDefault();
                m_pLogic->Ok();
                break;
        }
        EXPECT_EQ(iOutputType, c.iTypeAfter);
        EXPECT_EQ(m_view.iFormatShown, c.iFormatShown);
        EXPECT_EQ(m_settings.m_iOpusBitrate, c.iOpusAfter);
        EXPECT_EQ(m_view.shown.iOpusBitrate, c.iOpusAfter) << "the box shows what is written";
    }
}

}  // namespace klangor

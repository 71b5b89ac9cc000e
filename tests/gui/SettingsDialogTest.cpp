#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>

#include <memory>

#include "settings/EncoderSettings.h"
#include "gui/SettingsDialog.h"

namespace klangor {

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        m_pApp = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_pApp.reset(); }

private:
    int m_argc = 1;
    char m_szName[32] = "klangor_settings_dialog_tests";
    char *m_argv[2] = {m_szName, nullptr};
    std::unique_ptr<QApplication> m_pApp;
};

// gtest owns the environment it is given.
[[maybe_unused]] ::testing::Environment *const g_pQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

template <typename T>
T *Child(const SettingsDialog &dialog, const char *szName) {
    T *pChild = dialog.findChild<T *>(QString::fromLatin1(szName));
    if (pChild == nullptr) {
        ADD_FAILURE() << "no control named " << szName;
    }
    return pChild;
}

void PressKey(QWidget *pWidget, Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(pWidget, &event);
}

// Steps through a list with the arrow keys, as a keyboard user would, until it shows the text.
void ChooseWithKeys(QComboBox *pList, const char *szText) {
    const int nTarget = pList->findText(QString::fromLatin1(szText));
    ASSERT_GE(nTarget, 0) << szText;
    for (int nGuard = 0; pList->currentIndex() != nTarget && nGuard < 20; ++nGuard) {
        PressKey(pList, pList->currentIndex() < nTarget ? Qt::Key_Down : Qt::Key_Up);
    }
    ASSERT_EQ(pList->currentText().toStdString(), szText);
}

std::string Shown(const QComboBox *pList) {
    return pList->currentText().toStdString();
}

}  // namespace

TEST(SettingsDialog, OpensWithTheRecordsValuesCaptionsAndDependentControlsDisabled) {
    EncoderSettings settings;
    SettingsDialog dialog(settings);
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Settings");
    EXPECT_TRUE(dialog.isModal());

    auto *pRates = Child<QComboBox>(dialog, "sampleRateList");
    auto *pQuality = Child<QComboBox>(dialog, "qualityList");
    ASSERT_EQ(pRates->count(), kSampleRateCount);
    EXPECT_EQ(pRates->itemText(9).toStdString(), "8,000 Hz");
    EXPECT_EQ(Shown(pRates), "Auto Select");
    EXPECT_EQ(Shown(Child<QComboBox>(dialog, "bitrateList")), "128 Kbps");
    EXPECT_EQ(Shown(pQuality), "Level 2,  near-best quality (not too slow encoding speed)");
    for (const char *szList : {"bitrateList", "vbrMinList", "vbrMaxList"}) {
        auto *pList = Child<QComboBox>(dialog, szList);
        ASSERT_EQ(pList->count(), kBitrateCount) << szList;
        EXPECT_EQ(pList->itemText(0).toStdString(), "320 Kbps") << szList;
        EXPECT_EQ(pList->itemText(13).toStdString(), "32 Kbps") << szList;
    }
    EXPECT_TRUE(Child<QRadioButton>(dialog, "channelRadio1")->isChecked());
    EXPECT_EQ(Child<QRadioButton>(dialog, "channelRadio1")->text().toStdString(), "Joint_Stereo");
    auto *pMerge = Child<QRadioButton>(dialog, "monoRadio0");
    EXPECT_TRUE(pMerge->isChecked());
    EXPECT_FALSE(pMerge->isEnabled());
    EXPECT_TRUE(Child<QCheckBox>(dialog, "originalCheck")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(dialog, "copyrightCheck")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(dialog, "enableVbrCheck")->isChecked());
    auto *pHeader = Child<QCheckBox>(dialog, "vbrHeaderCheck");
    EXPECT_TRUE(pHeader->isChecked());
    EXPECT_FALSE(pHeader->isEnabled());
    EXPECT_FALSE(Child<QComboBox>(dialog, "vbrMinList")->isEnabled());
    EXPECT_EQ(Shown(Child<QComboBox>(dialog, "vbrMaxList")), "128 Kbps");
    EXPECT_FALSE(Child<QComboBox>(dialog, "vbrQualityList")->isEnabled());
    EXPECT_TRUE(Child<QComboBox>(dialog, "bitrateList")->isEnabled());
    EXPECT_EQ(dialog.focusWidget(), pRates) << "keyboard focus starts on the first control";
}

TEST(SettingsDialog, ChoosingASampleRateCommitsAtOnceAndCancelKeepsIt) {
    EncoderSettings settings;
    SettingsDialog dialog(settings);
    dialog.show();
    auto *pRates = Child<QComboBox>(dialog, "sampleRateList");
    auto *pBitrates = Child<QComboBox>(dialog, "bitrateList");
    Child<QCheckBox>(dialog, "crcCheck")->click();

    ChooseWithKeys(pRates, "8,000 Hz");
    EXPECT_EQ(settings.m_iSampleRate, 8000);
    EXPECT_EQ(settings.m_iBitrate, 64);
    EXPECT_EQ(Shown(pBitrates), "64 Kbps");
    EXPECT_EQ(settings.m_bCrc, 1) << "the commit writes every control shown";

    // A control without its own handler is only written by the next commit or OK, not by Cancel.
    Child<QCheckBox>(dialog, "privateCheck")->click();
    Child<QPushButton>(dialog, "cancelButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(settings.m_iSampleRate, 8000);
    EXPECT_EQ(settings.m_bCrc, 1);
    EXPECT_EQ(settings.m_bPrivate, 0);

    // Esc is Cancel too.
    SettingsDialog again(settings);
    again.show();
    Child<QCheckBox>(again, "copyrightCheck")->click();
    PressKey(&again, Qt::Key_Escape);
    EXPECT_EQ(again.result(), QDialog::Rejected);
    EXPECT_EQ(settings.m_bCopyright, 0);
}

TEST(SettingsDialog, ChoosingABitrateCommitsAndTheCeilingHoldsOnScreen) {
    EncoderSettings settings;
    settings.m_iSampleRate = 11025;
    settings.m_iBitrate = 48;
    SettingsDialog dialog(settings);
    dialog.show();
    auto *pBitrates = Child<QComboBox>(dialog, "bitrateList");
    ChooseWithKeys(pBitrates, "56 Kbps");
    EXPECT_EQ(settings.m_iBitrate, 56);
    for (int i = 0; i < 3; ++i) {
        PressKey(pBitrates, Qt::Key_Up);  // towards 112 Kbps
    }
    EXPECT_EQ(Shown(pBitrates), "64 Kbps");
    EXPECT_EQ(settings.m_iBitrate, 64);
}

TEST(SettingsDialog, EnablingFollowsTheVbrCheckAndTheMonoRadio) {
    EncoderSettings settings;
    SettingsDialog dialog(settings);
    dialog.show();
    auto *pVbrMin = Child<QComboBox>(dialog, "vbrMinList");
    auto *pVbrMax = Child<QComboBox>(dialog, "vbrMaxList");
    auto *pRight = Child<QRadioButton>(dialog, "monoRadio2");

    Child<QCheckBox>(dialog, "enableVbrCheck")->click();
    EXPECT_TRUE(pVbrMin->isEnabled());
    EXPECT_TRUE(Child<QCheckBox>(dialog, "vbrHeaderCheck")->isEnabled());
    EXPECT_TRUE(Child<QComboBox>(dialog, "vbrQualityList")->isEnabled());
    ChooseWithKeys(pVbrMin, "192 Kbps");
    EXPECT_EQ(Shown(pVbrMax), "192 Kbps") << "the maximum follows the minimum up";
    PressKey(pVbrMax, Qt::Key_Down);  // 160 Kbps, below the minimum
    EXPECT_EQ(Shown(pVbrMax), "192 Kbps") << "the maximum snaps back to the minimum";

    Child<QRadioButton>(dialog, "channelRadio3")->click();
    EXPECT_TRUE(pRight->isEnabled());
    pRight->click();
    Child<QRadioButton>(dialog, "channelRadio0")->click();
    EXPECT_FALSE(pRight->isEnabled());
    EXPECT_TRUE(pRight->isChecked());

    Child<QPushButton>(dialog, "okButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.m_iVbrMode, 2);
    EXPECT_EQ(settings.m_iVbrMinBitrate, 192);
    EXPECT_EQ(settings.m_iVbrMaxBitrate, 192);
    EXPECT_EQ(settings.m_iChannelMode, 0);
    EXPECT_EQ(settings.m_iMonoSource, 2);
}

TEST(SettingsDialog, LoadDefaultShowsAndRestoresWhatTheDialogOpenedWith) {
    EncoderSettings settings;
    settings.m_iSampleRate = 44100;
    settings.m_iBitrate = 192;
    const EncoderSettings opened(settings);
    SettingsDialog dialog(settings);
    dialog.show();
    auto *pRates = Child<QComboBox>(dialog, "sampleRateList");
    Child<QRadioButton>(dialog, "channelRadio3")->click();
    ChooseWithKeys(pRates, "8,000 Hz");
    ASSERT_EQ(settings.m_iBitrate, 64);

    Child<QPushButton>(dialog, "loadDefaultButton")->click();
    EXPECT_TRUE(settings == opened);
    EXPECT_EQ(Shown(pRates), "44,100 Hz");
    EXPECT_EQ(Shown(Child<QComboBox>(dialog, "bitrateList")), "192 Kbps");
    EXPECT_TRUE(Child<QRadioButton>(dialog, "channelRadio1")->isChecked());
    EXPECT_FALSE(Child<QRadioButton>(dialog, "monoRadio0")->isEnabled());
}

// Leaves pictures of the dialog in the build folder for a reviewer, and checks that the fixed-size
// layout leaves no control cut off at the dialog's edge.
TEST(SettingsDialog, ScreenshotsShowEveryControlInsideTheDialog) {
    const QString strFolder = QStringLiteral(KLANGOR_BINARY_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(strFolder));

    EncoderSettings settings;
    SettingsDialog dialog(settings);
    dialog.show();
    QApplication::processEvents();
    const QPixmap picture = dialog.grab();
    EXPECT_EQ(picture.size(), dialog.size());
    EXPECT_TRUE(picture.save(strFolder + QStringLiteral("/settings-dialog.png")));
    for (const QWidget *pChild : dialog.findChildren<QWidget *>()) {
        const QRect area(pChild->mapTo(&dialog, QPoint(0, 0)), pChild->size());
        EXPECT_TRUE(dialog.rect().contains(area)) << pChild->objectName().toStdString();
        EXPECT_GE(pChild->width(), pChild->minimumSizeHint().width()) << pChild->objectName().toStdString();
    }

    Child<QCheckBox>(dialog, "enableVbrCheck")->click();
    Child<QRadioButton>(dialog, "channelRadio3")->click();
    QApplication::processEvents();
    EXPECT_TRUE(dialog.grab().save(strFolder + QStringLiteral("/settings-dialog-vbr-mono.png")));
}

namespace {

// The session's "One file at a time" sits below the dialog's own controls, which keep their places;
// OK writes it, Cancel does not, and Load Default leaves it alone.
TEST(SettingsDialog, OneFileAtATimeSitsBelowTheOwnControlsAndOnlyOkWritesIt) {
    EncoderSettings settings;
    bool bOneAtATime = false;
    SettingsDialog plain(settings);
    EXPECT_EQ(plain.findChild<QCheckBox *>(QStringLiteral("oneFileAtATimeCheck")), nullptr);
    plain.show();
    QApplication::processEvents();

    SettingsDialog dialog(settings, nullptr, &bOneAtATime);
    dialog.show();
    QApplication::processEvents();
    auto *pCheck = Child<QCheckBox>(dialog, "oneFileAtATimeCheck");
    ASSERT_NE(pCheck, nullptr);
    EXPECT_EQ(pCheck->text(), QStringLiteral("One file at a time"));
    EXPECT_FALSE(pCheck->isChecked());
    for (const char *szName : {"sampleRateList", "channelRadio3", "monoRadio2", "vbrQualityList",
                               "loadDefaultButton", "okButton", "cancelButton"}) {
        const QWidget *pOwn = Child<QWidget>(dialog, szName);
        const QWidget *pSame = plain.findChild<QWidget *>(QString::fromLatin1(szName));
        ASSERT_TRUE(pOwn && pSame) << szName;
        EXPECT_EQ(pOwn->mapTo(&dialog, QPoint(0, 0)), pSame->mapTo(&plain, QPoint(0, 0))) << szName;
        EXPECT_LT(pOwn->mapTo(&dialog, QPoint(0, pOwn->height())).y(),
                  pCheck->mapTo(&dialog, QPoint(0, 0)).y())
            << szName;
    }

    pCheck->click();
    Child<QPushButton>(dialog, "loadDefaultButton")->click();
    EXPECT_TRUE(pCheck->isChecked());
    Child<QPushButton>(dialog, "cancelButton")->click();
    EXPECT_FALSE(bOneAtATime);

    SettingsDialog again(settings, nullptr, &bOneAtATime);
    Child<QCheckBox>(again, "oneFileAtATimeCheck")->click();
    Child<QPushButton>(again, "okButton")->click();
    EXPECT_TRUE(bOneAtATime);
    SettingsDialog reopened(settings, nullptr, &bOneAtATime);
    EXPECT_TRUE(Child<QCheckBox>(reopened, "oneFileAtATimeCheck")->isChecked());
}

// The loudness group comes below "One file at a time", moving none of the controls above it; the
// target is held to -31 .. -5 LUFS, OK writes both values for the session and Cancel neither.
TEST(SettingsDialog, LoudnessGroupSitsBelowEverythingAndOnlyOkWritesIt) {
    EncoderSettings settings;
    bool bOneAtATime = false;
    LoudnessTarget loudness;
    SettingsDialog before(settings, nullptr, &bOneAtATime);
    before.show();
    SettingsDialog dialog(settings, nullptr, &bOneAtATime, &loudness);
    dialog.show();
    QApplication::processEvents();
    auto *pCheck = Child<QCheckBox>(dialog, "normalizeCheck");
    auto *pSpin = Child<QDoubleSpinBox>(dialog, "normalizeTargetSpin");
    ASSERT_TRUE(pCheck && pSpin);
    EXPECT_FALSE(pCheck->isChecked());
    EXPECT_FALSE(pSpin->isEnabled());
    EXPECT_EQ(pSpin->value(), -16.0);
    for (const char *szName : {"sampleRateList", "channelRadio3", "vbrQualityList", "okButton",
                               "cancelButton", "oneFileAtATimeCheck"}) {
        const QWidget *pOwn = Child<QWidget>(dialog, szName);
        const QWidget *pSame = before.findChild<QWidget *>(QString::fromLatin1(szName));
        ASSERT_TRUE(pOwn && pSame) << szName;
        EXPECT_EQ(pOwn->mapTo(&dialog, QPoint(0, 0)), pSame->mapTo(&before, QPoint(0, 0))) << szName;
        EXPECT_LT(pOwn->mapTo(&dialog, QPoint(0, pOwn->height())).y(),
                  pCheck->mapTo(&dialog, QPoint(0, 0)).y())
            << szName;
    }
    pSpin->setValue(-40.0);
    EXPECT_EQ(pSpin->value(), -31.0);
    pSpin->setValue(0.0);
    EXPECT_EQ(pSpin->value(), -5.0);

    pCheck->click();
    EXPECT_TRUE(pSpin->isEnabled());
    Child<QPushButton>(dialog, "cancelButton")->click();
    EXPECT_FALSE(loudness.bNormalize);
    EXPECT_EQ(loudness.dTargetLufs, -16.0);

    SettingsDialog again(settings, nullptr, &bOneAtATime, &loudness);
    Child<QCheckBox>(again, "normalizeCheck")->click();
    Child<QDoubleSpinBox>(again, "normalizeTargetSpin")->setValue(-23.0);
    Child<QPushButton>(again, "okButton")->click();
    EXPECT_TRUE(loudness.bNormalize);
    EXPECT_EQ(loudness.dTargetLufs, -23.0);
    SettingsDialog reopened(settings, nullptr, &bOneAtATime, &loudness);
    EXPECT_TRUE(Child<QCheckBox>(reopened, "normalizeCheck")->isChecked());
    EXPECT_EQ(Child<QDoubleSpinBox>(reopened, "normalizeTargetSpin")->value(), -23.0);
}

}  // namespace

}  // namespace klangor

#include "gui/SettingsDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace klangor {

namespace {

QComboBox *MakeList(const char *szObjectName) {
    auto *pList = new QComboBox;
    pList->setObjectName(QString::fromLatin1(szObjectName));
    pList->setEditable(false);
    return pList;
}

QCheckBox *MakeCheck(const char *szText, const char *szObjectName) {
    auto *pCheck = new QCheckBox(QString::fromLatin1(szText));
    pCheck->setObjectName(QString::fromLatin1(szObjectName));
    return pCheck;
}

void AddChoices(QComboBox *pList, const SettingChoice *pChoices, int nCount) {
    for (int i = 0; i < nCount; ++i) {
        pList->addItem(QString::fromLatin1(pChoices[i].szLabel));
    }
    // A list starts with no selection, as the dialog's rules expect; a value the record cannot show
    // then leaves it empty instead of pretending the first entry was chosen.
    pList->setCurrentIndex(-1);
}

// Radio index -1 means no button of the group is checked. An exclusive group refuses to uncheck its
// last checked button, so exclusivity is lifted for the moment of clearing.
void SetRadioIndex(QButtonGroup *pGroup, int iIndex) {
    if (QAbstractButton *pButton = pGroup->button(iIndex)) {
        pButton->setChecked(true);
        return;
    }
    pGroup->setExclusive(false);
    for (QAbstractButton *pButton : pGroup->buttons()) {
        pButton->setChecked(false);
    }
    pGroup->setExclusive(true);
}

}  // namespace

SettingsDialog::SettingsDialog(EncoderSettings &settings, QWidget *parent, bool *pbOneFileAtATime,
                               LoudnessTarget *pLoudness, int *piOutputType, SplitSettings *pSplit,
                               bool *pbMirrorFolders)
    : QDialog(parent),
      m_pbOneFileAtATime(pbOneFileAtATime),
      m_pLoudness(pLoudness),
      m_piOutputType(piOutputType),
      m_pSplit(pSplit),
      m_pbMirrorFolders(pbMirrorFolders),
      m_logic(settings, *this, piOutputType) {
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);
    BuildControls();
    FillLists();
    ConnectHandlers();
    m_logic.Initialise();
    m_pSampleRateList->setFocus();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::BuildControls() {
    m_pSampleRateList = MakeList("sampleRateList");
    m_pBitrateList = MakeList("bitrateList");
    m_pQualityList = MakeList("qualityList");

    auto *pMain = new QVBoxLayout(this);
    pMain->setSizeConstraint(QLayout::SetFixedSize);
    pMain->setSpacing(12);

    // Lists, channel mode and header flags share one grid so that the four radio buttons and the four
    // check boxes line up in columns.
    auto *pGrid = new QGridLayout;
    pGrid->setHorizontalSpacing(14);
    pGrid->setVerticalSpacing(8);
    auto addListRow = [pGrid](int nRow, const char *szLabel, QComboBox *pList) {
        auto *pLabel = new QLabel(QString::fromLatin1(szLabel));
        pLabel->setBuddy(pList);
        pGrid->addWidget(pLabel, nRow, 0);
        pGrid->addWidget(pList, nRow, 1, 1, kChannelModeCount);
    };
    addListRow(0, "Sample Rate:", m_pSampleRateList);
    addListRow(1, "Output Bitrate:", m_pBitrateList);
    addListRow(2, "Audio Quality:", m_pQualityList);

    pGrid->addWidget(new QLabel(QStringLiteral("Audio Mode:")), 3, 0);
    m_pChannelGroup = new QButtonGroup(this);
    for (int i = 0; i < kChannelModeCount; ++i) {
        m_pChannelRadios[i] = new QRadioButton(QString::fromLatin1(kChannelModeChoices[i].szLabel));
        m_pChannelRadios[i]->setObjectName(QStringLiteral("channelRadio%1").arg(i));
        m_pChannelGroup->addButton(m_pChannelRadios[i], i);
        pGrid->addWidget(m_pChannelRadios[i], 3, 1 + i);
    }

    m_pCopyrightCheck = MakeCheck("Copy Right", "copyrightCheck");
    m_pOriginalCheck = MakeCheck("Original", "originalCheck");
    m_pCrcCheck = MakeCheck("CRC", "crcCheck");
    m_pPrivateCheck = MakeCheck("Private", "privateCheck");
    pGrid->addWidget(m_pCopyrightCheck, 4, 1);
    pGrid->addWidget(m_pOriginalCheck, 4, 2);
    pGrid->addWidget(m_pCrcCheck, 4, 3);
    pGrid->addWidget(m_pPrivateCheck, 4, 4);
    pGrid->setColumnStretch(kChannelModeCount, 1);
    pMain->addLayout(pGrid);

    auto *pGroups = new QHBoxLayout;
    pGroups->setSpacing(12);

    auto *pMonoBox = new QGroupBox(QStringLiteral("Mono Settings"));
    auto *pMonoLayout = new QVBoxLayout(pMonoBox);
    m_pMonoGroup = new QButtonGroup(this);
    for (int i = 0; i < kMonoSourceCount; ++i) {
        m_pMonoRadios[i] = new QRadioButton(QString::fromLatin1(kMonoSourceChoices[i].szLabel));
        m_pMonoRadios[i]->setObjectName(QStringLiteral("monoRadio%1").arg(i));
        m_pMonoGroup->addButton(m_pMonoRadios[i], i);
        pMonoLayout->addWidget(m_pMonoRadios[i]);
    }
    pMonoLayout->addStretch(1);
    pGroups->addWidget(pMonoBox);

    auto *pVbrBox = new QGroupBox(QStringLiteral("VBR Settings"));
    auto *pVbrGrid = new QGridLayout(pVbrBox);
    pVbrGrid->setHorizontalSpacing(10);
    m_pVbrCheck = MakeCheck("Enable VBR", "enableVbrCheck");
    m_pVbrHeaderCheck = MakeCheck("Write VBR Header", "vbrHeaderCheck");
    m_pVbrMinList = MakeList("vbrMinList");
    m_pVbrMaxList = MakeList("vbrMaxList");
    m_pVbrQualityList = MakeList("vbrQualityList");
    m_pVbrMinLabel = new QLabel(QStringLiteral("Mini Bitrate:"));
    m_pVbrMaxLabel = new QLabel(QStringLiteral("Max Bitrate:"));
    m_pVbrQualityLabel = new QLabel(QStringLiteral("VBR Quality:"));
    m_pVbrMinLabel->setBuddy(m_pVbrMinList);
    m_pVbrMaxLabel->setBuddy(m_pVbrMaxList);
    m_pVbrQualityLabel->setBuddy(m_pVbrQualityList);
    pVbrGrid->addWidget(m_pVbrCheck, 0, 0, 1, 2);
    pVbrGrid->addWidget(m_pVbrHeaderCheck, 0, 2, 1, 2);
    pVbrGrid->addWidget(m_pVbrMinLabel, 1, 0);
    pVbrGrid->addWidget(m_pVbrMinList, 1, 1);
    pVbrGrid->addWidget(m_pVbrMaxLabel, 1, 2);
    pVbrGrid->addWidget(m_pVbrMaxList, 1, 3);
    pVbrGrid->addWidget(m_pVbrQualityLabel, 2, 0);
    pVbrGrid->addWidget(m_pVbrQualityList, 2, 1, 1, 3);
    pVbrGrid->setColumnStretch(1, 1);
    pVbrGrid->setColumnStretch(3, 1);
    pGroups->addWidget(pVbrBox, 1);
    pMain->addLayout(pGroups);

    m_pLoadDefaultButton = new QPushButton(QStringLiteral("Load Default"));
    m_pLoadDefaultButton->setObjectName(QStringLiteral("loadDefaultButton"));
    m_pLoadDefaultButton->setAutoDefault(false);
    m_pOkButton = new QPushButton(QStringLiteral("OK"));
    m_pOkButton->setObjectName(QStringLiteral("okButton"));
    m_pOkButton->setDefault(true);
    m_pCancelButton = new QPushButton(QStringLiteral("Cancel"));
    m_pCancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_pCancelButton->setAutoDefault(false);
    auto *pButtons = new QHBoxLayout;
    pButtons->addWidget(m_pLoadDefaultButton);
    pButtons->addStretch(1);
    pButtons->addWidget(m_pOkButton);
    pButtons->addWidget(m_pCancelButton);
    pMain->addLayout(pButtons);

    if (m_pbOneFileAtATime || m_piOutputType) {
        // Below everything the dialog always had, so none of its own controls moves.
        auto *pLine = new QFrame;
        pLine->setFrameShape(QFrame::HLine);
        pLine->setFrameShadow(QFrame::Sunken);
        pMain->addWidget(pLine);
    }
    if (m_piOutputType) {
        BuildFormatRow(pMain);
    }
    if (m_pbOneFileAtATime) {
        m_pOneFileAtATimeCheck = MakeCheck("One file at a time", "oneFileAtATimeCheck");
        m_pOneFileAtATimeCheck->setToolTip(
            QStringLiteral("Convert the files of a batch one after the other instead of side by side"));
        m_pOneFileAtATimeCheck->setChecked(*m_pbOneFileAtATime);
        pMain->addWidget(m_pOneFileAtATimeCheck);
    }
    if (m_pLoudness) {
        BuildLoudnessGroup(pMain);
    }
    if (m_pSplit) {
        BuildSplitGroup(pMain);
    }
    if (m_pbMirrorFolders) {
        m_pMirrorFoldersCheck = MakeCheck("Keep the folders of added folders", "mirrorFoldersCheck");
        m_pMirrorFoldersCheck->setToolTip(QStringLiteral(
            "Files added from a folder are written into the same folders below the output folder"));
        m_pMirrorFoldersCheck->setChecked(*m_pbMirrorFolders);
        pMain->addWidget(m_pMirrorFoldersCheck);
    }

    // Keyboard order follows the order the controls are meant to be read in, not the layout nesting.
    QWidget *tabOrder[] = {
        m_pSampleRateList,   m_pBitrateList,      m_pQualityList,   m_pChannelRadios[0], m_pChannelRadios[1],
        m_pChannelRadios[2], m_pChannelRadios[3], m_pMonoRadios[0], m_pMonoRadios[1],    m_pMonoRadios[2],
        m_pCopyrightCheck,   m_pOriginalCheck,    m_pCrcCheck,      m_pPrivateCheck,     m_pVbrCheck,
        m_pVbrHeaderCheck,   m_pVbrMinList,       m_pVbrMaxList,    m_pVbrQualityList,   m_pLoadDefaultButton,
        m_pOkButton,         m_pCancelButton};
    for (size_t i = 1; i < std::size(tabOrder); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
    QWidget *pLast = m_pCancelButton;
    for (QWidget *pNext :
         {static_cast<QWidget *>(m_pOutputFormatList), static_cast<QWidget *>(m_flacCompression.pSpin),
          static_cast<QWidget *>(m_opusBitrate.pSpin), static_cast<QWidget *>(m_aacBitrate.pSpin),
          static_cast<QWidget *>(m_vorbisQuality.pSpin), static_cast<QWidget *>(m_pOneFileAtATimeCheck),
          static_cast<QWidget *>(m_pNormalizeCheck), static_cast<QWidget *>(m_pNormalizeTargetSpin),
          static_cast<QWidget *>(m_pSplitList)}) {
        if (pNext) {
            setTabOrder(pLast, pNext);
            pLast = pNext;
        }
    }
    for (const SplitSetting &setting : m_splitSettings) {
        setTabOrder(pLast, setting.pSpin);
        pLast = setting.pSpin;
    }
    if (m_pMirrorFoldersCheck) {
        setTabOrder(pLast, m_pMirrorFoldersCheck);
    }
}

void SettingsDialog::BuildFormatRow(QVBoxLayout *pMain) {
    auto *pRow = new QHBoxLayout;
    pRow->setSpacing(10);
    m_pOutputFormatList = MakeList("outputFormatList");
    for (const OutputFormatInfo &info : kOutputFormats) {
        m_pOutputFormatList->addItem(QString::fromLatin1(info.szLabel));
    }
    m_pOutputFormatList->setToolTip(
        QStringLiteral("What the batch writes; the window's MP3 and WAV buttons choose the first two"));
    auto *pListLabel = new QLabel(QStringLiteral("Output Format:"));
    pListLabel->setBuddy(m_pOutputFormatList);
    pRow->addWidget(pListLabel);
    pRow->addWidget(m_pOutputFormatList);
    pRow->addSpacing(12);

    auto add = [pRow](FormatSetting &setting, OutputFormat format, const char *szLabel,
                      const char *szObjectName, int iMin, int iMax, const char *szSuffix,
                      const char *szToolTip) {
        setting.format = format;
        setting.pSpin = new QSpinBox;
        setting.pSpin->setObjectName(QString::fromLatin1(szObjectName));
        setting.pSpin->setRange(iMin, iMax);
        setting.pSpin->setSuffix(QString::fromLatin1(szSuffix));
        setting.pSpin->setToolTip(QString::fromLatin1(szToolTip));
        setting.pLabel = new QLabel(QString::fromLatin1(szLabel));
        setting.pLabel->setBuddy(setting.pSpin);
        pRow->addWidget(setting.pLabel);
        pRow->addWidget(setting.pSpin);
    };
    add(m_flacCompression, OutputFormat::Flac, "Compression Level:", "flacCompressionSpin",
        kFlacCompressionMin, kFlacCompressionMax, "",
        "0 is the fastest, 8 the smallest; every level keeps the sound exactly");
    add(m_opusBitrate, OutputFormat::Opus, "Bitrate:", "opusBitrateSpin", kOpusBitrateMin, kOpusBitrateMax,
        " Kbps", "Average of a variable bitrate; Opus files are always 48,000 Hz");
    add(m_aacBitrate, OutputFormat::Aac, "Bitrate:", "aacBitrateSpin", kAacBitrateMin, kAacBitrateMax,
        " Kbps", "Bitrate of the AAC stream");
    add(m_vorbisQuality, OutputFormat::Vorbis, "Quality:", "vorbisQualitySpin", kVorbisQualityMin,
        kVorbisQualityMax, "", "-1 gives the smallest files, 10 the best sound");
    pRow->addStretch(1);
    pMain->addLayout(pRow);
}

void SettingsDialog::BuildLoudnessGroup(QVBoxLayout *pMain) {
    // Below the dialog's own controls and the batch's check box, so nothing above it moves.
    auto *pBox = new QGroupBox(QStringLiteral("Loudness"));
    auto *pLayout = new QHBoxLayout(pBox);
    m_pNormalizeCheck = MakeCheck("Normalize loudness to", "normalizeCheck");
    m_pNormalizeCheck->setToolTip(QStringLiteral(
        "Measure each file first, then convert it with one gain that brings it to this integrated loudness; "
        "the gain stops short of a true peak above -1 dBTP, and silence is left as it is"));
    m_pNormalizeTargetSpin = new QDoubleSpinBox;
    m_pNormalizeTargetSpin->setObjectName(QStringLiteral("normalizeTargetSpin"));
    m_pNormalizeTargetSpin->setRange(kLoudnessTargetMin, kLoudnessTargetMax);
    m_pNormalizeTargetSpin->setDecimals(1);
    m_pNormalizeTargetSpin->setSingleStep(1.0);
    m_pNormalizeTargetSpin->setSuffix(QStringLiteral(" LUFS"));
    m_pNormalizeCheck->setChecked(m_pLoudness->bNormalize);
    m_pNormalizeTargetSpin->setValue(m_pLoudness->dTargetLufs);
    m_pNormalizeTargetSpin->setEnabled(m_pLoudness->bNormalize);
    connect(m_pNormalizeCheck, &QCheckBox::toggled, m_pNormalizeTargetSpin, &QWidget::setEnabled);
    pLayout->addWidget(m_pNormalizeCheck);
    pLayout->addWidget(m_pNormalizeTargetSpin);
    pLayout->addStretch(1);
    pMain->addWidget(pBox);
}

void SettingsDialog::BuildSplitGroup(QVBoxLayout *pMain) {
    auto *pBox = new QGroupBox(QStringLiteral("Split into Parts"));
    auto *pGrid = new QGridLayout(pBox);
    pGrid->setHorizontalSpacing(10);
    m_pSplitList = MakeList("splitList");
    // In the order of SplitMode.
    for (const char *szLabel : {"No, one output a file", "At its chapters", "At the tracks of its cue sheet",
                                "At silences", "Every so many seconds"}) {
        m_pSplitList->addItem(QString::fromLatin1(szLabel));
    }
    m_pSplitList->setToolTip(
        QStringLiteral("Write one output for each part of a file; the timeline shows "
                       "where the current clip divides"));
    auto *pListLabel = new QLabel(QStringLiteral("Split:"));
    pListLabel->setBuddy(m_pSplitList);
    pGrid->addWidget(pListLabel, 0, 0);
    pGrid->addWidget(m_pSplitList, 0, 1, 1, 3);

    int nColumn = 0;
    int nRow = 1;
    SplitSettings shown = *m_pSplit;
    if (shown.dEverySeconds < kEverySecondsMin) {
        shown.dEverySeconds = 600.0;  // never chosen yet: ten minutes
    }
    auto add = [&](double SplitSettings::*pField, SplitMode mode, const char *szLabel,
                   const char *szObjectName, double dMin, double dMax, int nDecimals, const char *szSuffix) {
        auto *pSpin = new QDoubleSpinBox;
        pSpin->setObjectName(QString::fromLatin1(szObjectName));
        pSpin->setRange(dMin, dMax);
        pSpin->setDecimals(nDecimals);
        pSpin->setSuffix(QString::fromLatin1(szSuffix));
        pSpin->setValue(shown.*pField);
        auto *pLabel = new QLabel(QString::fromLatin1(szLabel));
        pLabel->setBuddy(pSpin);
        if (!m_splitSettings.empty() && m_splitSettings.back().mode != mode) {
            nColumn = 0;  // each way's settings begin a row of their own
            ++nRow;
        }
        pGrid->addWidget(pLabel, nRow, nColumn);
        pGrid->addWidget(pSpin, nRow, nColumn + 1);
        nColumn += 2;
        m_splitSettings.push_back({mode, pLabel, pSpin, pField});
    };
    add(&SplitSettings::dEverySeconds, SplitMode::Every, "Every:", "splitEverySpin", kEverySecondsMin,
        kSplitSecondsMax, 1, " s");
    add(&SplitSettings::dSnapSeconds, SplitMode::Every, "Move to the quietest within:", "splitSnapSpin", 0.0,
        kSplitSecondsMax, 1, " s");
    add(&SplitSettings::dThresholdDb, SplitMode::Silence, "Below:", "silenceThresholdSpin",
        kSilenceThresholdMin, kSilenceThresholdMax, 1, " dBFS");
    add(&SplitSettings::dSilenceSeconds, SplitMode::Silence, "For at least:", "silenceLengthSpin",
        kSilenceSecondsMin, kSplitSecondsMax, 2, " s");
    add(&SplitSettings::dLeastPartSeconds, SplitMode::Silence, "Least part:", "leastPartSpin", 0.0,
        kSplitSecondsMax, 1, " s");
    m_pSplitList->setCurrentIndex(static_cast<int>(shown.mode));
    ShowSplitControls();
    connect(m_pSplitList, &QComboBox::currentIndexChanged, this, [this] { ShowSplitControls(); });
    pMain->addWidget(pBox);
}

void SettingsDialog::ShowSplitControls() {
    const int iMode = m_pSplitList->currentIndex();
    for (const SplitSetting &setting : m_splitSettings) {
        const bool bShow = static_cast<int>(setting.mode) == iMode;
        setting.pLabel->setVisible(bShow);
        setting.pSpin->setVisible(bShow);
    }
}

void SettingsDialog::FillLists() {
    AddChoices(m_pSampleRateList, kSampleRateChoices, kSampleRateCount);
    AddChoices(m_pBitrateList, kBitrateChoices, kBitrateCount);
    AddChoices(m_pVbrMinList, kBitrateChoices, kBitrateCount);
    AddChoices(m_pVbrMaxList, kBitrateChoices, kBitrateCount);
    AddChoices(m_pQualityList, kQualityChoices, kQualityCount);
    AddChoices(m_pVbrQualityList, kQualityChoices, kQualityCount);
}

void SettingsDialog::ConnectHandlers() {
    // activated fires only for the user's own choice, never for the dialog setting a list itself.
    connect(m_pSampleRateList, &QComboBox::activated, this, [this] { m_logic.CommitAndRefresh(); });
    connect(m_pBitrateList, &QComboBox::activated, this, [this] { m_logic.CommitAndRefresh(); });
    connect(m_pVbrMinList, &QComboBox::activated, this, [this] { m_logic.RefreshVbrControls(); });
    connect(m_pVbrMaxList, &QComboBox::activated, this, [this] { m_logic.RefreshVbrControls(); });
    connect(m_pVbrCheck, &QCheckBox::clicked, this, [this] { m_logic.RefreshVbrControls(); });
    connect(m_pChannelGroup, &QButtonGroup::idClicked, this, [this] { m_logic.RefreshMonoControls(); });
    if (m_pOutputFormatList) {
        connect(m_pOutputFormatList, &QComboBox::activated, this,
                [this] { m_logic.RefreshFormatControls(); });
    }
    connect(m_pLoadDefaultButton, &QPushButton::clicked, this, [this] { m_logic.LoadDefault(); });
    connect(m_pOkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pCancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void SettingsDialog::accept() {
    m_logic.Ok();
    if (m_pOneFileAtATimeCheck) {
        *m_pbOneFileAtATime = m_pOneFileAtATimeCheck->isChecked();
    }
    if (m_pLoudness) {
        m_pLoudness->bNormalize = m_pNormalizeCheck->isChecked();
        m_pLoudness->dTargetLufs = m_pNormalizeTargetSpin->value();
    }
    if (m_pSplit) {
        // A cue sheet is each file's own, found beside it: one sheet is no sheet for a whole list.
        SplitSettings &split = *m_pSplit;
        split.mode = static_cast<SplitMode>(std::max(0, m_pSplitList->currentIndex()));
        split.strCuePath.clear();
        for (const SplitSetting &setting : m_splitSettings) {
            split.*(setting.pField) = setting.pSpin->value();
        }
    }
    if (m_pMirrorFoldersCheck) {
        *m_pbMirrorFolders = m_pMirrorFoldersCheck->isChecked();
    }
    QDialog::accept();
}

void SettingsDialog::SaveControls(SettingsDialogControls &controls) {
    Q_ASSERT(QThread::currentThread() == thread());
    controls.nSampleRate = m_pSampleRateList->currentIndex();
    controls.nBitrate = m_pBitrateList->currentIndex();
    controls.nQuality = m_pQualityList->currentIndex();
    controls.nVbrMinBitrate = m_pVbrMinList->currentIndex();
    controls.nVbrMaxBitrate = m_pVbrMaxList->currentIndex();
    controls.nVbrQuality = m_pVbrQualityList->currentIndex();
    controls.iChannelMode = m_pChannelGroup->checkedId();
    controls.iMonoSource = m_pMonoGroup->checkedId();
    controls.bVbr = m_pVbrCheck->isChecked();
    controls.bWriteVbrHeader = m_pVbrHeaderCheck->isChecked();
    controls.bCopyright = m_pCopyrightCheck->isChecked();
    controls.bOriginal = m_pOriginalCheck->isChecked();
    controls.bCrc = m_pCrcCheck->isChecked();
    controls.bPrivate = m_pPrivateCheck->isChecked();
    if (m_pOutputFormatList) {
        controls.iOutputFormat = m_pOutputFormatList->currentIndex();
        controls.iFlacCompression = m_flacCompression.pSpin->value();
        controls.iOpusBitrate = m_opusBitrate.pSpin->value();
        controls.iAacBitrate = m_aacBitrate.pSpin->value();
        controls.iVorbisQuality = m_vorbisQuality.pSpin->value();
    }
}

void SettingsDialog::LoadControls(const SettingsDialogControls &controls) {
    Q_ASSERT(QThread::currentThread() == thread());
    m_pSampleRateList->setCurrentIndex(controls.nSampleRate);
    m_pBitrateList->setCurrentIndex(controls.nBitrate);
    m_pQualityList->setCurrentIndex(controls.nQuality);
    m_pVbrMinList->setCurrentIndex(controls.nVbrMinBitrate);
    m_pVbrMaxList->setCurrentIndex(controls.nVbrMaxBitrate);
    m_pVbrQualityList->setCurrentIndex(controls.nVbrQuality);
    SetRadioIndex(m_pChannelGroup, controls.iChannelMode);
    SetRadioIndex(m_pMonoGroup, controls.iMonoSource);
    m_pVbrCheck->setChecked(controls.bVbr);
    m_pVbrHeaderCheck->setChecked(controls.bWriteVbrHeader);
    m_pCopyrightCheck->setChecked(controls.bCopyright);
    m_pOriginalCheck->setChecked(controls.bOriginal);
    m_pCrcCheck->setChecked(controls.bCrc);
    m_pPrivateCheck->setChecked(controls.bPrivate);
    if (m_pOutputFormatList) {
        m_pOutputFormatList->setCurrentIndex(controls.iOutputFormat);
        m_flacCompression.pSpin->setValue(controls.iFlacCompression);
        m_opusBitrate.pSpin->setValue(controls.iOpusBitrate);
        m_aacBitrate.pSpin->setValue(controls.iAacBitrate);
        m_vorbisQuality.pSpin->setValue(controls.iVorbisQuality);
    }
}

void SettingsDialog::EnableMonoControls(bool bEnable) {
    for (QRadioButton *pRadio : m_pMonoRadios) {
        pRadio->setEnabled(bEnable);
    }
}

void SettingsDialog::EnableVbrControls(bool bEnable) {
    m_pVbrHeaderCheck->setEnabled(bEnable);
    m_pVbrMinList->setEnabled(bEnable);
    m_pVbrMaxList->setEnabled(bEnable);
    m_pVbrQualityList->setEnabled(bEnable);
    // The captions grey out with their lists so the disabled part reads as one block.
    m_pVbrMinLabel->setEnabled(bEnable);
    m_pVbrMaxLabel->setEnabled(bEnable);
    m_pVbrQualityLabel->setEnabled(bEnable);
}

void SettingsDialog::ShowFormatControls(int iOutputFormat) {
    for (const FormatSetting *pSetting :
         {&m_flacCompression, &m_opusBitrate, &m_aacBitrate, &m_vorbisQuality}) {
        if (pSetting->pSpin) {
            const bool bShow = static_cast<int>(pSetting->format) == iOutputFormat;
            pSetting->pLabel->setVisible(bShow);
            pSetting->pSpin->setVisible(bShow);
        }
    }
}

}  // namespace klangor

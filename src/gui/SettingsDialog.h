#pragma once

#include <QDialog>

#include <vector>

#include "settings/LoudnessTarget.h"
#include "settings/EncoderSettings.h"
#include "settings/SettingsDialogLogic.h"
#include "settings/SplitSettings.h"

class QVBoxLayout;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QDoubleSpinBox;
class QRadioButton;
class QSpinBox;

namespace klangor {

// The modal "Settings" dialog over the one EncoderSettings record. It edits the record in place: a new
// sample rate or output bitrate is written at once, OK writes everything shown, Cancel writes nothing
// more, and "Load Default" returns to the record as it was when the dialog was constructed. The rules
// live in SettingsDialogLogic; this class is its window. Window thread only.
//
// Child widgets carry object names ("sampleRateList", "bitrateList", "qualityList", "vbrMinList",
// "vbrMaxList", "vbrQualityList", "enableVbrCheck", "vbrHeaderCheck", "copyrightCheck",
// "originalCheck", "crcCheck", "privateCheck", "channelRadio0".."channelRadio3",
// "monoRadio0".."monoRadio2", "loadDefaultButton", "okButton", "cancelButton") for tests and tools.
//
// Given a session flag, the dialog also shows "One file at a time" below its own controls
// ("oneFileAtATimeCheck"): how a batch runs is no MP3 setting, so it lives beside the record, not in it.
// OK writes it; Cancel and "Load Default" leave it alone. Given a loudness target, the "Loudness" group
// follows below that ("normalizeCheck", "normalizeTargetSpin"), kept the same way.
//
// Given the window's output type, the first of these session rows is "Output Format:"
// ("outputFormatList"): every format the batch writes, MP3 and WAV first as on the window's buttons.
// Beside it stands the chosen format's own setting, the others' hidden: "flacCompressionSpin",
// "opusBitrateSpin", "aacBitrateSpin" or "vorbisQualitySpin" (MP3's are the controls above; WAV and
// ALAC have none). The format is written by OK only; the settings go into the record like the MP3 ones.
//
// Given split settings, the "Split into Parts" group follows: "splitList" (whole, at chapters, at the
// cue sheet beside each file, at silences, every so many seconds) and the chosen way's own settings
// ("splitEverySpin" and "splitSnapSpin"; "silenceThresholdSpin", "silenceLengthSpin" and
// "leastPartSpin"), the others hidden. Given a mirror flag, "mirrorFoldersCheck" comes last: files
// added from a folder are written into the same folders below the output folder. OK writes both.
class SettingsDialog : public QDialog, private SettingsDialogView {
    Q_OBJECT

public:
    explicit SettingsDialog(EncoderSettings &settings, QWidget *parent = nullptr,
                            bool *pbOneFileAtATime = nullptr, LoudnessTarget *pLoudness = nullptr,
                            int *piOutputType = nullptr, SplitSettings *pSplit = nullptr,
                            bool *pbMirrorFolders = nullptr);
    ~SettingsDialog() override;

    void accept() override;

private:
    void BuildControls();
    void FillLists();
    void ConnectHandlers();
    void BuildLoudnessGroup(class QVBoxLayout *pMain);
    void BuildFormatRow(class QVBoxLayout *pMain);
    void BuildSplitGroup(class QVBoxLayout *pMain);
    // Shows the chosen way of splitting's own settings only.
    void ShowSplitControls();

    // SettingsDialogView: the data exchange and the enabling rules' two switches.
    void SaveControls(SettingsDialogControls &controls) override;
    void LoadControls(const SettingsDialogControls &controls) override;
    void EnableMonoControls(bool bEnable) override;
    void EnableVbrControls(bool bEnable) override;
    void ShowFormatControls(int iOutputFormat) override;

    QComboBox *m_pSampleRateList = nullptr;
    QComboBox *m_pBitrateList = nullptr;
    QComboBox *m_pQualityList = nullptr;
    QRadioButton *m_pChannelRadios[kChannelModeCount] = {};
    QButtonGroup *m_pChannelGroup = nullptr;
    QRadioButton *m_pMonoRadios[kMonoSourceCount] = {};
    QButtonGroup *m_pMonoGroup = nullptr;
    QCheckBox *m_pCopyrightCheck = nullptr;
    QCheckBox *m_pOriginalCheck = nullptr;
    QCheckBox *m_pCrcCheck = nullptr;
    QCheckBox *m_pPrivateCheck = nullptr;
    QCheckBox *m_pVbrCheck = nullptr;
    QCheckBox *m_pVbrHeaderCheck = nullptr;
    QComboBox *m_pVbrMinList = nullptr;
    QComboBox *m_pVbrMaxList = nullptr;
    QComboBox *m_pVbrQualityList = nullptr;
    QLabel *m_pVbrMinLabel = nullptr;
    QLabel *m_pVbrMaxLabel = nullptr;
    QLabel *m_pVbrQualityLabel = nullptr;
    QPushButton *m_pLoadDefaultButton = nullptr;
    QPushButton *m_pOkButton = nullptr;
    QPushButton *m_pCancelButton = nullptr;
    QCheckBox *m_pOneFileAtATimeCheck = nullptr;
    bool *m_pbOneFileAtATime;
    QCheckBox *m_pNormalizeCheck = nullptr;
    QDoubleSpinBox *m_pNormalizeTargetSpin = nullptr;
    LoudnessTarget *m_pLoudness;
    QComboBox *m_pOutputFormatList = nullptr;
    // The newer formats' own settings, each with its caption, shown only while its format is chosen.
    struct FormatSetting {
        OutputFormat format = OutputFormat::Mp3;
        QLabel *pLabel = nullptr;
        QSpinBox *pSpin = nullptr;
    };
    FormatSetting m_flacCompression;
    FormatSetting m_opusBitrate;
    FormatSetting m_aacBitrate;
    FormatSetting m_vorbisQuality;
    int *m_piOutputType;
    QComboBox *m_pSplitList = nullptr;
    // Each spin box with its caption, the way of splitting it belongs to and the setting it edits.
    struct SplitSetting {
        SplitMode mode = SplitMode::None;
        QLabel *pLabel = nullptr;
        QDoubleSpinBox *pSpin = nullptr;
        double SplitSettings::*pField = nullptr;
    };
    std::vector<SplitSetting> m_splitSettings;
    SplitSettings *m_pSplit;
    QCheckBox *m_pMirrorFoldersCheck = nullptr;
    bool *m_pbMirrorFolders;

    SettingsDialogLogic m_logic;
};

}  // namespace klangor

#pragma once

#include "settings/EncoderSettings.h"

namespace klangor {

// What the settings dialog's controls hold, as its data exchange sees them: a position in each of the
// six lists, the two radio indices and the six check boxes, then the output format list and the newer
// formats' own settings. Every position and index is -1 when nothing is selected in its control; the
// settings of the newer formats are the values their boxes show.
struct SettingsDialogControls {
    int nSampleRate = -1;
    int nBitrate = -1;
    int nQuality = -1;
    int nVbrMinBitrate = -1;
    int nVbrMaxBitrate = -1;
    int nVbrQuality = -1;
    int iChannelMode = -1;  // radio index: "Stereo", "Joint_Stereo", "Dual_Channel", "Mono"
    int iMonoSource = -1;   // radio index: merge, left only, right only
    bool bVbr = false;
    bool bWriteVbrHeader = false;
    bool bCopyright = false;
    bool bOriginal = false;
    bool bCrc = false;
    bool bPrivate = false;
    int iOutputFormat = -1;  // position = OutputFormat number; -1 when the dialog has no format list
    int iFlacCompression = kFlacCompressionDefault;
    int iOpusBitrate = kOpusBitrateDefault;  // kbps
    int iAacBitrate = kAacBitrateDefault;    // kbps
    int iVorbisQuality = kVorbisQualityDefault;

    bool operator==(const SettingsDialogControls &) const = default;
};

// The few things the dialog's rules need of its window.
class SettingsDialogView {
public:
    virtual ~SettingsDialogView() = default;
    // "Save": copy what the controls show into the members.
    virtual void SaveControls(SettingsDialogControls &controls) = 0;
    // "Load": make the controls show the members.
    virtual void LoadControls(const SettingsDialogControls &controls) = 0;
    // The three mono-source radio buttons.
    virtual void EnableMonoControls(bool bEnable) = 0;
    // "Write VBR Header" and the VBR minimum, maximum and quality lists.
    virtual void EnableVbrControls(bool bEnable) = 0;
    // Shows the own settings of the format with this number and hides the others'; -1 hides them all.
    virtual void ShowFormatControls(int iOutputFormat) = 0;
};

// The settings dialog's behaviour without a window: it edits the record in place, so a new sample rate
// or output bitrate is in the record the moment it is chosen, whatever button closes the dialog later.
// The output format is no field of the record: it is the window's output type, given by pointer, and
// only OK writes it; "Load Default" and Cancel leave it as it is, like the window's other session
// choices. Window thread only; the MP3 jobs may read (and lower the bitrate of) the record meanwhile.
class SettingsDialogLogic {
public:
    // Takes the snapshot that "Load Default" returns to. Without an output type the dialog has no
    // format list, and OK writes no format.
    SettingsDialogLogic(EncoderSettings &settings, SettingsDialogView &view, int *piOutputType = nullptr);

    SettingsDialogLogic(const SettingsDialogLogic &) = delete;
    SettingsDialogLogic &operator=(const SettingsDialogLogic &) = delete;

    // Dialog start: all radio buttons and check boxes clear, then the record is shown.
    void Initialise();
    // Sets the controls from the record, then refreshes the VBR controls.
    void ShowRecord();
    // "Enable VBR" clicked, or a new VBR minimum or maximum chosen.
    void RefreshVbrControls();
    // A channel-mode radio button clicked.
    void RefreshMonoControls();
    // A format chosen in the output format list: only its own settings are shown.
    void RefreshFormatControls();
    // Every field of the record from the controls (OK, and the first step of a commit).
    void WriteRecord();
    // A new sample rate or output bitrate chosen: write, apply the low-rate ceiling, show again.
    void CommitAndRefresh();
    // Back to the record as it was when the dialog opened, committed changes included.
    void LoadDefault();
    // Writes the record, then the chosen format into the window's output type.
    void Ok();

private:
    EncoderSettings *m_pSettings;
    SettingsDialogView &m_view;
    int *m_piOutputType;
    EncoderSettings m_snapshot;
    SettingsDialogControls m_controls;
};

}  // namespace klangor

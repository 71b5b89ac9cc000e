#include "settings/SettingsDialogLogic.h"

#include <atomic>
#include <span>

namespace klangor {

namespace {

bool InRange(int nPosition, int nCount) {
    return nPosition >= 0 && nPosition < nCount;
}

// A value that is in no list leaves the control as it was rather than clearing it.
void SelectIfFound(int &nPosition, int nFound) {
    if (nFound >= 0) {
        nPosition = nFound;
    }
}

// The quality lists use the level as the position. A level outside 0..9 cannot be shown, so the list
// keeps its selection instead of losing it (which would later write -1 back as a quality).
int QualityPosition(int32_t iLevel) {
    return InRange(iLevel, kQualityCount) ? iLevel : -1;
}

// The newer formats' settings are shown in boxes that hold their range and nothing else, so a value
// from outside it (a record filled by other code) is shown, and written back, as the nearest one the
// encoder takes: what the box shows is what the batch uses.
int Clamped(int32_t iValue, int32_t iMin, int32_t iMax) {
    return iValue < iMin ? iMin : (iValue > iMax ? iMax : iValue);
}

}  // namespace

SettingsDialogLogic::SettingsDialogLogic(EncoderSettings &settings, SettingsDialogView &view,
                                         int *piOutputType)
    : m_pSettings(&settings), m_view(view), m_piOutputType(piOutputType), m_snapshot(settings) {}

void SettingsDialogLogic::Initialise() {
    m_controls.iChannelMode = -1;
    m_controls.iMonoSource = -1;
    m_controls.bVbr = false;
    m_controls.bWriteVbrHeader = false;
    m_controls.bCopyright = false;
    m_controls.bOriginal = false;
    m_controls.bCrc = false;
    m_controls.bPrivate = false;
    m_controls.iOutputFormat = m_piOutputType ? static_cast<int>(OutputFormatOf(*m_piOutputType)) : -1;
    m_view.LoadControls(m_controls);
    ShowRecord();
}

void SettingsDialogLogic::ShowRecord() {
    // Start from what the controls show now: a value the record cannot express leaves its control as
    // the user left it.
    m_view.SaveControls(m_controls);
    const EncoderSettings &s = *m_pSettings;
    SettingsDialogControls &c = m_controls;

    SelectIfFound(c.nSampleRate, FindSampleRateIndex(s.m_iSampleRate));
    SelectIfFound(c.nBitrate, FindBitrateIndex(s.m_iBitrate));
    SelectIfFound(c.nQuality, QualityPosition(s.m_iQuality));

    const int32_t iChannelMode = s.m_iChannelMode;
    if (InRange(iChannelMode, kChannelModeCount)) {
        c.iChannelMode = iChannelMode;
    }
    const int32_t iMonoSource = s.m_iMonoSource;
    if (InRange(iMonoSource, kMonoSourceCount)) {
        c.iMonoSource = iMonoSource;
    }
    m_view.EnableMonoControls(c.iChannelMode == kChannelModeMono);

    c.bCopyright = s.m_bCopyright != 0;
    c.bOriginal = s.m_bOriginal != 0;
    c.bCrc = s.m_bCrc != 0;
    c.bPrivate = s.m_bPrivate != 0;
    c.bVbr = s.m_iVbrMode != kVbrModeOff;
    c.bWriteVbrHeader = s.m_bWriteVbrHeader != 0;

    SelectIfFound(c.nVbrMinBitrate, FindBitrateIndex(s.m_iVbrMinBitrate));
    SelectIfFound(c.nVbrMaxBitrate, FindBitrateIndex(s.m_iVbrMaxBitrate));
    SelectIfFound(c.nVbrQuality, QualityPosition(s.m_iVbrQuality));

    c.iFlacCompression = Clamped(s.m_iFlacCompression, kFlacCompressionMin, kFlacCompressionMax);
    c.iOpusBitrate = Clamped(s.m_iOpusBitrate, kOpusBitrateMin, kOpusBitrateMax);
    c.iAacBitrate = Clamped(s.m_iAacBitrate, kAacBitrateMin, kAacBitrateMax);
    c.iVorbisQuality = Clamped(s.m_iVorbisQuality, kVorbisQualityMin, kVorbisQualityMax);

    m_view.LoadControls(c);
    RefreshVbrControls();
    RefreshFormatControls();
}

void SettingsDialogLogic::RefreshVbrControls() {
    m_view.SaveControls(m_controls);
    m_view.EnableVbrControls(m_controls.bVbr);
    // The bitrate list runs from high to low, so a smaller position is a higher bitrate: the maximum
    // follows the minimum upward and cannot be chosen below it. An empty list is left alone; clearing
    // the maximum because the minimum has no selection would lose a valid value.
    const int nMin = m_controls.nVbrMinBitrate;
    if (nMin >= 0 && m_controls.nVbrMaxBitrate >= 0 && nMin < m_controls.nVbrMaxBitrate) {
        m_controls.nVbrMaxBitrate = nMin;
    }
    m_view.LoadControls(m_controls);
}

void SettingsDialogLogic::RefreshMonoControls() {
    m_view.SaveControls(m_controls);
    m_view.EnableMonoControls(m_controls.iChannelMode == kChannelModeMono);
}

void SettingsDialogLogic::RefreshFormatControls() {
    m_view.SaveControls(m_controls);
    m_view.ShowFormatControls(m_controls.iOutputFormat);
}

void SettingsDialogLogic::WriteRecord() {
    m_view.SaveControls(m_controls);
    const SettingsDialogControls &c = m_controls;
    EncoderSettings &s = *m_pSettings;

    // A list without a selection leaves its field as it is; the quality lists as well, since a
    // position of -1 is not a quality level.
    auto Take = [](int nPosition, std::span<const SettingChoice> choices, std::atomic<int32_t> &field) {
        if (InRange(nPosition, static_cast<int>(choices.size()))) {
            field = choices[nPosition].iValue;
        }
    };
    Take(c.nSampleRate, kSampleRateChoices, s.m_iSampleRate);
    Take(c.nBitrate, kBitrateChoices, s.m_iBitrate);
    Take(c.nQuality, kQualityChoices, s.m_iQuality);
    Take(c.iChannelMode, kChannelModeChoices, s.m_iChannelMode);
    Take(c.iMonoSource, kMonoSourceChoices, s.m_iMonoSource);
    s.m_bCopyright = c.bCopyright ? 1 : 0;
    s.m_bOriginal = c.bOriginal ? 1 : 0;
    s.m_bCrc = c.bCrc ? 1 : 0;
    s.m_bPrivate = c.bPrivate ? 1 : 0;
    s.m_iVbrMode = c.bVbr ? kVbrModeOn : kVbrModeOff;
    s.m_bWriteVbrHeader = c.bWriteVbrHeader ? 1 : 0;
    Take(c.nVbrMinBitrate, kBitrateChoices, s.m_iVbrMinBitrate);
    Take(c.nVbrMaxBitrate, kBitrateChoices, s.m_iVbrMaxBitrate);
    Take(c.nVbrQuality, kQualityChoices, s.m_iVbrQuality);
    s.m_iFlacCompression = Clamped(c.iFlacCompression, kFlacCompressionMin, kFlacCompressionMax);
    s.m_iOpusBitrate = Clamped(c.iOpusBitrate, kOpusBitrateMin, kOpusBitrateMax);
    s.m_iAacBitrate = Clamped(c.iAacBitrate, kAacBitrateMin, kAacBitrateMax);
    s.m_iVorbisQuality = Clamped(c.iVorbisQuality, kVorbisQualityMin, kVorbisQualityMax);
}

void SettingsDialogLogic::Ok() {
    WriteRecord();
    // The list holds every format, so any position it reports is one; -1 (no list) writes nothing.
    if (m_piOutputType && InRange(m_controls.iOutputFormat, kOutputFormatCount)) {
        *m_piOutputType = m_controls.iOutputFormat;
    }
}

void SettingsDialogLogic::CommitAndRefresh() {
    WriteRecord();
    // Only an explicitly chosen low rate counts here; "Auto Select" (0) is left to the writer, which
    // knows the source's rate.
    m_pSettings->ApplyBitrateCeiling(m_pSettings->m_iSampleRate);
    ShowRecord();
}

void SettingsDialogLogic::LoadDefault() {
    *m_pSettings = m_snapshot;
    ShowRecord();
}

}  // namespace klangor

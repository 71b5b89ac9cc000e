#pragma once

namespace klangor {

// The one table of control ids: what the skin layout, the command table, the preview commands and the
// tests call each control of the main window by. The numbers are those the skin files were made for.
enum MainControlId : int {
    kIdOpenFile = 1000,
    kIdPlay = 1002,
    kIdStop = 1003,
    kIdStepFrame = 1004,
    kIdSeekBar = 1005,
    kIdMute = 1006,
    kIdSetStart = 1007,
    kIdRemove = 1008,
    kIdCurrentTime = 1009,
    kIdSetEnd = 1010,
    kIdSelectionTime = 1011,
    kIdSelectionDuration = 1012,
    kIdSelectAll = 1013,
    kIdNormalSpeed = 1014,
    kIdRateText = 1015,
    kIdVolumeSlider = 1016,
    kIdRateSlider = 1017,
    kIdMinimize = 1018,
    kIdClose = 1019,
    kIdOutputPath = 1020,
    kIdClipList = 1021,
    kIdMoveUp = 1022,
    kIdMoveDown = 1023,
    kIdAbout = 1024,
    kIdStartConvert = 1025,
    kIdStopConvert = 1026,
    kIdHelp = 1028,
    kIdProgress = 1029,
    kIdStatus = 1030,
    kIdPause = 1031,
    kIdUnmute = 1032,
    kIdOutputFolder = 1033,
    kIdRadioMp3 = 1034,
    kIdRadioWav = 1035,
    kIdOpenPreview = 1036,
    kIdClosePreview = 1037,
    kIdSettings = 1039,
    kIdHomePage = 1040,
};

// The video preview window's own controls: its video area and its close area. A window of their own, so
// they may share numbers with the main window's.
inline constexpr int kPreviewVideoControlId = 1037;
inline constexpr int kPreviewCloseControlId = 1039;

}  // namespace klangor

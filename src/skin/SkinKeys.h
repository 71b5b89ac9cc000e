#pragma once

#include "player/ControlIds.h"

#include <array>
#include <string_view>
#include <vector>

namespace klangor {

// Every name the skin folder and its layout file are read by, in one place. File names are the names
// inside the skin folder (see SkinFolder.h for finding it and matching names without regard to case).

inline constexpr std::string_view kSkinLayoutFile = "position.txt";
inline constexpr std::string_view kMainBackgroundFile = "interface.jpg";
inline constexpr std::string_view kPreviewBackgroundFile = "videopreview.jpg";
inline constexpr std::string_view kCursorImageFile = "cursor.gif";

// A skinned push button of the main window. Two buttons that share a key share a position; the second
// of such a pair is hidden right after it is set up.
struct SkinButtonRow {
    std::string_view strKey;
    int nControlId;
    std::string_view strFaceFile;
    std::string_view strTooltip;
    bool bHiddenAtStart;
};

// Applied in this order by the main window's skin set-up, before kSkinControlRows.
inline constexpr std::array<SkinButtonRow, 22> kSkinButtonRows = {{
    {"PLAY_MOVIE", kIdPlay, "playbutton.jpg", "Play", false},
    {"PLAY_MOVIE", kIdPause, "Pausebutton.jpg", "Pause", true},
    {"STOP_MOVIE", kIdStop, "stopbutton.jpg", "Stop", false},
    {"MUTE_MOVIE", kIdMute, "volumebutton.jpg", "Mute/Unmute", false},
    {"MUTE_MOVIE", kIdUnmute, "mutebutton.jpg", "Mute/Unmute", true},
    {"OPEN_MOVIE", kIdOpenFile, "openbutton.jpg", "Open Media Files", false},
    {"REMOVE_MOVIE", kIdRemove, "removebutton.jpg", "Remove Media Files", false},
    {"MOVIE_UP", kIdMoveUp, "upbutton.jpg", "Move File Up", false},
    {"MOVIE_DOWN", kIdMoveDown, "downbutton.jpg", "Move File Down", false},
    {"SET_START_POS", kIdSetStart, "leftbutton.jpg", "Set Starting Point", false},
    {"SET_END_POS", kIdSetEnd, "rightbutton.jpg", "Set Ending Point", false},
    {"SELECT_ALL", kIdSelectAll, "selectallbutton.jpg", "Select All", false},
    {"HELP", kIdHelp, "Helpbutton.jpg", "Help", false},
    {"ABOUT", kIdAbout, "Aboutbutton.jpg", "About", false},
    {"START_CONVERSION", kIdStartConvert, "Convertbutton.jpg", "Start to Convert", false},
    {"START_CONVERSION", kIdStopConvert, "abortbutton.jpg", "Stop Convert", true},
    {"BUTTON_SETTINGS", kIdSettings, "Settingsbutton.jpg", "MP3 Settings", false},
    {"OUTPUT_PATH", kIdOutputPath, "Outputbutton.jpg", "Select Output Path", false},
    {"MIN_WIN", kIdMinimize, "minbutton.jpg", "Minimize", false},
    {"CLOSE_WIN", kIdClose, "closebutton.jpg", "Close", false},
    {"OPEN_PREVIEW", kIdOpenPreview, "previewbutton.jpg", "Open Preview Window", false},
    {"OPEN_PREVIEW", kIdClosePreview, "unpreviewbutton.jpg", "Close Preview Window", true},
}};

// Other main-window controls, moved to x, y, width, height of their key.
struct SkinControlRow {
    std::string_view strKey;
    int nControlId;
};

inline constexpr std::array<SkinControlRow, 11> kSkinControlRows = {{
    {"LIST_CLIPS", kIdClipList},
    {"EDIT_OUTPUT_PATH", kIdOutputFolder},
    {"EDIT_SELECTION_TIME", kIdSelectionTime},
    {"EDIT_SELECTION_DURATION", kIdSelectionDuration},
    {"EDIT_CURRENT_TIME", kIdCurrentTime},
    {"RADIO_OUTPUT_MP3", kIdRadioMp3},
    {"RADIO_OUTPUT_WAV", kIdRadioWav},
    {"STATIC_STATUS", kIdStatus},
    {"SLIDER_VIDEO_SEEK", kIdSeekBar},
    {"PROGRESS", kIdProgress},
    {"GOTO_HOME_REGION", kIdHomePage},
}};

// The timeline bar's colours (red, green, blue; the fourth number is read and unused), in the order
// TimelineBar::Configure takes them, and its band height / cursor width pair.
inline constexpr std::string_view kTimelineBackgroundKey = "colorBackGround";
inline constexpr std::string_view kTimelineBandKey = "colorWholeRegion";
inline constexpr std::string_view kTimelineSelectionKey = "colorSelectionRegion";
inline constexpr std::string_view kTimelineCursorKey = "colorCursor";
inline constexpr std::string_view kTimelineStartMarkKey = "colorStartPoint";
inline constexpr std::string_view kTimelineEndMarkKey = "colorEndPoint";
inline constexpr std::array<std::string_view, 6> kTimelineColourKeys = {
    kTimelineBackgroundKey, kTimelineBandKey,      kTimelineSelectionKey,
    kTimelineCursorKey,     kTimelineStartMarkKey, kTimelineEndMarkKey};
inline constexpr std::string_view kTimelineSizeKey = "RegionHeightAndCursorWidth";

// The video preview window: offset from the main window (first two numbers), and the rectangles of its
// video area (kPreviewVideoControlId) and close area (kPreviewCloseControlId). The last two keys are
// spelled as the skin files spell them.
inline constexpr std::string_view kPreviewOffsetKey = "VIDEO_PREVIEW_OFFSET";
inline constexpr std::string_view kPreviewVideoRegionKey = "VIDEO_PREVIERW_REGION";
inline constexpr std::string_view kPreviewCloseRegionKey = "CLOSE_REGIN";

// Colours of the main window's text controls: edit box text, background behind all text, and the
// text of static controls, read-only edit boxes and the list box.
inline constexpr std::string_view kEditTextColourKey = "fore_color";
inline constexpr std::string_view kTextBackColourKey = "back_color";
inline constexpr std::string_view kStaticTextColourKey = "Static_Text_Fore_Color";
inline constexpr std::array<std::string_view, 3> kTextColourKeys = {kEditTextColourKey, kTextBackColourKey,
                                                                    kStaticTextColourKey};

// Every key a complete layout file carries, in the order the default skin writes them.
std::vector<std::string_view> AllSkinLayoutKeys();

}  // namespace klangor

#pragma once

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
    {"PLAY_MOVIE", 1002, "playbutton.jpg", "Play", false},
    {"PLAY_MOVIE", 1031, "Pausebutton.jpg", "Pause", true},
    {"STOP_MOVIE", 1003, "stopbutton.jpg", "Stop", false},
    {"MUTE_MOVIE", 1006, "volumebutton.jpg", "Mute/Unmute", false},
    {"MUTE_MOVIE", 1032, "mutebutton.jpg", "Mute/Unmute", true},
    {"OPEN_MOVIE", 1000, "openbutton.jpg", "Open Media Files", false},
    {"REMOVE_MOVIE", 1008, "removebutton.jpg", "Remove Media Files", false},
    {"MOVIE_UP", 1022, "upbutton.jpg", "Move File Up", false},
    {"MOVIE_DOWN", 1023, "downbutton.jpg", "Move File Down", false},
    {"SET_START_POS", 1007, "leftbutton.jpg", "Set Starting Point", false},
    {"SET_END_POS", 1010, "rightbutton.jpg", "Set Ending Point", false},
    {"SELECT_ALL", 1013, "selectallbutton.jpg", "Select All", false},
    {"HELP", 1028, "Helpbutton.jpg", "Help", false},
    {"ABOUT", 1024, "Aboutbutton.jpg", "About", false},
    {"START_CONVERSION", 1025, "Convertbutton.jpg", "Start to Convert", false},
    {"START_CONVERSION", 1026, "abortbutton.jpg", "Stop Convert", true},
    {"BUTTON_SETTINGS", 1039, "Settingsbutton.jpg", "MP3 Settings", false},
    {"OUTPUT_PATH", 1020, "Outputbutton.jpg", "Select Output Path", false},
    {"MIN_WIN", 1018, "minbutton.jpg", "Minimize", false},
    {"CLOSE_WIN", 1019, "closebutton.jpg", "Close", false},
    {"OPEN_PREVIEW", 1036, "previewbutton.jpg", "Open Preview Window", false},
    {"OPEN_PREVIEW", 1037, "unpreviewbutton.jpg", "Close Preview Window", true},
}};

// Other main-window controls, moved to x, y, width, height of their key.
struct SkinControlRow {
    std::string_view strKey;
    int nControlId;
};

inline constexpr std::array<SkinControlRow, 11> kSkinControlRows = {{
    {"LIST_CLIPS", 1021},
    {"EDIT_OUTPUT_PATH", 1033},
    {"EDIT_SELECTION_TIME", 1011},
    {"EDIT_SELECTION_DURATION", 1012},
    {"EDIT_CURRENT_TIME", 1009},
    {"RADIO_OUTPUT_MP3", 1034},
    {"RADIO_OUTPUT_WAV", 1035},
    {"STATIC_STATUS", 1030},
    {"SLIDER_VIDEO_SEEK", 1005},
    {"PROGRESS", 1029},
    {"GOTO_HOME_REGION", 1040},
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
// video area (control 1037) and close area (control 1039). The last two keys are spelled as the skin
// files spell them.
inline constexpr std::string_view kPreviewOffsetKey = "VIDEO_PREVIEW_OFFSET";
inline constexpr std::string_view kPreviewVideoRegionKey = "VIDEO_PREVIERW_REGION";
inline constexpr std::string_view kPreviewCloseRegionKey = "CLOSE_REGIN";
inline constexpr int kPreviewVideoControlId = 1037;
inline constexpr int kPreviewCloseControlId = 1039;

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

// The design's own words, written out here rather than read back from the code's tables: a key, a
// picture name or a tooltip text misspelt in the code fails these.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "skin/SkinKeys.h"

namespace klangor {

namespace {

struct ButtonWords {
    const char *pszKey;
    int nControlId;
    const char *pszFace;
    const char *pszTooltip;
    bool bHiddenAtStart;
};

// In the order the skin set-up applies them; the folder name is left out of the picture names.
const ButtonWords kDesignButtons[] = {
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
};

TEST(SkinWords, EveryButtonHasTheDesignsKeyFacePictureAndTooltipInTheDesignsOrder) {
    ASSERT_EQ(kSkinButtonRows.size(), std::size(kDesignButtons));
    for (size_t i = 0; i < std::size(kDesignButtons); ++i) {
        const ButtonWords &design = kDesignButtons[i];
        const SkinButtonRow &row = kSkinButtonRows[i];
        SCOPED_TRACE(design.pszKey);
        EXPECT_EQ(row.strKey, design.pszKey);
        EXPECT_EQ(row.nControlId, design.nControlId);
        EXPECT_EQ(row.strFaceFile, design.pszFace);
        EXPECT_EQ(row.strTooltip, design.pszTooltip);
        EXPECT_EQ(row.bHiddenAtStart, design.bHiddenAtStart);
    }
}

TEST(SkinWords, EveryOtherControlHasTheDesignsKeyInTheDesignsOrder) {
    const std::pair<const char *, int> design[] = {
        {"LIST_CLIPS", 1021},          {"EDIT_OUTPUT_PATH", 1033},
        {"EDIT_SELECTION_TIME", 1011}, {"EDIT_SELECTION_DURATION", 1012},
        {"EDIT_CURRENT_TIME", 1009},   {"RADIO_OUTPUT_MP3", 1034},
        {"RADIO_OUTPUT_WAV", 1035},    {"STATIC_STATUS", 1030},
        {"SLIDER_VIDEO_SEEK", 1005},   {"PROGRESS", 1029},
        {"GOTO_HOME_REGION", 1040},
    };
    ASSERT_EQ(kSkinControlRows.size(), std::size(design));
    for (size_t i = 0; i < std::size(design); ++i) {
        SCOPED_TRACE(design[i].first);
        EXPECT_EQ(kSkinControlRows[i].strKey, design[i].first);
        EXPECT_EQ(kSkinControlRows[i].nControlId, design[i].second);
    }
}

// The layout keys as the skin files spell them, the two misspellings included.
TEST(SkinWords, TheTimelinePreviewAndTextKeysAndTheFileNamesAreSpelledAsTheSkinsSpellThem) {
    EXPECT_EQ(kTimelineColourKeys[0], "colorBackGround");
    EXPECT_EQ(kTimelineColourKeys[1], "colorWholeRegion");
    EXPECT_EQ(kTimelineColourKeys[2], "colorSelectionRegion");
    EXPECT_EQ(kTimelineColourKeys[3], "colorCursor");
    EXPECT_EQ(kTimelineColourKeys[4], "colorStartPoint");
    EXPECT_EQ(kTimelineColourKeys[5], "colorEndPoint");
    EXPECT_EQ(kTimelineSizeKey, "RegionHeightAndCursorWidth");
    EXPECT_EQ(kPreviewOffsetKey, "VIDEO_PREVIEW_OFFSET");
    EXPECT_EQ(kPreviewVideoRegionKey, "VIDEO_PREVIERW_REGION");
    EXPECT_EQ(kPreviewCloseRegionKey, "CLOSE_REGIN");
    EXPECT_EQ(kEditTextColourKey, "fore_color");
    EXPECT_EQ(kTextBackColourKey, "back_color");
    EXPECT_EQ(kStaticTextColourKey, "Static_Text_Fore_Color");
    EXPECT_EQ(kSkinLayoutFile, "position.txt");
    EXPECT_EQ(kMainBackgroundFile, "interface.jpg");
    EXPECT_EQ(kPreviewBackgroundFile, "videopreview.jpg");
    EXPECT_EQ(kCursorImageFile, "cursor.gif");
    EXPECT_EQ(kPreviewVideoControlId, 1037);
    EXPECT_EQ(kPreviewCloseControlId, 1039);
}

}  // namespace

}  // namespace klangor

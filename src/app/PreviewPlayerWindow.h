#pragma once

#include "player/MediaPlayer.h"

namespace klangor {

class MainWindow;
class VideoPreviewWindow;

// The player's owner window: the video preview window with its video area, seen through the player's
// own small interface. Error boxes go through the main window's message boxes; graph notices are
// posted to the main window, which drains them on its thread. Window thread only, except
// PostGraphNotify.
class PreviewPlayerWindow : public IPlayerWindow {
public:
    PreviewPlayerWindow(MainWindow &mainWindow, VideoPreviewWindow &preview);

    void ShowErrorBox(const std::string &strCaption, const std::string &strText) override;
    void ShowUnownedErrorBox(const std::string &strCaption, const std::string &strText) override;
    void SetBusy(bool bBusy) override;
    VideoRect GetControlRect(int iControlId) override;
    void ShowAndActivate() override;
    void RepaintNow() override;
    void InvalidateAll() override;
    void SetKeyboardFocus() override;
    void PostGraphNotify() override;

private:
    MainWindow &m_mainWindow;
    VideoPreviewWindow &m_preview;
};

}  // namespace klangor

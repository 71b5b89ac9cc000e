#pragma once

#include "skin/SkinLayout.h"
#include "gui/SkinnedDialog.h"

#include <QRect>
#include <QWidget>

#include <filesystem>
#include <functional>

namespace klangor {

// The black area the preview video is painted into. What to paint comes from its owner (the player's
// latest frame), so this widget knows nothing of the player. In full screen it is a window of its own;
// Esc or a double click brings it back. Window thread only.
class VideoArea : public QWidget {
    Q_OBJECT
public:
    using Painter = std::function<void(QPainter &painter, const QRect &rcArea)>;

    VideoArea(int nId, QWidget *pParent);
    void SetPainter(Painter painter) { m_painter = std::move(painter); }

signals:
    void LeaveFullScreenRequested();
    void RightClicked(const QPoint &ptGlobal);

protected:
    void paintEvent(QPaintEvent *pEvent) override;
    void keyPressEvent(QKeyEvent *pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent *pEvent) override;
    void mousePressEvent(QMouseEvent *pEvent) override;

private:
    Painter m_painter;
};

// Where the preview window goes when its layout offset from the main window (rcPreview) would put a
// part of it outside the screen's available area: to the left of the main window, else below it, else
// pushed inside the area. A rectangle already inside, or an empty area, comes back unchanged.
QRect KeepPreviewOnScreen(const QRect &rcMain, const QRect &rcPreview, const QRect &rcAvailable);

// The separate skinned window the preview video is shown in, titled "Video Preview": its video area
// and an invisible close area come from the layout; the main window shows, hides and places it. It is
// created hidden and lives as long as the main window. Window thread only.
class VideoPreviewWindow : public SkinnedDialog {
    Q_OBJECT
public:
    explicit VideoPreviewWindow(const std::filesystem::path &pathSkinFolder, QWidget *pParent = nullptr);

    // Sizes and shapes the window from its picture, then places the video and close areas. False when
    // a rectangle's entry is missing or broken: the owner then closes, as for any broken layout.
    bool InitDialog(const SkinLayout &layout);
    // Moves the video area and the close area to their layout rectangles; false as above.
    bool SetupLayout(const SkinLayout &layout);

    VideoArea *GetVideoArea() const { return m_pVideoArea; }
    SkinHotArea *GetCloseArea() const { return m_pCloseArea; }

    // Shows the skin and its video area at the given size factor (1.0 is the skin's own size), so the
    // video grows or shrinks with the window around it.
    void SetVideoScale(double dScale);
    // The video area alone on the whole screen, and back.
    void ToggleFullScreen();
    bool IsFullScreen() const { return m_bFullScreen; }

signals:
    // The close area was clicked: the main window hides the preview and swaps its buttons.
    void CloseRequested();
    // Esc or a double click on the full-screen video: whoever switched it on switches it off.
    void LeaveFullScreenRequested();
    // A right click anywhere on the preview, at a screen position.
    void SizeMenuRequested(const QPoint &ptGlobal);

protected:
    void moveEvent(QMoveEvent *pEvent) override;
    void resizeEvent(QResizeEvent *pEvent) override;
    void mousePressEvent(QMouseEvent *pEvent) override;

private:
    void ApplyGeometry();
    void RedrawVideo();

    VideoArea *m_pVideoArea;
    SkinHotArea *m_pCloseArea;
    QRect m_rcVideo;  // layout rectangles at the skin's own size
    QRect m_rcClose;
    double m_dScale = 1.0;
    bool m_bFullScreen = false;
    bool m_bInitialised = false;
};

}  // namespace klangor

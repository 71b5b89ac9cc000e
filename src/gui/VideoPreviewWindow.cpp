#include "gui/VideoPreviewWindow.h"

#include "skin/LayoutGeometry.h"
#include "skin/SkinFolder.h"
#include "skin/SkinKeys.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace klangor {

namespace {

QRect LayoutRect(const SkinLayout &layout, std::string_view strKey, bool &bBroken) {
    SkinLayout::Values values{0, 0, 0, 0};
    if (!layout.GetValues(strKey, values)) {
        bBroken = true;
    }
    const SkinRect rc = LayoutRectFromValues(values);
    return QRect(rc.left, rc.top, rc.Width(), rc.Height());
}

QRect Scaled(const QRect &rect, double dScale) {
    return QRect(qRound(rect.x() * dScale), qRound(rect.y() * dScale), qRound(rect.width() * dScale),
                 qRound(rect.height() * dScale));
}

}  // namespace

QRect KeepPreviewOnScreen(const QRect &rcMain, const QRect &rcPreview, const QRect &rcAvailable) {
    if (rcAvailable.isEmpty() || rcAvailable.contains(rcPreview)) {
        return rcPreview;
    }
    QRect rcLeft = rcPreview;
    rcLeft.moveRight(rcMain.left() - 1);
    if (rcAvailable.contains(rcLeft)) {
        return rcLeft;
    }
    QRect rcBelow = rcPreview;
    rcBelow.moveTopLeft(QPoint(rcMain.left(), rcMain.bottom() + 1));
    if (rcAvailable.contains(rcBelow)) {
        return rcBelow;
    }
    // Nothing beside the window fits: inside the area, the top-left corner kept visible first.
    QRect rcInside = rcPreview;
    rcInside.moveLeft(
        std::max(rcAvailable.left(), std::min(rcInside.left(), rcAvailable.right() - rcInside.width() + 1)));
    rcInside.moveTop(
        std::max(rcAvailable.top(), std::min(rcInside.top(), rcAvailable.bottom() - rcInside.height() + 1)));
    return rcInside;
}

VideoArea::VideoArea(int nId, QWidget *pParent) : QWidget(pParent) {
    setObjectName(QStringLiteral("control%1").arg(nId));
    // Every pixel is painted (black around the picture), so nothing needs clearing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
}

void VideoArea::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_painter) {
        m_painter(painter, rect());
    }
}

void VideoArea::keyPressEvent(QKeyEvent *pEvent) {
    if (isWindow() && pEvent->key() == Qt::Key_Escape) {
        emit LeaveFullScreenRequested();
        return;
    }
    QWidget::keyPressEvent(pEvent);
}

void VideoArea::mouseDoubleClickEvent(QMouseEvent *pEvent) {
    if (isWindow() && pEvent->button() == Qt::LeftButton) {
        emit LeaveFullScreenRequested();
        return;
    }
    QWidget::mouseDoubleClickEvent(pEvent);
}

void VideoArea::mousePressEvent(QMouseEvent *pEvent) {
    if (pEvent->button() == Qt::RightButton) {
        emit RightClicked(pEvent->globalPosition().toPoint());
        return;
    }
    // A left press on the video moves the preview window like a press on its background.
    pEvent->ignore();
}

VideoPreviewWindow::VideoPreviewWindow(const std::filesystem::path &pathSkinFolder, QWidget *pParent)
    : SkinnedDialog(pParent),
      m_pVideoArea(new VideoArea(kPreviewVideoControlId, this)),
      m_pCloseArea(new SkinHotArea(kPreviewCloseControlId, this)) {
    setObjectName(QStringLiteral("VideoPreviewWindow"));
    setWindowTitle(QStringLiteral("Video Preview"));
    LoadBackground(SkinFilePath(pathSkinFolder, kPreviewBackgroundFile));
    connect(m_pCloseArea, &SkinHotArea::Clicked, this, &VideoPreviewWindow::CloseRequested);
    connect(m_pVideoArea, &VideoArea::RightClicked, this, &VideoPreviewWindow::SizeMenuRequested);
    connect(m_pVideoArea, &VideoArea::LeaveFullScreenRequested, this,
            &VideoPreviewWindow::LeaveFullScreenRequested);
}

bool VideoPreviewWindow::InitDialog(const SkinLayout &layout) {
    BuildWindowRegion();
    const bool bComplete = SetupLayout(layout);
    m_bInitialised = true;
    return bComplete;
}

bool VideoPreviewWindow::SetupLayout(const SkinLayout &layout) {
    bool bBroken = false;
    m_rcVideo = LayoutRect(layout, kPreviewVideoRegionKey, bBroken);
    m_rcClose = LayoutRect(layout, kPreviewCloseRegionKey, bBroken);
    ApplyGeometry();
    return !bBroken;
}

void VideoPreviewWindow::SetVideoScale(double dScale) {
    if (dScale <= 0.0) {
        return;
    }
    m_dScale = dScale;
    SetSkinScale(dScale);
    ApplyGeometry();
}

void VideoPreviewWindow::ToggleFullScreen() {
    m_bFullScreen = !m_bFullScreen;
    if (m_bFullScreen) {
        // Still a child of this window (so it is owned and destroyed with it), but a window of its own.
        m_pVideoArea->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        m_pVideoArea->setWindowTitle(windowTitle());
        m_pVideoArea->showFullScreen();
        m_pVideoArea->setFocus();
    } else {
        m_pVideoArea->setWindowFlags(Qt::Widget);
        ApplyGeometry();
        m_pVideoArea->show();
    }
}

void VideoPreviewWindow::ApplyGeometry() {
    if (!m_bFullScreen) {
        m_pVideoArea->setGeometry(Scaled(m_rcVideo, m_dScale));
    }
    m_pCloseArea->setGeometry(Scaled(m_rcClose, m_dScale));
    RedrawVideo();
}

void VideoPreviewWindow::RedrawVideo() {
    if (m_bInitialised) {
        m_pVideoArea->update();
    }
}

void VideoPreviewWindow::moveEvent(QMoveEvent *pEvent) {
    SkinnedDialog::moveEvent(pEvent);
    RedrawVideo();
}

void VideoPreviewWindow::resizeEvent(QResizeEvent *pEvent) {
    SkinnedDialog::resizeEvent(pEvent);
    RedrawVideo();
}

void VideoPreviewWindow::mousePressEvent(QMouseEvent *pEvent) {
    if (pEvent->button() == Qt::RightButton) {
        emit SizeMenuRequested(pEvent->globalPosition().toPoint());
        return;
    }
    SkinnedDialog::mousePressEvent(pEvent);
}

}  // namespace klangor

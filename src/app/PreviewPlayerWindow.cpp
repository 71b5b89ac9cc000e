#include "app/PreviewPlayerWindow.h"

#include "app/MainWindow.h"
#include "player/PreviewCommands.h"
#include "gui/VideoPreviewWindow.h"

#include <QApplication>

namespace klangor {

PreviewPlayerWindow::PreviewPlayerWindow(MainWindow &mainWindow, VideoPreviewWindow &preview)
    : m_mainWindow(mainWindow), m_preview(preview) {}

void PreviewPlayerWindow::ShowErrorBox(const std::string &strCaption, const std::string &strText) {
    // The player's texts end in line breaks meant for a console; a box does not need them.
    QString strMessage = QString::fromStdString(strText).trimmed();
    // A box that comes up while a clip opens is answered with the ordinary pointer, not the busy one.
    const bool bBusy = QApplication::overrideCursor() != nullptr;
    if (bBusy) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    m_mainWindow.Boxes().ShowMessage(&m_preview, QString::fromStdString(strCaption), strMessage,
                                     IMessageBoxes::Icon::None);
    if (bBusy) {
        QApplication::restoreOverrideCursor();
    }
}

void PreviewPlayerWindow::ShowUnownedErrorBox(const std::string &strCaption, const std::string &strText) {
    m_mainWindow.Boxes().ShowMessage(nullptr, QString::fromStdString(strCaption),
                                     QString::fromStdString(strText).trimmed(), IMessageBoxes::Icon::None);
}

void PreviewPlayerWindow::SetBusy(bool bBusy) {
    // A clip opens in the background: the pointer says so, and every control still answers it.
    if (bBusy) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

VideoRect PreviewPlayerWindow::GetControlRect(int iControlId) {
    const QWidget *pControl = m_preview.findChild<QWidget *>(QStringLiteral("control%1").arg(iControlId));
    if (pControl == nullptr) {
        return VideoRect{};
    }
    // In device pixels, so a HiDPI screen gets the video drawn at its own resolution.
    const qreal dRatio = pControl->devicePixelRatioF();
    return VideoRect{0, 0, qRound(pControl->width() * dRatio), qRound(pControl->height() * dRatio)};
}

void PreviewPlayerWindow::ShowAndActivate() {
    // Through the main window, so its Open/Close preview buttons follow.
    m_mainWindow.ShowPreviewWindow();
    m_preview.activateWindow();
}

void PreviewPlayerWindow::RepaintNow() {
    m_preview.repaint();
}

void PreviewPlayerWindow::InvalidateAll() {
    m_preview.update();
    m_preview.GetVideoArea()->update();
}

void PreviewPlayerWindow::SetKeyboardFocus() {
    // Within the preview window only: activating it would take the keyboard from the main window.
    m_preview.GetVideoArea()->setFocus();
}

void PreviewPlayerWindow::PostGraphNotify() {
    QMetaObject::invokeMethod(&m_mainWindow, "OnGraphNotify", Qt::QueuedConnection);
}

}  // namespace klangor

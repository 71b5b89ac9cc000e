#include "gui/SkinnedDialog.h"

#include "gui/SkinQt.h"
#include "skin/WindowShape.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTransform>
#include <QWindow>

namespace klangor {

SkinHotArea::SkinHotArea(int nId, QWidget *pParent) : QWidget(pParent), m_nId(nId) {
    setObjectName(QStringLiteral("control%1").arg(nId));
    setCursor(Qt::PointingHandCursor);
}

void SkinHotArea::mousePressEvent(QMouseEvent *pEvent) {
    m_bPressed = pEvent->button() == Qt::LeftButton;
    pEvent->setAccepted(m_bPressed);
}

void SkinHotArea::mouseReleaseEvent(QMouseEvent *pEvent) {
    const bool bWasPressed = m_bPressed;
    m_bPressed = false;
    if (bWasPressed && pEvent->button() == Qt::LeftButton && rect().contains(pEvent->position().toPoint())) {
        emit Clicked();
    }
}

SkinText::SkinText(const QString &strText, QWidget *pParent) : QLabel(strText, pParent) {
    setAutoFillBackground(false);
}

void SkinText::SetColours(const QColor &text, const QColor &cell) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, text);
    setPalette(palette);
    m_cell = cell;
    update();
}

QRect SkinText::TextCell() const {
    if (text().isEmpty()) {
        return QRect();
    }
    const QRect rcContents = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    return fontMetrics().boundingRect(rcContents, static_cast<int>(alignment()), text()) & rect();
}

void SkinText::paintEvent(QPaintEvent *pEvent) {
    if (m_cell.isValid()) {
        QPainter painter(this);
        painter.fillRect(TextCell(), m_cell);
    }
    QLabel::paintEvent(pEvent);
}

SkinnedDialog::SkinnedDialog(QWidget *pParent) : QDialog(pParent) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
}

bool SkinnedDialog::LoadBackground(const std::filesystem::path &pathFile) {
    m_pixBackground = QPixmap();
    if (!m_background.Open(pathFile, SkinImageFormat::Gif)) {
        return false;
    }
    m_background.ExpandTo24Bits();
    m_pixBackground = SkinImageToPixmap(m_background);
    return !m_pixBackground.isNull();
}

void SkinnedDialog::BuildWindowRegion() {
    const int w = m_background.PixelWidth();
    const int h = m_background.PixelHeight();
    if (w == 0 || h == 0) {
        return;
    }
    m_region = RectsToRegion(BuildWindowShape(m_background));
    SetSkinScale(m_dSkinScale);
}

void SkinnedDialog::SetSkinScale(double dScale) {
    m_dSkinScale = dScale;
    const int w = m_background.PixelWidth();
    const int h = m_background.PixelHeight();
    if (w == 0 || h == 0) {
        return;
    }
    setFixedSize(qRound(w * dScale), qRound(h * dScale));
    setMask(dScale == 1.0 ? m_region : QTransform::fromScale(dScale, dScale).map(m_region));
    update();
}

void SkinnedDialog::paintEvent(QPaintEvent *pEvent) {
    if (m_pixBackground.isNull()) {
        QDialog::paintEvent(pEvent);
        return;
    }
    QPainter painter(this);
    if (m_dSkinScale == 1.0) {
        painter.drawPixmap(0, 0, m_pixBackground);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(rect(), m_pixBackground);
    }
}

void SkinnedDialog::mousePressEvent(QMouseEvent *pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(pEvent);
        return;
    }
    // The window system's own move loop follows the pointer best; it is missing without a window
    // manager, and then the window is moved here.
    QWindow *pWindow = windowHandle();
    if (pWindow != nullptr && pWindow->startSystemMove()) {
        return;
    }
    m_dragOffset = pEvent->globalPosition().toPoint() - frameGeometry().topLeft();
}

void SkinnedDialog::mouseMoveEvent(QMouseEvent *pEvent) {
    if (m_dragOffset && (pEvent->buttons() & Qt::LeftButton)) {
        move(pEvent->globalPosition().toPoint() - *m_dragOffset);
        return;
    }
    QDialog::mouseMoveEvent(pEvent);
}

void SkinnedDialog::mouseReleaseEvent(QMouseEvent *pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        m_dragOffset.reset();
    }
    QDialog::mouseReleaseEvent(pEvent);
}

}  // namespace klangor

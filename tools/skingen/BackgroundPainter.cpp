#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "Painters.h"

namespace klangor {

namespace skingen {

namespace {

QImage PaintWindowBase(const WindowPlan &plan) {
    QImage image(plan.size, QImage::Format_RGB32);
    image.fill(theme::kOutside);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF rcWindow(0, 0, plan.size.width(), plan.size.height());
    QPainterPath shape;
    shape.addRoundedRect(rcWindow, plan.nCornerRadius, plan.nCornerRadius);
    QLinearGradient fill(0, 0, 0, plan.size.height());
    fill.setColorAt(0, theme::kWindowTop);
    fill.setColorAt(1, theme::kWindowBottom);
    p.fillPath(shape, fill);
    p.setPen(QPen(theme::kWindowEdge, 1.0));
    p.drawRoundedRect(rcWindow.adjusted(0.5, 0.5, -0.5, -0.5), plan.nCornerRadius - 0.5,
                      plan.nCornerRadius - 0.5);

    for (const Panel &panel : plan.panels) {
        const QRectF rc = QRectF(panel.rc).adjusted(0.5, 0.5, 0.5, 0.5);
        p.setPen(QPen(theme::kPanelEdge, 1.0));
        p.setBrush(theme::kPanel);
        p.drawRoundedRect(rc, 9, 9);
    }
    for (const QRect &field : plan.fields) {
        // A field one pixel larger than its control on every side, so the edge line shows around it.
        const QRectF rc = QRectF(field).adjusted(-0.5, -0.5, 0.5, 0.5);
        p.setPen(QPen(theme::kFieldEdge, 1.0));
        p.setBrush(theme::kField);
        p.drawRoundedRect(rc, 4, 4);
    }
    for (const Label &label : plan.labels) {
        QFont font = SkinFont(label.nPixelSize, label.bBold);
        const bool bCaption = label.strText == label.strText.toUpper() && label.strText.size() > 3;
        if (bCaption) {
            font.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
        }
        p.setFont(font);
        p.setPen(label.colour);
        QPoint pt = label.ptBaseline;
        if (label.bRightAligned) {
            pt.rx() -= QFontMetrics(font).horizontalAdvance(label.strText);
        }
        p.drawText(pt, label.strText);
    }
    return image;
}

// The program's mark: a rounded square with a sound wave, as in the title strip.
void PaintLogo(QPainter &p, const QRectF &rc) {
    QLinearGradient fill(rc.topLeft(), rc.bottomRight());
    fill.setColorAt(0, QColor(52, 196, 182));
    fill.setColorAt(1, QColor(30, 128, 140));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(rc, 6, 6);
    const double aHeights[] = {0.22, 0.46, 0.72, 0.5, 0.3, 0.58, 0.26};
    const int nBars = 7;
    const double dStep = rc.width() * 0.76 / nBars;
    p.setPen(QPen(QColor(16, 40, 46), dStep * 0.55, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < nBars; ++i) {
        const double x = rc.left() + rc.width() * 0.12 + dStep * (i + 0.5);
        const double h = rc.height() * aHeights[i];
        p.drawLine(QPointF(x, rc.center().y() - h / 2), QPointF(x, rc.center().y() + h / 2));
    }
}

}  // namespace

QFont SkinFont(int nPixelSize, bool bBold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(nPixelSize);
    font.setBold(bBold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QImage PaintMainBackground() {
    const WindowPlan &plan = MainWindowPlan();
    QImage image = PaintWindowBase(plan);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    PaintLogo(p, QRectF(18, 13, 26, 26));
    // The title strip's lower edge.
    p.setPen(QPen(theme::kPanelEdge, 1.0));
    p.drawLine(QPointF(14, 45.5), QPointF(plan.size.width() - 14, 45.5));
    return image;
}

QImage PaintPreviewBackground() {
    const WindowPlan &plan = PreviewWindowPlan();
    QImage image = PaintWindowBase(plan);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF rcVideo = QRectF(PreviewVideoArea()).adjusted(-0.5, -0.5, 0.5, 0.5);
    p.setPen(QPen(theme::kFieldEdge, 1.0));
    p.setBrush(theme::kVideo);
    p.drawRoundedRect(rcVideo, 3, 3);
    // A quiet film frame in the middle of the empty video area.
    const QPointF c = rcVideo.center();
    p.setPen(QPen(QColor(38, 45, 58), 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(c.x() - 26, c.y() - 18, 52, 36), 4, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(38, 45, 58));
    p.drawPolygon(QPolygonF(
        {QPointF(c.x() - 7, c.y() - 10), QPointF(c.x() + 11, c.y()), QPointF(c.x() - 7, c.y() + 10)}));

    // The close area: a round button with a cross.
    const QRectF rcClose = QRectF(PreviewCloseArea()).adjusted(3, 3, -3, -3);
    p.setPen(QPen(theme::kPanelEdge, 1.0));
    p.setBrush(theme::kPanel);
    p.drawEllipse(rcClose);
    p.setPen(QPen(theme::kLabel, 1.8, Qt::SolidLine, Qt::RoundCap));
    const double d = rcClose.width() * 0.22;
    const QPointF cc = rcClose.center();
    p.drawLine(QPointF(cc.x() - d, cc.y() - d), QPointF(cc.x() + d, cc.y() + d));
    p.drawLine(QPointF(cc.x() + d, cc.y() - d), QPointF(cc.x() - d, cc.y() + d));
    return image;
}

QImage PaintCursor() {
    QImage image(kCursorPictureSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = kCursorPictureSize.width();
    const double h = kCursorPictureSize.height();
    // A grip: a rounded bar with a notch line, dark rim so it reads on both band and selection.
    QLinearGradient fill(0, 0, w, 0);
    fill.setColorAt(0, theme::kCursor.lighter(112));
    fill.setColorAt(1, theme::kCursor.darker(112));
    p.setPen(QPen(QColor(20, 24, 31), 1.5));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1.5, 0.75, w - 3, h - 1.5), 4, 4);
    p.setPen(QPen(QColor(120, 80, 20), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(w / 2, 5), QPointF(w / 2, h - 5));
    return image;
}

}  // namespace skingen

}  // namespace klangor

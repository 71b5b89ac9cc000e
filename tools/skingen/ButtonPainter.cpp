#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

#include "Painters.h"

namespace klangor {

namespace skingen {

namespace {

enum class FaceState { Normal = 0, Pressed = 1, Hover = 2, Disabled = 3 };

struct FaceColours {
    QColor top;
    QColor bottom;
    QColor edge;
    QColor ink;
    bool bFill;
};

FaceColours ColoursFor(FaceStyle style, FaceState state) {
    switch (style) {
        case FaceStyle::Tool:
            switch (state) {
                case FaceState::Normal:
                    return {{54, 63, 82}, {44, 51, 66}, {72, 84, 106}, {206, 214, 228}, true};
                case FaceState::Pressed:
                    return {{26, 31, 40}, {32, 38, 49}, {36, 140, 132}, {104, 214, 200}, true};
                case FaceState::Hover:
                    return {{66, 78, 100}, {54, 64, 82}, {42, 170, 160}, {140, 240, 226}, true};
                case FaceState::Disabled:
                    return {{38, 43, 54}, {38, 43, 54}, {48, 55, 68}, {84, 93, 110}, true};
            }
            break;
        case FaceStyle::TitleBar:
        case FaceStyle::Close: {
            const bool bClose = style == FaceStyle::Close;
            switch (state) {
                case FaceState::Normal:
                    return {{}, {}, {}, {150, 162, 182}, false};
                case FaceState::Pressed:
                    return bClose ? FaceColours{{150, 40, 40},
                                                {150, 40, 40},
                                                {150, 40, 40},
                                                {240, 220, 220},
                                                true}
                                  : FaceColours{
                                        {24, 29, 38}, {24, 29, 38}, {36, 140, 132}, {104, 214, 200}, true};
                case FaceState::Hover:
                    return bClose
                               ? FaceColours{{214, 64, 64},
                                             {196, 52, 52},
                                             {214, 64, 64},
                                             {255, 255, 255},
                                             true}
                               : FaceColours{{58, 68, 88}, {52, 61, 79}, {58, 68, 88}, {140, 240, 226}, true};
                case FaceState::Disabled:
                    return {{}, {}, {}, {70, 78, 94}, false};
            }
            break;
        }
        case FaceStyle::Primary:
            switch (state) {
                case FaceState::Normal:
                    return {{44, 172, 160}, {32, 140, 130}, {28, 120, 112}, {250, 253, 253}, true};
                case FaceState::Pressed:
                    return {{22, 106, 99}, {28, 122, 114}, {20, 96, 90}, {208, 236, 232}, true};
                case FaceState::Hover:
                    return {{62, 198, 184}, {42, 162, 150}, {120, 230, 216}, {255, 255, 255}, true};
                case FaceState::Disabled:
                    return {{50, 58, 72}, {46, 53, 66}, {58, 67, 83}, {104, 114, 130}, true};
            }
            break;
        case FaceStyle::Abort:
            switch (state) {
                case FaceState::Normal:
                    return {{206, 76, 68}, {172, 56, 52}, {150, 46, 44}, {253, 248, 248}, true};
                case FaceState::Pressed:
                    return {{130, 38, 36}, {148, 46, 44}, {120, 34, 32}, {236, 208, 206}, true};
                case FaceState::Hover:
                    return {{226, 96, 86}, {194, 68, 62}, {250, 150, 140}, {255, 255, 255}, true};
                case FaceState::Disabled:
                    return {{50, 58, 72}, {46, 53, 66}, {58, 67, 83}, {104, 114, 130}, true};
            }
            break;
    }
    return {};
}

// Icons are drawn in an 18 by 18 box with their own origin at the box's top-left corner.
void PaintIcon(QPainter &p, Icon icon, const QColor &ink) {
    const QPen line(ink, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const QPen thin(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    auto filled = [&](std::initializer_list<QPointF> points) {
        p.setPen(QPen(ink, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(ink);
        p.drawPolygon(QPolygonF(points));
    };
    auto speaker = [&] { filled({{2.5, 7}, {6, 7}, {10, 3}, {10, 15}, {6, 11}, {2.5, 11}}); };
    auto document = [&] {
        p.setPen(thin);
        p.setBrush(Qt::NoBrush);
        QPainterPath page;
        page.moveTo(3.5, 1.5);
        page.lineTo(10, 1.5);
        page.lineTo(13.5, 5);
        page.lineTo(13.5, 16.5);
        page.lineTo(3.5, 16.5);
        page.closeSubpath();
        p.drawPath(page);
        p.drawLine(QPointF(10, 1.5), QPointF(10, 5));
        p.drawLine(QPointF(10, 5), QPointF(13.5, 5));
    };
    auto badge = [&](bool bPlus) {
        // A round badge cut out of the page at its lower right.
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(QPointF(13, 13), 5, 5);
        p.setPen(QPen(QColor(30, 36, 46), 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10.6, 13), QPointF(15.4, 13));
        if (bPlus) {
            p.drawLine(QPointF(13, 10.6), QPointF(13, 15.4));
        }
    };
    auto screen = [&] {
        p.setPen(thin);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(1.5, 2.5, 15, 10.5), 1.5, 1.5);
        p.drawLine(QPointF(6, 16), QPointF(12, 16));
        p.drawLine(QPointF(9, 13), QPointF(9, 16));
    };
    p.setBrush(Qt::NoBrush);
    switch (icon) {
        case Icon::Play:
            filled({{5, 2.5}, {15, 9}, {5, 15.5}});
            break;
        case Icon::Pause:
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            p.drawRoundedRect(QRectF(4, 3, 3.5, 12), 1, 1);
            p.drawRoundedRect(QRectF(10.5, 3, 3.5, 12), 1, 1);
            break;
        case Icon::Stop:
        case Icon::Abort:
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            p.drawRoundedRect(QRectF(4, 4, 10, 10), 1.5, 1.5);
            break;
        case Icon::Volume:
            speaker();
            p.setPen(thin);
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(7.5, 5.5, 6, 7), -60 * 16, 120 * 16);
            p.drawArc(QRectF(7, 2.5, 10, 13), -60 * 16, 120 * 16);
            break;
        case Icon::Muted:
            speaker();
            p.setPen(line);
            p.drawLine(QPointF(12, 6.5), QPointF(16.5, 11.5));
            p.drawLine(QPointF(16.5, 6.5), QPointF(12, 11.5));
            break;
        case Icon::Open:
            document();
            badge(true);
            break;
        case Icon::Remove:
            document();
            badge(false);
            break;
        case Icon::Up:
            p.setPen(line);
            p.drawLine(QPointF(9, 15), QPointF(9, 3.5));
            p.drawPolyline(QPolygonF({{4, 8.5}, {9, 3.5}, {14, 8.5}}));
            break;
        case Icon::Down:
            p.setPen(line);
            p.drawLine(QPointF(9, 3), QPointF(9, 14.5));
            p.drawPolyline(QPolygonF({{4, 9.5}, {9, 14.5}, {14, 9.5}}));
            break;
        case Icon::SetStart:  // "|<"
            p.setPen(line);
            p.drawLine(QPointF(3.5, 3), QPointF(3.5, 15));
            filled({{15, 3.5}, {6.5, 9}, {15, 14.5}});
            break;
        case Icon::SetEnd:  // ">|"
            p.setPen(line);
            p.drawLine(QPointF(14.5, 3), QPointF(14.5, 15));
            filled({{3, 3.5}, {11.5, 9}, {3, 14.5}});
            break;
        case Icon::SelectAll:
            p.setPen(line);
            p.drawLine(QPointF(2, 3), QPointF(2, 15));
            p.drawLine(QPointF(16, 3), QPointF(16, 15));
            p.setPen(thin);
            p.drawLine(QPointF(5, 9), QPointF(13, 9));
            filled({{4.5, 9}, {8, 6}, {8, 12}});
            filled({{13.5, 9}, {10, 6}, {10, 12}});
            break;
        case Icon::Help:
        case Icon::About: {
            p.setPen(thin);
            p.drawEllipse(QRectF(1.5, 1.5, 15, 15));
            p.setFont(SkinFont(12, true));
            p.setPen(ink);
            p.drawText(QRectF(0, 0.5, 18, 18), Qt::AlignCenter,
                       icon == Icon::Help ? QStringLiteral("?") : QStringLiteral("i"));
            break;
        }
        case Icon::Convert: {
            // A sound wave turning into a file: bars then an arrow.
            p.setPen(QPen(ink, 2.0, Qt::SolidLine, Qt::RoundCap));
            const double aHeights[] = {5, 10, 14, 8};
            for (int i = 0; i < 4; ++i) {
                const double x = 2 + i * 3.2;
                p.drawLine(QPointF(x, 9 - aHeights[i] / 2), QPointF(x, 9 + aHeights[i] / 2));
            }
            filled({{13.5, 4.5}, {18, 9}, {13.5, 13.5}});
            break;
        }
        case Icon::Settings: {
            p.setPen(QPen(ink, 2.6, Qt::SolidLine, Qt::FlatCap));
            for (int i = 0; i < 8; ++i) {
                const double a = i * std::numbers::pi / 4;
                p.drawLine(QPointF(9 + 5 * std::cos(a), 9 + 5 * std::sin(a)),
                           QPointF(9 + 8 * std::cos(a), 9 + 8 * std::sin(a)));
            }
            p.setPen(QPen(ink, 2.2));
            p.drawEllipse(QPointF(9, 9), 4.6, 4.6);
            break;
        }
        case Icon::Folder: {
            p.setPen(thin);
            QColor fill = ink;
            fill.setAlpha(60);
            p.setBrush(fill);
            QPainterPath folder;
            folder.moveTo(1.5, 4);
            folder.lineTo(6.5, 4);
            folder.lineTo(8.5, 6);
            folder.lineTo(16.5, 6);
            folder.lineTo(16.5, 15);
            folder.lineTo(1.5, 15);
            folder.closeSubpath();
            p.drawPath(folder);
            p.drawLine(QPointF(1.5, 8.5), QPointF(16.5, 8.5));
            break;
        }
        case Icon::Minimise:
            p.setPen(line);
            p.drawLine(QPointF(4.5, 12.5), QPointF(13.5, 12.5));
            break;
        case Icon::Close:
            p.setPen(line);
            p.drawLine(QPointF(5, 5), QPointF(13, 13));
            p.drawLine(QPointF(13, 5), QPointF(5, 13));
            break;
        case Icon::Preview:
            screen();
            filled({{7.5, 5}, {12, 7.75}, {7.5, 10.5}});
            break;
        case Icon::Unpreview:
            screen();
            p.setPen(thin);
            p.drawLine(QPointF(6.5, 5), QPointF(11.5, 10.5));
            p.drawLine(QPointF(11.5, 5), QPointF(6.5, 10.5));
            break;
    }
}

void PaintFace(QPainter &p, const FacePlan &plan, FaceState state, const QRect &rcFace) {
    const FaceColours colours = ColoursFor(plan.style, state);
    const QRectF rc = QRectF(rcFace).adjusted(1.5, 1.5, -1.5, -1.5);
    const double dRadius = plan.style == FaceStyle::Primary || plan.style == FaceStyle::Abort ? 8 : 6;
    if (colours.bFill) {
        QLinearGradient fill(rc.topLeft(), rc.bottomLeft());
        fill.setColorAt(0, colours.top);
        fill.setColorAt(1, colours.bottom);
        p.setPen(QPen(colours.edge, state == FaceState::Hover ? 1.6 : 1.0));
        p.setBrush(fill);
        p.drawRoundedRect(rc, dRadius, dRadius);
        if (state == FaceState::Normal || state == FaceState::Hover) {
            // A faint top highlight gives the raised faces some depth.
            QColor shine = colours.top.lighter(130);
            shine.setAlpha(120);
            p.setPen(QPen(shine, 1.0));
            p.drawLine(QPointF(rc.left() + dRadius, rc.top() + 1),
                       QPointF(rc.right() - dRadius, rc.top() + 1));
        }
    }
    const double dShift = state == FaceState::Pressed ? 1.0 : 0.0;
    const double dIconScale = plan.style == FaceStyle::TitleBar || plan.style == FaceStyle::Close ? 0.9 : 1.0;
    const double dIcon = 18 * dIconScale;
    double xIcon = rcFace.left() + (rcFace.width() - dIcon) / 2;
    if (!plan.strCaption.isEmpty()) {
        const QFont font = SkinFont(15, true);
        const double dText = QFontMetrics(font).horizontalAdvance(plan.strCaption);
        const double dGap = 9;
        xIcon = rcFace.left() + (rcFace.width() - (dIcon + dGap + dText)) / 2;
        p.setFont(font);
        p.setPen(colours.ink);
        p.drawText(QRectF(xIcon + dIcon + dGap, rcFace.top() + dShift, dText + 2, rcFace.height()),
                   Qt::AlignVCenter | Qt::AlignLeft, plan.strCaption);
    }
    p.save();
    p.translate(xIcon, rcFace.top() + (rcFace.height() - dIcon) / 2 + dShift);
    p.scale(dIconScale, dIconScale);
    PaintIcon(p, plan.icon, colours.ink);
    p.restore();
}

}  // namespace

QImage PaintFaceStrip(const FacePlan &plan, const QImage &background, QPoint ptAt) {
    const QSize size = plan.size;
    QImage strip(size.width() * 4, size.height(), QImage::Format_RGB32);
    const QImage base = background.copy(QRect(ptAt, size));
    QPainter p(&strip);
    for (int k = 0; k < 4; ++k) {
        p.drawImage(QPoint(k * size.width(), 0), base);
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (int k = 0; k < 4; ++k) {
        PaintFace(p, plan, static_cast<FaceState>(k), QRect(QPoint(k * size.width(), 0), size));
    }
    return strip;
}

}  // namespace skingen

}  // namespace klangor

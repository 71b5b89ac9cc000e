#include "app/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace klangor {

namespace {

QString IconResource() {
    return QStringLiteral(":/klangor/icons/%1.svg").arg(QString::fromUtf8(kDesktopId));
}

}  // namespace

QImage RenderAppIcon(int nSize) {
    QSvgRenderer renderer(IconResource());
    if (!renderer.isValid()) {
        return {};
    }
    QImage image(nSize, nSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, nSize, nSize));
    painter.end();
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (int nSize : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(QPixmap::fromImage(RenderAppIcon(nSize)));
    }
    return icon;
}

}  // namespace klangor

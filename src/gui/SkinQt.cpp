#include "gui/SkinQt.h"

namespace klangor {

QImage SkinImageToQImage(const SkinImage &image) {
    if (!image.HasPixels()) {
        return QImage();
    }
    const QImage view(reinterpret_cast<const uchar *>(image.Pixels()), image.PixelWidth(),
                      image.PixelHeight(), static_cast<qsizetype>(image.StrideBytes()),
                      image.HasAlpha() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return view.copy();
}

QPixmap SkinImageToPixmap(const SkinImage &image) {
    const QImage qimage = SkinImageToQImage(image);
    return qimage.isNull() ? QPixmap() : QPixmap::fromImage(qimage);
}

QRegion RectsToRegion(const std::vector<SkinRect> &rects) {
    QRegion region;
    // Building from many rectangles at once is far cheaper than uniting them one by one.
    std::vector<QRect> qrects;
    qrects.reserve(rects.size());
    for (const SkinRect &rect : rects) {
        if (!rect.IsEmpty()) {
            qrects.push_back(ToQRect(rect));
        }
    }
    region.setRects(qrects.data(), static_cast<int>(qrects.size()));
    return region;
}

}  // namespace klangor

#pragma once

#include "skin/SkinImage.h"
#include "skin/SkinRect.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QRegion>

#include <vector>

// The few places where the toolkit-free skin meets Qt: pictures, rectangles and window shapes.
namespace klangor {

// A deep copy of the picture's pixels (both use 0xAARRGGBB); a null image for an invalid picture.
QImage SkinImageToQImage(const SkinImage &image);
QPixmap SkinImageToPixmap(const SkinImage &image);

inline QRect ToQRect(const SkinRect &rect) {
    return QRect(rect.left, rect.top, rect.Width(), rect.Height());
}

// A window shape given as rectangles (each left/top inside, right/bottom outside) as a Qt region.
QRegion RectsToRegion(const std::vector<SkinRect> &rects);

}  // namespace klangor

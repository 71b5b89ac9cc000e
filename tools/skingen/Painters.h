#pragma once

#include <QImage>

#include "SkinPlan.h"

namespace klangor {

namespace skingen {

// The font every picture uses, at a pixel size.
QFont SkinFont(int nPixelSize, bool bBold);

// Window backgrounds: near-white around the rounded corners (cut away by the window shape), panels,
// sunken fields under the text controls and the painted labels.
QImage PaintMainBackground();
QImage PaintPreviewBackground();

// One button strip: four faces side by side (normal, pressed, focused/hover, disabled), each drawn
// over the piece of background it will stand on so its rounded corners blend in.
QImage PaintFaceStrip(const FacePlan &plan, const QImage &background, QPoint ptAt);

// The play cursor of the timeline, with a transparent surround.
QImage PaintCursor();

}  // namespace skingen

}  // namespace klangor

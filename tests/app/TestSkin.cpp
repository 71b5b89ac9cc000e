#include "app/TestSkin.h"

#include "skin/SkinKeys.h"

#include <QImage>
#include <QPainter>

#include <fstream>
#include <set>
#include <stdexcept>

namespace klangor {

namespace {

void SaveJpeg(const QImage &image, const std::filesystem::path &path) {
    // Highest quality, so that near-white tests and face colours survive the compression.
    if (!image.save(QString::fromStdString(path.string()), "JPG", 100)) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace

QColor TestSkin::FaceColour(int nFace) {
    static const QColor colours[4] = {QColor(200, 40, 40), QColor(40, 160, 40), QColor(40, 40, 200),
                                      QColor(100, 100, 100)};
    return colours[nFace];
}

TestSkin::TestSkin(const std::filesystem::path &pathFolder) : m_pathFolder(pathFolder) {
    std::string strLayout = "; test skin\r\n";
    auto put = [&](std::string_view strKey, QRect rect, int nFourth) {
        m_rects[std::string(strKey)] = rect;
        strLayout += std::string(strKey) + "=" + std::to_string(rect.x()) + "," + std::to_string(rect.y()) +
                     "," + std::to_string(rect.width()) + "," + std::to_string(nFourth) + ";\r\n";
    };
    auto putRect = [&](std::string_view strKey, QRect rect) { put(strKey, rect, rect.height()); };

    // Buttons: one row across the top, each key its own place; strips of different widths.
    std::set<std::string_view> placed;
    int nIndex = 0;
    for (const SkinButtonRow &row : kSkinButtonRows) {
        m_faceWidths[row.nControlId] = 24 + 2 * (nIndex % 4);
        ++nIndex;
        if (!placed.insert(row.strKey).second) {
            continue;
        }
        const int nSlot = static_cast<int>(placed.size()) - 1;
        putRect(row.strKey, QRect(10 + 36 * (nSlot % 18), 12 + 30 * (nSlot / 18), 0, 0));
    }
    int y = 80;
    for (const SkinControlRow &row : kSkinControlRows) {
        putRect(row.strKey, QRect(20 + (y % 3) * 7, y, 300 + (y % 5), 14 + (y % 4)));
        y += 20;
    }
    // Colours: each its own.
    int nShade = 10;
    for (std::string_view strKey : kTimelineColourKeys) {
        put(strKey, QRect(nShade, 255 - nShade, nShade * 2, 0), 0);
        nShade += 30;
    }
    put(kTimelineSizeKey, QRect(6, 8, 0, 0), 0);
    put(kPreviewOffsetKey, QRect(15, 340, 0, 0), 0);
    putRect(kPreviewVideoRegionKey, QRect(20, 30, 320, 200));
    putRect(kPreviewCloseRegionKey, QRect(330, 4, 24, 20));
    put(kEditTextColourKey, QRect(250, 250, 0, 0), 0);
    put(kTextBackColourKey, QRect(20, 30, 40, 0), 0);
    put(kStaticTextColourKey, QRect(230, 220, 90, 0), 0);
    std::ofstream(pathFolder / "position.txt", std::ios::binary) << strLayout;

    // Main background: dark panel, white frame 3 pixels wide, a white 20x20 hole.
    QImage background(kMainWidth, kMainHeight, QImage::Format_RGB32);
    background.fill(QColor(40, 50, 70));
    QPainter painter(&background);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRect(0, 0, kMainWidth, 3);
    painter.drawRect(0, kMainHeight - 3, kMainWidth, 3);
    painter.drawRect(0, 0, 3, kMainHeight);
    painter.drawRect(kMainWidth - 3, 0, 3, kMainHeight);
    painter.drawRect(600, 250, 20, 20);
    painter.end();
    SaveJpeg(background, pathFolder / "interface.jpg");

    QImage preview(kPreviewWidth, kPreviewHeight, QImage::Format_RGB32);
    preview.fill(QColor(60, 60, 60));
    SaveJpeg(preview, pathFolder / "videopreview.jpg");

    for (const SkinButtonRow &row : kSkinButtonRows) {
        const int nFace = m_faceWidths[row.nControlId];
        QImage strip(4 * nFace, kFaceHeight, QImage::Format_RGB32);
        for (int k = 0; k < 4; ++k) {
            QPainter facePainter(&strip);
            facePainter.fillRect(k * nFace, 0, nFace, kFaceHeight, FaceColour(k));
        }
        SaveJpeg(strip, pathFolder / std::string(row.strFaceFile));
    }
}

}  // namespace klangor

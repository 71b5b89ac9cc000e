#include "ProofPainter.h"

#include <QPainter>
#include <stdexcept>
#include <string>

#include "Painters.h"
#include "SkinPlan.h"
#include "skin/SkinImage.h"
#include "skin/SkinKeys.h"
#include "skin/TimelineGeometry.h"

namespace klangor {

namespace skingen {

namespace {

QRect ToQRect(const klangor::SkinRect &rc) {
    return QRect(rc.left, rc.top, rc.Width(), rc.Height());
}

// The cursor as the program reads it: decoded by SkinImage, whose pixels are QImage's ARGB32 words.
QImage ReadCursor(const std::filesystem::path &pathSkin) {
    klangor::SkinImage cursor;
    if (!cursor.Open(pathSkin / std::string(klangor::kCursorImageFile))) {
        throw std::runtime_error("cannot read back the cursor picture");
    }
    return QImage(reinterpret_cast<const uchar *>(cursor.Pixels()), cursor.PixelWidth(), cursor.PixelHeight(),
                  static_cast<qsizetype>(cursor.StrideBytes()), QImage::Format_ARGB32)
        .copy();
}

void PaintTimeline(QPainter &p, const QRect &rcSlider, const QImage &cursor) {
    klangor::TimelineInput in;
    in.rcClient = {0, 0, rcSlider.width(), rcSlider.height()};
    // A horizontal slider's groove: inset by half a handle, a few pixels high, centred.
    in.rcChannel = {8, rcSlider.height() / 2 - 3, rcSlider.width() - 8, rcSlider.height() / 2 + 3};
    in.nMin = 0;
    in.nMax = 18000;
    in.nSelStart = 3600;
    in.nSelEnd = 12600;
    in.nPos = 7900;
    in.nBandHeight = kBandHeight;
    in.nCursorWidth = kCursorWidth;
    in.nCursorImageWidth = cursor.width();
    in.nCursorImageHeight = cursor.height();
    const klangor::TimelineShapes shapes = klangor::ComputeTimelineShapes(in);
    p.save();
    p.translate(rcSlider.topLeft());
    p.fillRect(ToQRect(shapes.rcBackground), theme::kPanel);
    p.fillRect(ToQRect(shapes.rcBand), theme::kBand);
    p.fillRect(ToQRect(shapes.rcSelection), theme::kAccent);
    p.drawImage(ToQRect(shapes.rcCursor), cursor);
    p.fillRect(ToQRect(shapes.rcStartMark), theme::kStartMark);
    p.fillRect(ToQRect(shapes.rcEndMark), theme::kEndMark);
    p.restore();
}

void PaintText(QPainter &p, const QRect &rc, const QString &strText, const QColor &colour) {
    p.setFont(SkinFont(12, false));
    p.setPen(colour);
    p.drawText(rc.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, strText);
}

}  // namespace

QImage ComposeMainProof(const QImage &background, const std::filesystem::path &pathSkin, int nFace) {
    QImage proof = background.copy();
    QPainter p(&proof);
    for (const klangor::SkinButtonRow &row : klangor::kSkinButtonRows) {
        if (row.bHiddenAtStart) {
            continue;
        }
        const QImage strip(QString::fromStdString((pathSkin / std::string(row.strFaceFile)).string()));
        const int q = strip.width() / 4;
        p.drawImage(MainPlaces().at(row.strKey).topLeft(), strip.copy(nFace * q, 0, q, strip.height()));
    }
    const auto &places = MainPlaces();
    PaintTimeline(p, places.at("SLIDER_VIDEO_SEEK"), ReadCursor(pathSkin));

    p.setRenderHint(QPainter::Antialiasing);
    const QRect rcList = places.at("LIST_CLIPS");
    const char *apszClips[] = {"/home/ada/Videos/harbour-walk.mp4", "/home/ada/Music/rehearsal take 3.wav",
                               "/home/ada/Videos/interview.mkv"};
    for (int i = 0; i < 3; ++i) {
        const QRect rcLine(rcList.left() + 2, rcList.top() + 2 + i * 18, rcList.width() - 4, 18);
        if (i == 1) {
            p.fillRect(rcLine, QColor(36, 92, 100));
        }
        PaintText(p, rcLine.adjusted(2, 0, 0, 0), QString::fromUtf8(apszClips[i]), theme::kStaticText);
    }
    PaintText(p, places.at("EDIT_CURRENT_TIME"), QStringLiteral("Current: 00:01:19.00"), theme::kStaticText);
    PaintText(p, places.at("EDIT_SELECTION_TIME"), QStringLiteral("Selection: 00:00:36.00 -- 00:02:06.00"),
              theme::kStaticText);
    PaintText(p, places.at("EDIT_SELECTION_DURATION"), QStringLiteral("Duration: 00:01:30.00"),
              theme::kStaticText);
    PaintText(p, places.at("STATIC_STATUS"), QStringLiteral("Progress: 2 of 3, 48.5%"), theme::kStaticText);
    PaintText(p, places.at("EDIT_OUTPUT_PATH"), QStringLiteral("/home/ada/VellumarMP3"), theme::kStaticText);

    const QRect rcProgress = places.at("PROGRESS");
    p.setPen(Qt::NoPen);
    p.setBrush(theme::kField);
    p.drawRoundedRect(rcProgress, 4, 4);
    p.setBrush(theme::kAccent);
    p.drawRoundedRect(
        QRect(rcProgress.topLeft(), QSize(rcProgress.width() * 485 / 1000, rcProgress.height())), 4, 4);

    for (const char *pszKey : {"RADIO_OUTPUT_MP3", "RADIO_OUTPUT_WAV"}) {
        const QRectF rc = QRectF(places.at(pszKey)).adjusted(2.5, 2.5, -2.5, -2.5);
        p.setPen(QPen(theme::kFieldEdge, 1.2));
        p.setBrush(theme::kField);
        p.drawEllipse(rc);
        if (std::string(pszKey) == "RADIO_OUTPUT_MP3") {
            p.setPen(Qt::NoPen);
            p.setBrush(theme::kAccent);
            p.drawEllipse(rc.adjusted(3.5, 3.5, -3.5, -3.5));
        }
    }
    return proof;
}

}  // namespace skingen

}  // namespace klangor

// klangor-skingen: draws the default skin and writes it into a folder (UI/ of the source tree):
// the two window backgrounds, the 22 button face strips, the timeline cursor and the layout file.
//
//   klangor-skingen <skin folder> [--preview <folder for PNG proofs>]
//
// After writing, it reads every file back the way the program does and checks that the main window
// keeps no stray hole: anything painted near-white inside a window would punch through it.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

#include "ImageWriters.h"
#include "Painters.h"
#include "ProofPainter.h"
#include "SkinPlan.h"
#include "skin/SkinImage.h"
#include "skin/SkinKeys.h"
#include "skin/WindowShape.h"

namespace klangor {

namespace fs = std::filesystem;
using namespace skingen;

namespace {

constexpr int kJpegQuality = 95;

std::string Colour(const QColor &c) {
    return std::to_string(c.red()) + "," + std::to_string(c.green()) + "," + std::to_string(c.blue()) + ",0";
}

std::string RectText(const QRect &rc) {
    return std::to_string(rc.x()) + "," + std::to_string(rc.y()) + "," + std::to_string(rc.width()) + "," +
           std::to_string(rc.height());
}

// Keys are found by plain substring search, so the header names no key and every entry starts a line.
void WriteLayout(const fs::path &pathFile) {
    std::ofstream out(pathFile, std::ios::binary);
    out << "# Vellumar Klangor default skin, written by klangor-skingen.\n"
           "# One entry per line: name=x,y,width,height; or name=red,green,blue,0;\n\n";
    std::set<std::string_view> written;
    for (const klangor::SkinButtonRow &row : klangor::kSkinButtonRows) {
        if (written.insert(row.strKey).second) {
            out << row.strKey << "=" << RectText(MainPlaces().at(row.strKey)) << ";\n";
        }
    }
    for (const klangor::SkinControlRow &row : klangor::kSkinControlRows) {
        out << row.strKey << "=" << RectText(MainPlaces().at(row.strKey)) << ";\n";
    }
    out << "\n";
    out << klangor::kTimelineBackgroundKey << "=" << Colour(theme::kPanel) << ";\n";
    out << klangor::kTimelineBandKey << "=" << Colour(theme::kBand) << ";\n";
    out << klangor::kTimelineSelectionKey << "=" << Colour(theme::kAccent) << ";\n";
    out << klangor::kTimelineCursorKey << "=" << Colour(theme::kCursor) << ";\n";
    out << klangor::kTimelineStartMarkKey << "=" << Colour(theme::kStartMark) << ";\n";
    out << klangor::kTimelineEndMarkKey << "=" << Colour(theme::kEndMark) << ";\n";
    out << klangor::kTimelineSizeKey << "=" << kBandHeight << "," << kCursorWidth << ",0,0;\n\n";
    out << klangor::kPreviewOffsetKey << "=" << PreviewOffset().x() << "," << PreviewOffset().y()
        << ",0,0;\n";
    out << klangor::kPreviewVideoRegionKey << "=" << RectText(PreviewVideoArea()) << ";\n";
    out << klangor::kPreviewCloseRegionKey << "=" << RectText(PreviewCloseArea()) << ";\n\n";
    out << klangor::kEditTextColourKey << "=" << Colour(theme::kEditText) << ";\n";
    out << klangor::kTextBackColourKey << "=" << Colour(theme::kField) << ";\n";
    out << klangor::kStaticTextColourKey << "=" << Colour(theme::kStaticText) << ";\n";
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + pathFile.string());
    }
}

// Reads a background back as the program will and counts pixels the shape removes away from the
// rounded corners: there must be none.
void CheckShape(const fs::path &pathFile, const WindowPlan &plan) {
    klangor::SkinImage image;
    if (!image.Open(pathFile, klangor::SkinImageFormat::Gif)) {
        throw std::runtime_error("cannot read back " + pathFile.string());
    }
    image.ExpandTo24Bits();
    std::vector<uint8_t> kept(static_cast<size_t>(image.PixelWidth()) * image.PixelHeight(), 0);
    for (const klangor::SkinRect &rc : klangor::BuildWindowShape(image)) {
        for (int y = rc.top; y < rc.bottom; ++y) {
            std::fill_n(kept.begin() + y * image.PixelWidth() + rc.left, rc.right - rc.left, 1);
        }
    }
    const int r = plan.nCornerRadius;
    int nHoles = 0;
    int nCut = 0;
    for (int y = 0; y < image.PixelHeight(); ++y) {
        for (int x = 0; x < image.PixelWidth(); ++x) {
            const bool bInCorner =
                (x < r || x >= image.PixelWidth() - r) && (y < r || y >= image.PixelHeight() - r);
            const bool bKept = kept[static_cast<size_t>(y) * image.PixelWidth() + x];
            nHoles += !bInCorner && !bKept;
            nCut += !bKept;
        }
    }
    std::printf("%-20s %dx%d, %d pixels cut at the corners, %d stray holes\n", pathFile.filename().c_str(),
                image.PixelWidth(), image.PixelHeight(), nCut, nHoles);
    if (nHoles > 0) {
        throw std::runtime_error("near-white pixels inside " + pathFile.string());
    }
}

}  // namespace

}  // namespace klangor

using namespace klangor;

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <skin folder> [--preview <folder>]\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const fs::path pathSkin = argv[1];
    const fs::path pathPreview =
        argc >= 4 && std::string(argv[2]) == "--preview" ? fs::path(argv[3]) : fs::path();
    try {
        fs::create_directories(pathSkin);
        const QImage main = PaintMainBackground();
        WriteJpeg(main, pathSkin / std::string(klangor::kMainBackgroundFile), kJpegQuality);
        const QImage preview = PaintPreviewBackground();
        WriteJpeg(preview, pathSkin / std::string(klangor::kPreviewBackgroundFile), kJpegQuality);
        for (const klangor::SkinButtonRow &row : klangor::kSkinButtonRows) {
            const FacePlan &plan = FacePlanFor(row.strFaceFile);
            const QImage strip = PaintFaceStrip(plan, main, MainPlaces().at(row.strKey).topLeft());
            WriteJpeg(strip, pathSkin / std::string(row.strFaceFile), kJpegQuality);
        }
        WriteGifWithTransparency(PaintCursor(), theme::kBand,
                                 pathSkin / std::string(klangor::kCursorImageFile));
        WriteLayout(pathSkin / std::string(klangor::kSkinLayoutFile));

        CheckShape(pathSkin / std::string(klangor::kMainBackgroundFile), MainWindowPlan());
        CheckShape(pathSkin / std::string(klangor::kPreviewBackgroundFile), PreviewWindowPlan());

        if (!pathPreview.empty()) {
            fs::create_directories(pathPreview);
            for (int k = 0; k < 4; ++k) {
                ComposeMainProof(main, pathSkin, k)
                    .save(QString::fromStdString(
                        (pathPreview / ("main_face" + std::to_string(k) + ".png")).string()));
            }
            preview.save(QString::fromStdString((pathPreview / "preview.png").string()));
            PaintCursor().scaled(48, 80).save(QString::fromStdString((pathPreview / "cursor.png").string()));
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "klangor-skingen: %s\n", e.what());
        return 1;
    }
    return 0;
}

#pragma once

#include <QColor>
#include <QRect>

#include <filesystem>
#include <map>
#include <string>

namespace klangor {

// A complete small skin written into a folder for the window tests: a layout file with a distinct place
// for every key, a background with a white frame and a white hole (so the shape has something to cut),
// a preview background, and a face strip for every button whose four faces have their own colours.
struct TestSkin {
    static constexpr int kMainWidth = 720;
    static constexpr int kMainHeight = 320;
    static constexpr int kPreviewWidth = 360;
    static constexpr int kPreviewHeight = 280;
    static constexpr int kFaceHeight = 22;
    // The four face colours of every strip: normal, pressed, focused, disabled.
    static QColor FaceColour(int nFace);

    // Writes the skin into pathFolder (which must exist).
    explicit TestSkin(const std::filesystem::path &pathFolder);

    std::filesystem::path Folder() const { return m_pathFolder; }
    // The x, y, width, height written for a key.
    QRect Rect(const std::string &strKey) const { return m_rects.at(strKey); }
    // The width of one face of a button's strip.
    int FaceWidth(int nControlId) const { return m_faceWidths.at(nControlId); }

private:
    std::filesystem::path m_pathFolder;
    std::map<std::string, QRect> m_rects;
    std::map<int, int> m_faceWidths;
};

}  // namespace klangor

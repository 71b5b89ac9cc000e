#pragma once

#include "skin/SkinImage.h"

#include <QColor>
#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QPoint>
#include <QRegion>

#include <filesystem>
#include <optional>

namespace klangor {

// An invisible area of a skinned window that reacts to a click: the pointer turns into a hand over it,
// and a press and release inside it emits Clicked. Used for the home-page link and the close area.
class SkinHotArea : public QWidget {
    Q_OBJECT
public:
    SkinHotArea(int nId, QWidget *pParent);

signals:
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent *pEvent) override;
    void mouseReleaseEvent(QMouseEvent *pEvent) override;

private:
    int m_nId;
    bool m_bPressed = false;
};

// A static text of a skinned window: its text stands on a cell of the skin's text background colour,
// and around the cell the window's background shows through.
class SkinText : public QLabel {
    Q_OBJECT
public:
    SkinText(const QString &strText, QWidget *pParent);
    void SetColours(const QColor &text, const QColor &cell);
    const QColor &CellColour() const { return m_cell; }
    // Where the cell is drawn: the text's bounding box at the label's alignment; empty without text.
    QRect TextCell() const;

protected:
    void paintEvent(QPaintEvent *pEvent) override;

private:
    QColor m_cell;
};

// The common base of the two skinned windows: a frameless window whose size, shape and background come
// from one picture (near-white pixels become holes), and which the user moves by dragging the
// background. Enter and Esc do nothing, as the windows have no OK or Cancel. Window thread only.
class SkinnedDialog : public QDialog {
    Q_OBJECT
public:
    explicit SkinnedDialog(QWidget *pParent = nullptr);

    // Loads the background picture, expanded to 24 bits so that the shape test reads true colours.
    // A missing or broken picture leaves the window unshaped and unpainted by the skin.
    bool LoadBackground(const std::filesystem::path &pathFile);
    const SkinImage &Background() const { return m_background; }

    // Sizes the window to the background and cuts its shape out of it. Without a picture nothing
    // changes: the window keeps its size and rectangular shape.
    void BuildWindowRegion();
    // Draws the background, and cuts the shape, at a size factor of the picture (1.0 is its own size).
    void SetSkinScale(double dScale);

    // Enter and Esc reach these; the skinned windows stay open.
    void accept() override {}
    void reject() override {}

protected:
    void paintEvent(QPaintEvent *pEvent) override;
    void mousePressEvent(QMouseEvent *pEvent) override;
    void mouseMoveEvent(QMouseEvent *pEvent) override;
    void mouseReleaseEvent(QMouseEvent *pEvent) override;

private:
    SkinImage m_background;
    QPixmap m_pixBackground;
    QRegion m_region;
    double m_dSkinScale = 1.0;
    // Set while the window is moved by hand because the window system offers no move loop of its own
    // (no window manager, or the offscreen platform): the press point inside the window.
    std::optional<QPoint> m_dragOffset;
};

}  // namespace klangor

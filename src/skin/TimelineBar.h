#pragma once

#include "skin/SkinImage.h"
#include "skin/TimelineGeometry.h"

#include <QColor>
#include <QPixmap>
#include <QSlider>

#include <filesystem>

namespace klangor {

// The seek bar drawn as a timeline: a band for the whole clip, the selected part in its own colour,
// the play cursor (a picture or a filled bar) and marks under the selection's ends. It is an ordinary
// horizontal slider to the user; range, selection and position are hundredths of a second. Window
// thread only.
class TimelineBar : public QSlider {
    Q_OBJECT
public:
    explicit TimelineBar(QWidget *pParent = nullptr);

    struct Colours {
        QColor background;
        QColor band;
        QColor selection;
        QColor cursor;
        QColor startMark;
        QColor endMark;
    };

    // Stores the look; loads the cursor picture by its content when a file is named. A missing picture
    // leaves the filled cursor.
    void Configure(const Colours &colours, int nBandHeight, int nCursorWidth,
                   const std::filesystem::path &pathCursorPicture);

    // The part of the clip to convert, drawn over the band.
    void SetSelection(int nStart, int nEnd);
    int GetSelectionStart() const { return m_nSelStart; }
    int GetSelectionEnd() const { return m_nSelEnd; }

    const Colours &GetColours() const { return m_colours; }
    bool HasCursorPicture() const { return m_cursorPicture.HasPixels(); }
    // What the next paint draws, in the widget's coordinates.
    TimelineShapes ComputeShapes() const;

protected:
    void paintEvent(QPaintEvent *pEvent) override;

private:
    const QPixmap &CursorPixmap(int nWidth, int nHeight) const;

    Colours m_colours;
    int m_nBandHeight = 6;
    int m_nCursorWidth = 6;
    SkinImage m_cursorPicture;
    int m_nSelStart = 0;
    int m_nSelEnd = 0;
    // The cursor picture resampled to the size last drawn, so painting never resamples twice.
    mutable QPixmap m_pixCursor;
};

}  // namespace klangor

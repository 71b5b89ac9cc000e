#pragma once

#include "skin/SkinImage.h"
#include "skin/TimelineGeometry.h"
#include "waveform/WaveformLoader.h"

#include <QColor>
#include <QPixmap>
#include <QSlider>

class QPainter;

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace klangor {

// The seek bar drawn as a timeline: a band for the whole clip, the selected part in its own colour,
// the play cursor (a picture or a filled bar) and marks under the selection's ends. It is an ordinary
// horizontal slider to the user; range, selection and position are hundredths of a second. Behind
// the selection's ends and the cursor it draws the loaded clip's waveform, summarised by a loader
// thread of its own, in shades of the band's and the selection's colours. Window thread only.
class TimelineBar : public QSlider {
    Q_OBJECT
public:
    explicit TimelineBar(QWidget *pParent = nullptr);
    ~TimelineBar() override;

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
    // Where the clip will be divided into several outputs, in the range's units, drawn as ticks in the
    // start mark's colour; empty for none.
    void SetSplitPoints(std::vector<int> points);
    const std::vector<int> &GetSplitPoints() const { return m_splitPoints; }

    // Draws the waveform of this file's audio track (0 the best one) from now on, filling in as it is
    // read; an empty path, or a file without audio, draws none.
    void ShowWaveformOf(const std::string &strPath, uint32_t nTrack = 0);
    WaveformLoader &Waveform() { return *m_pWaveform; }

    const Colours &GetColours() const { return m_colours; }
    // What the next paint draws, in the widget's coordinates.
    TimelineShapes ComputeShapes() const;

protected:
    void paintEvent(QPaintEvent *pEvent) override;

private:
    const QPixmap &CursorPixmap(int nWidth, int nHeight) const;
    void MakeWaveformLoader(AudioDecoderFactory decoderFactory);
    void PaintWaveform(QPainter &painter, const TimelineShapes &shapes);

    Colours m_colours;
    int m_nBandHeight = 6;
    int m_nCursorWidth = 6;
    SkinImage m_cursorPicture;
    int m_nSelStart = 0;
    int m_nSelEnd = 0;
    std::vector<int> m_splitPoints;
    // The cursor picture resampled to the size last drawn, so painting never resamples twice.
    mutable QPixmap m_pixCursor;
    std::unique_ptr<WaveformLoader> m_pWaveform;
};

}  // namespace klangor

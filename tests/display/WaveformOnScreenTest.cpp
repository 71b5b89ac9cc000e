// The timeline's waveform as a real X display shows it (run by tests/display/run-display-tests.sh): a clip
// whose first half is loud and second half silent shows a tall waveform over the first half of the band and
// only the middle line over the second.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWindow>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <chrono>
#include <functional>

#include "gui/TimelineBar.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace {

// Lets the window thread paint until the condition holds or the deadline passes.
bool WaitFor(const std::function<bool()> &fnDone, int nMs) {
    QElapsedTimer timer;
    timer.start();
    while (!fnDone()) {
        if (timer.elapsed() > nMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The rows of one screen column whose pixel has the given colour.
int CountRows(const QImage &image, int x, int yTop, int yBottom, QRgb colour) {
    int n = 0;
    for (int y = yTop; y < yBottom; ++y) {
        n += (image.pixel(x, y) & 0xffffff) == (colour & 0xffffff) ? 1 : 0;
    }
    return n;
}

}  // namespace

TEST(WaveformOnScreenTest, LoudHalfShowsTallWaveAndSilentHalfOnlyTheMiddleLine) {
    MediaFactory media;
    const std::string strClip = media.Make(
        "halves.mka", {"-f", "lavfi", "-i", "aevalsrc='if(lt(t,3),0.9*sin(2*PI*220*t),0)':s=44100:d=6"},
        {"-c:a", "flac"});

    TimelineBar bar;
    TimelineBar::Colours colours{QColor(0, 0, 0),    QColor(0x30, 0x30, 0x60), QColor(0xc0, 0xc0, 0xe0),
                                 QColor(0xff, 0, 0), QColor(0, 0xff, 0),       QColor(0, 0, 0xff)};
    bar.Configure(colours, 30, 4, {});
    bar.setRange(0, 600);      // six seconds in hundredths
    bar.SetSelection(0, 150);  // the first quarter selected: the wave shows over both colours
    bar.setValue(600);         // the cursor out of the way, at the right end
    bar.setWindowFlags(Qt::FramelessWindowHint);
    bar.setGeometry(40, 40, 420, 60);
    bar.show();
    ASSERT_TRUE(WaitFor(
        [&] { return bar.isVisible() && bar.windowHandle() && bar.windowHandle()->isExposed(); }, 5000));
    bar.ShowWaveformOf(strClip);
    ASSERT_TRUE(bar.Waveform().WaitUntilSettled(std::chrono::seconds(20)));
    ASSERT_EQ(bar.Waveform().GetState(), WaveformLoader::State::Complete);

    const TimelineShapes shapes = bar.ComputeShapes();
    const QPoint origin = bar.mapToGlobal(QPoint(0, 0));
    const int nBandWidth = shapes.rcBand.Width();
    // The waveform's shades: halfway to white on the dark band, halfway to black on the light selection.
    const QColor bandWave(0x30 + (255 - 0x30) / 2, 0x30 + (255 - 0x30) / 2, 0x60 + (255 - 0x60) / 2);
    const QColor selectionWave(0xc0 / 2, 0xc0 / 2, 0xe0 / 2);
    QImage screen;
    // The repaint after the last summary notice may still be queued: grab until the display shows it.
    const bool bShown = WaitFor(
        [&] {
            screen = QApplication::primaryScreen()
                         ->grabWindow(0, origin.x(), origin.y(), bar.width(), bar.height())
                         .toImage();
            const int x = shapes.rcBand.left + nBandWidth * 3 / 8;
            return CountRows(screen, x, shapes.rcBand.top, shapes.rcBand.bottom, bandWave.rgb()) > 20;
        },
        5000);
    ASSERT_TRUE(bShown) << "no waveform drawn on the display";

    for (int x = shapes.rcBand.left + 2; x < shapes.rcBand.right - 8; x += 7) {
        const int nColumn = x - shapes.rcBand.left;
        const bool bSelected = x < shapes.rcSelection.right - 1 && x > shapes.rcSelection.left;
        const QRgb wave = bSelected ? selectionWave.rgb() : bandWave.rgb();
        const int nRows = CountRows(screen, x, shapes.rcBand.top, shapes.rcBand.bottom, wave);
        if (nColumn < nBandWidth / 2 - 4) {
            // 0.9 of full scale covers about nine tenths of the band's 30 rows.
            EXPECT_GE(nRows, 24) << "loud half, column " << nColumn;
        } else if (nColumn > nBandWidth / 2 + 4) {
            EXPECT_EQ(nRows, 1) << "silent half, column " << nColumn;
        }
    }
}

}  // namespace klangor

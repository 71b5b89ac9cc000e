#include "gui/TimelineBar.h"

#include "gui/SkinQt.h"

#include <QPainter>
#include <QStyleOptionSlider>

namespace klangor {

namespace {

SkinRect ToSkinRect(const QRect &rect) {
    return SkinRect{rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

// The waveform's shade of a region's colour: halfway to white on a dark region, halfway to black on a
// light one, so it reads on any skin without a colour of its own.
QColor WaveColourOn(const QColor &region) {
    const auto mix = [dark = region.lightness() < 128](int c) { return dark ? c + (255 - c) / 2 : c / 2; };
    return QColor(mix(region.red()), mix(region.green()), mix(region.blue()));
}

}  // namespace

TimelineBar::TimelineBar(QWidget *pParent) : QSlider(Qt::Horizontal, pParent) {
    m_colours = {QColor(0x20, 0x20, 0x20), QColor(0x50, 0x50, 0x50), QColor(0x3c, 0x8c, 0xdc),
                 QColor(0xf0, 0xf0, 0xf0), QColor(0x40, 0xd0, 0x40), QColor(0xd0, 0x40, 0x40)};
    // The paint covers every pixel, so Qt need not clear behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setRange(0, 0);
    // MIDI songs too, played through the synthesiser on the loader's thread as a conversion plays them.
    MakeWaveformLoader(CreateMediaAudioDecoder);
}

TimelineBar::~TimelineBar() {
    // The loader's thread reports to this widget: it ends before anything of the widget goes.
    m_pWaveform.reset();
}

void TimelineBar::MakeWaveformLoader(AudioDecoderFactory decoderFactory) {
    m_pWaveform.reset();
    m_pWaveform = std::make_unique<WaveformLoader>(std::move(decoderFactory));
    // From the loader's thread: only a queued repaint, which Qt drops if the widget is gone. Named, not a
    // lambda: the queued call is then made and handed over wholly inside Qt, under its own lock, and no
    // object of ours is built on one thread and read on the other.
    m_pWaveform->SetChangedCallback(
        [this] { QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection); });
}

void TimelineBar::ShowWaveformOf(const std::string &strPath, uint32_t nTrack) {
    m_pWaveform->Load(strPath, nTrack);
    update();
}

void TimelineBar::Configure(const Colours &colours, int nBandHeight, int nCursorWidth,
                            const std::filesystem::path &pathCursorPicture) {
    m_colours = colours;
    m_nBandHeight = nBandHeight;
    m_nCursorWidth = nCursorWidth;
    m_cursorPicture.Clear();
    m_pixCursor = QPixmap();
    if (!pathCursorPicture.empty()) {
        m_cursorPicture.Open(pathCursorPicture);
    }
    update();
}

void TimelineBar::SetSelection(int nStart, int nEnd) {
    m_nSelStart = nStart;
    m_nSelEnd = nEnd;
    update();
}

void TimelineBar::SetSplitPoints(std::vector<int> points) {
    if (points != m_splitPoints) {
        m_splitPoints = std::move(points);
        update();
    }
}

TimelineShapes TimelineBar::ComputeShapes() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    TimelineInput in;
    in.rcClient = ToSkinRect(rect());
    in.rcChannel =
        ToSkinRect(style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this));
    in.nMin = minimum();
    in.nMax = maximum();
    in.nSelStart = m_nSelStart;
    in.nSelEnd = m_nSelEnd;
    in.nPos = sliderPosition();
    in.nBandHeight = m_nBandHeight;
    in.nCursorWidth = m_nCursorWidth;
    in.splitPoints.assign(m_splitPoints.begin(), m_splitPoints.end());
    if (m_cursorPicture.HasPixels()) {
        in.nCursorImageWidth = m_cursorPicture.PixelWidth();
        in.nCursorImageHeight = m_cursorPicture.PixelHeight();
    }
    return ComputeTimelineShapes(in);
}

const QPixmap &TimelineBar::CursorPixmap(int nWidth, int nHeight) const {
    if (m_pixCursor.width() != nWidth || m_pixCursor.height() != nHeight) {
        m_pixCursor = SkinImageToPixmap(m_cursorPicture.Resampled(nWidth, nHeight));
    }
    return m_pixCursor;
}

void TimelineBar::paintEvent(QPaintEvent *) {
    const TimelineShapes shapes = ComputeShapes();
    QPainter painter(this);
    auto fill = [&painter](const SkinRect &rect, const QColor &colour) {
        if (!rect.IsEmpty()) {
            painter.fillRect(ToQRect(rect), colour);
        }
    };
    fill(shapes.rcBackground, m_colours.background);
    fill(shapes.rcBand, m_colours.band);
    if (shapes.bHasSelection) {
        fill(shapes.rcSelection, m_colours.selection);
    }
    PaintWaveform(painter, shapes);
    for (const SkinRect &tick : shapes.splitTicks) {
        fill(tick, m_colours.startMark);
    }
    if (shapes.bCursorImage) {
        if (!shapes.rcCursor.IsEmpty()) {
            painter.drawPixmap(shapes.rcCursor.left, shapes.rcCursor.top,
                               CursorPixmap(shapes.rcCursor.Width(), shapes.rcCursor.Height()));
        }
    } else {
        fill(shapes.rcCursor, m_colours.cursor);
    }
    if (shapes.bHasSelection) {
        fill(shapes.rcStartMark, m_colours.startMark);
        fill(shapes.rcEndMark, m_colours.endMark);
    }
}

void TimelineBar::PaintWaveform(QPainter &painter, const TimelineShapes &shapes) {
    const int nRange = maximum() - minimum();
    if (nRange <= 0 || shapes.rcBand.IsEmpty()) {
        return;
    }
    const std::vector<WavePeak> columns = m_pWaveform->Columns(shapes.rcBand.Width(), nRange / 100.0);
    const QColor bandWave = WaveColourOn(m_colours.band);
    const QColor selectionWave = WaveColourOn(m_colours.selection);
    for (const SkinRect &bar : ComputeWaveformBars(shapes.rcBand, columns)) {
        const bool bSelected = shapes.bHasSelection && bar.left >= shapes.rcSelection.left &&
                               bar.left < shapes.rcSelection.right;
        painter.fillRect(ToQRect(bar), bSelected ? selectionWave : bandWave);
    }
}

}  // namespace klangor

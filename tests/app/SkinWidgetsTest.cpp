// The skinned widgets on their own: button faces and hover, the dialog base, the timeline bar and its
// waveform, and the preview window's sizes.
#include "app/AppTestSupport.h"
#include "gui/SkinButton.h"
#include "gui/SkinnedDialog.h"
#include "gui/TimelineBar.h"
#include "gui/VideoPreviewWindow.h"
#include "support/MediaFactory.h"
#include "../convert/MidiSongs.h"

#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace klangor {

namespace {

const std::array<bool, 4> kAllFaces = {true, true, true, true};

TEST(SkinButtonFaces, PressedBeatsFocusedAndDisabledShowsOnlyWhenNeitherApplies) {
    EXPECT_EQ(ChooseSkinFace(false, false, false, kAllFaces), kFaceNormal);
    EXPECT_EQ(ChooseSkinFace(true, true, false, kAllFaces), kFacePressed);
    EXPECT_EQ(ChooseSkinFace(false, true, false, kAllFaces), kFaceFocused);
    EXPECT_EQ(ChooseSkinFace(false, false, true, kAllFaces), kFaceDisabled);
    EXPECT_EQ(ChooseSkinFace(false, true, true, kAllFaces), kFaceFocused);
    // A missing face falls back to the normal one.
    EXPECT_EQ(ChooseSkinFace(true, false, false, {true, false, true, true}), kFaceNormal);
    EXPECT_EQ(ChooseSkinFace(false, false, true, {true, true, true, false}), kFaceNormal);
}

class SkinButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pSkin = std::make_unique<TestSkin>(m_dir.Path());
        m_window.resize(300, 100);
        m_pButton = new SkinButton(1028, &m_window);
        ASSERT_TRUE(m_pButton->AttachSkin(m_dir.Path() / "Helpbutton.jpg", 40, 30, m_toolTip, "Help"));
        m_pOther = new QWidget(&m_window);
        m_pOther->setGeometry(200, 30, 50, 50);
        // The button takes the keyboard focus, and a focused button shows its focused face: the focus
        // is parked elsewhere so that the faces below are the pointer's doing.
        m_pOther->setFocusPolicy(Qt::StrongFocus);
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
        m_pOther->setFocus();
    }
    // The colour in the middle of what the button paints.
    QColor PaintedColour() {
        const QImage image = m_pButton->grab().toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }
    static bool Near(const QColor &a, const QColor &b) {
        return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
               std::abs(a.blue() - b.blue()) < 24;
    }

    TempDir m_dir;
    std::unique_ptr<TestSkin> m_pSkin;
    SkinToolTip m_toolTip;
    QWidget m_window;
    SkinButton *m_pButton = nullptr;
    QWidget *m_pOther = nullptr;
};

TEST_F(SkinButtonTest, StripIsCutIntoFourFacesOfAQuarterWidth) {
    const int nFace = m_pSkin->FaceWidth(1028);
    EXPECT_EQ(m_pButton->geometry(), QRect(40, 30, nFace, TestSkin::kFaceHeight));
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const QImage face = m_pButton->Face(static_cast<ButtonFace>(k)).toImage();
        EXPECT_EQ(face.size(), QSize(nFace, TestSkin::kFaceHeight));
        EXPECT_TRUE(Near(face.pixelColor(nFace / 2, TestSkin::kFaceHeight / 2), TestSkin::FaceColour(k)));
    }
    EXPECT_TRUE(Near(PaintedColour(), TestSkin::FaceColour(kFaceNormal)));
}

TEST_F(SkinButtonTest, HoverFaceFollowsThePointerInAndOut) {
    QTest::mouseMove(m_pButton, QPoint(5, 5));
    EXPECT_TRUE(m_pButton->IsHover());
    EXPECT_EQ(m_pButton->CurrentFace(), kFaceFocused);
    EXPECT_TRUE(Near(PaintedColour(), TestSkin::FaceColour(kFaceFocused)));

    QTest::mouseMove(m_pOther, QPoint(10, 10));
    EXPECT_FALSE(m_pButton->IsHover());
    EXPECT_EQ(m_pButton->CurrentFace(), kFaceNormal);
    EXPECT_TRUE(Near(PaintedColour(), TestSkin::FaceColour(kFaceNormal)));
}

TEST_F(SkinButtonTest, PressShowsThePressedFaceAndReleaseClicksAndHoversAgain) {
    int nClicks = 0;
    QObject::connect(m_pButton, &QAbstractButton::clicked, [&nClicks] { ++nClicks; });
    QTest::mouseMove(m_pButton, QPoint(5, 5));
    QTest::mousePress(m_pButton, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(m_pButton->CurrentFace(), kFacePressed);
    EXPECT_TRUE(Near(PaintedColour(), TestSkin::FaceColour(kFacePressed)));
    QTest::mouseRelease(m_pButton, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(nClicks, 1);
    QTest::mouseMove(m_pButton, QPoint(6, 6));
    EXPECT_EQ(m_pButton->CurrentFace(), kFaceFocused);
}

TEST_F(SkinButtonTest, DisabledButtonShowsItsDisabledFace) {
    m_pButton->setEnabled(false);
    EXPECT_EQ(m_pButton->CurrentFace(), kFaceDisabled);
    EXPECT_TRUE(Near(PaintedColour(), TestSkin::FaceColour(kFaceDisabled)));
}

TEST_F(SkinButtonTest, FocusShowsTheFocusedFaceAndSpacePressesButEnterDoesNot) {
    int nClicks = 0;
    QObject::connect(m_pButton, &QAbstractButton::clicked, [&nClicks] { ++nClicks; });
    EXPECT_EQ(m_pButton->focusPolicy(), Qt::StrongFocus);
    m_pButton->setFocus();
    ASSERT_TRUE(m_pButton->hasFocus());
    EXPECT_EQ(m_pButton->CurrentFace(), kFaceFocused);
    EXPECT_TRUE(Near(PaintedColour(), TestSkin::FaceColour(kFaceFocused)));
    QTest::keyClick(m_pButton, Qt::Key_Return);
    QTest::keyClick(m_pButton, Qt::Key_Enter);
    QTest::keyClick(m_pButton, Qt::Key_Escape);
    EXPECT_EQ(nClicks, 0);
    QTest::keyClick(m_pButton, Qt::Key_Space);
    EXPECT_EQ(nClicks, 1);
}

TEST(SkinButtonLoad, MissingStripStandsAtItsPlaceDrawingNothingAndTakingNoClicksNorFocus) {
    QWidget window;
    window.resize(300, 200);
    auto *pUnder = new QWidget(&window);
    pUnder->setGeometry(window.rect());
    SkinToolTip toolTip;
    // Made after the widget under it, so it stands above it, as the buttons stand above the background.
    auto *pButton = new SkinButton(1002, &window);
    EXPECT_FALSE(pButton->AttachSkin("/nonexistent/playbutton.jpg", 100, 100, toolTip, "Play"));
    EXPECT_EQ(pButton->pos(), QPoint(100, 100));
    EXPECT_TRUE(pButton->size().isEmpty());
    EXPECT_TRUE(pButton->IsFaceless());
    EXPECT_TRUE(pButton->toolTip().isEmpty());
    EXPECT_EQ(pButton->focusPolicy(), Qt::NoFocus);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int nClicks = 0;
    QObject::connect(pButton, &QAbstractButton::clicked, [&nClicks] { ++nClicks; });
    // Qt's default place for a child (0, 0, 100 by 30) is where a faceless button used to catch clicks.
    for (const QPoint &pt : {QPoint(1, 1), QPoint(50, 15), QPoint(100, 100), QPoint(101, 101)}) {
        SCOPED_TRACE(pt.x());
        EXPECT_EQ(window.childAt(pt), pUnder);
        QTest::mouseClick(window.childAt(pt), Qt::LeftButton, {}, pUnder->mapFrom(&window, pt));
    }
    EXPECT_EQ(nClicks, 0);
}

TEST(SkinnedDialogDrag, DraggingTheBackgroundMovesTheWindowButAChildDoesNot) {
    TempDir dir;
    TestSkin skin(dir.Path());
    SkinnedDialog dialog;
    ASSERT_TRUE(dialog.LoadBackground(dir.Path() / "videopreview.jpg"));
    dialog.BuildWindowRegion();
    auto *pChild = new QPushButton(QStringLiteral("control"), &dialog);
    pChild->setGeometry(100, 100, 40, 40);
    dialog.move(50, 60);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QPoint ptStart = dialog.pos();

    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(&dialog, QPoint(50, 45));
    EXPECT_EQ(dialog.pos(), ptStart + QPoint(30, 25));
    // The window went along, so the pointer is over the pressed point again.
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(dialog.pos(), ptStart + QPoint(30, 25));

    const QPoint ptAfter = dialog.pos();
    QTest::mousePress(pChild, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(pChild, QPoint(30, 30));
    QTest::mouseRelease(pChild, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(dialog.pos(), ptAfter);
}

class TimelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_bar.resize(400, 30);
        m_bar.Configure({QColor(0, 0, 0), QColor(0, 0, 255), QColor(0, 255, 0), QColor(255, 255, 255),
                         QColor(255, 255, 0), QColor(255, 0, 255)},
                        6, 8, {});
        m_bar.setRange(0, 1000);
    }
    QImage Paint() { return m_bar.grab().toImage(); }

    TimelineBar m_bar;
};

TEST_F(TimelineTest, PaintsBandSelectionCursorAndMarksWhereTheGeometrySays) {
    m_bar.SetSelection(250, 750);
    m_bar.setValue(500);
    const TimelineShapes shapes = m_bar.ComputeShapes();
    const QImage image = Paint();
    auto colourAt = [&image](int x, int y) { return image.pixelColor(x, y); };
    const int yBand = shapes.rcBand.top + 1;
    EXPECT_EQ(colourAt(shapes.rcBand.left + 1, yBand), QColor(0, 0, 255));
    EXPECT_EQ(colourAt(shapes.rcSelection.left + 20, yBand), QColor(0, 255, 0));
    EXPECT_EQ(colourAt((shapes.rcCursor.left + shapes.rcCursor.right) / 2, yBand), QColor(255, 255, 255));
    EXPECT_EQ(colourAt(shapes.rcStartMark.left, shapes.rcStartMark.top), QColor(255, 255, 0));
    EXPECT_EQ(colourAt(shapes.rcEndMark.left, shapes.rcEndMark.top), QColor(255, 0, 255));
    EXPECT_EQ(colourAt(0, 0), QColor(0, 0, 0));
}

TEST_F(TimelineTest, PositionChangeRepaintsTheCursor) {
    m_bar.setValue(0);
    const int xBefore = m_bar.ComputeShapes().rcCursor.left;
    m_bar.setValue(1000);
    const TimelineShapes after = m_bar.ComputeShapes();
    EXPECT_GT(after.rcCursor.left, xBefore);
    const QImage image = Paint();
    EXPECT_EQ(image.pixelColor(after.rcCursor.left + 1, after.rcBand.top + 1), QColor(255, 255, 255));
}

// A song is drawn from what the synthesiser plays: a second of piano, loud at first, then silence
// until the controller change at 3 s that ends the song.
TEST_F(TimelineTest, MidiSongIsDrawnFromItsSynthesisedSound) {
    MediaFactory media;
    const std::string strSong =
        media.MakeRaw("song.mid", midi::Header(0, 1, 96) + midi::Track({{0, midi::Bytes({0x90, 48, 127})},
                                                                        {192, midi::Bytes({0x80, 48, 0})},
                                                                        {384, midi::Bytes({0xB0, 7, 100})}}));
    m_bar.ShowWaveformOf(strSong);
    WaveformLoader &loader = m_bar.Waveform();
    ASSERT_TRUE(loader.WaitUntilSettled(std::chrono::seconds(60)));
    ASSERT_EQ(loader.GetState(), WaveformLoader::State::Complete);
    const uint64_t nFrames = loader.Snapshot().GetFramesAdded();
    EXPECT_GE(nFrames, 3u * 44100u);
    EXPECT_LT(nFrames, 6u * 44100u);
    const std::vector<WavePeak> columns = loader.Columns(30, 3.0);
    for (size_t x = 0; x < 5; ++x) {
        EXPECT_GT(columns[x].fMax, 0.02f) << x;
        EXPECT_LT(columns[x].fMin, -0.01f) << x;
    }
    // The note has died away well before the song ends.
    for (size_t x = 20; x < 30; ++x) {
        ASSERT_TRUE(columns[x].bHas) << x;
        EXPECT_LT(std::max(columns[x].fMax, -columns[x].fMin), 1e-4f) << x;
    }
}

TEST(VideoPreviewScale, SizeFactorsScaleTheWindowAndItsVideoArea) {
    TempDir dir;
    TestSkin skin(dir.Path());
    SkinLayout layout;
    ASSERT_TRUE(layout.Load(dir.Path() / "position.txt"));
    VideoPreviewWindow preview(dir.Path());
    preview.InitDialog(layout);
    const QRect rcVideo = skin.Rect("VIDEO_PREVIERW_REGION");
    preview.SetVideoScale(2.0);
    EXPECT_EQ(preview.size(), QSize(2 * TestSkin::kPreviewWidth, 2 * TestSkin::kPreviewHeight));
    EXPECT_EQ(preview.GetVideoArea()->size(), 2 * rcVideo.size());
    preview.SetVideoScale(0.5);
    EXPECT_EQ(preview.GetVideoArea()->size(), rcVideo.size() / 2);
    preview.SetVideoScale(1.0);
    EXPECT_EQ(preview.GetVideoArea()->geometry(), rcVideo);
}

TEST(VideoPreviewScale, FullScreenTakesTheVideoAreaOutAndBringsItBack) {
    TempDir dir;
    TestSkin skin(dir.Path());
    SkinLayout layout;
    ASSERT_TRUE(layout.Load(dir.Path() / "position.txt"));
    VideoPreviewWindow preview(dir.Path());
    preview.InitDialog(layout);
    QObject::connect(&preview, &VideoPreviewWindow::LeaveFullScreenRequested, &preview,
                     &VideoPreviewWindow::ToggleFullScreen);
    preview.show();
    preview.ToggleFullScreen();
    EXPECT_TRUE(preview.GetVideoArea()->isWindow());
    EXPECT_TRUE(preview.GetVideoArea()->isFullScreen());
    QTest::keyClick(preview.GetVideoArea(), Qt::Key_Escape);
    EXPECT_FALSE(preview.IsFullScreen());
    EXPECT_FALSE(preview.GetVideoArea()->isWindow());
    EXPECT_EQ(preview.GetVideoArea()->geometry(), skin.Rect("VIDEO_PREVIERW_REGION"));
}

}  // namespace

}  // namespace klangor

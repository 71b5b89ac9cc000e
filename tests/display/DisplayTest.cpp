// The main window on a real X server, driven by real pointer and key events (XTEST through xdotool):
// what the offscreen platform cannot show, such as the window's shape, a second modal box opening after
// the first, a drag of the window, a tooltip and the keyboard focus walking the buttons.
#include "app/AboutDialog.h"
#include "app/AppTestSupport.h"
#include "app/ConverterApp.h"
#include "app/MainWindowConvert.h"
#include "app/MessageBoxes.h"
#include "app/WindowHandover.h"
#include "clips/ClipList.h"
#include "player/MediaPlayer.h"
#include "gui/SettingsDialog.h"
#include "gui/SkinButton.h"
#include "gui/TimelineBar.h"
#include "skin/SkinKeys.h"
#include "player/PlayerTestSupport.h"
#include "support/MediaFactory.h"
#include "waveform/WaveformCache.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace klangor {

namespace {

constexpr int kWaitMs = 10000;

// One xdotool run: the events reach the server before it returns, and the window reads them from there.
void Xdo(const QStringList &args) {
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), args), 0) << args.join(' ').toStdString();
}

void MoveTo(const QPoint &ptGlobal) {
    // A synced move to where the pointer already is would wait for a motion that never comes.
    if (QCursor::pos() == ptGlobal) {
        return;
    }
    Xdo({"mousemove", "--sync", QString::number(ptGlobal.x()), QString::number(ptGlobal.y())});
}

void ClickAt(const QPoint &ptGlobal) {
    MoveTo(ptGlobal);
    Xdo({"click", "1"});
}

// Keys go to the window that has the keyboard, as a person's keys do.
void Key(const QString &strKey) {
    Xdo({"key", strKey});
}

// Whether the X server's keyboard focus is on the widget's window: Qt may take a window for active a
// little before the server sends it the keys.
bool HasXFocus(const QWidget *pWidget) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
    if (!xdotool.waitForFinished(5000) || xdotool.exitCode() != 0) {
        return false;
    }
    return xdotool.readAllStandardOutput().trimmed().toULongLong() == pWidget->winId();
}

QPoint CentreOf(const QWidget *pWidget) {
    return pWidget->mapToGlobal(pWidget->rect().center());
}

// Steps run on the window's thread while the test waits, also inside the modal loops of the boxes and
// dialogs they open: each waits for its condition, then acts, then the next one waits.
class Script : public QObject {
public:
    struct Step {
        std::function<bool()> fnReady;
        std::function<void()> fnAct;
    };
    explicit Script(std::vector<Step> steps) : m_steps(std::move(steps)) {
        connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
        m_timer.start(20);
    }
    bool Finished() const { return m_nNext >= m_steps.size(); }
    size_t StepsDone() const { return m_nNext; }

private:
    void Tick() {
        if (Finished() || !m_steps[m_nNext].fnReady()) {
            return;
        }
        // An action may open a modal box whose loop ticks again: that is already the next step's turn.
        const size_t nStep = m_nNext++;
        m_steps[nStep].fnAct();
    }

    std::vector<Step> m_steps;
    size_t m_nNext = 0;
    QTimer m_timer;
};

template <class T>
T *ModalOfType() {
    return qobject_cast<T *>(QApplication::activeModalWidget());
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run by run-display-tests.sh";
    }

    // Shows the window at a fixed place, active, with the pointer parked outside it.
    void ShowAt(MainWindow &window, const QPoint &ptTopLeft) {
        window.move(ptTopLeft);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.pos() == ptTopLeft; }, kWaitMs));
    }

    // The preview window comes up, and takes the keyboard, once the first clip is open: that happens
    // before the test shows the main window and makes it active.
    void WaitForOpen(MainWindow &window) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.GetPlayer()->IsOpening(); }, kWaitMs));
    }

    QtMessageBoxes realBoxes;
};

// The shape is the X server's: a click into a cut-away part reaches what lies under the window.
TEST_F(DisplayTest, TheShapeLetsClicksAndPixelsThroughItsHoles) {
    QWidget backdrop;
    backdrop.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    backdrop.setAutoFillBackground(true);
    QPalette palette = backdrop.palette();
    palette.setColor(QPalette::Window, QColor(255, 0, 255));
    backdrop.setPalette(palette);
    backdrop.setGeometry(QGuiApplication::primaryScreen()->geometry());
    backdrop.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&backdrop));

    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    ShowAt(window, QPoint(100, 100));
    window.raise();

    const QPoint ptHole = window.mapToGlobal(QPoint(610, 260));  // the skin's white hole
    const QPoint ptFrame = window.mapToGlobal(QPoint(1, 1));     // its white frame
    const QPoint ptPanel = window.mapToGlobal(QPoint(500, 150));
    auto colourAt = [](const QPoint &pt) {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, pt.x(), pt.y(), 1, 1)
            .toImage()
            .pixelColor(0, 0);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return colourAt(ptHole) == QColor(255, 0, 255); }, kWaitMs))
        << colourAt(ptHole).name().toStdString();
    EXPECT_EQ(colourAt(ptFrame), QColor(255, 0, 255));
    EXPECT_NE(colourAt(ptPanel), QColor(255, 0, 255));

    struct PressCounter : QObject {
        int nPresses = 0;
        bool eventFilter(QObject *, QEvent *pEvent) override {
            nPresses += pEvent->type() == QEvent::MouseButtonPress ? 1 : 0;
            return false;
        }
    } backdropPresses;
    backdrop.installEventFilter(&backdropPresses);
    ClickAt(ptHole);
    EXPECT_TRUE(QTest::qWaitFor([&] { return backdropPresses.nPresses == 1; }, kWaitMs));
}

// Each modal dialog opens on a real press of its button and closes on a real key; the About box opens
// again after the Settings dialog has been and gone.
TEST_F(DisplayTest, AboutThenSettingsThenAboutAgainEachOpenAndClose) {
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    ShowAt(window, QPoint(40, 40));
    const QPoint ptAbout = CentreOf(window.GetButton(kIdAbout));
    const QPoint ptSettings = CentreOf(window.GetButton(kIdSettings));
    QStringList opened;
    auto noModal = [] { return QApplication::activeModalWidget() == nullptr; };
    auto aboutUp = [&] {
        return ModalOfType<AboutDialog>() != nullptr && ModalOfType<AboutDialog>()->isActiveWindow();
    };
    auto settingsUp = [&] {
        return ModalOfType<SettingsDialog>() != nullptr && ModalOfType<SettingsDialog>()->isActiveWindow();
    };
    auto close = [&](const char *pszName) {
        return [&opened, pszName] {
            opened.append(QString::fromUtf8(pszName));
            Key(QStringLiteral("Escape"));
        };
    };
    Script script({
        {noModal, [&] { ClickAt(ptAbout); }},
        {aboutUp, close("About")},
        {noModal, [&] { ClickAt(ptSettings); }},
        {settingsUp, close("Settings")},
        {noModal, [&] { ClickAt(ptAbout); }},
        {aboutUp, close("About")},
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return script.Finished() && noModal(); }, 3 * kWaitMs))
        << "steps done: " << script.StepsDone();
    EXPECT_EQ(opened, QStringList({"About", "Settings", "About"}));
    EXPECT_TRUE(window.isVisible());
}

// A format beyond the window's two buttons, chosen with real input in the settings dialog: only its own
// setting shows, the batch is asked for it, neither button stays checked and the status line names it;
// a click on the WAV button afterwards makes it WAV again.
TEST_F(DisplayTest, FlacChosenInTheSettingsIsWrittenUntilTheWavButtonIsClicked) {
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    ShowAt(window, QPoint(40, 40));
    auto *pMp3 = qobject_cast<QRadioButton *>(window.GetControl(kIdRadioMp3));
    auto *pWav = qobject_cast<QRadioButton *>(window.GetControl(kIdRadioWav));
    const QPoint ptSettings = CentreOf(window.GetButton(kIdSettings));
    auto noModal = [] { return QApplication::activeModalWidget() == nullptr; };
    auto dialogChild = [](const char *szName) {
        return ModalOfType<SettingsDialog>()->findChild<QWidget *>(QString::fromLatin1(szName));
    };
    QStringList shownSettings;
    Script script({
        {noModal, [&] { ClickAt(ptSettings); }},
        {[] {
             return ModalOfType<SettingsDialog>() != nullptr &&
                    ModalOfType<SettingsDialog>()->isActiveWindow();
         },
         [&] { ClickAt(CentreOf(dialogChild("outputFormatList"))); }},
        // The list's popup opens on MP3; FLAC is two entries down.
        {[] { return QApplication::activePopupWidget() != nullptr; },
         [] {
             Xdo({"key", "Down", "Down", "Return"});
         }},
        {[&] {
             return QApplication::activePopupWidget() == nullptr &&
                    dialogChild("flacCompressionSpin")->isVisible();
         },
         [&] {
             for (const char *szName :
                  {"flacCompressionSpin", "opusBitrateSpin", "aacBitrateSpin", "vorbisQualitySpin"}) {
                 if (dialogChild(szName)->isVisible()) {
                     shownSettings.append(QString::fromLatin1(szName));
                 }
             }
             ClickAt(CentreOf(dialogChild("okButton")));
         }},
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.Finished() && noModal(); }, 3 * kWaitMs))
        << "steps done: " << script.StepsDone();
    EXPECT_EQ(shownSettings, QStringList({"flacCompressionSpin"}));
    EXPECT_EQ(window.GetConversion().GetOutputFormat(), OutputFormat::Flac);
    EXPECT_FALSE(pMp3->isChecked());
    EXPECT_FALSE(pWav->isChecked());
    EXPECT_EQ(window.GetControlText(kIdStatus).toStdString(), "Output format: FLAC (lossless)");

    // The button takes clicks on its round indicator, where the skin draws it.
    QStyleOptionButton option;
    option.initFrom(pWav);
    const QRect rcIndicator = pWav->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, pWav);
    ClickAt(pWav->mapToGlobal(rcIndicator.center()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pWav->isChecked(); }, kWaitMs));
    EXPECT_EQ(window.GetConversion().GetOutputFormat(), OutputFormat::Wav);
    EXPECT_EQ(window.GetControlText(kIdStatus).toStdString(), "");
}

// Splitting chosen in the settings reaches both the timeline, where the loaded clip's split points
// show as ticks in the skin's start-mark colour, and the batch, which writes one output a part.
TEST_F(DisplayTest, SplittingChosenInTheSettingsShowsTicksAndWritesTheParts) {
    MediaFactory media;
    const std::string strClip = media.MakeTone("talk.wav", 10.0, 8000, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    window.GetPreviewCommands().AddMediaFiles({strClip});
    WaitForOpen(window);
    ShowAt(window, QPoint(40, 40));
    auto noModal = [] { return QApplication::activeModalWidget() == nullptr; };
    auto dialogChild = [](const char *szName) {
        return ModalOfType<SettingsDialog>()->findChild<QWidget *>(QString::fromLatin1(szName));
    };
    Script script({
        {noModal, [&] { ClickAt(CentreOf(window.GetButton(kIdSettings))); }},
        {[] {
             return ModalOfType<SettingsDialog>() != nullptr &&
                    ModalOfType<SettingsDialog>()->isActiveWindow();
         },
         [&] { ClickAt(CentreOf(dialogChild("splitList"))); }},
        // The list opens on "No"; every so many seconds is the last of five.
        {[] { return QApplication::activePopupWidget() != nullptr; },
         [] {
             Xdo({"key", "Down", "Down", "Down", "Down", "Return"});
         }},
        {[&] {
             return QApplication::activePopupWidget() == nullptr &&
                    dialogChild("splitEverySpin")->isVisible();
         },
         [&] {
             ClickAt(CentreOf(dialogChild("splitEverySpin")));
             Xdo({"key", "ctrl+a"});
             Xdo({"type", "3"});
             ClickAt(CentreOf(dialogChild("okButton")));
         }},
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.Finished() && noModal(); }, 3 * kWaitMs))
        << "steps done: " << script.StepsDone();
    ASSERT_EQ(window.Split().mode, SplitMode::Every);
    EXPECT_EQ(window.Split().dEverySeconds, 3.0);

    TimelineBar *pTimeline = window.GetTimeline();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return pTimeline->GetSplitPoints() == std::vector<int>{300, 600, 900};
        },
        kWaitMs));
    const TimelineShapes shapes = pTimeline->ComputeShapes();
    ASSERT_EQ(shapes.splitTicks.size(), 3u);
    for (const SkinRect &tick : shapes.splitTicks) {
        const QPoint pt = pTimeline->mapToGlobal(QPoint(tick.left, (tick.top + tick.bottom) / 2));
        const auto colourAt = [pt] {
            return QGuiApplication::primaryScreen()
                ->grabWindow(0, pt.x(), pt.y(), 1, 1)
                .toImage()
                .pixelColor(0, 0);
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return colourAt() == pTimeline->GetColours().startMark; }, kWaitMs))
            << "at x " << tick.left << ": " << colourAt().name().toStdString();
    }

    Script convert({
        {noModal, [&] { ClickAt(CentreOf(window.GetButton(kIdStartConvert))); }},
        {[] { return ModalOfType<QMessageBox>() != nullptr && ModalOfType<QMessageBox>()->isActiveWindow(); },
         [] { Key(QStringLiteral("Escape")); }},
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return convert.Finished() && noModal(); }, 6 * kWaitMs))
        << "steps done: " << convert.StepsDone();
    EXPECT_EQ(FileNamesIn(window.GetOutputFolder().toStdString()),
              (std::vector<std::string>{"talk.wav - 1.mp3", "talk.wav - 2.mp3", "talk.wav - 3.mp3",
                                        "talk.wav - 4.mp3"}));
}

// A batch with a file that cannot be read: the failure box first, and once it is answered the question
// about the output folder opens as a second box.
TEST_F(DisplayTest, TheCompletionQuestionFollowsTheFailureBox) {
    MediaFactory media;
    const std::string strGood = media.MakeTone("good.wav", 0.5, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strBad = (std::filesystem::path(strGood).parent_path() / "broken.wav").string();
    std::ofstream(strBad, std::ios::binary) << "this is no sound file";
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    // The good one first: it is the one loaded for preview, so no box comes up before the batch.
    window.GetPreviewCommands().AddMediaFiles({strGood, strBad});
    WaitForOpen(window);
    ShowAt(window, QPoint(40, 40));
    QStringList texts;
    auto boxUp = [&](const QString &strWords) {
        return [&texts, strWords] {
            auto *pBox = ModalOfType<QMessageBox>();
            return pBox != nullptr && pBox->isActiveWindow() && pBox->text().contains(strWords) &&
                   (texts.isEmpty() || texts.back() != pBox->text());
        };
    };
    auto answer = [&](const QString &strKey) {
        return [&texts, strKey] {
            texts.append(ModalOfType<QMessageBox>()->text());
            Key(strKey);
        };
    };
    auto noModal = [] { return QApplication::activeModalWidget() == nullptr; };
    Script script({
        {noModal, [&] { ClickAt(CentreOf(window.GetButton(kIdStartConvert))); }},
        {boxUp(QStringLiteral("broken.wav")), answer(QStringLiteral("Return"))},
        {boxUp(QStringLiteral("?")), answer(QStringLiteral("Escape"))},
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return script.Finished() && noModal(); }, 6 * kWaitMs))
        << "steps done: " << script.StepsDone() << " " << texts.join(" | ").toStdString();
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[0].contains(QStringLiteral("broken.wav")));
    EXPECT_TRUE(texts[1].endsWith(QStringLiteral("?")));
    EXPECT_TRUE(harness.shell.urls.empty()) << "Escape answers No: the folder stays closed";
    EXPECT_EQ(window.GetControlText(kIdStatus), QStringLiteral("Conversion Done!"));
}

TEST_F(DisplayTest, DraggingTheBackgroundMovesTheWindowAndAButtonDoesNot) {
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    ShowAt(window, QPoint(60, 60));
    const QPoint ptStart = window.mapToGlobal(QPoint(500, 150));
    MoveTo(ptStart);
    Xdo({"mousedown", "1"});
    for (int nStep = 1; nStep <= 4; ++nStep) {
        MoveTo(ptStart + QPoint(15 * nStep, 10 * nStep));
    }
    Xdo({"mouseup", "1"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.pos() == QPoint(120, 100); }, kWaitMs))
        << window.pos().x() << "," << window.pos().y();

    // A press on a button and a move away from it moves nothing.
    const QPoint ptButton = CentreOf(window.GetButton(kIdHelp));
    MoveTo(ptButton);
    Xdo({"mousedown", "1"});
    MoveTo(ptButton + QPoint(0, 60));
    Xdo({"mouseup", "1"});
    EXPECT_FALSE(QTest::qWaitFor([&] { return window.pos() != QPoint(120, 100); }, 500));
}

// The tip appears under the pointer with the design's text, word for word.
TEST_F(DisplayTest, ATooltipAppearsWithTheDesignsExactText) {
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    ShowAt(window, QPoint(40, 40));
    auto visibleTip = [] {
        for (QWidget *pWidget : QApplication::topLevelWidgets()) {
            if (pWidget->isVisible() && pWidget->inherits("QTipLabel")) {
                return static_cast<QLabel *>(pWidget)->text();
            }
        }
        return QString();
    };
    const std::pair<int, const char *> tips[] = {{kIdRemove, "Remove Media Files"},
                                                 {kIdOpenFile, "Open Media Files"},
                                                 {kIdSetStart, "Set Starting Point"}};
    for (const auto &[nId, pszText] : tips) {
        SCOPED_TRACE(pszText);
        MoveTo(CentreOf(window.GetButton(nId)));
        Xdo({"mousemove_relative", "--sync", "1", "0"});
        EXPECT_TRUE(QTest::qWaitFor([&] { return visibleTip() == QString::fromUtf8(pszText); }, kWaitMs))
            << visibleTip().toStdString();
        MoveTo(window.mapToGlobal(QPoint(500, 150)));
        EXPECT_TRUE(QTest::qWaitFor([&] { return visibleTip().isEmpty(); }, kWaitMs));
    }
}

// Tab walks the buttons in the order of the window's controls, the focused one shows its focused face,
// Space presses it, and Enter and Esc leave the window as it is.
TEST_F(DisplayTest, TabWalksTheButtonsAndSpacePressesTheFocusedOne) {
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    ShowAt(window, QPoint(40, 40));
    window.GetClipListBox()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.GetClipListBox()->hasFocus(); }, kWaitMs));
    // With no clip loaded the transport buttons are disabled and passed over: the list buttons, the
    // timeline, the selection buttons, conversion, the output folder box and button, the checked output
    // type, settings, help, about, the window's buttons, the preview button, and round to the list.
    const int expected[] = {kIdOpenFile,   kIdRemove,   kIdMoveUp,      kIdMoveDown,     kIdSeekBar,
                            kIdSetStart,   kIdSetEnd,   kIdSelectAll,   kIdStartConvert, kIdOutputFolder,
                            kIdOutputPath, kIdRadioMp3, kIdSettings,    kIdHelp,         kIdAbout,
                            kIdMinimize,   kIdClose,    kIdOpenPreview, kIdClipList};
    for (int nId : expected) {
        SCOPED_TRACE(nId);
        Key(QStringLiteral("Tab"));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return QApplication::focusWidget() == window.GetControl(nId); }, 3000))
            << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                            : "none");
        if (auto *pButton = window.GetButton(nId)) {
            EXPECT_EQ(pButton->CurrentFace(), kFaceFocused);
        }
    }

    for (const char *pszKey : {"Return", "Escape"}) {
        Key(QString::fromUtf8(pszKey));
        EXPECT_FALSE(QTest::qWaitFor([&] { return !window.isVisible(); }, 300)) << pszKey;
    }

    // Shift+Tab back to About, and Space opens the About box there.
    while (QApplication::focusWidget() != window.GetButton(kIdAbout)) {
        const QWidget *pBefore = QApplication::focusWidget();
        Key(QStringLiteral("shift+Tab"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() != pBefore; }, kWaitMs));
    }
    bool bAboutOpened = false;
    Script script({
        {[] { return ModalOfType<AboutDialog>() != nullptr && ModalOfType<AboutDialog>()->isActiveWindow(); },
         [&] {
             bAboutOpened = true;
             Key(QStringLiteral("Escape"));
         }},
    });
    Key(QStringLiteral("space"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return script.Finished() && QApplication::activeModalWidget() == nullptr; }, kWaitMs));
    EXPECT_TRUE(bAboutOpened);
}

// A real right click on a list entry opens its audio-track menu (and not the Size menu), and a real click
// on a track plays it and keeps it in the file's record with its selection.
TEST_F(DisplayTest, ARightClickOnAnEntryOpensItsTrackMenuAndAClickChoosesATrack) {
    MediaFactory media;
    const std::string strFilm = media.Make(
        "film.mkv",
        {"-f", "lavfi", "-i", "sine=f=300:d=3", "-f", "lavfi", "-i", "sine=f=600:d=3", "-f", "lavfi", "-i",
         "sine=f=900:d=3"},
        {"-map", "0", "-map", "1", "-map", "2", "-c:a", "flac", "-metadata:s:a:2", "language=deu"});
    std::ofstream(strFilm + ".clipinfo", std::ios::binary) << "Owner=Vellumar\r\nCutInfo=300,40,260,0;";
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(media.Dir().string()));
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    window.GetPreviewCommands().AddMediaFiles({strFilm});
    WaitForOpen(window);
    ShowAt(window, QPoint(40, 40));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QListWidget *pList = window.GetClipListBox();
    MoveTo(pList->viewport()->mapToGlobal(pList->visualItemRect(pList->item(0)).center()));
    Xdo({"click", "3"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.GetAudioTrackMenu() != nullptr && window.GetAudioTrackMenu()->isVisible(); },
        kWaitMs));
    EXPECT_FALSE(window.GetSizeMenu()->isVisible());
    QMenu *pMenu = window.GetAudioTrackMenu();
    QAction *pThird = nullptr;
    for (QAction *pAction : pMenu->actions()) {
        if (pAction->text().startsWith(QStringLiteral("3: deu"))) {
            pThird = pAction;
        }
    }
    ASSERT_NE(pThird, nullptr);
    ClickAt(pMenu->mapToGlobal(pMenu->actionGeometry(pThird).center()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.GetPlayer()->GetClipInfo().nTrack == 3u; }, kWaitMs));
    // The record is written off the window's thread, soon after.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return ReadFileBytes(strFilm + ".clipinfo") == "Owner=Vellumar\r\nCutInfo=300,40,260,3;"; },
        kWaitMs))
        << ReadFileBytes(strFilm + ".clipinfo");
    EXPECT_FALSE(pMenu->isVisible());

    // The Menu key on the focused list opens the same menu for its entry, the choice checked.
    pList->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pList->hasFocus(); }, kWaitMs));
    Key(QStringLiteral("Menu"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.GetAudioTrackMenu() != nullptr && window.GetAudioTrackMenu()->isVisible(); },
        kWaitMs));
    EXPECT_TRUE(window.GetAudioTrackMenu()->actions().at(3)->isChecked());
    Key(QStringLiteral("Escape"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.GetAudioTrackMenu()->isVisible(); }, kWaitMs));
}

// A start set while the clip plays is where Stop leaves it: the record, the window's texts and the
// playback as an outside tool reads it all give the same hundredth, and still do a second later.
TEST_F(DisplayTest, StopStandsAtTheStartSetWhilePlaying) {
    MediaFactory media;
    const std::string strTone = media.MakeTone("tone.wav", 6, 44100, 2, {"-c:a", "pcm_s16le"});
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(media.Dir().string()));
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    window.GetPreviewCommands().AddMediaFiles({strTone});
    WaitForOpen(window);
    ShowAt(window, QPoint(40, 40));
    MediaPlayer &player = *window.GetPlayer();
    auto position = [&] {
        long lPosition = -1;
        player.GetCurrentPosition(lPosition);
        return lPosition;
    };
    ClickAt(CentreOf(window.GetButton(kIdPlay)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return position() >= 150; }, kWaitMs));
    ClickAt(CentreOf(window.GetButton(kIdSetStart)));
    ClickAt(CentreOf(window.GetButton(kIdStop)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.GetPreviewCommands().IsPreviewPlaying(); }, kWaitMs));

    // The record is written off the window's thread, soon after.
    unsigned nDuration = 0, nStart = 0, nEnd = 0, nTrack = 0;
    std::string strRecord;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            strRecord = ReadFileBytes(strTone + ".clipinfo");
            return std::sscanf(strRecord.c_str(), "Owner=Vellumar\r\nCutInfo=%u,%u,%u,%u;", &nDuration,
                               &nStart, &nEnd, &nTrack) == 4 &&
                   nStart > 140u;
        },
        kWaitMs))
        << strRecord;
    for (int nLook = 0; nLook < 2; ++nLook) {
        SCOPED_TRACE(nLook);
        QTest::qWait(nLook == 0 ? 300 : 1000);
        const std::string strReply =
            AskSocket(player.GetRegistrationPath(), R"({"command":["get_property","time-pos"]})");
        const size_t nAt = strReply.find("\"data\":");
        ASSERT_NE(nAt, std::string::npos) << strReply;
        EXPECT_EQ(std::lround(std::strtod(strReply.c_str() + nAt + 7, nullptr) * 100),
                  static_cast<long>(nStart))
            << strReply;
        EXPECT_EQ(position(), static_cast<long>(nStart));
        // "Current: hh:mm:ss.cc" shows the time that opens "Selection: hh:mm:ss.cc -- ...".
        const QString strSelection = window.GetControlText(kIdSelectionTime);
        EXPECT_EQ(window.GetControlText(kIdCurrentTime).mid(9), strSelection.mid(11, 11))
            << strSelection.toStdString();
    }
}

// A clip whose source is slow to give its bytes (a pipe whose writer waits) opens while the window goes
// on working: the About box comes up within 300 ms of a real press of its button during the open. The
// clip opens behind the box once its bytes arrive, and the box keeps the keyboard: a real Escape closes
// it, where a preview taking the keyboard would leave it waiting for ever.
TEST_F(DisplayTest, AboutComesUpAtOnceWhileASlowClipOpens) {
    MediaFactory media;
    // Small enough for the pipe's buffer, so the writer never waits for the player to read on; FLAC
    // tells its length up front, which a stream read once must do to be previewed.
    const std::string strTone = media.MakeTone("tone.flac", 1, 8000, 1, {"-c:a", "flac"});
    const std::string strBytes = ReadFileBytes(strTone);
    ASSERT_LT(strBytes.size(), 60000u);
    const std::string strPipe = (media.Dir() / "slow.flac").string();
    ASSERT_EQ(::mkfifo(strPipe.c_str(), 0600), 0);
    // Another clip's waveform in the cache, as an earlier session leaves it, changes nothing here.
    WaveformSummary other;
    other.Reset(8000, 8000);
    const std::vector<float> samples(8000, 0.5f);
    other.AddFrames(samples.data(), 8000, 1);
    ASSERT_TRUE(WaveformCache(WaveformCache::DefaultFolder()).Store(strTone + "\n1\n0.0\n0", other));
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(media.Dir().string()));
    WindowHarness harness({}, {}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    ShowAt(window, QPoint(40, 40));
    const QPoint ptAbout = CentreOf(window.GetButton(kIdAbout));
    auto aboutUp = [] {
        return ModalOfType<AboutDialog>() != nullptr && ModalOfType<AboutDialog>()->isVisible();
    };
    auto noModal = [] { return QApplication::activeModalWidget() == nullptr; };

    // Once the player has the pipe open, the writer presses About and then holds the bytes back until
    // the box is seen (a window that waits for the open sees it only after 3 s, when they come anyway).
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::condition_variable released;
    bool bRelease = false;
    Clock::time_point pressedAt{};
    std::thread writer([&] {
        const int fd = ::open(strPipe.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        // A synced move to where the pointer already is never returns (an earlier test may have left it
        // on About), so it starts from the corner; and a stuck xdotool must not hold the test for good.
        const std::string strPress = "timeout 10 xdotool mousemove 0 0 mousemove --sync " +
                                     std::to_string(ptAbout.x()) + " " + std::to_string(ptAbout.y()) +
                                     " click 1";
        const int iPressed = std::system(strPress.c_str());
        std::unique_lock lock(mutex);
        pressedAt = iPressed == 0 ? Clock::now() : Clock::time_point{};
        released.wait_for(lock, std::chrono::seconds(3), [&] { return bRelease; });
        lock.unlock();
        for (size_t nDone = 0; nDone < strBytes.size();) {
            const ssize_t nWritten = ::write(fd, strBytes.data() + nDone, strBytes.size() - nDone);
            if (nWritten <= 0) {
                break;
            }
            nDone += static_cast<size_t>(nWritten);
        }
        ::close(fd);
    });
    auto release = [&] {
        {
            std::lock_guard lock(mutex);
            bRelease = true;
        }
        released.notify_all();
    };

    // The box's own loop runs the steps that see it, the clip opening behind it and a box that outlived
    // Escape, which is closed by hand so that the test fails rather than waits for ever.
    Clock::time_point shownAt{};
    Clock::time_point escapedAt{};
    bool bOutlivedEscape = false;
    Script script({{aboutUp,
                    [&] {
                        shownAt = Clock::now();
                        release();
                    }},
                   // The key goes to whichever window has the keyboard, which on a busy machine comes to
                   // the box some time after it shows.
                   {[&] {
                        return ModalOfType<AboutDialog>() != nullptr &&
                               ModalOfType<AboutDialog>()->isActiveWindow() &&
                               (window.IsClipLoaded() || Clock::now() - shownAt > std::chrono::seconds(10)) &&
                               HasXFocus(ModalOfType<AboutDialog>());
                    },
                    [&] {
                        escapedAt = Clock::now();
                        Key(QStringLiteral("Escape"));
                    }},
                   {[&] { return Clock::now() - escapedAt > std::chrono::seconds(3); },
                    [&] {
                        if (auto *pAbout = ModalOfType<AboutDialog>()) {
                            bOutlivedEscape = true;
                            pAbout->reject();
                        }
                    }}});
    window.GetPreviewCommands().AddMediaFiles({strPipe});
    const bool bUp = QTest::qWaitFor([&] { return script.StepsDone() >= 2 && noModal(); }, kWaitMs);
    release();
    if (!bUp) {
        // A writer still waiting for its reader is let go.
        ::close(::open(strPipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }
    writer.join();
    ASSERT_TRUE(bUp);
    ASSERT_NE(pressedAt, Clock::time_point{}) << "xdotool failed";
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(shownAt - pressedAt).count(), 300);
    EXPECT_TRUE(window.IsClipLoaded());
    EXPECT_FALSE(bOutlivedEscape) << "Escape never reached the box";
}

// "klangor FILE" while this window runs, started from another folder: the real program hands the file to
// the window and ends at once without a window of its own, and the window lists the file after the one it
// had and comes to the front over the window that had the keyboard.
TEST_F(DisplayTest, ASecondStartHandsItsFileToTheRunningWindowAndEnds) {
    MediaFactory media;
    const std::string strFirst = media.MakeTone("first.wav", 0.5, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strHanded = media.MakeTone("handed over.wav", 0.5, 8000, 1, {"-c:a", "pcm_s16le"});
    TempDir runtime;
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.Path().string()));
    WindowHarness harness({}, {strFirst}, {}, &realBoxes);
    MainWindow &window = harness.Window();
    WaitForOpen(window);
    ShowAt(window, QPoint(40, 40));
    const std::unique_ptr<WindowHandoverListener> pListener = ListenForLaterStarts(window);
    ASSERT_TRUE(pListener != nullptr && pListener->IsListening());

    QWidget other;
    other.setGeometry(700, 600, 200, 100);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));

    QProcess program;
    program.setWorkingDirectory(QString::fromStdString(media.Dir().string()));
    QElapsedTimer clock;
    clock.start();
    program.start(QStringLiteral(KLANGOR_PROGRAM_PATH), {QStringLiteral("handed over.wav")});
    // The window answers from this thread's loop, which the wait runs.
    const bool bEnded = QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, kWaitMs);
    const qint64 nElapsedMs = clock.elapsed();
    if (!bEnded) {
        program.kill();
        program.waitForFinished();
    }
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
    ASSERT_TRUE(bEnded) << "the second start opened a window of its own";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    EXPECT_LT(nElapsedMs, kHandoverTimeoutMs) << "it waited out the window's answer";

    ASSERT_TRUE(QTest::qWaitFor([&] { return window.GetClipListBox()->count() == 2; }, kWaitMs));
    EXPECT_EQ(window.GetClipList().GetClip(1), strHanded);
    EXPECT_EQ(window.GetClipListBox()->item(1)->text().toStdString(), ClipDisplayName(strHanded));
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}

}  // namespace

}  // namespace klangor

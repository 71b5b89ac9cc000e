// The clip list's audio-track menu: what it offers for a file of three tracks and for files with
// nothing to choose, and what a choice does to the preview and to the file's record.
#include "app/AppTestSupport.h"
#include "player/MediaPlayer.h"
#include "gui/TimelineBar.h"
#include "player/PlayerTestSupport.h"
#include "support/MediaFactory.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace klangor {

namespace {

// Three tracks of different loudness, so the timeline's waveform shows which one it drew.
std::string MakeFilm(MediaFactory &media, const std::string &strName) {
    return media.Make(strName,
                      {"-f", "lavfi", "-i", "aevalsrc='0.2*sin(2*PI*300*t)':s=44100:d=3", "-f", "lavfi", "-i",
                       "aevalsrc='0.5*sin(2*PI*600*t)':s=44100:d=3", "-f", "lavfi", "-i",
                       "aevalsrc='0.8*sin(2*PI*900*t)':s=44100:d=3"},
                      {"-map", "0", "-map", "1", "-map", "2", "-c:a", "flac", "-metadata:s:a:1",
                       "language=fra", "-metadata:s:a:1", "title=Commentary"});
}

QStringList Labels(const QMenu &menu) {
    QStringList labels;
    for (const QAction *pAction : menu.actions()) {
        labels.append(pAction->text() + (pAction->isChecked() ? " [x]" : "") +
                      (pAction->isEnabled() ? "" : " (off)"));
    }
    return labels;
}

// The audio track libmpv plays, asked through the inspection socket.
std::string PlayingTrack(MediaPlayer &player) {
    const std::string strReply = AskSocket(
        player.GetRegistrationPath(), R"({"command": ["get_property_string", "current-tracks/audio/id"]})");
    const size_t nAt = strReply.find("\"data\":\"");
    return nAt == std::string::npos ? strReply
                                    : strReply.substr(nAt + 8, strReply.find('"', nAt + 8) - nAt - 8);
}

// The loudest peak of the waveform the timeline draws, once its summary is complete.
float DrawnPeak(MainWindow &window) {
    WaveformLoader &waveform = window.GetTimeline()->Waveform();
    if (!waveform.WaitUntilSettled(std::chrono::seconds(20)) ||
        waveform.GetState() != WaveformLoader::State::Complete) {
        return -1.0f;
    }
    float fMax = 0.0f;
    for (const WavePeak &peak : waveform.Columns(60, 3.0)) {
        fMax = std::max(fMax, peak.fMax);
    }
    return fMax;
}

// The file is read in the background: the menu that opens is a new one, once its result is back.
bool WaitForNewMenu(MainWindow &window, const QMenu *pBefore) {
    return QTest::qWaitFor([&] { return window.GetAudioTrackMenu() != pBefore; }, 10000);
}

void AskForMenu(MainWindow &window, int nRow) {
    QListWidget *pList = window.GetClipListBox();
    const QPoint pt = pList->visualItemRect(pList->item(nRow)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pt, pList->viewport()->mapToGlobal(pt));
    QCoreApplication::sendEvent(pList->viewport(), &event);
}

void RightClickRow(MainWindow &window, int nRow) {
    const QMenu *pBefore = window.GetAudioTrackMenu();
    AskForMenu(window, nRow);
    EXPECT_TRUE(WaitForNewMenu(window, pBefore)) << "no menu for row " << nRow;
}

// Every audio-track menu that shows, by its first entry.
class ShownMenus : public QObject {
public:
    ShownMenus() { qApp->installEventFilter(this); }
    ~ShownMenus() override { qApp->removeEventFilter(this); }
    QStringList firstEntries;

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override {
        auto *pMenu = qobject_cast<QMenu *>(pWatched);
        if (pEvent->type() == QEvent::Show && pMenu != nullptr && pMenu->title() == "Audio Track") {
            firstEntries.append(pMenu->actions().value(0) ? pMenu->actions()[0]->text() : QString());
        }
        return false;
    }
};

void Choose(MainWindow &window, const QString &strPrefix) {
    QMenu *pMenu = window.GetAudioTrackMenu();
    ASSERT_NE(pMenu, nullptr);
    for (QAction *pAction : pMenu->actions()) {
        if (pAction->text().startsWith(strPrefix)) {
            // As a click does: the choice is made and the menu closes.
            pAction->trigger();
            pMenu->close();
            ProcessEvents(50);
            return;
        }
    }
    FAIL() << "no entry " << strPrefix.toStdString();
}

class AudioTrackMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(m_runtime.Path().string()));
    }
    TempDir m_runtime;
    MediaFactory media;
};

TEST_F(AudioTrackMenuTest, ThreeTracksAreOfferedAndAChoicePlaysAndIsRecordedWithTheSelection) {
    const std::string strFilm = MakeFilm(media, "film.mkv");
    const std::string strOther = MakeFilm(media, "other.mkv");
    std::ofstream(strOther + ".clipinfo", std::ios::binary) << "Owner=Vellumar\r\nCutInfo=300,50,250,0;";
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.show();
    window.GetPreviewCommands().AddMediaFiles({strFilm, strOther});
    ASSERT_TRUE(WaitForOpen(window));
    ASSERT_EQ(window.GetPlayer()->GetFileName(), strFilm);
    window.GetPlayer()->SetSelection(20, 280);
    window.GetPlayer()->WriteCutInfo();

    // A right press does not move the list's selection (which would load the clip under the menu).
    QListWidget *pList = window.GetClipListBox();
    QTest::mouseClick(pList->viewport(), Qt::RightButton, {}, pList->visualItemRect(pList->item(1)).center());
    EXPECT_EQ(pList->currentRow(), 0);
    EXPECT_EQ(window.GetPlayer()->GetFileName(), strFilm);

    RightClickRow(window, 0);
    ASSERT_NE(window.GetAudioTrackMenu(), nullptr);
    EXPECT_TRUE(window.GetAudioTrackMenu()->isVisible());
    EXPECT_EQ(Labels(*window.GetAudioTrackMenu()),
              (QStringList{"Best track [x]", QString::fromUtf8("1 \u2014 FLAC mono, 44.1 kHz"),
                           QString::fromUtf8("2: fra, Commentary \u2014 FLAC mono, 44.1 kHz"),
                           QString::fromUtf8("3 \u2014 FLAC mono, 44.1 kHz")}));
    Choose(window, "2:");
    MediaPlayer &player = *window.GetPlayer();
    EXPECT_EQ(player.GetClipInfo().nTrack, 2u);
    player.DrainRecords();
    EXPECT_EQ(ReadFileBytes(strFilm + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=300,20,280,2;");
    EXPECT_TRUE(WaitUntil(player, [&] { return PlayingTrack(player) == "2"; })) << PlayingTrack(player);
    EXPECT_EQ(window.GetControlText(kIdSelectionTime),
              QStringLiteral("Selection: 00:00:00.20 -- 00:00:02.80"));
    EXPECT_NEAR(DrawnPeak(window), 0.5f, 0.02f);

    // The key opens the same menu for the current entry, with the choice checked.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    pList->setFocus();
    const QMenu *pBefore = window.GetAudioTrackMenu();
    QTest::keyClick(pList, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(WaitForNewMenu(window, pBefore));
    EXPECT_TRUE(Labels(*window.GetAudioTrackMenu())[2].endsWith(" [x]"))
        << Labels(*window.GetAudioTrackMenu()).join(" | ").toStdString();
    window.GetAudioTrackMenu()->close();

    // An entry that is not loaded is loaded first, left stopped, and keeps its stored selection.
    RightClickRow(window, 1);
    EXPECT_TRUE(window.GetAudioTrackMenu()->actions().at(0)->isChecked());
    Choose(window, "3 ");
    EXPECT_EQ(player.GetFileName(), strOther);
    EXPECT_EQ(pList->currentRow(), 1);
    EXPECT_EQ(player.GetPlayState(), PlayState::Stopped);
    EXPECT_EQ(ReadFileBytes(strOther + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=300,50,250,3;");
    EXPECT_TRUE(WaitUntil(player, [&] { return PlayingTrack(player) == "3"; })) << PlayingTrack(player);
    EXPECT_NEAR(DrawnPeak(window), 0.8f, 0.02f);
    // Back to the best track: the record says 0 again, as files written before always did.
    RightClickRow(window, 1);
    Choose(window, "Best track");
    EXPECT_EQ(ReadFileBytes(strOther + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=300,50,250,0;");
    EXPECT_NEAR(DrawnPeak(window), 0.2f, 0.02f);
    // The first film again: it opens with its recorded track, and so does its waveform.
    pList->setCurrentRow(0);
    ProcessEvents(50);
    ASSERT_EQ(player.GetFileName(), strFilm);
    EXPECT_NEAR(DrawnPeak(window), 0.5f, 0.02f);
    EXPECT_TRUE(harness.boxes.boxes.empty()) << harness.boxes.boxes.front().strText.toStdString();
}

TEST_F(AudioTrackMenuTest, FilesWithNothingToChooseSaySoAndBrokenOnesSayWhy) {
    const std::string strOne = media.MakeTone("one.wav", 0.5, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strBroken = media.MakeRaw("broken.mkv", "this is no film at all");
    const std::string strGone = MakeFilm(media, "gone.mkv");
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.GetPreviewCommands().AddMediaFiles({strOne, strBroken, strGone});
    std::filesystem::remove(strGone);
    const std::pair<int, const char *> cases[] = {
        {0, "This file has one audio track only (off)"},
        {1, "Cannot read the audio tracks: "},
        {2, "Cannot read the audio tracks: the file was not found (off)"},
    };
    for (const auto &[nRow, pszText] : cases) {
        SCOPED_TRACE(nRow);
        RightClickRow(window, nRow);
        ASSERT_NE(window.GetAudioTrackMenu(), nullptr);
        const QStringList labels = Labels(*window.GetAudioTrackMenu());
        ASSERT_EQ(labels.size(), 1);
        EXPECT_TRUE(labels[0].startsWith(QString::fromUtf8(pszText))) << labels[0].toStdString();
        window.GetAudioTrackMenu()->close();
    }
    EXPECT_EQ(window.GetPlayer()->GetFileName(), strOne);
}

// A menu asked for an entry that then leaves the list never opens: its choice would go to whichever file
// took the entry's place.
TEST_F(AudioTrackMenuTest, AMenuForAnEntryRemovedWhileItsFileIsReadNeverOpens) {
    const std::string strFilm = MakeFilm(media, "film.mkv");
    const std::string strOne = media.MakeTone("one.wav", 0.5, 8000, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.show();
    window.GetPreviewCommands().AddMediaFiles({strFilm, strOne});
    ShownMenus shown;
    AskForMenu(window, 0);
    window.GetButton(kIdRemove)->click();
    ASSERT_EQ(window.GetClipListBox()->count(), 1);
    // Probes run in order, so once the next menu is up the first result has come back.
    RightClickRow(window, 0);
    EXPECT_EQ(shown.firstEntries.join(" | ").toStdString(), "This file has one audio track only");
}

}  // namespace

}  // namespace klangor

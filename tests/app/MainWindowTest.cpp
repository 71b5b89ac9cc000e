// The main window: skin set-up, shape, title, closing, keys, the preview pair and the shell commands.
#include "app/AboutDialog.h"
#include "app/AppTestSupport.h"
#include "player/MediaPlayer.h"
#include "support/MediaFactory.h"
#include "skin/SkinKeys.h"
#include "gui/SkinQt.h"
#include "gui/VideoPreviewWindow.h"
#include "skin/WindowShape.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

namespace klangor {

namespace {

TEST(MainWindowSkin, EveryButtonStandsAtItsKeyAndTakesItsFaceSize) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    for (const SkinButtonRow &row : kSkinButtonRows) {
        SCOPED_TRACE(row.nControlId);
        SkinButton *pButton = window.GetButton(row.nControlId);
        ASSERT_NE(pButton, nullptr);
        const QRect rcKey = harness.Skin().Rect(std::string(row.strKey));
        EXPECT_EQ(pButton->pos(), rcKey.topLeft());
        EXPECT_EQ(pButton->size(), QSize(harness.Skin().FaceWidth(row.nControlId), TestSkin::kFaceHeight));
        EXPECT_EQ(pButton->toolTip(), QString::fromUtf8(row.strTooltip.data(), row.strTooltip.size()));
        EXPECT_EQ(pButton->isHidden(), row.bHiddenAtStart);
    }
}

TEST(MainWindowSkin, PairedButtonsShareOnePlaceAndOnlyOneShows) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    const std::pair<int, int> pairs[] = {{kIdPlay, kIdPause},
                                         {kIdMute, kIdUnmute},
                                         {kIdStartConvert, kIdStopConvert},
                                         {kIdOpenPreview, kIdClosePreview}};
    for (const auto &[nShown, nHidden] : pairs) {
        SCOPED_TRACE(nShown);
        EXPECT_EQ(window.GetButton(nShown)->pos(), window.GetButton(nHidden)->pos());
        EXPECT_FALSE(window.GetButton(nShown)->isHidden());
        EXPECT_TRUE(window.GetButton(nHidden)->isHidden());
    }
}

TEST(MainWindowSkin, OtherControlsTakeTheirKeysRectangle) {
    WindowHarness harness;
    for (const SkinControlRow &row : kSkinControlRows) {
        SCOPED_TRACE(std::string(row.strKey));
        QWidget *pControl = harness.Window().GetControl(row.nControlId);
        ASSERT_NE(pControl, nullptr);
        EXPECT_EQ(pControl->geometry(), harness.Skin().Rect(std::string(row.strKey)));
    }
}

TEST(MainWindowSkin, TooltipsWakeAfter100MsAndStayTenSeconds) {
    WindowHarness harness;
    SkinButton *pButton = harness.Window().GetButton(kIdHelp);
    EXPECT_EQ(pButton->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr, pButton), 100);
    EXPECT_EQ(pButton->toolTipDuration(), 10000);
}

TEST(MainWindowSkin, TimelineAndTextsTakeTheLayoutColours) {
    WindowHarness harness;
    const TimelineBar::Colours &colours = harness.Window().GetTimeline()->GetColours();
    // The test skin writes red = n, green = 255 - n, blue = 2n with n = 10, 40, 70 ... in key order.
    EXPECT_EQ(colours.background, QColor(10, 245, 20));
    EXPECT_EQ(colours.band, QColor(40, 215, 80));
    EXPECT_EQ(colours.endMark, QColor(160, 95, 320 & 0xFF));
    const QLabel *pStatus = qobject_cast<QLabel *>(harness.Window().GetControl(kIdStatus));
    EXPECT_EQ(pStatus->palette().color(QPalette::WindowText), QColor(230, 220, 90));
}

TEST(MainWindowSkin, WindowMaskIsTheShapeCutFromTheBackground) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    EXPECT_EQ(window.size(), QSize(TestSkin::kMainWidth, TestSkin::kMainHeight));
    const QRegion expected = RectsToRegion(BuildWindowShape(window.Background()));
    EXPECT_EQ(window.mask(), expected);
    // The white frame and the white hole are cut away; the panel stays.
    EXPECT_FALSE(window.mask().contains(QPoint(1, 1)));
    EXPECT_FALSE(window.mask().contains(QPoint(610, 260)));
    EXPECT_TRUE(window.mask().contains(QPoint(100, 100)));
}

TEST(MainWindowSkin, MissingLayoutFileReportsAndClosesTheWindow) {
    WindowHarness harness(
        [](const std::filesystem::path &pathSkin) { std::filesystem::remove(pathSkin / "position.txt"); });
    MainWindow &window = harness.Window();
    QSignalSpy finished(&window, &QDialog::finished);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 5000));
    ASSERT_EQ(harness.boxes.boxes.size(), 1u);
    EXPECT_TRUE(harness.boxes.boxes[0].strText.startsWith(QStringLiteral("Initial UI error!")));
    // The program's own boxes carry the application title, not the window text with its version.
    EXPECT_EQ(harness.boxes.boxes[0].strCaption, QStringLiteral("Vellumar Klangor"));
    EXPECT_FALSE(window.isVisible());
}

TEST(MainWindowSkin, LayoutWithoutAControlsKeyClosesTheWindowWithoutABox) {
    WindowHarness harness([](const std::filesystem::path &pathSkin) {
        std::ofstream(pathSkin / "position.txt", std::ios::binary) << "PLAY_MOVIE=10,10,0,0;\r\n";
    });
    MainWindow &window = harness.Window();
    QSignalSpy finished(&window, &QDialog::finished);
    window.show();
    ProcessEvents(50);
    EXPECT_TRUE(harness.boxes.boxes.empty());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(window.GetButton(kIdPlay)->pos(), QPoint(10, 10));
}

TEST(MainWindowSkin, MissingPicturesLeaveControlsWithoutFacesAndNeverCrash) {
    WindowHarness harness([](const std::filesystem::path &pathSkin) {
        std::filesystem::remove(pathSkin / "interface.jpg");
        std::filesystem::remove(pathSkin / "Helpbutton.jpg");
    });
    MainWindow &window = harness.Window();
    EXPECT_TRUE(window.mask().isEmpty());  // no picture: no shape
    SkinButton *pHelp = window.GetButton(kIdHelp);
    EXPECT_FALSE(pHelp->HasFace(kFaceNormal));
    EXPECT_TRUE(pHelp->toolTip().isEmpty());
    window.show();
    EXPECT_FALSE(window.grab().isNull());
    EXPECT_TRUE(harness.boxes.boxes.empty());
}

TEST(MainWindowShell, TitleEndsInEmptyBracketsWithoutAClip) {
    WindowHarness harness;
    EXPECT_EQ(harness.Window().windowTitle(), QStringLiteral("Vellumar Klangor - v2.31 []"));
}

TEST(MainWindowShell, StartsOnMp3WithTheDefaultFolderCreated) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    const QString strDefault = QString::fromStdString((harness.Home() / "VellumarMP3").string());
    EXPECT_EQ(window.GetOutputFolder(), strDefault);
    EXPECT_TRUE(std::filesystem::is_directory(harness.Home() / "VellumarMP3"));
    EXPECT_EQ(window.GetControlText(kIdOutputFolder), strDefault);
    EXPECT_TRUE(qobject_cast<QLineEdit *>(window.GetControl(kIdOutputFolder))->isReadOnly());
    EXPECT_EQ(window.GetOutputType(), 0);
    EXPECT_TRUE(qobject_cast<QRadioButton *>(window.GetControl(kIdRadioMp3))->isChecked());
    qobject_cast<QRadioButton *>(window.GetControl(kIdRadioWav))->click();
    EXPECT_EQ(window.GetOutputType(), 1);
    EXPECT_FALSE(qobject_cast<QRadioButton *>(window.GetControl(kIdRadioMp3))->isChecked());
}

TEST(MainWindowShell, CancelledSecondBrowseKeepsTheFirstChoice) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    harness.shell.folderAnswers = {QStringLiteral("/srv/music"), std::nullopt};
    window.GetButton(kIdOutputPath)->click();
    EXPECT_EQ(window.GetOutputFolder(), QStringLiteral("/srv/music"));
    window.GetButton(kIdOutputPath)->click();
    EXPECT_EQ(window.GetOutputFolder(), QStringLiteral("/srv/music"));
    EXPECT_EQ(window.GetControlText(kIdOutputFolder), QStringLiteral("/srv/music"));
    ASSERT_EQ(harness.shell.prompts.size(), 2u);
    EXPECT_EQ(harness.shell.prompts[0],
              QStringLiteral("Please select a folder to hold the output MP3 files."));
}

TEST(MainWindowShell, BothWaysToCloseAskTheCloseCheckAndStayOpenWhenItRefuses) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    bool bConverting = true;
    int nChecks = 0;
    // The conversion's own check (and its message) is tested with real batches; here only the routing.
    window.SetCloseCheck([&] {
        ++nChecks;
        return !bConverting;
    });
    window.show();
    QSignalSpy finished(&window, &QDialog::finished);
    window.GetButton(kIdClose)->click();
    window.close();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(nChecks, 2);

    bConverting = false;
    window.GetButton(kIdClose)->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(finished.count(), 1);
}

TEST(MainWindowShell, EnterAndEscapeNeverClose) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.show();
    QSignalSpy finished(&window, &QDialog::finished);
    for (QWidget *pTarget : {static_cast<QWidget *>(&window), window.GetControl(kIdClipList)}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(pTarget, key);
            ProcessEvents();
        }
    }
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(finished.count(), 0);
}

TEST(MainWindowShell, HomeAreaHelpAndAboutReachTheShell) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.show();
    QWidget *pHome = window.GetControl(kIdHomePage);
    EXPECT_EQ(pHome->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(pHome, Qt::LeftButton, {}, QPoint(2, 2));
    window.GetButton(kIdHelp)->click();
    ASSERT_EQ(harness.shell.urls.size(), 2u);
    EXPECT_EQ(harness.shell.urls[0], QUrl(QStringLiteral("https://vellumar.example/klangor")));
    EXPECT_TRUE(harness.shell.urls[1].isLocalFile());
    EXPECT_TRUE(harness.shell.urls[1].toLocalFile().endsWith(QStringLiteral("guide.html")));

    QString strVersion;
    harness.boxes.fnOnDialog = [&](QDialog &dialog) {
        strVersion = dialog.findChild<QLabel *>(QStringLiteral("control1025"))->text();
        dialog.findChild<QPushButton *>(QStringLiteral("control1027"))->click();
    };
    window.GetButton(kIdAbout)->click();
    // The window menu's item shows the same box.
    const QList<QAction *> actions = window.GetSystemMenu()->actions();
    ASSERT_FALSE(actions.isEmpty());
    EXPECT_EQ(actions.back()->text(), QStringLiteral("&About Klangor..."));
    actions.back()->trigger();
    ASSERT_EQ(harness.boxes.dialogTitles.size(), 2u);
    EXPECT_EQ(harness.boxes.dialogTitles[0], QStringLiteral("About Klangor"));
    EXPECT_EQ(harness.boxes.dialogTitles[1], QStringLiteral("About Klangor"));
    EXPECT_EQ(strVersion, QStringLiteral("Vellumar Klangor v2.31"));
    ASSERT_EQ(harness.shell.urls.size(), 4u);
    EXPECT_EQ(harness.shell.urls[2], QUrl(QStringLiteral("https://vellumar.example/klangor")));
}

TEST(MainWindowShell, SizeMenuOffersTheFourSizes) {
    WindowHarness harness;
    QStringList texts;
    for (QAction *pAction : harness.Window().GetSizeMenu()->actions()) {
        texts.append(pAction->text());
    }
    EXPECT_EQ(texts, (QStringList{"100%", "200%", "50%", "Full Screen"}));
    EXPECT_EQ(harness.Window().GetSizeMenu()->title(), QStringLiteral("Size"));
}

TEST(MainWindowPreview, BothButtonsAndTheCloseAreaToggleThePreview) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.show();
    VideoPreviewWindow *pPreview = window.GetPreviewWindow();
    EXPECT_FALSE(pPreview->isVisible());

    window.GetButton(kIdOpenPreview)->click();
    EXPECT_TRUE(pPreview->isVisible());
    EXPECT_TRUE(window.IsPreviewShown());
    EXPECT_TRUE(window.GetButton(kIdOpenPreview)->isHidden());
    EXPECT_FALSE(window.GetButton(kIdClosePreview)->isHidden());

    QTest::mouseClick(pPreview->GetCloseArea(), Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_FALSE(pPreview->isVisible());
    EXPECT_FALSE(window.GetButton(kIdOpenPreview)->isHidden());
    EXPECT_TRUE(window.GetButton(kIdClosePreview)->isHidden());

    window.GetButton(kIdOpenPreview)->click();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QTest::keyClick(pPreview, key);
    }
    EXPECT_TRUE(pPreview->isVisible());
    window.GetButton(kIdClosePreview)->click();
    EXPECT_FALSE(pPreview->isVisible());
    EXPECT_FALSE(window.IsPreviewShown());
}

TEST(MainWindowPreview, PreviewWindowIsSkinnedAndItsAreasComeFromTheLayout) {
    WindowHarness harness;
    VideoPreviewWindow *pPreview = harness.Window().GetPreviewWindow();
    EXPECT_EQ(pPreview->windowTitle(), QStringLiteral("Video Preview"));
    EXPECT_EQ(pPreview->size(), QSize(TestSkin::kPreviewWidth, TestSkin::kPreviewHeight));
    EXPECT_EQ(pPreview->GetVideoArea()->geometry(), harness.Skin().Rect("VIDEO_PREVIERW_REGION"));
    EXPECT_EQ(pPreview->GetCloseArea()->geometry(), harness.Skin().Rect("CLOSE_REGIN"));
}

TEST(MainWindowPreview, PlacedOnceByTheOffsetAtTheFirstMoveOffTheScreenEdge) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    VideoPreviewWindow *pPreview = window.GetPreviewWindow();
    const QPoint ptBefore = pPreview->pos();
    window.move(0, 40);  // left 0: not yet
    window.show();
    ProcessEvents();
    EXPECT_EQ(pPreview->pos(), ptBefore);
    window.move(120, 90);
    ProcessEvents();
    const QRect rcOffset = harness.Skin().Rect("VIDEO_PREVIEW_OFFSET");
    EXPECT_EQ(pPreview->pos(), QPoint(120, 90) + rcOffset.topLeft());
    EXPECT_NE(pPreview->pos(), ptBefore);
    window.move(300, 200);
    ProcessEvents();
    EXPECT_EQ(pPreview->pos(), QPoint(120, 90) + rcOffset.topLeft());
}

}  // namespace

// --- Preview wiring: the dialog, drops, keys and the hidden sliders reach the preview commands ---

namespace {

// The names the dialog's file list shows in the folder, once it has read it.
QStringList ListedNames(QFileDialog &dialog, const QString &strFolder) {
    auto *pModel = dialog.findChild<QFileSystemModel *>();
    QStringList names;
    for (int iTry = 0; iTry < 100; ++iTry) {
        ProcessEvents(20);
        const QModelIndex folder = pModel->index(strFolder);
        names.clear();
        for (int i = 0; i < pModel->rowCount(folder); ++i) {
            names.append(pModel->index(i, 0, folder).data().toString());
        }
        if (!names.isEmpty() && iTry > 5) {
            break;
        }
    }
    names.sort();
    return names;
}

TEST(MainWindowPreviewWiring, OpenDialogShowsTheFiveLabelsAsWrittenAndFiltersByTheirRealPatterns) {
    TempDir folder;
    for (const char *pszName : {"talk.avi", "song.MP3", "tune.mid", "notes.txt", "README"}) {
        std::ofstream(folder.Path() / pszName) << "x";
    }
    const std::unique_ptr<QFileDialog> pDialog = CreateMediaFileDialog(nullptr);
    EXPECT_EQ(pDialog->windowTitle(), QStringLiteral("Open File"));
    EXPECT_EQ(pDialog->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(pDialog->nameFilters(),
              (QStringList{"Video Files (*.avi; *.rm; *.asf; *.rmvb*.qt; *.mov; *.mpg; *.mpeg; *.m1v)",
                           "Audio files (*.wav; *.mpa; *.mp2; *.mp3; *.au; *.aif; *.aiff; *.snd)",
                           "MIDI Files (*.mid, *.midi, *.rmi)", "Image Files (*.jpg, *.bmp, *.gif, *.tga)",
                           "All Files (*.*)"}));
    EXPECT_EQ(pDialog->selectedNameFilter(), pDialog->nameFilters().front());
    const QString strFolder = QString::fromStdString(folder.Path().string());
    pDialog->setDirectory(strFolder);
    pDialog->show();
    EXPECT_EQ(ListedNames(*pDialog, strFolder), (QStringList{"song.MP3", "talk.avi"}));

    // The user picks a filter from the list: its real patterns apply, not the ones in its label.
    auto *pCombo = pDialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(pCombo, nullptr);
    pCombo->setFocus();
    QTest::keyClick(pCombo, Qt::Key_Down);
    QTest::keyClick(pCombo, Qt::Key_Down);
    ASSERT_EQ(pCombo->currentIndex(), 2);
    EXPECT_EQ(ListedNames(*pDialog, strFolder), (QStringList{"tune.mid"}));
    QTest::keyClick(pCombo, Qt::Key_Down);
    QTest::keyClick(pCombo, Qt::Key_Down);
    EXPECT_EQ(ListedNames(*pDialog, strFolder),
              (QStringList{"README", "notes.txt", "song.MP3", "talk.avi", "tune.mid"}));
    pDialog->reject();
}

TEST(MainWindowPreviewWiring, DropOfTwoFileUrlsAddsBothAndLoadsTheFirst) {
    MediaFactory media;
    const std::string strFirst = media.MakeTone("one.wav", 1.0, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strSecond = media.MakeTone("two words.wav", 1.0, 8000, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness;
    MainWindow &window = harness.Window();
    QMimeData mime;
    mime.setData(QStringLiteral("text/uri-list"),
                 QUrl::fromLocalFile(QString::fromStdString(strFirst)).toEncoded() + "\r\n" +
                     QUrl::fromLocalFile(QString::fromStdString(strSecond)).toEncoded() + "\r\n");
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    EXPECT_TRUE(drop.isAccepted());

    QListWidget *pList = window.GetClipListBox();
    ASSERT_EQ(pList->count(), 2);
    EXPECT_EQ(pList->item(0)->text(), QStringLiteral("one.wav"));
    EXPECT_EQ(pList->item(1)->text(), QStringLiteral("two words.wav"));
    EXPECT_EQ(window.GetPlayer()->GetFileName(), strFirst);
    EXPECT_EQ(window.GetPlayer()->GetPlayState(), PlayState::Stopped);
}

// Keys go to the active window, as on a desktop.
void PressIn(QWidget *pWindow, QWidget *pTarget, Qt::Key key) {
    pWindow->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(pWindow));
    QTest::keyClick(pTarget, key);
}

TEST(MainWindowPreviewWiring, KeysReachThePreviewAndTheTooltipsNameThem) {
    MediaFactory media;
    const std::string strClip = media.MakeTone("keys.wav", 3.0, 8000, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.show();
    // Nothing loaded: Space does nothing while Play is disabled.
    PressIn(&window, &window, Qt::Key_Space);
    EXPECT_TRUE(window.GetButton(kIdPause)->isHidden());

    window.GetPreviewCommands().AddMediaFiles({strClip});
    ASSERT_TRUE(WaitForOpen(window));
    PressIn(&window, window.GetClipListBox(), Qt::Key_Space);
    EXPECT_TRUE(window.GetPreviewCommands().IsPreviewPlaying());
    ASSERT_TRUE(WaitForOpen(window));
    EXPECT_EQ(window.GetPlayer()->GetPlayState(), PlayState::Running);
    PressIn(window.GetPreviewWindow(), window.GetPreviewWindow(), Qt::Key_Space);
    EXPECT_FALSE(window.GetPreviewCommands().IsPreviewPlaying());
    EXPECT_EQ(window.GetPlayer()->GetPlayState(), PlayState::Paused);

    PressIn(&window, &window, Qt::Key_Right);
    PressIn(&window, &window, Qt::Key_I);
    // Paused a moment after the start, then one second on: the mark lies past the first half second.
    EXPECT_GE(window.GetPlayer()->GetClipInfo().nStart, 50u);
    window.GetPlayer()->DrainRecords();
    EXPECT_EQ(ReadFileBytes(strClip + ".clipinfo"),
              "Owner=Vellumar\r\nCutInfo=300," + std::to_string(window.GetPlayer()->GetClipInfo().nStart) +
                  ",300,0;");
    EXPECT_EQ(window.GetTimeline()->GetSelectionStart(),
              static_cast<int>(window.GetPlayer()->GetClipInfo().nStart));
    PressIn(&window, window.GetClipListBox(), Qt::Key_Delete);
    EXPECT_EQ(window.GetClipListBox()->count(), 0);

    // The keys are named in the guide and on the timeline, never in the design's own tooltip texts.
    EXPECT_EQ(window.GetButton(kIdPlay)->toolTip(), QStringLiteral("Play"));
    EXPECT_EQ(window.GetButton(kIdPause)->toolTip(), QStringLiteral("Pause"));
    EXPECT_EQ(window.GetButton(kIdSetStart)->toolTip(), QStringLiteral("Set Starting Point"));
    EXPECT_EQ(window.GetButton(kIdSetEnd)->toolTip(), QStringLiteral("Set Ending Point"));
    EXPECT_EQ(window.GetButton(kIdRemove)->toolTip(), QStringLiteral("Remove Media Files"));
    EXPECT_TRUE(window.GetTimeline()->toolTip().contains(QStringLiteral("Home")));
}

TEST(MainWindowPreviewWiring, TheFocusedListAndFolderBoxKeepTheirOwnKeys) {
    MediaFactory media;
    const std::string strFirst = media.MakeTone("first.wav", 3.0, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strSecond = media.MakeTone("second.wav", 3.0, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strThird = media.MakeTone("third.wav", 3.0, 8000, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.show();
    window.GetPreviewCommands().AddMediaFiles({strFirst, strSecond, strThird});
    ASSERT_TRUE(WaitForOpen(window));
    QListWidget *pList = window.GetClipListBox();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    pList->setFocus();
    ASSERT_TRUE(pList->hasFocus());
    // Stopped at the first clip's start: End in the list moves to the last entry, not the selection end.
    const long lBefore = window.GetTimeline()->value();
    QTest::keyClick(pList, Qt::Key_End);
    EXPECT_EQ(pList->currentRow(), 2);
    QTest::keyClick(pList, Qt::Key_Up);
    EXPECT_EQ(pList->currentRow(), 1);
    QTest::keyClick(pList, Qt::Key_Home);
    EXPECT_EQ(pList->currentRow(), 0);
    QTest::keyClick(pList, Qt::Key_Down);
    EXPECT_EQ(pList->currentRow(), 1);
    EXPECT_EQ(window.GetTimeline()->value(), lBefore);

    // In the output folder box every key is the box's: End moves its caret, I and O mark nothing.
    auto *pFolder = qobject_cast<QLineEdit *>(window.GetControl(kIdOutputFolder));
    ASSERT_NE(pFolder, nullptr);
    pFolder->setFocus();
    ASSERT_TRUE(pFolder->hasFocus());
    pFolder->setCursorPosition(0);
    const ClipInfo before = window.GetPlayer()->GetClipInfo();
    QTest::keyClick(pFolder, Qt::Key_End);
    EXPECT_EQ(pFolder->cursorPosition(), pFolder->text().size());
    QTest::keyClick(pFolder, Qt::Key_Home);
    EXPECT_EQ(pFolder->cursorPosition(), 0);
    QTest::keyClick(pFolder, Qt::Key_I);
    QTest::keyClick(pFolder, Qt::Key_O);
    EXPECT_EQ(window.GetPlayer()->GetClipInfo().nStart, before.nStart);
    EXPECT_EQ(window.GetPlayer()->GetClipInfo().nEnd, before.nEnd);
    EXPECT_EQ(window.GetClipListBox()->count(), 3);
    QTest::keyClick(pFolder, Qt::Key_Delete);
    EXPECT_EQ(window.GetClipListBox()->count(), 3);

    // Elsewhere the same keys are the transport's again.
    pList->setFocus();
    QTest::keyClick(pList, Qt::Key_Delete);
    EXPECT_EQ(window.GetClipListBox()->count(), 2);
}

TEST(MainWindowPreviewWiring, ListClicksButtonsAndTheTimerReachTheCommands) {
    MediaFactory media;
    const std::string strFirst = media.MakeTone("first.wav", 3.0, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strSecond = media.MakeTone("second.wav", 3.0, 8000, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness({}, {strFirst, strSecond});
    MainWindow &window = harness.Window();
    window.show();
    QListWidget *pList = window.GetClipListBox();

    // A click on an entry previews it, stopped.
    pList->setCurrentRow(1);
    ASSERT_TRUE(WaitForOpen(window));
    EXPECT_EQ(window.GetPlayer()->GetFileName(), strSecond);
    EXPECT_EQ(window.GetPlayer()->GetPlayState(), PlayState::Stopped);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vellumar Klangor - v2.31 [%1]").arg(strSecond.c_str()));

    window.GetButton(kIdPlay)->click();
    ASSERT_TRUE(WaitForOpen(window));
    EXPECT_EQ(window.GetPlayer()->GetPlayState(), PlayState::Running);
    EXPECT_FALSE(window.GetButton(kIdPause)->isHidden());
    window.GetButton(kIdStop)->click();
    EXPECT_EQ(window.GetPlayer()->GetPlayState(), PlayState::Stopped);
    EXPECT_FALSE(window.GetButton(kIdPlay)->isHidden());

    // The set-start button takes the seek bar's thumb and marks the timeline.
    window.GetTimeline()->setValue(120);
    window.GetButton(kIdSetStart)->click();
    EXPECT_EQ(window.GetTimeline()->GetSelectionStart(), 120);
    EXPECT_EQ(window.GetControlText(kIdSelectionTime),
              QStringLiteral("Selection: 00:00:01.20 -- 00:00:03.00"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return ReadFileBytes(strSecond + ".clipinfo") == "Owner=Vellumar\r\nCutInfo=300,120,300,0;"; },
        5000));

    // The timer writes the current time.
    ProcessEvents(250);
    EXPECT_TRUE(window.GetControlText(kIdCurrentTime).startsWith(QStringLiteral("Current: 00:00:0")));

    window.GetButton(kIdMoveUp)->click();
    EXPECT_EQ(pList->item(0)->text(), QStringLiteral("second.wav"));
    window.GetButton(kIdRemove)->click();
    ASSERT_EQ(pList->count(), 1);
    EXPECT_EQ(pList->item(0)->text(), QStringLiteral("first.wav"));
    EXPECT_TRUE(window.IsClipLoaded()) << "a removed clip stays loaded";
    EXPECT_TRUE(harness.boxes.boxes.empty());
}

TEST(MainWindowPreviewWiring, HiddenSlidersKeepTheirRangesAndActions) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    auto *pVolume = qobject_cast<QSlider *>(window.GetControl(kIdVolumeSlider));
    auto *pRate = qobject_cast<QSlider *>(window.GetControl(kIdRateSlider));
    EXPECT_EQ(pVolume->minimum(), -10000);
    EXPECT_EQ(pVolume->maximum(), 0);
    EXPECT_EQ(pRate->minimum(), 25);
    EXPECT_EQ(pRate->maximum(), 200);
    EXPECT_EQ(pRate->value(), 100);
    pVolume->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(window.GetPlayer()->GetStoredVolume(), pVolume->value());
    EXPECT_LT(pVolume->value(), 0);
    pRate->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(window.GetControlText(kIdRateText), QStringLiteral("0.25 X"));
}

}  // namespace

namespace {

// The test skin with one entry taken out, and optionally a text added at the very end.
void DropEntry(const std::filesystem::path &pathSkin, const std::string &strKey, const std::string &strTail) {
    std::ifstream in(pathSkin / "position.txt", std::ios::binary);
    std::string strLine;
    std::string strKept;
    while (std::getline(in, strLine)) {
        if (strLine.rfind(strKey + "=", 0) != 0) {
            strKept += strLine + "\n";
        }
    }
    in.close();
    std::ofstream(pathSkin / "position.txt", std::ios::binary) << strKept << strTail;
}

}  // namespace

// Every lookup counts, not only the controls': the preview window's rectangles, its offset and the
// three text colours close the window too when their entry is missing or its separator ends the file.
TEST(MainWindowSkin, AMissingOrCutOffPreviewOrTextEntryClosesTheWindowWithoutABox) {
    for (const char *pszKey : {"VIDEO_PREVIERW_REGION", "CLOSE_REGIN", "VIDEO_PREVIEW_OFFSET", "fore_color",
                               "back_color", "Static_Text_Fore_Color"}) {
        for (const std::string &strTail : {std::string(), std::string(pszKey) + "="}) {
            SCOPED_TRACE(std::string(pszKey) + (strTail.empty() ? " missing" : " cut off"));
            WindowHarness harness(
                [&](const std::filesystem::path &pathSkin) { DropEntry(pathSkin, pszKey, strTail); });
            MainWindow &window = harness.Window();
            QSignalSpy finished(&window, &QDialog::finished);
            window.show();
            EXPECT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 5000));
            EXPECT_TRUE(harness.boxes.boxes.empty());
        }
    }
    // The complete test skin stays open.
    WindowHarness harness;
    QSignalSpy finished(&harness.Window(), &QDialog::finished);
    harness.Window().show();
    EXPECT_FALSE(QTest::qWaitFor([&] { return finished.count() > 0; }, 300));
}

// The status texts draw on a cell of "back_color" behind their text; beside the text the skin shows.
TEST(MainWindowSkin, TextsStandOnACellOfTheBackColour) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QColor back(20, 30, 40);  // the test skin's "back_color"
    auto *pText = static_cast<SkinText *>(window.GetControl(kIdCurrentTime));
    EXPECT_EQ(pText->CellColour(), back);
    const QRect rcCell = pText->TextCell();
    ASSERT_FALSE(rcCell.isEmpty());
    ASSERT_LT(rcCell.right() + 20, pText->width()) << "the text is shorter than its control";
    const QImage image = window.grab().toImage();
    const QPoint ptCell = pText->mapTo(&window, rcCell.topLeft());
    EXPECT_EQ(image.pixelColor(ptCell), back);
    const QPoint ptBeside = pText->mapTo(&window, QPoint(rcCell.right() + 15, rcCell.center().y()));
    EXPECT_NE(image.pixelColor(ptBeside), back);
    // The list box's and the folder box's text cells take it too.
    EXPECT_TRUE(
        window.GetClipListBox()->styleSheet().contains(QStringLiteral("::item { background: #141e28")));
    EXPECT_TRUE(
        window.GetControl(kIdOutputFolder)->styleSheet().contains(QStringLiteral("background: #141e28")));
}

TEST(MainWindowPreview, ThePreviewWindowIsMovedInsideTheScreenBesideOrBelowTheMainWindow) {
    const QRect rcScreen(0, 0, 1280, 1024);
    const QRect rcMain(200, 100, 760, 480);
    // Fits: unchanged.
    EXPECT_EQ(KeepPreviewOnScreen(rcMain, QRect(100, 600, 384, 320), rcScreen), QRect(100, 600, 384, 320));
    // The shipped skin's offset of 770 to the right runs off a 1280-wide screen: to the left instead.
    const QRect rcMainRight(500, 100, 760, 480);
    EXPECT_EQ(KeepPreviewOnScreen(rcMainRight, QRect(1270, 100, 384, 320), rcScreen),
              QRect(116, 100, 384, 320));
    // No room on either side: below the main window.
    EXPECT_EQ(KeepPreviewOnScreen(rcMain, QRect(970, 100, 384, 320), rcScreen), QRect(200, 580, 384, 320));
    // No room anywhere beside it: pushed inside the area.
    const QRect rcSmall(0, 0, 800, 600);
    EXPECT_EQ(KeepPreviewOnScreen(QRect(0, 0, 790, 590), QRect(770, 0, 384, 320), rcSmall),
              QRect(416, 0, 384, 320));
    // The available area need not start at 0: past a panel on the left, the place below is taken.
    EXPECT_EQ(KeepPreviewOnScreen(rcMain, QRect(10, 100, 384, 320), QRect(60, 0, 1220, 1024)),
              QRect(200, 580, 384, 320));
}

// A drag sends a notice per pointer move: they collapse into one seek to the latest place.
TEST(MainWindowPreviewWiring, ABurstOfSeekNoticesBecomesOneSeekToTheLatestPosition) {
    MediaFactory media;
    const std::string strClip = media.MakeTone("seek.wav", 4.0, 8000, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.show();
    window.GetPreviewCommands().AddMediaFiles({strClip});
    ASSERT_TRUE(WaitForOpen(window));
    long lBefore = -1;
    window.GetPlayer()->GetCurrentPosition(lBefore);
    QElapsedTimer timer;
    timer.start();
    for (int nPosition = 10; nPosition <= 300; nPosition += 10) {
        window.OnSeekScroll(nPosition, false);
    }
    window.OnSeekScroll(250, true);
    long lNow = -1;
    window.GetPlayer()->GetCurrentPosition(lNow);
    EXPECT_EQ(lNow, lBefore) << "no seek runs inside the burst";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            window.GetPlayer()->GetCurrentPosition(lNow);
            return lNow == 250;
        },
        5000))
        << lNow;
}

// The whole road of a completion with real playback: libmpv's wakeup posts to the window, the window
// drains the events, and the next clip is selected, without the test draining anything itself.
TEST(MainWindowPreviewWiring, CompletionNoticesCarryPreviewThroughEveryClipToTheLast) {
    MediaFactory media;
    std::vector<std::string> clips;
    for (const char *pszName : {"one.wav", "two.wav", "three.wav"}) {
        clips.push_back(media.MakeTone(pszName, 0.4, 8000, 1, {"-c:a", "pcm_s16le"}));
    }
    WindowHarness harness;
    MainWindow &window = harness.Window();
    QStringList titles;
    QObject::connect(&window, &QWidget::windowTitleChanged, [&](const QString &strTitle) {
        if (titles.isEmpty() || titles.back() != strTitle) {
            titles.append(strTitle);
        }
    });
    window.show();
    window.GetPreviewCommands().AddMediaFiles(clips);
    ASSERT_TRUE(WaitForOpen(window));
    window.GetButton(kIdPlay)->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return window.GetClipList().GetCurrentIndex() == 2 &&
                   !window.GetPreviewCommands().IsPreviewPlaying();
        },
        15000));
    EXPECT_EQ(window.GetPlayer()->GetPlayState(), PlayState::Stopped);
    EXPECT_EQ(window.GetClipListBox()->currentRow(), 2);
    // One title per clip loaded, in list order: the first by the add, the others by the notices.
    ASSERT_EQ(titles.size(), 3) << titles.join(" | ").toStdString();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(
            titles[i].endsWith(QStringLiteral("[") + QString::fromStdString(clips[i]) + QStringLiteral("]")))
            << i;
    }
}

}  // namespace klangor

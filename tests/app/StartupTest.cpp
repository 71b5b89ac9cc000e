// Start-up: the command line, finding the skin and the guide, and files named at start loaded into
// the preview with their video shown.
#include "app/AppTestSupport.h"
#include "app/AppIcon.h"
#include "app/ConverterApp.h"
#include "app/ProgramInfo.h"
#include "player/MediaPlayer.h"
#include "gui/VideoPreviewWindow.h"
#include "support/MediaFactory.h"

#include <QElapsedTimer>
#include <QCheckBox>
#include <QListWidget>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

namespace klangor {

namespace {

TEST(StartupCommandLine, EveryArgumentIsOnePathAndOptionsAddNothing) {
    const char *argv[] = {"klangor", "/media/a b.avi", "--verbose", "c.mp3", ""};
    EXPECT_EQ(CommandLineFiles(5, argv), (std::vector<std::string>{"/media/a b.avi", "c.mp3"}));
    EXPECT_TRUE(CommandLineFiles(1, argv).empty());
}

// Runs the body with the current folder changed, and changes it back.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::filesystem::path &path) : m_old(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~CurrentFolder() { std::filesystem::current_path(m_old); }

private:
    std::filesystem::path m_old;
};

TEST(StartupSkinFolder, CurrentFolderComesBeforeTheProgramsFolder) {
    TempDir work;
    TempDir program;
    std::filesystem::create_directories(work.Path() / "ui");
    std::filesystem::create_directories(program.Path() / "UI");
    std::ofstream(work.Path() / "ui" / "Position.TXT") << "x";
    std::ofstream(program.Path() / "UI" / "position.txt") << "x";
    {
        CurrentFolder cwd(work.Path());
        EXPECT_EQ(std::filesystem::canonical(LocateSkinFolder(program.Path())),
                  std::filesystem::canonical(work.Path() / "ui"));
    }
    TempDir empty;
    CurrentFolder cwd(empty.Path());
    EXPECT_EQ(std::filesystem::canonical(LocateSkinFolder(program.Path())),
              std::filesystem::canonical(program.Path() / "UI"));
}

// An installation as cmake --install or the package lays it out: PREFIX/bin and PREFIX/share/klangor.
struct Installation {
    explicit Installation(bool bWithData) {
        std::filesystem::create_directories(prefix.Path() / "bin");
        if (!bWithData) {
            return;
        }
        std::filesystem::create_directories(prefix.Path() / "share" / "klangor" / "UI");
        std::filesystem::create_directories(prefix.Path() / "share" / "klangor" / "help");
        std::ofstream(prefix.Path() / "share" / "klangor" / "UI" / "position.txt") << "x";
        std::ofstream(prefix.Path() / "share" / "klangor" / "help" / "klangor-help.html") << "<html>";
    }
    std::filesystem::path Bin() const { return prefix.Path() / "bin"; }
    TempDir prefix;
};

TEST(StartupSkinFolder, InstalledProgramFindsItsSkinAndGuideFromAnyFolder) {
    Installation installed(true);
    TempDir elsewhere;
    CurrentFolder cwd(elsewhere.Path());
    EXPECT_EQ(std::filesystem::canonical(LocateSkinFolder(installed.Bin())),
              std::filesystem::canonical(installed.prefix.Path() / "share" / "klangor" / "UI"));
    const std::optional<std::filesystem::path> pathHelp = LocateHelpFile(installed.Bin());
    ASSERT_TRUE(pathHelp.has_value());
    EXPECT_EQ(std::filesystem::canonical(*pathHelp),
              std::filesystem::canonical(installed.prefix.Path() / "share" / "klangor" / "help" /
                                         "klangor-help.html"));
}

TEST(StartupSkinFolder, InstallationWithoutDataNeverReachesForTheSourceTree) {
    // The build machine's source tree holds a skin and a guide; an installed program must not find them.
    Installation installed(false);
    TempDir elsewhere;
    CurrentFolder cwd(elsewhere.Path());
    EXPECT_EQ(LocateSkinFolder(installed.Bin()), std::filesystem::current_path() / "UI");
    EXPECT_FALSE(LocateHelpFile(installed.Bin()).has_value());
}

TEST(StartupSkinFolder, ProgramInTheBuildFolderFindsTheSkinAndGuideTheBuildLaysOut) {
    TempDir elsewhere;
    CurrentFolder cwd(elsewhere.Path());
    const std::filesystem::path pathBuildPrograms = std::filesystem::path(KLANGOR_BINARY_DIR) / "src";
    EXPECT_EQ(std::filesystem::canonical(LocateSkinFolder(pathBuildPrograms)),
              std::filesystem::canonical(std::filesystem::path(KLANGOR_SOURCE_DIR) / "UI"));
    const std::optional<std::filesystem::path> pathHelp = LocateHelpFile(pathBuildPrograms);
    ASSERT_TRUE(pathHelp.has_value());
    EXPECT_EQ(std::filesystem::canonical(*pathHelp),
              std::filesystem::canonical(std::filesystem::path(KLANGOR_SOURCE_DIR) / "src" / "app" / "help" /
                                         "klangor-help.html"));
}

TEST(StartupInfoOptions, HelpAndVersionAnswerWithoutAWindowAndEverythingElseStartsTheProgram) {
    std::string strArgs[] = {"klangor", "talk.avi", "--verbose"};
    char *argsFiles[] = {strArgs[0].data(), strArgs[1].data(), strArgs[2].data()};
    EXPECT_FALSE(AnswerInfoOption(3, argsFiles).has_value());

    std::string strVersion[] = {"klangor", "talk.avi", "--version"};
    char *argsVersion[] = {strVersion[0].data(), strVersion[1].data(), strVersion[2].data()};
    testing::internal::CaptureStdout();
    EXPECT_EQ(AnswerInfoOption(3, argsVersion), std::optional<int>(0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Vellumar Klangor v2.31\n");

    std::string strHelp[] = {"klangor", "--help"};
    char *argsHelp[] = {strHelp[0].data(), strHelp[1].data()};
    testing::internal::CaptureStdout();
    EXPECT_EQ(AnswerInfoOption(2, argsHelp), std::optional<int>(0));
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Usage: klangor [FILE...]\n", 0), 0u);
}

TEST(StartupIcon, WindowIconIsTheArtworkTheIconThemeGets) {
    const QImage icon = RenderAppIcon(64).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(icon.size(), QSize(64, 64));
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << "the corners lie outside the rounded tile";
    const QColor tile = icon.pixelColor(32, 6);
    EXPECT_GT(tile.blue(), tile.red() + 60) << "a blue tile";
    const QColor frame = icon.pixelColor(20, 27);
    EXPECT_GT(frame.lightness(), 230) << "the light film frame";
    const QColor wave = icon.pixelColor(50, 32);
    EXPECT_GT(wave.red(), 230);
    EXPECT_LT(wave.blue(), 100) << "the yellow sound wave";

    // The PNG the build renders for the theme shows the very same pixels.
    const QString strPng = QStringLiteral(KLANGOR_BINARY_DIR "/dist/icons/64x64/apps/%1.png").arg(kDesktopId);
    const QImage themed(strPng);
    ASSERT_FALSE(themed.isNull()) << strPng.toStdString();
    EXPECT_EQ(themed.convertToFormat(QImage::Format_ARGB32), icon);
}

// A playback engine that cannot start in this process.
class BrokenEngine : public IPlaybackEngine {
public:
    int Startup() override { return kPlaybackFailed; }
    std::unique_ptr<IPlaybackGraph> CreateGraph(VideoSurface &, int &iStatus) override {
        iStatus = kPlaybackFailed;
        return nullptr;
    }
};

TEST(StartupEngine, EngineThatCannotStartIsReportedAndEndsTheProgram) {
    WindowHarness harness({}, {}, [] { return std::make_unique<BrokenEngine>(); });
    EXPECT_FALSE(harness.Window().GetPlayer()->IsEngineStarted());
    ASSERT_FALSE(harness.boxes.boxes.empty());
    EXPECT_EQ(harness.boxes.boxes[0].strCaption, QStringLiteral("PlayWnd Sample"));
    EXPECT_EQ(harness.boxes.boxes[0].strText, QStringLiteral("CoInitialize Failed!"));
}

TEST(StartupFiles, FilesNamedAtStartAreListedAndTheFirstIsLoadedStoppedWithItsVideoShown) {
    MediaFactory media;
    const std::string strFirst = media.MakeTone("first clip.mkv", 2.0, 44100, 2, {"-c:a", "pcm_s16le"}, true);
    const std::string strSecond = media.MakeTone("second.wav", 1.0, 22050, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness({}, {strFirst, strSecond});
    MainWindow &window = harness.Window();
    window.show();

    QListWidget *pList = window.GetClipListBox();
    ASSERT_EQ(pList->count(), 2);
    EXPECT_EQ(pList->item(0)->text(), QStringLiteral("first clip.mkv"));
    EXPECT_EQ(pList->item(1)->text(), QStringLiteral("second.wav"));
    EXPECT_EQ(pList->currentRow(), 0);
    ASSERT_TRUE(WaitForOpen(window)) << (harness.boxes.boxes.empty()
                                             ? std::string()
                                             : harness.boxes.boxes[0].strText.toStdString());
    EXPECT_EQ(window.GetPlayer()->GetFileName(), strFirst);
    EXPECT_EQ(window.GetPlayer()->GetPlayState(), PlayState::Stopped);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vellumar Klangor - v2.31 [%1]").arg(strFirst.c_str()));
    EXPECT_EQ(window.GetTimeline()->maximum(), 200);
    EXPECT_FALSE(window.GetButton(kIdPlay)->isHidden());
    EXPECT_TRUE(window.GetButton(kIdPause)->isHidden());

    // Opening a clip shows the preview window, and its video area shows the clip's picture.
    EXPECT_TRUE(window.IsPreviewShown());
    VideoArea *pArea = window.GetPreviewWindow()->GetVideoArea();
    QElapsedTimer timer;
    timer.start();
    bool bPicture = false;
    while (!bPicture && timer.elapsed() < 10000) {
        ProcessEvents(50);
        const QImage image = pArea->grab().toImage();
        const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
        bPicture = centre != QColor(Qt::black);
    }
    EXPECT_TRUE(bPicture) << "the video area stayed black";

    // The Size menu: 200% doubles the preview and its video area, full screen takes the video out
    // and Esc brings it back with the player agreeing.
    VideoPreviewWindow *pPreview = window.GetPreviewWindow();
    const QSize areaSize = pArea->size();
    const QList<QAction *> sizes = window.GetSizeMenu()->actions();
    sizes[1]->trigger();
    EXPECT_EQ(pArea->size(), 2 * areaSize);
    EXPECT_EQ(pPreview->size(),
              2 * QSize(pPreview->Background().PixelWidth(), pPreview->Background().PixelHeight()));
    sizes[0]->trigger();
    EXPECT_EQ(pArea->size(), areaSize);
    sizes[3]->trigger();
    EXPECT_TRUE(window.GetPlayer()->IsFullScreen());
    EXPECT_TRUE(pArea->isFullScreen());
    QTest::keyClick(pArea, Qt::Key_Escape);
    ProcessEvents(50);
    EXPECT_FALSE(window.GetPlayer()->IsFullScreen());
    EXPECT_FALSE(pArea->isWindow());
    EXPECT_EQ(pArea->size(), areaSize);
}

TEST(StartupFiles, AudioOnlyFileIgnoresTheSizeMenuAndSettingsOpenOnTheOneRecord) {
    MediaFactory media;
    const std::string strAudio = media.MakeTone("speech.wav", 1.0, 22050, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness({}, {strAudio});
    MainWindow &window = harness.Window();
    ASSERT_TRUE(WaitForOpen(window));
    VideoPreviewWindow *pPreview = window.GetPreviewWindow();
    const QSize previewSize = pPreview->size();
    window.GetSizeMenu()->actions()[1]->trigger();
    window.GetSizeMenu()->actions()[3]->trigger();
    EXPECT_EQ(pPreview->size(), previewSize * 2);  // the window follows the menu; the video has none
    EXPECT_FALSE(window.GetPlayer()->IsFullScreen());
    EXPECT_FALSE(pPreview->GetVideoArea()->isWindow());

    // A dropped file joins the list without changing the loaded clip.
    const std::string strDropped = media.MakeTone("dropped.wav", 1.0, 22050, 1, {"-c:a", "pcm_s16le"});
    window.GetPreviewCommands().OnDropFiles({strDropped});
    ASSERT_EQ(window.GetClipListBox()->count(), 2);
    EXPECT_EQ(window.GetClipListBox()->item(1)->text(), QStringLiteral("dropped.wav"));
    EXPECT_EQ(window.GetPlayer()->GetFileName(), strAudio);
    EXPECT_EQ(window.GetClipListBox()->currentRow(), 0);

    // "Settings" edits the window's own record: a change made in the dialog is there afterwards.
    harness.boxes.fnOnDialog = [](QDialog &dialog) {
        auto *pCopyright = dialog.findChild<QCheckBox *>(QStringLiteral("copyrightCheck"));
        ASSERT_NE(pCopyright, nullptr);
        pCopyright->setChecked(true);
        dialog.accept();
    };
    EXPECT_EQ(window.GetSettings().m_bCopyright.load(), 0);
    window.GetButton(kIdSettings)->click();
    ASSERT_EQ(harness.boxes.dialogTitles.size(), 1u);
    EXPECT_EQ(window.GetSettings().m_bCopyright.load(), 1);
}

}  // namespace

}  // namespace klangor

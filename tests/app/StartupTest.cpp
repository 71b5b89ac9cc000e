// Start-up: the command line, finding the skin and the guide, and files named at start loaded into
// the preview with their video shown.
#include "app/AppTestSupport.h"
#include "app/ConverterApp.h"
#include "clips/MediaPlayer.h"
#include "skin/VideoPreviewWindow.h"
#include "support/MediaFactory.h"

#include <QElapsedTimer>
#include <QListWidget>

#include <gtest/gtest.h>

#include <fstream>

using namespace klangor;

namespace {

TEST(StartupCommandLine, EveryArgumentIsOnePathAndOptionsAddNothing) {
    EXPECT_EQ(CommandLineFiles({"/media/a b.avi", "--verbose", "c.mp3", ""}),
              (QStringList{"/media/a b.avi", "c.mp3"}));
    EXPECT_TRUE(CommandLineFiles({}).isEmpty());
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

TEST(StartupSkinFolder, BuildTreeFallsBackToTheSourceSkinAndTheGuide) {
    TempDir empty;
    CurrentFolder cwd(empty.Path());
    const std::filesystem::path pathSkin = LocateSkinFolder(empty.Path() / "bin");
    if (std::filesystem::exists(std::filesystem::path(KLANGOR_SOURCE_DIR) / "UI" / "position.txt"))
        EXPECT_EQ(pathSkin, std::filesystem::path(KLANGOR_SOURCE_DIR) / "UI");
    else
        EXPECT_EQ(pathSkin, empty.Path() / "UI");
    const std::optional<std::filesystem::path> pathHelp = LocateHelpFile(empty.Path() / "bin");
    ASSERT_TRUE(pathHelp.has_value());
    EXPECT_EQ(pathHelp->filename(), "klangor-help.html");
}

TEST(StartupFiles, FilesNamedAtStartAreListedAndTheFirstIsLoadedStoppedWithItsVideoShown) {
    MediaFactory media;
    const std::string strFirst = media.MakeTone("first clip.mkv", 2.0, 44100, 2, {"-c:a", "pcm_s16le"}, true);
    const std::string strSecond = media.MakeTone("second.wav", 1.0, 22050, 1, {"-c:a", "pcm_s16le"});
    WindowHarness harness({}, {QString::fromStdString(strFirst), QString::fromStdString(strSecond)});
    MainWindow &window = harness.Window();
    window.show();

    QListWidget *pList = window.GetClipListBox();
    ASSERT_EQ(pList->count(), 2);
    EXPECT_EQ(pList->item(0)->text(), QStringLiteral("first clip.mkv"));
    EXPECT_EQ(pList->item(1)->text(), QStringLiteral("second.wav"));
    EXPECT_EQ(pList->currentRow(), 0);
    ASSERT_TRUE(window.IsClipLoaded())
        << (harness.boxes.boxes.empty() ? std::string() : harness.boxes.boxes[0].strText.toStdString());
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
}

}  // namespace

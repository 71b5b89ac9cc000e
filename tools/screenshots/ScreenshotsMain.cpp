// Pictures of the main window, the video preview window, the settings dialog and the About box, each
// cut to its window shape, written as PNG files. With media files given, they are loaded first, so the
// pictures show a clip in the list and its video in the preview.
#include "app/AboutDialog.h"
#include "app/ConverterApp.h"
#include "app/MainWindow.h"
#include "app/MessageBoxes.h"
#include "gui/SettingsDialog.h"
#include "gui/VideoPreviewWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScreen>

#include <clocale>
#include <cstdio>

namespace klangor {

namespace {

// Nothing leaves the tool: boxes are printed, addresses ignored, dialogs not run.
class PrintingBoxes : public IMessageBoxes {
public:
    void ShowMessage(QWidget *, const QString &strCaption, const QString &strText, Icon) override {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(strCaption), qPrintable(strText));
    }
    bool AskYesNo(QWidget *pOwner, const QString &strCaption, const QString &strText, Icon icon) override {
        ShowMessage(pOwner, strCaption, strText, icon);
        return false;
    }
    int RunDialog(QDialog &) override { return QDialog::Rejected; }
};

class QuietShell : public IShellServices {
public:
    void OpenUrl(const QUrl &) override {}
    std::optional<QString> ChooseFolder(QWidget *, const QString &, const QString &) override {
        return std::nullopt;
    }
    QStringList ChooseMediaFiles(QWidget *) override { return {}; }
};

void Wait(int nMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// The widget as the screen shows it: outside its shape the picture is transparent.
bool Save(QWidget &widget, const QString &strPath) {
    QImage image = widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    if (!widget.mask().isEmpty()) {
        QImage shaped(image.size(), QImage::Format_ARGB32);
        shaped.setDevicePixelRatio(image.devicePixelRatio());
        shaped.fill(Qt::transparent);
        QPainter painter(&shaped);
        painter.setClipRegion(widget.mask());
        painter.drawImage(0, 0, image);
        painter.end();
        image = shaped;
    }
    const bool bSaved = image.save(strPath, "PNG");
    std::printf("%s %s\n", bSaved ? "wrote" : "FAILED", qPrintable(strPath));
    return bSaved;
}

}  // namespace

}  // namespace klangor

using namespace klangor;

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [MEDIA_FILE...]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const QString strOut = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(strOut);

    PrintingBoxes boxes;
    QuietShell shell;
    MainWindowEnvironment environment;
    const std::filesystem::path pathProgramDir(QCoreApplication::applicationDirPath().toStdString());
    environment.pathSkinFolder = LocateSkinFolder(pathProgramDir);
    environment.pathHelpFile = LocateHelpFile(pathProgramDir).value_or(std::filesystem::path());
    // Named, so a check can see which skin and guide a program in this place finds.
    std::printf("skin %s\nguide %s\n", environment.pathSkinFolder.c_str(), environment.pathHelpFile.c_str());
    // The output folder stands where the program's name would: the media files follow it.
    environment.commandLineFiles = CommandLineFiles(argc - 1, argv + 1);
    environment.pBoxes = &boxes;
    environment.pShell = &shell;

    MainWindow window(environment);
    window.InitDialog();
    window.move(40, 40);
    window.show();
    Wait(1500);
    bool bOk = Save(window, strOut + "/main-window.png");

    VideoPreviewWindow *pPreview = window.GetPreviewWindow();
    if (!window.IsPreviewShown()) {
        window.TogglePreviewWindow();
    }
    Wait(1000);
    bOk = Save(*pPreview, strOut + "/preview-window.png") && bOk;

    // On a real display (for instance under xvfb-run) the screen itself shows whether the window
    // system cut the windows to their shapes.
    if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
        const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
        const QString strScreen = strOut + "/screen.png";
        const bool bSaved = screen.save(strScreen, "PNG");
        std::printf("%s %s\n", bSaved ? "wrote" : "FAILED", qPrintable(strScreen));
        bOk = bSaved && bOk;
    }

    SettingsDialog settings(window.GetSettings(), &window);
    settings.show();
    Wait(200);
    bOk = Save(settings, strOut + "/settings-dialog.png") && bOk;
    settings.hide();

    AboutDialog about(shell, &window);
    about.show();
    Wait(200);
    bOk = Save(about, strOut + "/about-box.png") && bOk;
    about.hide();
    return bOk ? 0 : 1;
}

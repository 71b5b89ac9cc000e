#include "app/ConverterApp.h"

#include "app/AboutDialog.h"
#include "app/MainWindow.h"
#include "app/MessageBoxes.h"
#include "app/WindowHandover.h"
#include "player/MediaPlayer.h"
#include "skin/SkinFolder.h"
#include "skin/SkinKeys.h"

#include <QApplication>
#include <QDir>

#include <clocale>
#include <string_view>
#include <system_error>

namespace klangor {

std::vector<std::string> CommandLineFiles(int argc, const char *const *argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view strArgument(argv[i]);
        if (!strArgument.empty() && !strArgument.starts_with("--")) {
            files.emplace_back(strArgument);
        }
    }
    return files;
}

std::filesystem::path LocateSkinFolder(const std::filesystem::path &pathProgramDir) {
    if (std::optional<std::filesystem::path> pathFound = FindSkinFolder(pathProgramDir)) {
        return *pathFound;
    }
    std::error_code error;
    return std::filesystem::current_path(error) / "UI";
}

std::optional<std::filesystem::path> LocateHelpFile(const std::filesystem::path &pathProgramDir) {
    const char *pszName = "klangor-help.html";
    const std::filesystem::path candidates[] = {
        pathProgramDir / "help" / pszName,
        pathProgramDir / ".." / "share" / "klangor" / "help" / pszName,
    };
    for (const std::filesystem::path &pathCandidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(pathCandidate, error)) {
            return std::filesystem::weakly_canonical(pathCandidate, error);
        }
    }
    return std::nullopt;
}

std::unique_ptr<WindowHandoverListener> ListenForLaterStarts(MainWindow &window) {
    std::optional<std::string> strSocketPath = HandoverSocketPathFromEnvironment(true);
    if (!strSocketPath) {
        return nullptr;
    }
    return std::make_unique<WindowHandoverListener>(
        std::move(*strSocketPath),
        [&window](const std::vector<std::string> &paths) { window.AddHandedPaths(paths); });
}

int RunConverterApp(int argc, char **argv) {
    if (HandOverCommandLine(argc, argv)) {
        return 0;
    }
    // A 4K screen scales the whole skin by a whole factor, so the pictures stay crisp and the window
    // shape lines up with them.
    QApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Round);
    QApplication app(argc, argv);
    // The playback engine reads numbers in the C locale whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setWindowIcon(AppIcon());
    // Lets the desktop match the running window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(kDesktopId));

    const std::filesystem::path pathProgramDir =
        std::filesystem::path(QCoreApplication::applicationDirPath().toStdString());
    QtMessageBoxes boxes;
    QtShellServices shell;
    MainWindowEnvironment environment;
    environment.pathSkinFolder = LocateSkinFolder(pathProgramDir);
    environment.pathHelpFile = LocateHelpFile(pathProgramDir).value_or(std::filesystem::path());
    // Read from argv itself, which Qt has rid of its own options by now: QCoreApplication::arguments()
    // has decoded each one as UTF-8 and turned the bytes of a Latin-1 name into U+FFFD.
    environment.commandLineFiles = CommandLineFiles(argc, argv);
    environment.pBoxes = &boxes;
    environment.pShell = &shell;

    MainWindow window(environment);
    // The player has told the user already; without a playback engine there is no program.
    if (!window.GetPlayer()->IsEngineStarted()) {
        return 1;
    }
    QObject::connect(&window, &QDialog::finished, &app, &QCoreApplication::quit);
    window.InitDialog();
    window.show();
    const std::unique_ptr<WindowHandoverListener> pListener = ListenForLaterStarts(window);
    return QApplication::exec();
}

}  // namespace klangor

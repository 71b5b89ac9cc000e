// The main window's own commands: output folder, help, home page, About, minimise, close, the video
// size menu and the settings dialog.
#include "app/AboutDialog.h"
#include "app/MainWindow.h"
#include "app/MainWindowConvert.h"
#include "player/MediaPlayer.h"
#include "gui/SettingsDialog.h"
#include "skin/SkinKeys.h"
#include "gui/VideoPreviewWindow.h"

#include <QLineEdit>
#include <QUrl>

namespace klangor {

void MainWindow::OnOutputPath() {
    const std::optional<QString> strChosen = Shell().ChooseFolder(
        this, QStringLiteral("Please select a folder to hold the output MP3 files."), m_strOutputFolder);
    if (!strChosen) {
        return;
    }
    m_strOutputFolder = *strChosen;
    m_pOutputFolderEdit->setText(m_strOutputFolder);
}

void MainWindow::OnHelp() {
    // Nothing is reported when the guide is missing or no browser takes it.
    if (!m_environment.pathHelpFile.empty()) {
        Shell().OpenUrl(QUrl::fromLocalFile(QString::fromStdString(m_environment.pathHelpFile.string())));
    }
}

void MainWindow::OnHomePage() {
    Shell().OpenUrl(QUrl(QString::fromUtf8(kHomePageUrl)));
}

void MainWindow::OnAbout() {
    AboutDialog about(Shell(), this);
    Boxes().RunDialog(about);
}

void MainWindow::OnSettings() {
    // The dialog edits the one settings record in place; there is nothing to copy back. A running
    // batch's files that start from now on take what it left.
    SettingsDialog dialog(m_settings, this, &m_bOneFileAtATime, &m_loudness);
    Boxes().RunDialog(dialog);
    if (m_pConversion) {
        m_pConversion->OnSettingsChanged();
    }
}

void MainWindow::OnMinimize() {
    showMinimized();
}

void MainWindow::OnCloseButton() {
    close();
}

void MainWindow::OnVideoScale(double dScale) {
    if (!IsClipLoaded()) {
        return;
    }
    if (m_pPlayer->IsFullScreen()) {
        OnFullScreen();
    }
    m_pPlayer->SetPlayerWindow(dScale);
    // The whole preview window grows or shrinks with its skin, and the video is fitted to its new area.
    m_pPreview->SetVideoScale(dScale);
    m_pPlayer->SetVideoWindow(kPreviewVideoControlId);
}

void MainWindow::OnFullScreen() {
    if (!IsClipLoaded()) {
        return;
    }
    // The player keeps the full-screen state; the preview window follows it as soon as it changes.
    m_pPlayer->ToggleFullScreen();
    OnVideoChanged();
}

}  // namespace klangor

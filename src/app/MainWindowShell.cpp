// The main window's own commands: output folder, help, home page, About, minimise, close, the video
// size menu and the settings dialog.
#include "app/AboutDialog.h"
#include "app/MainWindow.h"
#include "app/MainWindowConvert.h"
#include "player/MediaPlayer.h"
#include "gui/SettingsDialog.h"
#include "skin/SkinKeys.h"
#include "gui/VideoPreviewWindow.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QRadioButton>
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
    SettingsDialog dialog(m_settings, this, &m_bOneFileAtATime, &m_loudness, &m_iOutputType, &m_split,
                          &m_bMirrorFolders);
    Boxes().RunDialog(dialog);
    ShowOutputType();
    RequestSplitPoints();
    if (m_pConversion) {
        m_pConversion->OnSettingsChanged();
    }
}

void MainWindow::ShowOutputType() {
    const OutputFormat format = OutputFormatOf(m_iOutputType);
    if (format == OutputFormat::Mp3 || format == OutputFormat::Wav) {
        (format == OutputFormat::Mp3 ? m_pRadioMp3 : m_pRadioWav)->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last checked button, so exclusivity is lifted for the
    // moment of clearing. Unchecking leaves the output type alone: only a check sets it.
    QButtonGroup *pGroup = m_pRadioMp3->group();
    pGroup->setExclusive(false);
    m_pRadioMp3->setChecked(false);
    m_pRadioWav->setChecked(false);
    pGroup->setExclusive(true);
    // A running batch's progress keeps the status line; the buttons already show that neither is chosen.
    if (!IsConverting()) {
        m_strFormatNotice =
            QStringLiteral("Output format: %1").arg(QString::fromLatin1(InfoOf(format).szLabel));
        ShowStatusLine(m_strFormatNotice);
    }
}

void MainWindow::ForgetFormatNotice() {
    if (!m_strFormatNotice.isEmpty() && GetControlText(kIdStatus) == m_strFormatNotice) {
        ShowStatusLine(QString());
    }
    m_strFormatNotice.clear();
}

void MainWindow::ShowStatusLine(const QString &strText) {
    SetControlText(kIdStatus, strText);
    // The status text has no background of its own: the skin behind it is repainted with it.
    if (QWidget *pStatus = GetControl(kIdStatus)) {
        update(pStatus->geometry());
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

#include "app/MessageBoxes.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

namespace klangor {

namespace {

QMessageBox::Icon ToQtIcon(IMessageBoxes::Icon icon) {
    switch (icon) {
        case IMessageBoxes::Icon::Information:
            return QMessageBox::Information;
        case IMessageBoxes::Icon::Exclamation:
            return QMessageBox::Warning;
        case IMessageBoxes::Icon::Error:
            return QMessageBox::Critical;
        case IMessageBoxes::Icon::Question:
            return QMessageBox::Question;
        case IMessageBoxes::Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void QtMessageBoxes::ShowMessage(QWidget *pOwner, const QString &strCaption, const QString &strText,
                                 Icon icon) {
    QMessageBox box(ToQtIcon(icon), strCaption, strText, QMessageBox::Ok, pOwner);
    box.exec();
}

bool QtMessageBoxes::AskYesNo(QWidget *pOwner, const QString &strCaption, const QString &strText, Icon icon) {
    QMessageBox box(ToQtIcon(icon), strCaption, strText, QMessageBox::Yes | QMessageBox::No, pOwner);
    return box.exec() == QMessageBox::Yes;
}

int QtMessageBoxes::RunDialog(QDialog &dialog) {
    return dialog.exec();
}

void QtShellServices::OpenUrl(const QUrl &url) {
    // Nothing is reported when no program takes the address: the user sees that nothing opened.
    QDesktopServices::openUrl(url);
}

std::optional<QString> QtShellServices::ChooseFolder(QWidget *pOwner, const QString &strPrompt,
                                                     const QString &strStartFolder) {
    const QString strFolder = QFileDialog::getExistingDirectory(
        pOwner, strPrompt, strStartFolder, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (strFolder.isEmpty())
        return std::nullopt;
    return strFolder;
}

}  // namespace klangor

namespace klangor {

QStringList QtShellServices::ChooseMediaFiles(QWidget *pOwner) {
    // Qt reads a filter's patterns from the parentheses of its label, separated by blanks.
    const QStringList filters = {
        QStringLiteral("Video Files (*.avi *.rm *.asf *.rmvb *.qt *.mov *.mpg *.mpeg *.m1v *.mp3 *.wav)"),
        QStringLiteral("Audio files (*.wav *.mpa *.mp2 *.mp3 *.au *.aif *.aiff *.snd)"),
        QStringLiteral("MIDI Files (*.mid *.midi *.rmi)"),
        QStringLiteral("Image Files (*.jpg *.bmp *.gif *.tga)"),
        QStringLiteral("All Files (*)"),
    };
    QFileDialog dialog(pOwner, QStringLiteral("Open File"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.front());
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

}  // namespace klangor

#include "app/MessageBoxes.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileSystemModel>
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
    if (strFolder.isEmpty()) {
        return std::nullopt;
    }
    return strFolder;
}

}  // namespace klangor

namespace klangor {

const std::vector<MediaFileFilter> &MediaFileFilters() {
    // "All Files" stands for every name: here a name need not have an extension at all.
    static const std::vector<MediaFileFilter> filters = {
        {QStringLiteral("Video Files (*.avi; *.rm; *.asf; *.rmvb*.qt; *.mov; *.mpg; *.mpeg; *.m1v)"),
         {"*.avi", "*.rm", "*.asf", "*.rmvb", "*.qt", "*.mov", "*.mpg", "*.mpeg", "*.m1v", "*.mp3", "*.wav"}},
        {QStringLiteral("Audio files (*.wav; *.mpa; *.mp2; *.mp3; *.au; *.aif; *.aiff; *.snd)"),
         {"*.wav", "*.mpa", "*.mp2", "*.mp3", "*.au", "*.aif", "*.aiff", "*.snd"}},
        {QStringLiteral("MIDI Files (*.mid, *.midi, *.rmi)"), {"*.mid", "*.midi", "*.rmi"}},
        {QStringLiteral("Image Files (*.jpg, *.bmp, *.gif, *.tga)"), {"*.jpg", "*.bmp", "*.gif", "*.tga"}},
        {QStringLiteral("All Files (*.*)"), {"*"}},
    };
    return filters;
}

std::unique_ptr<QFileDialog> CreateMediaFileDialog(QWidget *pOwner) {
    auto pDialog = std::make_unique<QFileDialog>(pOwner, QStringLiteral("Open File"));
    // Qt's own dialog, whose file list we can reach: the labels are shown as they are, and the
    // patterns Qt would read out of them ("*.avi;", "*.rmvb*.qt;") are replaced by the real ones.
    pDialog->setOption(QFileDialog::DontUseNativeDialog);
    pDialog->setFileMode(QFileDialog::ExistingFiles);
    QStringList labels;
    for (const MediaFileFilter &filter : MediaFileFilters()) {
        labels.append(filter.strLabel);
    }
    pDialog->setNameFilters(labels);
    auto *pModel = pDialog->findChild<QFileSystemModel *>();
    auto applyPatterns = [pModel](const QString &strLabel) {
        for (const MediaFileFilter &filter : MediaFileFilters()) {
            if (pModel != nullptr && filter.strLabel == strLabel) {
                pModel->setNameFilters(filter.patterns);
            }
        }
    };
    // The dialog applies its parsed patterns first and then reports the choice, so ours win.
    QObject::connect(pDialog.get(), &QFileDialog::filterSelected, pDialog.get(), applyPatterns);
    pDialog->selectNameFilter(labels.front());
    applyPatterns(labels.front());
    return pDialog;
}

QStringList QtShellServices::ChooseMediaFiles(QWidget *pOwner) {
    const std::unique_ptr<QFileDialog> pDialog = CreateMediaFileDialog(pOwner);
    if (pDialog->exec() != QDialog::Accepted) {
        return {};
    }
    return pDialog->selectedFiles();
}

}  // namespace klangor

#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

class QDialog;
class QFileDialog;
class QWidget;

namespace klangor {

// Every message box and modal dialog the desktop program shows goes through here, so that tests answer the
// boxes instead of blocking on them. Window thread only.
class IMessageBoxes {
public:
    enum class Icon { None, Information, Exclamation, Error, Question };

    virtual ~IMessageBoxes() = default;
    // A box with one OK button.
    virtual void ShowMessage(QWidget *pOwner, const QString &strCaption, const QString &strText,
                             Icon icon) = 0;
    // A box with Yes and No; true for Yes.
    virtual bool AskYesNo(QWidget *pOwner, const QString &strCaption, const QString &strText, Icon icon) = 0;
    // Runs a modal dialog (About, Settings) to its end and returns its result code.
    virtual int RunDialog(QDialog &dialog) = 0;
};

// The desktop's own services the window hands work to: opening an address or file in its default
// program, and the folder chooser. Tests stand in for them so nothing leaves the test.
class IShellServices {
public:
    virtual ~IShellServices() = default;
    virtual void OpenUrl(const QUrl &url) = 0;
    // The chosen folder, or nothing when the user cancels.
    virtual std::optional<QString> ChooseFolder(QWidget *pOwner, const QString &strPrompt,
                                                const QString &strStartFolder) = 0;
    // The multi-select "Open File" dialog for media files; empty when the user cancels.
    virtual QStringList ChooseMediaFiles(QWidget *pOwner) = 0;
};

// The real thing: QMessageBox, QDesktopServices and QFileDialog.
class QtMessageBoxes : public IMessageBoxes {
public:
    void ShowMessage(QWidget *pOwner, const QString &strCaption, const QString &strText, Icon icon) override;
    bool AskYesNo(QWidget *pOwner, const QString &strCaption, const QString &strText, Icon icon) override;
    int RunDialog(QDialog &dialog) override;
};

// One filter of the "Open File" dialog: the label the user reads and the patterns it stands for. The
// labels are the design's own, and some do not list their patterns the way the dialog would parse them.
struct MediaFileFilter {
    QString strLabel;
    QStringList patterns;
};
const std::vector<MediaFileFilter> &MediaFileFilters();

// The multi-select "Open File" dialog, ready to run, with the first filter chosen.
std::unique_ptr<QFileDialog> CreateMediaFileDialog(QWidget *pOwner);

class QtShellServices : public IShellServices {
public:
    void OpenUrl(const QUrl &url) override;
    std::optional<QString> ChooseFolder(QWidget *pOwner, const QString &strPrompt,
                                        const QString &strStartFolder) override;
    QStringList ChooseMediaFiles(QWidget *pOwner) override;
};

}  // namespace klangor

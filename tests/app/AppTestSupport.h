#pragma once

#include "app/MainWindow.h"
#include "app/MessageBoxes.h"
#include "app/TestSkin.h"
#include "player/PreviewCommands.h"
#include "support/TempDir.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace klangor {

// Message boxes answered by the test: every box is recorded, questions get the next prepared answer,
// and modal dialogs are looked at (by fnOnDialog) and closed instead of run.
class RecordingBoxes : public klangor::IMessageBoxes {
public:
    struct Box {
        QString strCaption;
        QString strText;
        Icon icon;
    };
    void ShowMessage(QWidget *, const QString &strCaption, const QString &strText, Icon icon) override;
    bool AskYesNo(QWidget *, const QString &strCaption, const QString &strText, Icon icon) override;
    int RunDialog(QDialog &dialog) override;

    std::vector<Box> boxes;
    std::deque<bool> answers;
    std::vector<QString> dialogTitles;
    std::function<void(QDialog &)> fnOnDialog;
};

// The desktop's services stood in for: addresses are recorded, folder and file choices prepared.
class RecordingShell : public klangor::IShellServices {
public:
    void OpenUrl(const QUrl &url) override { urls.push_back(url); }
    std::optional<QString> ChooseFolder(QWidget *, const QString &strPrompt, const QString &) override;
    QStringList ChooseMediaFiles(QWidget *) override;

    std::vector<QUrl> urls;
    std::vector<QString> prompts;
    std::deque<std::optional<QString>> folderAnswers;
    std::deque<QStringList> fileAnswers;
};

// A main window on a fresh test skin, with $HOME pointed at a temporary folder.
class WindowHarness {
public:
    // fnPrepare may change the skin folder before the window is built.
    explicit WindowHarness(const std::function<void(const std::filesystem::path &)> &fnPrepare = {},
                           std::vector<std::string> files = {},
                           std::function<std::unique_ptr<IPlaybackEngine>()> fnCreateEngine = {},
                           klangor::IMessageBoxes *pRealBoxes = nullptr);
    ~WindowHarness();

    klangor::MainWindow &Window() { return *m_pWindow; }
    const TestSkin &Skin() const { return *m_pSkin; }
    std::filesystem::path Home() const { return m_home.Path(); }

    RecordingBoxes boxes;
    RecordingShell shell;

private:
    TempDir m_home;
    TempDir m_skinDir;
    QByteArray m_oldHome;
    std::unique_ptr<TestSkin> m_pSkin;
    std::unique_ptr<klangor::MainWindow> m_pWindow;
};

// Runs the window's loop until the clip asked for has opened (true) or failed to open.
bool WaitForOpen(klangor::MainWindow &window, int nMs = 10000);

// Lets queued events (posted closes, queued calls) run.
void ProcessEvents(int nMs = 0);

}  // namespace klangor

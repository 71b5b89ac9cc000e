#include "app/AppTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include "player/MediaPlayer.h"

#include <clocale>

#include <gtest/gtest.h>

namespace klangor {

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        m_pApp = std::make_unique<QApplication>(m_argc, m_argv);
        std::setlocale(LC_NUMERIC, "C");
    }
    void TearDown() override { m_pApp.reset(); }

private:
    int m_argc = 1;
    char m_szName[32] = "klangor_app_tests";
    char *m_argv[2] = {m_szName, nullptr};
    std::unique_ptr<QApplication> m_pApp;
};

[[maybe_unused]] ::testing::Environment *const g_pQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

void RecordingBoxes::ShowMessage(QWidget *, const QString &strCaption, const QString &strText, Icon icon) {
    boxes.push_back(Box{strCaption, strText, icon});
}

bool RecordingBoxes::AskYesNo(QWidget *, const QString &strCaption, const QString &strText, Icon icon) {
    boxes.push_back(Box{strCaption, strText, icon});
    if (answers.empty()) {
        return false;
    }
    const bool bAnswer = answers.front();
    answers.pop_front();
    return bAnswer;
}

int RecordingBoxes::RunDialog(QDialog &dialog) {
    dialogTitles.push_back(dialog.windowTitle());
    if (fnOnDialog) {
        fnOnDialog(dialog);
    }
    return QDialog::Rejected;
}

std::optional<QString> RecordingShell::ChooseFolder(QWidget *, const QString &strPrompt, const QString &) {
    prompts.push_back(strPrompt);
    if (folderAnswers.empty()) {
        return std::nullopt;
    }
    const bool bChosen = folderAnswers.front().has_value();
    const QString strFolder = folderAnswers.front().value_or(QString());
    folderAnswers.pop_front();
    if (!bChosen) {
        return std::nullopt;
    }
    return strFolder;
}

QStringList RecordingShell::ChooseMediaFiles(QWidget *) {
    if (fileAnswers.empty()) {
        return {};
    }
    QStringList answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

WindowHarness::WindowHarness(const std::function<void(const std::filesystem::path &)> &fnPrepare,
                             std::vector<std::string> files,
                             std::function<std::unique_ptr<IPlaybackEngine>()> fnCreateEngine,
                             klangor::IMessageBoxes *pRealBoxes)
    : m_oldHome(qgetenv("HOME")) {
    qputenv("HOME", QByteArray::fromStdString(m_home.Path().string()));
    m_pSkin = std::make_unique<TestSkin>(m_skinDir.Path());
    if (fnPrepare) {
        fnPrepare(m_skinDir.Path());
    }
    klangor::MainWindowEnvironment environment;
    environment.pathSkinFolder = m_skinDir.Path();
    environment.pathHelpFile = m_skinDir.Path() / "guide.html";
    environment.commandLineFiles = std::move(files);
    // The display tests show the real boxes and dialogs, and answer them with real keys.
    environment.pBoxes = pRealBoxes != nullptr ? pRealBoxes : &boxes;
    environment.pShell = &shell;
    environment.fnCreateEngine = std::move(fnCreateEngine);
    m_pWindow = std::make_unique<klangor::MainWindow>(environment);
    m_pWindow->InitDialog();
}

WindowHarness::~WindowHarness() {
    m_pWindow.reset();
    qputenv("HOME", m_oldHome);
}

bool WaitForOpen(klangor::MainWindow &window, int nMs) {
    return QTest::qWaitFor([&] { return !window.GetPlayer()->IsOpening(); }, nMs) && window.IsClipLoaded();
}

void ProcessEvents(int nMs) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    } while (timer.elapsed() < nMs);
}

}  // namespace klangor

// The main window's conversion batch, timed: the files are given as on the program's command line, the
// output folder is chosen, and once the window has settled "Start to Convert" is pressed. Prints the
// seconds from the press until every file had ended and until the completion question was asked, which
// is answered No. Boxes are printed, nothing is opened. With KLANGOR_OPEN_CLIPS=1 the next entry of the
// clip list is chosen every 250 ms while the batch runs, as a user previewing meanwhile would. Also
// prints the worst lateness of a 5 ms tick on the window's thread during the batch: how long the window
// could not answer.
#include "app/ConverterApp.h"
#include "app/MainWindow.h"
#include "app/MainWindowConvert.h"
#include "app/MessageBoxes.h"

#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <functional>

namespace klangor {

namespace {

class TimedBoxes : public IMessageBoxes {
public:
    std::function<void()> fnOnQuestion;
    bool m_bFailureShown = false;

    void ShowMessage(QWidget *, const QString &strCaption, const QString &strText, Icon) override {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(strCaption), qPrintable(strText));
        m_bFailureShown = true;
    }
    bool AskYesNo(QWidget *, const QString &, const QString &, Icon) override {
        if (fnOnQuestion) {
            fnOnQuestion();
        }
        return false;
    }
    int RunDialog(QDialog &) override { return QDialog::Rejected; }
};

class FolderShell : public IShellServices {
public:
    explicit FolderShell(QString strFolder) : m_strFolder(std::move(strFolder)) {}
    void OpenUrl(const QUrl &) override {}
    std::optional<QString> ChooseFolder(QWidget *, const QString &, const QString &) override {
        return m_strFolder;
    }
    QStringList ChooseMediaFiles(QWidget *) override { return {}; }

private:
    QString m_strFolder;
};

}  // namespace

}  // namespace klangor

using namespace klangor;

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR MEDIA_FILE...\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    TimedBoxes boxes;
    FolderShell shell(QString::fromLocal8Bit(argv[1]));
    MainWindowEnvironment environment;
    const std::filesystem::path pathProgramDir(QCoreApplication::applicationDirPath().toStdString());
    environment.pathSkinFolder = LocateSkinFolder(pathProgramDir);
    // The output folder stands where the program's name would: the media files follow it.
    environment.commandLineFiles = CommandLineFiles(argc - 1, argv + 1);
    environment.pBoxes = &boxes;
    environment.pShell = &shell;

    MainWindow window(environment);
    window.InitDialog();
    window.OnOutputPath();
    // As a user would: the first clip loaded and its summary drawn before Start is pressed.
    window.GetTimeline()->Waveform().WaitUntilSettled(std::chrono::seconds(60));
    QCoreApplication::processEvents();

    QElapsedTimer timer;
    double dLastFile = -1.0;
    double dQuestion = -1.0;
    const auto noteLastFile = [&] {
        const auto &jobs = window.GetConversion().GetBatch().GetJobs();
        const bool bAllEnded = std::all_of(jobs.begin(), jobs.end(), [](const auto &pJob) {
            return pJob->GetState() == ConversionJob::State::Ended;
        });
        if (bAllEnded && dLastFile < 0) {
            dLastFile = timer.nsecsElapsed() / 1e9;
        }
    };
    window.GetConversion().SetNoticeObserver(noteLastFile);
    boxes.fnOnQuestion = [&] {
        noteLastFile();
        dQuestion = timer.nsecsElapsed() / 1e9;
    };
    // Lateness of a precise 5 ms tick: each tick beyond its due time is time the window sat unanswering.
    QElapsedTimer tickClock;
    qint64 llLastTick = 0;
    double dWorstStallMs = 0.0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 llNow = tickClock.nsecsElapsed();
        dWorstStallMs = std::max(dWorstStallMs, (llNow - llLastTick) / 1e6 - 5.0);
        llLastTick = llNow;
    });
    QTimer chooser;
    if (qEnvironmentVariableIntValue("KLANGOR_OPEN_CLIPS") == 1) {
        QListWidget *pList = window.GetClipListBox();
        QObject::connect(&chooser, &QTimer::timeout, [pList] {
            pList->setCurrentRow((pList->currentRow() + 1) % std::max(1, pList->count()));
        });
        chooser.start(250);
    }
    timer.start();
    tickClock.start();
    ticker.start(5);
    window.GetButton(kIdStartConvert)->click();
    while (window.IsConverting()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    ticker.stop();
    chooser.stop();
    window.GetConversion().SetNoticeObserver({});

    std::printf("files %d last-file %.3f question %.3f worst-stall-ms %.1f\n",
                static_cast<int>(window.GetConversion().GetBatch().GetJobs().size()), dLastFile, dQuestion,
                dWorstStallMs);
    return boxes.m_bFailureShown || dQuestion < 0 ? 1 : 0;
}

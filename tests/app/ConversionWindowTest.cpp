// Conversion from the main window: Start/Stop, the progress and the ends of the writer's workers, the
// completion question, failures named after the batch, the close refusal, and destruction during a batch.
#include "app/AppTestSupport.h"
#include "app/ConverterApp.h"
#include "app/MainWindowConvert.h"
#include "player/MediaPlayer.h"
#include "player/PreviewCommands.h"
#include "convert/ScriptedDecoder.h"
#include "support/MediaFactory.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QDropEvent>
#include <QEventLoop>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>

namespace klangor {

namespace {

constexpr const char *kQuestion =
    "Conversion done. Do you want to open the output folder to check the result MP3/WAV file now?";

// Follows a batch on the window thread: each status text shown, and the bar with it.
class BatchWatcher {
public:
    explicit BatchWatcher(MainWindow &window) : m_window(window) {
        m_timeout.setSingleShot(true);
        QObject::connect(&m_timeout, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        window.GetConversion().SetNoticeObserver([this] {
            const QString strText = m_window.GetControlText(kIdStatus);
            if (texts.empty() || texts.back() != strText) {
                texts.push_back(strText);
                positions.push_back(qobject_cast<QProgressBar *>(m_window.GetControl(kIdProgress))->value());
            }
            if (fnOnNotice) {
                fnOnNotice();
            }
            if (!m_window.IsConverting()) {
                m_loop.quit();
            }
        });
    }
    ~BatchWatcher() { m_window.GetConversion().SetNoticeObserver({}); }

    // Runs the event loop until the batch's end handling has finished; false on a timeout.
    bool WaitForEnd(int nMs = 180000) {
        if (m_window.IsConverting()) {
            m_timeout.start(nMs);
            m_loop.exec();
            m_timeout.stop();
        }
        return !m_window.IsConverting();
    }
    // Runs the event loop until at least one status text more has been shown.
    void WaitForNotice() {
        const size_t nBefore = texts.size();
        while (texts.size() == nBefore && m_window.IsConverting()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
    }

    std::vector<QString> texts;
    std::vector<int> positions;
    std::function<void()> fnOnNotice;

private:
    MainWindow &m_window;
    QEventLoop m_loop;
    QTimer m_timeout;
};

// Holds the workers that reach it until it is opened (at the latest when it goes).
class WorkerGate {
public:
    ~WorkerGate() { Open(); }
    void Hold() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_bOpen; });
    }
    void Open() {
        {
            std::lock_guard lock(m_mutex);
            m_bOpen = true;
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bOpen = false;
};

// A scripted decoder for every job of the window's batches, held by the gate at the first fill of the
// nHeld-th decoder it makes.
std::shared_ptr<DecoderScript> HeldScript(MainWindow &window, const std::shared_ptr<WorkerGate> &pGate,
                                          int nHeld) {
    auto pScript = std::make_shared<DecoderScript>();
    DecoderScript *pRaw = pScript.get();
    pScript->onFill = [pGate, pRaw, nHeld](uint64_t nPosition) {
        if (nPosition == 0 && pRaw->nCreated == nHeld) {
            pGate->Hold();
        }
    };
    window.GetConversion().SetDecoderFactory(ScriptedFactory(pScript));
    return pScript;
}

std::string OutputFolder(WindowHarness &harness) {
    return harness.Window().GetOutputFolder().toStdString();
}

double Seconds(const std::string &strPath) {
    return std::stod(ProbeFormat(strPath).at("duration"));
}

bool IsIdle(MainWindow &window) {
    return !window.GetButton(kIdStartConvert)->isHidden() && window.GetButton(kIdStopConvert)->isHidden() &&
           window.GetControl(kIdClipList)->isEnabled() && !window.IsConverting();
}

TEST(WindowConversion, ThreeClipsToMp3GiveThreeFilesAndTheWindowEndsIdle) {
    MediaFactory media;
    const std::vector<std::string> sources = {
        media.MakeTone("one.mkv", 1.0, 44100, 2, {"-c:a", "flac"}),
        media.MakeTone("two.ogg", 1.0, 22050, 1, {"-c:a", "libvorbis"}),
        media.MakeTone("three.wav", 1.0, 48000, 2, {"-c:a", "pcm_s16le"})};
    WindowHarness harness({}, sources);
    MainWindow &window = harness.Window();
    BatchWatcher watcher(window);

    window.GetButton(kIdStartConvert)->click();
    EXPECT_TRUE(window.IsConverting());
    EXPECT_TRUE(window.GetButton(kIdStartConvert)->isHidden());
    EXPECT_FALSE(window.GetButton(kIdStopConvert)->isHidden());
    ASSERT_TRUE(watcher.WaitForEnd());

    for (const char *pszName : {"one.mkv.mp3", "two.ogg.mp3", "three.wav.mp3"}) {
        SCOPED_TRACE(pszName);
        const std::string strOut = OutputFolder(harness) + "/" + pszName;
        ASSERT_TRUE(std::filesystem::exists(strOut));
        EXPECT_EQ(ProbeStream(strOut).at("codec_name"), "mp3");
        EXPECT_NEAR(Seconds(strOut), 1.0, 0.1);
    }
    // Ends that come together are handled in one go, so there may be fewer notices than jobs.
    ASSERT_GE(watcher.texts.size(), 2u);
    // Progress is read on the window's timer, so a short first job may be over before the first reading.
    EXPECT_TRUE(watcher.texts.front().isEmpty() || watcher.texts.front().startsWith("Progress: "));
    EXPECT_EQ(watcher.texts[watcher.texts.size() - 2], QStringLiteral("Progress: 3 of 3, 100.0%"));
    EXPECT_EQ(window.GetControlText(kIdStatus), QStringLiteral("Conversion Done!"));
    EXPECT_EQ(qobject_cast<QProgressBar *>(window.GetControl(kIdProgress))->value(), 0);
    EXPECT_TRUE(IsIdle(window));
    // Every job's texts come in order: no "2 of 3" after a "3 of 3".
    int nLastJob = 0;
    for (const QString &strText : watcher.texts) {
        if (strText.startsWith("Progress: ")) {
            const int nJob = strText.mid(10, 1).toInt();
            EXPECT_GE(nJob, nLastJob) << strText.toStdString();
            nLastJob = nJob;
        }
    }
    EXPECT_EQ(nLastJob, 3);
}

TEST(WindowConversion, QuestionAnsweredNoChangesNothingElseAndYesOpensTheFolder) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("talk.mkv", 0.5, 44100, 2, {"-c:a", "flac"});
    WindowHarness harness({}, {strSource});
    MainWindow &window = harness.Window();
    BatchWatcher watcher(window);

    harness.boxes.answers = {false};
    window.GetButton(kIdStartConvert)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    ASSERT_EQ(harness.boxes.boxes.size(), 1u);
    EXPECT_EQ(harness.boxes.boxes[0].strCaption, QStringLiteral("Vellumar Klangor"));
    EXPECT_EQ(harness.boxes.boxes[0].strText, QString::fromUtf8(kQuestion));
    EXPECT_EQ(harness.boxes.boxes[0].icon, IMessageBoxes::Icon::Information);
    EXPECT_TRUE(harness.shell.urls.empty());
    EXPECT_TRUE(IsIdle(window));
    EXPECT_EQ(window.GetControlText(kIdStatus), QStringLiteral("Conversion Done!"));
    EXPECT_TRUE(std::filesystem::exists(OutputFolder(harness) + "/talk.mkv.mp3"));

    // A second batch with the same list runs again, and Yes opens the output folder.
    harness.boxes.answers = {true};
    window.GetButton(kIdStartConvert)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    ASSERT_EQ(harness.shell.urls.size(), 1u);
    EXPECT_EQ(harness.shell.urls[0], QUrl::fromLocalFile(window.GetOutputFolder()));
}

TEST(WindowConversion, TheFilesAreConvertedWhileTheWindowThreadIsBusy) {
    MediaFactory media;
    std::vector<std::string> sources;
    for (const char *pszName : {"a.mkv", "b.mkv", "c.mkv"}) {
        sources.push_back(media.MakeTone(pszName, 1.0, 44100, 2, {"-c:a", "flac"}));
    }
    WindowHarness harness({}, sources);
    MainWindow &window = harness.Window();
    BatchWatcher watcher(window);

    window.GetButton(kIdStartConvert)->click();
    // The window's thread runs no event now, as under a long repaint or a box of another program's:
    // the workers go on to the end of the batch all the same.
    auto workers =
        std::async(std::launch::async, [&window] { window.GetConversion().GetBatch().WaitUntilIdle(); });
    const bool bFinished = workers.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    while (workers.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_TRUE(bFinished) << "the workers waited for the window's thread";
    for (const char *pszName : {"a.mkv.mp3", "b.mkv.mp3", "c.mkv.mp3"}) {
        EXPECT_NEAR(Seconds(OutputFolder(harness) + "/" + pszName), 1.0, 0.1) << pszName;
    }

    // What they posted meanwhile is handled once the window's thread is back: the end, then the question.
    EXPECT_TRUE(window.IsConverting());
    EXPECT_TRUE(harness.boxes.boxes.empty());
    ASSERT_TRUE(watcher.WaitForEnd());
    ASSERT_GE(watcher.texts.size(), 2u);
    EXPECT_EQ(watcher.texts[watcher.texts.size() - 2], QStringLiteral("Progress: 3 of 3, 100.0%"));
    EXPECT_EQ(watcher.texts.back(), QStringLiteral("Conversion Done!"));
    ASSERT_EQ(harness.boxes.boxes.size(), 1u);
    EXPECT_EQ(harness.boxes.boxes[0].strText, QString::fromUtf8(kQuestion));
    EXPECT_TRUE(IsIdle(window));
}

TEST(WindowConversion, StopDuringTheSecondOfThreeFinishesItShortAndWritesNoThird) {
    MediaFactory media;
    std::vector<std::string> sources;
    for (const char *pszName : {"a.mkv", "b.mkv", "c.mkv"}) {
        sources.push_back(media.MakeTone(pszName, 3.0, 44100, 2, {"-c:a", "flac"}));
    }
    WindowHarness harness({}, sources);
    MainWindow &window = harness.Window();
    window.OneFileAtATime() = true;  // the design's one file after the other
    qobject_cast<QRadioButton *>(window.GetControl(kIdRadioWav))->click();
    // The second file is held at its start until Stop has been pressed.
    auto pGate = std::make_shared<WorkerGate>();
    HeldScript(window, pGate, 2);
    BatchWatcher watcher(window);
    bool bStopped = false;
    watcher.fnOnNotice = [&] {
        if (!bStopped && window.GetControlText(kIdStatus).startsWith("Progress: 2 of 3")) {
            bStopped = true;
            window.GetButton(kIdStopConvert)->click();
            pGate->Open();
        }
    };

    window.GetButton(kIdStartConvert)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    ASSERT_TRUE(bStopped);
    const std::string strFolder = OutputFolder(harness);
    EXPECT_NEAR(Seconds(strFolder + "/a.mkv.wav"), 1.0, 0.01);
    // Short, but a WAV file whose sizes agree with its data.
    const std::string strShort = strFolder + "/b.mkv.wav";
    EXPECT_EQ(ProbeStream(strShort).at("codec_name"), "pcm_s16le");
    EXPECT_LT(Seconds(strShort), 1.0);
    EXPECT_EQ(DecodeS16(strShort).size(), std::filesystem::file_size(strShort) - 44);
    EXPECT_FALSE(std::filesystem::exists(strFolder + "/c.mkv.wav"));
    EXPECT_EQ(window.GetControlText(kIdStatus), QStringLiteral("Conversion Done!"));
    ASSERT_FALSE(harness.boxes.boxes.empty());
    EXPECT_EQ(harness.boxes.boxes.back().strText, QString::fromUtf8(kQuestion));
    EXPECT_TRUE(IsIdle(window));
}

TEST(WindowConversion, UnreadableFileInTheMiddleIsNamedAndTheOthersConverted) {
    MediaFactory media;
    const std::string strGood1 = media.MakeTone("first.mkv", 0.5, 44100, 2, {"-c:a", "flac"});
    const std::string strBad = media.MakeRaw("broken.mp4", std::string(4000, 'x'));
    const std::string strGood2 = media.MakeTone("last.mkv", 0.5, 44100, 2, {"-c:a", "flac"});
    WindowHarness harness({}, {strGood1});
    MainWindow &window = harness.Window();
    // Added after start-up, so the preview never tries the broken file.
    window.GetClipList().AddClip(strBad);
    window.GetClipList().AddClip(strGood2);
    BatchWatcher watcher(window);

    window.GetButton(kIdStartConvert)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    const std::string strFolder = OutputFolder(harness);
    EXPECT_NEAR(Seconds(strFolder + "/first.mkv.mp3"), 0.5, 0.1);
    EXPECT_NEAR(Seconds(strFolder + "/last.mkv.mp3"), 0.5, 0.1);
    EXPECT_FALSE(std::filesystem::exists(strFolder + "/broken.mp4.mp3"));

    // The failures first, in one message that names only the bad file, then the question.
    ASSERT_EQ(harness.boxes.boxes.size(), 2u);
    const RecordingBoxes::Box &failures = harness.boxes.boxes[0];
    EXPECT_EQ(failures.strCaption, QStringLiteral("Vellumar Klangor"));
    EXPECT_EQ(failures.icon, IMessageBoxes::Icon::Exclamation);
    EXPECT_TRUE(failures.strText.contains(QString::fromStdString(strBad) + ": "))
        << failures.strText.toStdString();
    EXPECT_FALSE(failures.strText.contains(QString::fromStdString(strGood1)));
    EXPECT_FALSE(failures.strText.contains(QString::fromStdString(strGood2)));
    EXPECT_EQ(harness.boxes.boxes[1].strText, QString::fromUtf8(kQuestion));
    EXPECT_TRUE(IsIdle(window));
}

TEST(WindowConversion, WavOutputAppendsWavToTheWholeSourceName) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("talk.avi", 0.5, 22050, 1, {"-c:a", "pcm_s16le"}, true);
    WindowHarness harness({}, {strSource});
    MainWindow &window = harness.Window();
    qobject_cast<QRadioButton *>(window.GetControl(kIdRadioWav))->click();
    BatchWatcher watcher(window);

    window.GetButton(kIdStartConvert)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    const std::string strOut = OutputFolder(harness) + "/talk.avi.wav";
    ASSERT_TRUE(std::filesystem::exists(strOut));
    EXPECT_EQ(ProbeFormat(strOut).at("format_name"), "wav");
    EXPECT_EQ(DecodeS16(strOut), DecodeS16(strSource));
    EXPECT_FALSE(std::filesystem::exists(OutputFolder(harness) + "/talk.avi.mp3"));
}

// A newer format chosen in the settings dialog, with its own setting, is what the window's batch writes.
TEST(WindowConversion, TheFormatChosenInTheSettingsIsWhatTheBatchWrites) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("talk.avi", 0.5, 22050, 1, {"-c:a", "pcm_s16le"}, true);
    WindowHarness harness({}, {strSource});
    MainWindow &window = harness.Window();
    BatchWatcher watcher(window);
    struct Case {
        const char *szLabel;
        const char *szSpin;
        int iValue;
        const char *szExtension;
        const char *szCodec;
    };
    for (const Case &c : {Case{"FLAC (lossless)", "flacCompressionSpin", 8, ".flac", "flac"},
                          Case{"Opus", "opusBitrateSpin", 48, ".opus", "opus"}}) {
        harness.boxes.fnOnDialog = [&c](QDialog &dialog) {
            auto *pFormats = dialog.findChild<QComboBox *>(QStringLiteral("outputFormatList"));
            pFormats->setCurrentIndex(pFormats->findText(QString::fromLatin1(c.szLabel)));
            dialog.findChild<QSpinBox *>(QString::fromLatin1(c.szSpin))->setValue(c.iValue);
            dialog.findChild<QPushButton *>(QStringLiteral("okButton"))->click();
        };
        window.GetButton(kIdSettings)->click();
        window.GetButton(kIdStartConvert)->click();
        ASSERT_TRUE(watcher.WaitForEnd());
        const std::string strOut = OutputFolder(harness) + "/talk.avi" + c.szExtension;
        ASSERT_TRUE(std::filesystem::exists(strOut)) << c.szLabel;
        EXPECT_EQ(ProbeStream(strOut).at("codec_name"), c.szCodec);
    }
    EXPECT_EQ(DecodeS16(OutputFolder(harness) + "/talk.avi.flac"), DecodeS16(strSource));
    EXPECT_EQ(window.GetSettings().m_iOpusBitrate, 48);
    EXPECT_FALSE(std::filesystem::exists(OutputFolder(harness) + "/talk.avi.mp3"));
}

// A folder named on the command line adds its media after the files before it, in byte-wise order of
// their paths, passing over what is no media; the outputs keep its folders only once that is asked for.
TEST(WindowConversion, AFolderAddsItsMediaInOrderAndItsTreeIsKeptWhenAsked) {
    MediaFactory media;
    std::filesystem::create_directories(media.Dir() / "lib" / "b");
    const std::string strLoose = media.MakeTone("loose.wav", 0.3, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strNested = media.MakeTone("lib/b/x.wav", 0.3, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strTop = media.MakeTone("lib/a.wav", 0.3, 8000, 1, {"-c:a", "pcm_s16le"});
    media.MakeRaw("lib/notes.txt", "no sound here");
    WindowHarness harness({}, {strLoose, media.PathOf("lib")});
    MainWindow &window = harness.Window();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.GetClipList().GetCount() == 3; }, 10000));
    EXPECT_EQ(window.GetClipList().GetClip(0), strLoose);
    EXPECT_EQ(window.GetClipList().GetClip(1), strTop);
    EXPECT_EQ(window.GetClipList().GetClip(2), strNested);
    EXPECT_EQ(window.GetControlText(kIdStatus).toStdString(),
              "A folder gave 2 media files; 1 other file passed over");

    BatchWatcher watcher(window);
    harness.boxes.fnOnDialog = [](QDialog &dialog) {
        dialog.findChild<QCheckBox *>(QStringLiteral("mirrorFoldersCheck"))->setChecked(true);
        dialog.findChild<QPushButton *>(QStringLiteral("okButton"))->click();
    };
    window.GetButton(kIdSettings)->click();
    window.GetButton(kIdStartConvert)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    for (const char *szOutput : {"/loose.wav.mp3", "/a.wav.mp3", "/b/x.wav.mp3"}) {
        EXPECT_TRUE(std::filesystem::exists(OutputFolder(harness) + szOutput)) << szOutput;
    }
}

// A copy's names look into every source, so its jobs are made off the window's thread: Start returns
// at once with Stop offered and the window kept open; Stop before the jobs are made starts nothing, and
// the next Start copies the whole list.
TEST(WindowConversion, ACopysJobsAreMadeInTheBackgroundAndStopMeanwhileStartsNothing) {
    MediaFactory media;
    std::vector<std::string> sources;
    for (const char *pszName : {"a.mkv", "b.mkv"}) {
        sources.push_back(media.MakeTone(pszName, 0.5, 44100, 2, {"-c:a", "flac"}));
    }
    WindowHarness harness({}, sources);
    MainWindow &window = harness.Window();
    harness.boxes.fnOnDialog = [](QDialog &dialog) {
        auto *pFormats = dialog.findChild<QComboBox *>(QStringLiteral("outputFormatList"));
        pFormats->setCurrentIndex(pFormats->findText(QStringLiteral("Original audio (copied)")));
        dialog.findChild<QPushButton *>(QStringLiteral("okButton"))->click();
    };
    window.GetButton(kIdSettings)->click();

    window.GetButton(kIdStartConvert)->click();
    EXPECT_TRUE(window.IsConverting());
    EXPECT_TRUE(window.GetControl(kIdStopConvert)->isVisibleTo(&window));
    EXPECT_FALSE(window.close());
    window.GetButton(kIdStopConvert)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.IsConverting(); }, 10000));
    EXPECT_TRUE(window.GetControl(kIdStartConvert)->isVisibleTo(&window));
    EXPECT_TRUE(FileNamesIn(OutputFolder(harness)).empty());

    BatchWatcher watcher(window);
    window.GetButton(kIdStartConvert)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    EXPECT_EQ(FileNamesIn(OutputFolder(harness)), (std::vector<std::string>{"a.mkv.flac", "b.mkv.flac"}));
    EXPECT_EQ(DecodeS16(OutputFolder(harness) + "/a.mkv.flac"), DecodeS16(sources[0]));
}

TEST(WindowConversion, CloseIsRefusedFromStartToTheEndOfTheBatchAndTheBatchGoesOn) {
    MediaFactory media;
    std::vector<std::string> sources;
    for (const char *pszName : {"a.mkv", "b.mkv", "c.mkv"}) {
        sources.push_back(media.MakeTone(pszName, 1.0, 44100, 2, {"-c:a", "flac"}));
    }
    WindowHarness harness({}, sources);
    MainWindow &window = harness.Window();
    window.OneFileAtATime() = true;  // the design's one file after the other
    window.show();
    BatchWatcher watcher(window);
    bool bTriedMidway = false;
    watcher.fnOnNotice = [&] {
        if (!bTriedMidway && window.GetControlText(kIdStatus).startsWith("Progress: ")) {
            bTriedMidway = true;
            EXPECT_FALSE(window.close());
        }
    };

    window.GetButton(kIdStartConvert)->click();
    // Before the writer has sent anything.
    EXPECT_FALSE(window.close());
    window.GetButton(kIdClose)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    ASSERT_TRUE(bTriedMidway);
    EXPECT_TRUE(window.isVisible());
    int nRefusals = 0;
    for (const RecordingBoxes::Box &box : harness.boxes.boxes) {
        if (box.strText == QStringLiteral("Conversion is running, please stop it first!")) {
            ++nRefusals;
            EXPECT_EQ(box.icon, IMessageBoxes::Icon::Exclamation);
            EXPECT_EQ(box.strCaption, QStringLiteral("Vellumar Klangor"));
        }
    }
    EXPECT_EQ(nRefusals, 3);
    for (const char *pszName : {"a.mkv.mp3", "b.mkv.mp3", "c.mkv.mp3"}) {
        EXPECT_NEAR(Seconds(OutputFolder(harness) + "/" + pszName), 1.0, 0.1) << pszName;
    }
    // Once the batch's end handling is over, the window closes.
    EXPECT_TRUE(window.close());
}

TEST(WindowConversion, SettingsChangedDuringABatchReachTheLaterJobs) {
    MediaFactory media;
    std::vector<std::string> sources;
    for (const char *pszName : {"a.mkv", "b.mkv"}) {
        sources.push_back(media.MakeTone(pszName, 1.0, 44100, 2, {"-c:a", "flac"}));
    }
    WindowHarness harness({}, sources);
    MainWindow &window = harness.Window();
    window.OneFileAtATime() = true;  // the design's one file after the other
    window.GetSettings().m_iBitrate = 128;
    // The first file is held at its start until the dialog has been used.
    auto pGate = std::make_shared<WorkerGate>();
    HeldScript(window, pGate, 1);
    harness.boxes.fnOnDialog = [](QDialog &dialog) {
        auto *pBitrates = dialog.findChild<QComboBox *>(QStringLiteral("bitrateList"));
        pBitrates->setCurrentIndex(pBitrates->findText(QStringLiteral("64 Kbps")));
        dialog.findChild<QPushButton *>(QStringLiteral("okButton"))->click();
    };
    BatchWatcher watcher(window);
    bool bChanged = false;
    watcher.fnOnNotice = [&] {
        if (!bChanged && window.GetControlText(kIdStatus).startsWith("Progress: 1 of 2")) {
            bChanged = true;
            // The dialog stays available during the batch.
            window.GetButton(kIdSettings)->click();
            pGate->Open();
        }
    };

    window.GetButton(kIdStartConvert)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    ASSERT_EQ(harness.boxes.dialogTitles.size(), 1u);
    EXPECT_EQ(window.GetSettings().m_iBitrate, 64);
    EXPECT_EQ(ProbeStream(OutputFolder(harness) + "/a.mkv.mp3").at("bit_rate"), "128000");
    EXPECT_EQ(ProbeStream(OutputFolder(harness) + "/b.mkv.mp3").at("bit_rate"), "64000");
}

TEST(WindowConversion, DestroyingTheWindowDuringABatchStopsTheWriterWithoutHanging) {
    MediaFactory media;
    std::vector<std::string> sources;
    for (const char *pszName : {"a.mkv", "b.mkv"}) {
        sources.push_back(media.MakeTone(pszName, 5.0, 44100, 2, {"-c:a", "flac"}));
    }
    auto pHarness =
        std::make_unique<WindowHarness>(std::function<void(const std::filesystem::path &)>(), sources);
    MainWindow &window = pHarness->Window();
    window.OneFileAtATime() = true;  // the design's one file after the other
    // Five seconds read slowly, so the first file is still being written when the window goes.
    auto pScript = std::make_shared<DecoderScript>();
    pScript->llDuration = 50000000;
    pScript->nRealFrames = 5 * 44100;
    pScript->fillDelay = std::chrono::milliseconds(10);
    window.GetConversion().SetDecoderFactory(ScriptedFactory(pScript));
    qobject_cast<QRadioButton *>(window.GetControl(kIdRadioWav))->click();
    // Outside the harness's home folder, which goes with it.
    const std::string strFolder = media.PathOf("out");
    std::filesystem::create_directory(strFolder);
    pHarness->shell.folderAnswers = {QString::fromStdString(strFolder)};
    window.GetButton(kIdOutputPath)->click();
    ASSERT_EQ(OutputFolder(*pHarness), strFolder);
    {
        BatchWatcher watcher(window);
        window.GetButton(kIdStartConvert)->click();
        watcher.WaitForNotice();
        watcher.WaitForNotice();
        ASSERT_TRUE(window.IsConverting());
    }
    // The workers are in the middle of the first file while the window goes.
    pHarness.reset();
    const std::string strFirst = strFolder + "/a.mkv.wav";
    ASSERT_TRUE(std::filesystem::exists(strFirst));
    EXPECT_LT(Seconds(strFirst), 5.0);
    EXPECT_EQ(DecodeS16(strFirst).size(), std::filesystem::file_size(strFirst) - 44);
    EXPECT_FALSE(std::filesystem::exists(strFolder + "/b.mkv.wav"));
}

TEST(WindowConversion, StartWithAnEmptyListDoesNothing) {
    WindowHarness harness;
    MainWindow &window = harness.Window();
    window.GetButton(kIdStartConvert)->click();
    EXPECT_TRUE(IsIdle(window));
    EXPECT_TRUE(harness.boxes.boxes.empty());
    EXPECT_EQ(window.GetControlText(kIdStatus), QString());
}

// Linux names are bytes, and a Latin-1 one ("caf\xe9") is no UTF-8: given on the command line or dropped,
// it is opened, previewed, summarised, given a selection and converted under its own bytes, and shown
// with U+FFFD for the byte that is no text.
TEST(WindowConversion, NamesThatAreNotUtf8AreOpenedSelectedAndConvertedUnderTheirOwnBytes) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("caf\xe9 latin1.wav", 3.0, 22050, 1, {"-c:a", "pcm_s16le"});
    const std::string strDropped = media.MakeTone("na\xefve.wav", 1.0, 22050, 1, {"-c:a", "pcm_s16le"});
    const char *argv[] = {"klangor", strSource.c_str()};
    WindowHarness harness({}, CommandLineFiles(2, argv));
    MainWindow &window = harness.Window();
    ASSERT_TRUE(WaitForOpen(window)) << (harness.boxes.boxes.empty()
                                             ? std::string()
                                             : harness.boxes.boxes[0].strText.toStdString());
    EXPECT_TRUE(harness.boxes.boxes.empty());
    EXPECT_EQ(window.GetPlayer()->GetFileName(), strSource);
    EXPECT_EQ(window.GetPlayer()->GetClipInfo().nDuration, 300u);
    const QString strShown = QStringLiteral("caf") + QChar(0xFFFD) + QStringLiteral(" latin1.wav");
    EXPECT_EQ(window.GetClipListBox()->item(0)->text(), strShown);
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("/") + strShown + QStringLiteral("]")))
        << window.windowTitle().toStdString();
    WaveformLoader &waveform = window.GetTimeline()->Waveform();
    ASSERT_TRUE(waveform.WaitUntilSettled(std::chrono::seconds(20)));
    EXPECT_EQ(waveform.GetState(), WaveformLoader::State::Complete);

    // A file manager's drop carries the byte as "%EF".
    QMimeData dropped;
    dropped.setData(QStringLiteral("text/uri-list"),
                    "file://" + QByteArray::fromStdString(strDropped).toPercentEncoding("/") + "\r\n");
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    ASSERT_EQ(window.GetClipList().GetCount(), 2);
    EXPECT_EQ(window.GetClipList().GetClip(1), strDropped);
    EXPECT_EQ(window.GetClipListBox()->item(1)->text(),
              QStringLiteral("na") + QChar(0xFFFD) + QStringLiteral("ve.wav"));

    // The selection from one second on is kept beside the file, under its bytes, and reaches the job.
    window.GetTimeline()->setValue(100);
    window.GetButton(kIdSetStart)->click();
    window.GetPlayer()->DrainRecords();
    EXPECT_EQ(ReadFileBytes(strSource + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=300,100,300,0;");
    window.GetPreviewCommands().OnGoToSelectionStart();
    long lPosition = 0;
    window.GetPlayer()->GetCurrentPosition(lPosition);
    EXPECT_NEAR(lPosition, 100, 2);

    BatchWatcher watcher(window);
    window.GetButton(kIdStartConvert)->click();
    ASSERT_TRUE(watcher.WaitForEnd());
    EXPECT_EQ(window.GetControlText(kIdStatus), QStringLiteral("Conversion Done!"));
    for (const auto &[pszName, dSeconds] :
         {std::pair{"caf\xe9 latin1.wav.mp3", 2.0}, {"na\xefve.wav.mp3", 1.0}}) {
        const std::string strOut = OutputFolder(harness) + "/" + pszName;
        ASSERT_TRUE(std::filesystem::exists(strOut)) << strOut;
        EXPECT_NEAR(Seconds(strOut), dSeconds, 0.1);
    }
}

}  // namespace

// The preview's threads and the batch's workers meet only on the window's thread: clips opened one over
// the other (each cancelling or closing the one before) and removed from the list while four files
// convert leave the batch alone and every output whole. The thread checker runs this one in CI.
TEST(WindowConversion, ClipsOpenedAndRemovedDuringABatchLeaveEveryOutputWhole) {
    MediaFactory media;
    std::vector<std::string> sources;
    sources.push_back(media.MakeTone("a.mkv", 4.0, 44100, 2, {"-c:a", "flac"}, true));
    sources.push_back(media.MakeTone("b.ogg", 4.0, 44100, 2, {"-c:a", "libvorbis"}));
    sources.push_back(media.MakeTone("c.wav", 4.0, 48000, 2, {"-c:a", "pcm_s16le"}));
    sources.push_back(media.MakeTone("d.mkv", 4.0, 44100, 1, {"-c:a", "flac"}, true));
    WindowHarness harness({}, sources);
    MainWindow &window = harness.Window();
    QListWidget *pList = window.GetClipListBox();
    // Every job is held at its start until clips have been opened over each other for a while.
    auto pGate = std::make_shared<WorkerGate>();
    auto pScript = std::make_shared<DecoderScript>();
    pScript->onFill = [pGate](uint64_t nPosition) {
        if (nPosition == 0) {
            pGate->Hold();
        }
    };
    window.GetConversion().SetDecoderFactory(ScriptedFactory(pScript));
    BatchWatcher watcher(window);

    window.GetButton(kIdStartConvert)->click();
    int nStep = 0;
    for (; window.IsConverting() && nStep < 400; ++nStep) {
        if (nStep == 5) {
            pList->setCurrentRow(pList->count() - 1);
            window.GetButton(kIdRemove)->click();
        } else {
            pList->setCurrentRow(nStep % pList->count());
        }
        if (nStep == 12) {
            pGate->Open();
        }
        ProcessEvents(20);
    }
    ASSERT_TRUE(watcher.WaitForEnd());
    EXPECT_GT(nStep, 12);
    EXPECT_EQ(pList->count(), 3);
    for (const char *pszName : {"a.mkv.mp3", "b.ogg.mp3", "c.wav.mp3", "d.mkv.mp3"}) {
        SCOPED_TRACE(pszName);
        const std::string strOut = OutputFolder(harness) + "/" + pszName;
        ASSERT_TRUE(std::filesystem::exists(strOut));
        EXPECT_NEAR(Seconds(strOut), 1.0, 0.1);
    }
}

}  // namespace klangor

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "JobTestSupport.h"
#include "convert/batch/ConversionBatch.h"
#include "support/MediaFactory.h"
#include "support/TempDir.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

// Records what the batch does to its window, in order. The test's thread is the view's thread; the
// workers' wake-ups are counted for it to wait on.
class RecordingView : public IConversionView {
public:
    std::string m_strFolder;
    OutputFormat m_format = OutputFormat::Mp3;
    bool m_bAnswerYes = false;
    std::vector<std::string> m_events;
    std::vector<std::string> m_statusTexts;
    int m_nProgressPos = -1;
    std::function<void(const std::string &)> m_onStatus;

    std::string GetOutputFolderText() override { return m_strFolder; }
    OutputFormat GetOutputFormat() override { return m_format; }
    void SetStatusText(const std::string &strText) override {
        m_statusTexts.push_back(strText);
        if (m_onStatus) {
            m_onStatus(strText);
        }
    }
    void SetProgressPos(int nPercent) override { m_nProgressPos = nPercent; }
    void ShowConvertButtons(bool bConverting) override {
        m_events.push_back(bConverting ? "buttons:converting" : "buttons:idle");
    }
    void EnableClipList(bool bEnable) override { m_events.push_back(bEnable ? "list:on" : "list:off"); }
    bool AskYesNo(const std::string &strText) override {
        m_events.push_back("ask:" + strText);
        return m_bAnswerYes;
    }
    void ShowMessage(const std::string &strText, MessageIcon) override {
        m_events.push_back("message:" + strText);
    }
    void OpenFolder(const std::string &strFolder) override { m_events.push_back("open:" + strFolder); }
    void OnJobFinished(const ConversionJob &job) override {
        const std::string &strSource = job.GetSourcePath();
        const std::string &strFailure = job.GetError();
        m_events.push_back("finished:" + ClipDisplayName(strSource) +
                           (strFailure.empty() ? "" : ":" + strFailure));
        if (m_onJobFinished) {
            m_onJobFinished();
        }
    }
    std::function<void()> m_onJobFinished;
    void WakeViewThread() override {
        {
            std::lock_guard lock(m_wakeMutex);
            ++m_nWakes;
        }
        m_woken.notify_all();
    }
    // Waits up to tWait for a wake-up not yet waited for; false when none came.
    bool WaitForWake(std::chrono::milliseconds tWait = std::chrono::seconds(60)) {
        std::unique_lock lock(m_wakeMutex);
        const bool bWoken = m_woken.wait_for(lock, tWait, [this] { return m_nWakes > m_nWakesSeen; });
        m_nWakesSeen = m_nWakes;
        return bWoken;
    }
    // Waits up to a minute until n wake-ups in all have come; false when they did not.
    bool WaitForWakes(int n) {
        std::unique_lock lock(m_wakeMutex);
        return m_woken.wait_for(lock, std::chrono::seconds(60), [&] { return m_nWakes >= n; });
    }

    bool Has(const std::string &strEvent) const {
        return std::find(m_events.begin(), m_events.end(), strEvent) != m_events.end();
    }
    size_t IndexOf(const std::string &strPrefix) const {
        for (size_t i = 0; i < m_events.size(); ++i) {
            if (m_events[i].rfind(strPrefix, 0) == 0) {
                return i;
            }
        }
        return m_events.size();
    }

private:
    std::mutex m_wakeMutex;
    std::condition_variable m_woken;
    int m_nWakes = 0;      // under m_wakeMutex
    int m_nWakesSeen = 0;  // under m_wakeMutex
};

// Holds every worker that reaches a fill of a scripted decoder until the test lets it go, so the test
// can look at the progress at known places. Opened for good when it goes, so no worker is left held.
class FillGate {
public:
    ~FillGate() { Open(); }
    void Arrive() {
        std::unique_lock lock(m_mutex);
        const int nMe = ++m_nArrived;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_bOpen || m_nAllowed >= nMe; });
    }
    // Waits until the n-th fill (from 1) has been reached.
    bool WaitForArrival(int n) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_nArrived >= n; });
    }
    void Allow(int n) {
        std::lock_guard lock(m_mutex);
        m_nAllowed = n;
        m_changed.notify_all();
    }
    void Open() {
        std::lock_guard lock(m_mutex);
        m_bOpen = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_nArrived = 0;
    int m_nAllowed = 0;
    bool m_bOpen = false;
};

const char *kQuestion =
    "ask:Conversion done. Do you want to open the output folder to check the result MP3/WAV file now?";

class BatchTest : public ::testing::Test {
protected:
    TempDir m_dir;
    RecordingView m_view;
    EncoderSettings m_settings;
    std::shared_ptr<DecoderScript> m_pScript = std::make_shared<DecoderScript>();
    std::unique_ptr<ConversionBatch> m_pBatch;
    ClipList m_clips;

    void SetUp() override {
        m_view.m_strFolder = (m_dir.Path() / "out").string();
        fs::create_directory(m_view.m_strFolder);
        m_pBatch = std::make_unique<ConversionBatch>(m_view, m_settings, ScriptedFactory(m_pScript));
        m_pBatch->SetJobsAtOnce(1);  // the design's one file after the other, unless a test asks for more
    }
    std::string Source(const std::string &strName) const { return (m_dir.Path() / strName).string(); }
    std::string Output(const std::string &strName) const { return m_view.m_strFolder + "/" + strName; }
    // Runs the batch to the end of its end handling, handling what the workers post as a window would.
    void RunBatch() {
        m_pBatch->OnStartConvert(m_clips);
        FinishBatch();
    }
    void FinishBatch() {
        while (m_pBatch->IsConverting() && m_view.WaitForWake()) {
            m_pBatch->HandlePosted();
        }
        EXPECT_FALSE(m_pBatch->IsConverting());
        m_pBatch->WaitUntilIdle();
    }
    // The progress text shown at each of the first nFills fills, the worker held there meanwhile; the
    // batch then runs to its end.
    std::vector<std::string> ProgressAtEachFill(int nFills) {
        auto pGate = std::make_shared<FillGate>();
        m_pScript->onFill = [pGate](uint64_t) { pGate->Arrive(); };
        m_pBatch->OnStartConvert(m_clips);
        std::vector<std::string> texts;
        for (int n = 1; n <= nFills; ++n) {
            if (!pGate->WaitForArrival(n)) {
                ADD_FAILURE() << "no fill " << n;
                break;
            }
            m_pBatch->ShowProgress();
            texts.push_back(m_view.m_statusTexts.empty() ? "" : m_view.m_statusTexts.back());
            pGate->Allow(n);
        }
        pGate->Open();
        FinishBatch();
        return texts;
    }
};

TEST(BatchNaming, OutputKeepsTheSourceNameAndExtension) {
    EXPECT_EQ(ConversionBatch::OutputPathFor("/out", "/media/talk.avi", OutputFormat::Mp3),
              "/out/talk.avi.mp3");
    EXPECT_EQ(ConversionBatch::OutputPathFor("/out", "/media/song.wav", OutputFormat::Wav),
              "/out/song.wav.wav");
    EXPECT_EQ(ConversionBatch::OutputPathFor("/out/", "song.wav", OutputFormat::Mp3), "/out//song.wav.mp3");
    EXPECT_EQ(ConversionBatch::OutputPathFor("", "/m/a.avi", OutputFormat::Mp3), "/a.avi.mp3");
}

TEST_F(BatchTest, SameNameInOneBatchGetsANumberInsteadOfOverwriting) {
    fs::create_directories(m_dir.Path() / "a");
    fs::create_directories(m_dir.Path() / "b");
    m_clips.AddClip(Source("a/x.avi"));
    m_clips.AddClip(Source("b/x.avi"));
    m_clips.AddClip(Source("a/x.avi"));
    m_pBatch->PrepareJobs(m_clips);
    const auto &jobs = m_pBatch->GetJobs();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0]->GetOutputPath(), Output("x.avi.mp3"));
    EXPECT_EQ(jobs[1]->GetOutputPath(), Output("x.avi (2).mp3"));
    EXPECT_EQ(jobs[2]->GetOutputPath(), Output("x.avi (3).mp3"));
}

TEST_F(BatchTest, OutputNeverOverwritesASourceOfTheSameBatch) {
    m_view.m_strFolder = m_dir.Path().string();
    m_clips.AddClip(Source("x.avi"));
    m_clips.AddClip(Source("x.avi.mp3"));
    m_pBatch->PrepareJobs(m_clips);
    EXPECT_EQ(m_pBatch->GetJobs()[0]->GetOutputPath(), Source("x.avi (2).mp3"));
    EXPECT_EQ(m_pBatch->GetJobs()[1]->GetOutputPath(), Source("x.avi.mp3.mp3"));
}

TEST_F(BatchTest, ThreeJobsCountThroughAndEndIdleWithTheQuestion) {
    m_view.m_format = OutputFormat::Wav;
    for (const char *szName : {"a.avi", "b.avi", "c.avi"}) {
        m_clips.AddClip(Source(szName));
    }
    RunBatch();
    ASSERT_GE(m_view.m_statusTexts.size(), 2u);
    EXPECT_EQ(m_view.m_statusTexts[m_view.m_statusTexts.size() - 2], "Progress: 3 of 3, 100.0%");
    EXPECT_EQ(m_view.m_statusTexts.back(), "Conversion Done!");
    EXPECT_EQ(m_view.m_nProgressPos, 0);
    EXPECT_EQ(m_view.m_events.front(), "buttons:converting");
    EXPECT_LT(m_view.IndexOf("list:on"), m_view.IndexOf("buttons:idle"));
    EXPECT_EQ(m_view.m_events.back(), kQuestion);
    EXPECT_FALSE(m_view.Has("open:" + m_view.m_strFolder));
    for (const char *szName : {"a.avi.wav", "b.avi.wav", "c.avi.wav"}) {
        EXPECT_EQ(fs::file_size(Output(szName)), 44u + 44100u * 4);
    }
    EXPECT_TRUE(m_pBatch->GetFailures().empty());
}

TEST_F(BatchTest, PercentIsPerJobAndStepsByChunks) {
    m_pScript->wfx.nSamplesPerSec = 2500;  // one second is 2500 frames: three chunks
    m_pScript->nRealFrames = 2500;
    m_view.m_format = OutputFormat::Wav;
    m_clips.AddClip(Source("a.avi"));
    // Read while the worker waits for its first, second and third fill: after 0, 1000 and 2000 frames.
    EXPECT_EQ(ProgressAtEachFill(3),
              (std::vector<std::string>{"Progress: 1 of 1, 0.0%", "Progress: 1 of 1, 40.0%",
                                        "Progress: 1 of 1, 80.0%"}));
    EXPECT_EQ(m_view.m_statusTexts[m_view.m_statusTexts.size() - 2], "Progress: 1 of 1, 100.0%");
    EXPECT_EQ(m_view.m_statusTexts.back(), "Conversion Done!");
}

TEST_F(BatchTest, ProgressNeverPassesOneHundredWhenTheDurationWasShort) {
    m_pScript->nRealFrames = 60000;
    m_clips.AddClip(Source("a.avi"));
    RunBatch();
    ASSERT_GE(m_view.m_statusTexts.size(), 2u);
    EXPECT_EQ(m_view.m_statusTexts[m_view.m_statusTexts.size() - 2], "Progress: 1 of 1, 100.0%");
}

TEST_F(BatchTest, AnsweringYesOpensTheOutputFolder) {
    m_view.m_bAnswerYes = true;
    m_clips.AddClip(Source("a.avi"));
    RunBatch();
    EXPECT_EQ(m_view.m_events.back(), "open:" + m_view.m_strFolder);
}

TEST_F(BatchTest, FailedJobsAreNamedInOneMessageBeforeTheQuestion) {
    m_clips.AddClip(Source("good.avi"));
    m_clips.AddClip(Source("gone/bad.avi"));  // the scripted decoder opens it; its output folder is fine
    m_view.m_strFolder = (m_dir.Path() / "missing").string();
    RunBatch();
    const std::string strMessage = "message:These files could not be converted:\n" + Source("good.avi") +
                                   ": Cannot create output file\n" + Source("gone/bad.avi") +
                                   ": Cannot create output file";
    EXPECT_TRUE(m_view.Has(strMessage));
    EXPECT_LT(m_view.IndexOf("message:"), m_view.IndexOf("ask:"));
    EXPECT_TRUE(m_view.Has("buttons:idle"));
    EXPECT_EQ(m_pBatch->GetFailures().size(), 2u);
    EXPECT_TRUE(m_view.Has("finished:bad.avi:Cannot create output file"));
}

TEST_F(BatchTest, ConvertedFilesWithANoteAreNamedAfterTheFailuresAndBeforeTheQuestion) {
    m_clips.AddClip(Source("lecture.avi"));
    SplitSettings split;
    split.mode = SplitMode::Chapters;  // the scripted source has none: converted whole, with a note
    m_pBatch->SetSplitSettings(split);
    RunBatch();
    EXPECT_TRUE(m_view.Has("message:These files were converted, with a note:\n" + Source("lecture.avi") +
                           ": no chapters, converted whole"));
    EXPECT_LT(m_view.IndexOf("message:"), m_view.IndexOf("ask:"));
    EXPECT_TRUE(m_pBatch->GetFailures().empty());
}

TEST_F(BatchTest, StopDuringTheSecondJobShortensItAndSkipsTheThird) {
    m_view.m_format = OutputFormat::Wav;
    for (const char *szName : {"a.avi", "b.avi", "c.avi"}) {
        m_clips.AddClip(Source(szName));
    }
    // Pressed as the second file's first chunk is read; that chunk is still written.
    m_pScript->onFill = [this](uint64_t nPosition) {
        if (nPosition == 0 && m_pScript->nCreated == 2) {
            m_pBatch->OnStopConvert();
        }
    };
    RunBatch();
    EXPECT_TRUE(m_pBatch->WasStopped());
    EXPECT_EQ(m_view.m_statusTexts.back(), "Conversion Done!");
    EXPECT_EQ(m_view.m_events.back(), kQuestion);
    EXPECT_EQ(fs::file_size(Output("a.avi.wav")), 44u + 44100u * 4);
    EXPECT_EQ(fs::file_size(Output("b.avi.wav")), 44u + 1000u * 4);
    EXPECT_FALSE(fs::exists(Output("c.avi.wav")));
    EXPECT_TRUE(m_pBatch->GetFailures().empty());
}

TEST_F(BatchTest, ClosingWhileConvertingIsRefusedUntilTheQuestionIsAnswered) {
    m_clips.AddClip(Source("a.avi"));
    bool bClosableAfterTheFile = true;
    bool bConvertingAtQuestion = false;
    m_view.m_onStatus = [&](const std::string &strText) {
        if (strText.rfind("Progress:", 0) == 0) {
            bClosableAfterTheFile = m_pBatch->CanClose();
        }
        if (strText == "Conversion Done!") {
            bConvertingAtQuestion = m_pBatch->IsConverting();
        }
    };
    m_pBatch->OnStartConvert(m_clips);
    EXPECT_FALSE(m_pBatch->CanClose());
    FinishBatch();
    EXPECT_FALSE(bClosableAfterTheFile);
    EXPECT_TRUE(m_view.Has("message:Conversion is running, please stop it first!"));
    EXPECT_TRUE(bConvertingAtQuestion);
    EXPECT_TRUE(m_pBatch->CanClose());
}

TEST_F(BatchTest, LargeBatchHoldsOneDecoderAtATime) {
    m_view.m_format = OutputFormat::Wav;
    for (int i = 0; i < 40; ++i) {
        m_clips.AddClip(Source("clip" + std::to_string(i) + ".avi"));
    }
    RunBatch();
    EXPECT_TRUE(m_pBatch->GetFailures().empty());
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(fs::file_size(Output("clip" + std::to_string(i) + ".avi.wav")), 44u + 44100u * 4);
    }
    EXPECT_EQ(m_pScript->nMostLiveDecoders, 1);
    EXPECT_EQ(m_pScript->nLiveDecoders, 0);
}

TEST_F(BatchTest, TheBitrateALowRateFileLoweredReachesTheRecordThroughTheNotices) {
    m_pScript->wfx = WaveFormat{kWaveFormatPcm, 2, 8000, 8000 * 4, 4, 16, 0};
    m_pScript->nRealFrames = 8000;
    m_settings.m_iBitrate = 192;
    m_clips.AddClip(Source("low.avi"));
    RunBatch();
    EXPECT_EQ(m_settings.m_iBitrate, 64);
}

TEST_F(BatchTest, EmptyListStartsNothing) {
    m_pBatch->OnStartConvert(m_clips);
    EXPECT_TRUE(m_view.m_events.empty());
    EXPECT_FALSE(m_pBatch->IsConverting());
}

// Batches whose files are converted side by side.
class ParallelBatchTest : public BatchTest {
protected:
    std::string PathOf(const std::string &strName) const { return Source(strName); }
    int64_t WavFramesOf(const std::string &strOutput) const {
        const std::string strBytes = ReadFileBytes(Output(strOutput));
        return strBytes.size() < 44 ? -1 : static_cast<int64_t>(ReadU32(strBytes, 40) / 4);
    }
};

// The view reads the progress as often as it can while the workers run, as the window's timer does
// only faster: three files at once, each read twice (its loudness measured first), or long MP3 files
// whose parts count their frames on several workers at once.
TEST_F(ParallelBatchTest, ProgressReadWhileTheWorkersRunFollowsTheEarliestFileAndNeverGoesBack) {
    struct Case {
        const char *szName;
        OutputFormat format;
        int nFiles;
        double dSeconds;
        bool bNormalize;
    };
    for (const Case &c : {Case{"levelled WAV", OutputFormat::Wav, 5, 1.0, true},
                          Case{"divided MP3", OutputFormat::Mp3, 2, 9.5, false}}) {
        SCOPED_TRACE(c.szName);
        m_pScript->nFillsWaitForDecoders = c.nFiles < 3 ? c.nFiles : 3;
        m_pScript->nCreated = 0;
        m_pScript->nMostLiveDecoders = 0;
        m_pScript->llDuration = static_cast<int64_t>(c.dSeconds * 10000000);
        m_pScript->nRealFrames = static_cast<uint64_t>(c.dSeconds * 44100);
        m_clips = ClipList();
        for (int i = 0; i < c.nFiles; ++i) {
            m_clips.AddClip(PathOf("clip" + std::to_string(i) + ".avi"));
        }
        m_view.m_format = c.format;
        m_view.m_statusTexts.clear();
        m_settings.m_iQuality = 7;  // fast: only the progress is looked at
        m_pBatch->SetJobsAtOnce(3);
        m_pBatch->SetDivideAfterSeconds(2.0);
        m_pBatch->SetLoudnessTarget({c.bNormalize, -16.0});
        m_pBatch->OnStartConvert(m_clips);
        while (m_pBatch->IsConverting()) {
            m_pBatch->ShowProgress();
            if (m_view.WaitForWake(std::chrono::milliseconds(1))) {
                m_pBatch->HandlePosted();
            }
        }
        m_pBatch->WaitUntilIdle();
        int nLastFile = 0;
        double dLastPercent = 0.0;
        for (const std::string &strText : m_view.m_statusTexts) {
            int nFile = 0, nCount = 0;
            double dPercent = 0.0;
            if (std::sscanf(strText.c_str(), "Progress: %d of %d, %lf%%", &nFile, &nCount, &dPercent) != 3) {
                continue;
            }
            EXPECT_GE(nFile, nLastFile) << strText << ": the shown file went back";
            EXPECT_TRUE(nFile > nLastFile || dPercent >= dLastPercent)
                << strText << ": the percentage went back";
            EXPECT_LE(dPercent, 100.0) << strText;
            nLastFile = nFile;
            dLastPercent = dPercent;
        }
        ASSERT_GE(m_view.m_statusTexts.size(), 2u);
        EXPECT_EQ(m_view.m_statusTexts[m_view.m_statusTexts.size() - 2],
                  "Progress: " + std::to_string(c.nFiles) + " of " + std::to_string(c.nFiles) + ", 100.0%");
        EXPECT_TRUE(m_pBatch->GetFailures().empty());
        if (c.format == OutputFormat::Wav) {
            EXPECT_LE(m_pScript->nMostLiveDecoders, 3);
        }
    }
}

TEST_F(ParallelBatchTest, ASettingsChangeDuringABatchReachesOnlyTheFilesStartedAfterIt) {
    // Two files at once, both held in their first fill (their settings fixed by then) while the
    // settings dialog's change comes: a lower bitrate, levelling, and one file at a time. The third and
    // fourth files start after it.
    auto pGate = std::make_shared<FillGate>();
    std::atomic<int> nMostLaterFilesAtOnce{0};
    m_pScript->onFill = [&, pGate](uint64_t nPosition) {
        if (nPosition != 0) {
            return;
        }
        pGate->Arrive();
        const auto &jobs = m_pBatch->GetJobs();
        const int nAtOnce =
            static_cast<int>(std::count_if(jobs.begin() + 2, jobs.end(), [](const auto &pJob) {
                return pJob->GetState() == ConversionJob::State::Converting;
            }));
        nMostLaterFilesAtOnce = std::max(nMostLaterFilesAtOnce.load(), nAtOnce);
    };
    for (int i = 0; i < 4; ++i) {
        m_clips.AddClip(PathOf("clip" + std::to_string(i) + ".avi"));
    }
    m_settings.m_iBitrate = 192;
    m_pBatch->SetJobsAtOnce(2);
    m_pBatch->OnStartConvert(m_clips);
    ASSERT_TRUE(pGate->WaitForArrival(2));
    m_settings.m_iBitrate = 96;
    m_pBatch->OnSettingsChanged();
    m_pBatch->SetLoudnessTarget({true, -16.0});
    m_pBatch->SetJobsAtOnce(1);
    pGate->Open();
    FinishBatch();
    EXPECT_TRUE(m_pBatch->GetFailures().empty());
    const std::vector<std::unique_ptr<ConversionJob>> &jobs = m_pBatch->GetJobs();
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ProbeStream(Output("clip" + std::to_string(i) + ".avi.mp3"))["bit_rate"],
                  i < 2 ? "192000" : "96000");
        EXPECT_EQ(jobs[static_cast<size_t>(i)]->GetProgress().nPasses, i < 2 ? 1 : 2)
            << "levelled after the change";
    }
    EXPECT_EQ(nMostLaterFilesAtOnce, 1);
}

TEST_F(ParallelBatchTest, WorkersRunToTheEndWhileTheViewIsHeldInItsHandling) {
    // The view's thread is held in its handling of the first file's end, as a window is while a box
    // is open: the other files still convert and the batch's end is still posted, the view held.
    m_view.m_format = OutputFormat::Wav;
    for (int i = 0; i < 4; ++i) {
        m_clips.AddClip(PathOf("clip" + std::to_string(i) + ".avi"));
    }
    bool bHeld = false;
    bool bAllPostedWhileHeld = false;
    bool bAllEndedWhileHeld = false;
    m_view.m_onJobFinished = [&] {
        if (!bHeld) {
            bHeld = true;
            bAllPostedWhileHeld = m_view.WaitForWakes(5);  // four files' ends and the batch's
            const auto &jobs = m_pBatch->GetJobs();
            bAllEndedWhileHeld = std::all_of(jobs.begin(), jobs.end(), [](const auto &pJob) {
                return pJob->GetState() == ConversionJob::State::Ended;
            });
        }
    };
    m_pBatch->SetJobsAtOnce(2);
    RunBatch();
    EXPECT_TRUE(bAllPostedWhileHeld);
    EXPECT_TRUE(bAllEndedWhileHeld);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(WavFramesOf("clip" + std::to_string(i) + ".avi.wav"), 44100) << i;
    }
    EXPECT_EQ(m_view.m_events.back(), kQuestion);
}

TEST(ShownJobTest, TheCountNeverGoesBackWhateverOrderTheWorkersReportIn) {
    using P = JobProgress;
    EXPECT_EQ(ShownJobOf({P::Waiting, P::Waiting}), -1);
    EXPECT_EQ(ShownJobOf({P::Ended, P::Converting, P::Converting}), 1);
    // Job 4's start reached the view before job 3's: job 3 is taken, so it is the one shown, not 4.
    EXPECT_EQ(ShownJobOf({P::Ended, P::Ended, P::Ended, P::Waiting, P::Converting}), 3);
    // A later job that has already ended still means the earlier ones were taken.
    EXPECT_EQ(ShownJobOf({P::Ended, P::Waiting, P::Ended, P::Waiting}), 1);
    // Between one job ending and the next one's start, the ended one stays shown.
    EXPECT_EQ(ShownJobOf({P::Ended, P::Ended, P::Waiting}), 1);
    EXPECT_EQ(ShownJobOf({P::Ended, P::Ended, P::Ended}), 2);
}

TEST_F(ParallelBatchTest, SelectionsAreFixedAtStartWhateverTheListsLength) {
    for (int i = 0; i < 20; ++i) {
        const std::string strSource = PathOf("clip" + std::to_string(i) + ".avi");
        ASSERT_TRUE(WriteCutInfo(strSource, ClipInfo{100, 0, 50}));
        m_clips.AddClip(strSource);
    }
    m_view.m_format = OutputFormat::Wav;
    bool bEdited = false;
    m_view.m_onStatus = [&](const std::string &) {
        if (!bEdited) {
            bEdited = WriteCutInfo(PathOf("clip19.avi"), ClipInfo{100, 0, 100});
        }
    };
    RunBatch();
    ASSERT_TRUE(bEdited);
    EXPECT_EQ(WavFramesOf("clip19.avi.wav"), 22050) << "the selection as it was at Start";
}

TEST_F(ParallelBatchTest, ProgressOfAStreamWithoutLengthMovesByWhatWasRead) {
    m_pScript->llDuration = 0;
    m_pScript->nRealFrames = 40000;
    m_pScript->bTellsReadFraction = true;
    m_view.m_format = OutputFormat::Wav;
    m_clips.AddClip(PathOf("live.ts"));
    const std::vector<std::string> texts = ProgressAtEachFill(40);
    ASSERT_EQ(texts.size(), 40u);
    EXPECT_EQ(texts[20], "Progress: 1 of 1, 50.0%") << "20 000 of the 40 000 frames read";
    EXPECT_EQ(m_view.m_statusTexts[m_view.m_statusTexts.size() - 2], "Progress: 1 of 1, 100.0%");
}

}  // namespace

namespace {

// The percentages of "Progress: 1 of 1, X%" texts, in the order shown.
std::vector<double> ShownPercents(const std::vector<std::string> &texts) {
    std::vector<double> percents;
    for (const std::string &strText : texts) {
        double dPercent = 0.0;
        if (std::sscanf(strText.c_str(), "Progress: 1 of 1, %lf%%", &dPercent) == 1) {
            percents.push_back(dPercent);
        }
    }
    return percents;
}

}  // namespace

TEST_F(BatchTest, NormalisedJobRunsItsPercentageOnceOverBothPasses) {
    m_view.m_format = OutputFormat::Wav;
    m_clips.AddClip(Source("a.avi"));
    m_pBatch->SetLoudnessTarget({true, -16.0});
    // 45 fills a pass: 44 of 1000 frames and one of 100.
    const std::vector<double> percents = ShownPercents(ProgressAtEachFill(90));
    ASSERT_EQ(percents.size(), 90u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << "the percentage went back";
    EXPECT_EQ(percents.front(), 0.0);
    EXPECT_EQ(percents[45], 50.0) << "the second pass starts halfway";
    EXPECT_EQ(ShownPercents(m_view.m_statusTexts).back(), 100.0);
    EXPECT_TRUE(m_pBatch->GetFailures().empty());
    EXPECT_TRUE(fs::exists(Output("a.avi.wav")));
    // Both passes read the whole range: the measuring one and the converting one.
    EXPECT_EQ(m_pScript->nFills.load(), 2 * static_cast<int>((44100 + 999) / 1000));
}

TEST_F(BatchTest, StopWhileMeasuringWritesNoFileAndSaysWhy) {
    m_view.m_format = OutputFormat::Mp3;
    m_clips.AddClip(Source("a.avi"));
    m_clips.AddClip(Source("b.avi"));
    m_pBatch->SetLoudnessTarget({true, -16.0});
    // Pressed as the first file's second chunk is measured.
    m_pScript->llHookAtFrame = 1000;
    m_pScript->onFrameReached = [this] { m_pBatch->OnStopConvert(); };
    RunBatch();
    EXPECT_TRUE(m_pBatch->WasStopped());
    EXPECT_FALSE(fs::exists(Output("a.avi.mp3")));
    EXPECT_FALSE(fs::exists(Output("b.avi.mp3")));
    const std::vector<JobFailure> failures = m_pBatch->GetFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].strText, "Stopped while its loudness was being measured");
    // Nothing of the stopped job is left in the folder, not even its temporary.
    EXPECT_TRUE(fs::is_empty(m_view.m_strFolder));
}

}  // namespace klangor

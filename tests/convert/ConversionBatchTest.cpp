#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "JobTestSupport.h"
#include "convert/ConversionBatch.h"
#include "support/MediaFactory.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Records what the batch does to its window, in order.
class RecordingView : public IConversionView {
public:
    std::string m_strFolder;
    int m_iType = kOutputTypeMp3;
    bool m_bAnswerYes = false;
    std::vector<std::string> m_events;
    std::vector<std::string> m_statusTexts;
    int m_nProgressPos = -1;
    std::function<void(const std::string &)> m_onStatus;

    std::string GetOutputFolderText() override { return m_strFolder; }
    int GetOutputType() override { return m_iType; }
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
    void OnJobFinished(const std::string &strSource, const std::string &,
                       const std::string &strFailure) override {
        m_events.push_back("finished:" + ClipDisplayName(strSource) +
                           (strFailure.empty() ? "" : ":" + strFailure));
    }
    void RunOnViewThread(const std::function<void()> &fn) override { fn(); }

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
    void RunBatch() {
        m_pBatch->OnStartConvert(m_clips);
        m_pBatch->WaitUntilIdle();
        EXPECT_FALSE(m_pBatch->IsConverting());
    }
};

TEST(BatchNaming, OutputKeepsTheSourceNameAndExtension) {
    EXPECT_EQ(ConversionBatch::OutputPathFor("/out", "/media/talk.avi", kOutputTypeMp3), "/out/talk.avi.mp3");
    EXPECT_EQ(ConversionBatch::OutputPathFor("/out", "/media/song.wav", kOutputTypeWav), "/out/song.wav.wav");
    EXPECT_EQ(ConversionBatch::OutputPathFor("/out/", "song.wav", kOutputTypeMp3), "/out//song.wav.mp3");
    EXPECT_EQ(ConversionBatch::OutputPathFor("", "/m/a.avi", kOutputTypeMp3), "/a.avi.mp3");
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
    EXPECT_EQ(jobs[0]->m_strOutputPath, Output("x.avi.mp3"));
    EXPECT_EQ(jobs[1]->m_strOutputPath, Output("x.avi (2).mp3"));
    EXPECT_EQ(jobs[2]->m_strOutputPath, Output("x.avi (3).mp3"));
}

TEST_F(BatchTest, OutputNeverOverwritesASourceOfTheSameBatch) {
    m_view.m_strFolder = m_dir.Path().string();
    m_clips.AddClip(Source("x.avi"));
    m_clips.AddClip(Source("x.avi.mp3"));
    m_pBatch->PrepareJobs(m_clips);
    EXPECT_EQ(m_pBatch->GetJobs()[0]->m_strOutputPath, Source("x.avi (2).mp3"));
    EXPECT_EQ(m_pBatch->GetJobs()[1]->m_strOutputPath, Source("x.avi.mp3.mp3"));
}

TEST_F(BatchTest, ThreeJobsCountThroughAndEndIdleWithTheQuestion) {
    m_view.m_iType = kOutputTypeWav;
    for (const char *szName : {"a.avi", "b.avi", "c.avi"}) {
        m_clips.AddClip(Source(szName));
    }
    RunBatch();
    ASSERT_GE(m_view.m_statusTexts.size(), 3u);
    EXPECT_EQ(m_view.m_statusTexts.front(), "Progress: 1 of 3, 2.3%");
    EXPECT_EQ(m_view.m_statusTexts[m_view.m_statusTexts.size() - 2], "Progress: 3 of 3, 100.0%");
    EXPECT_EQ(m_view.m_statusTexts.back(), "Conversion Done!");
    EXPECT_EQ(m_view.m_nProgressPos, 0);
    EXPECT_EQ(
        std::count(m_view.m_statusTexts.begin(), m_view.m_statusTexts.end(), "Progress: 2 of 3, 100.0%"), 1);
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
    m_clips.AddClip(Source("a.avi"));
    RunBatch();
    EXPECT_EQ(m_view.m_statusTexts,
              (std::vector<std::string>{"Progress: 1 of 1, 40.0%", "Progress: 1 of 1, 80.0%",
                                        "Progress: 1 of 1, 100.0%", "Conversion Done!"}));
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

TEST_F(BatchTest, StopDuringTheSecondJobShortensItAndSkipsTheThird) {
    m_view.m_iType = kOutputTypeWav;
    for (const char *szName : {"a.avi", "b.avi", "c.avi"}) {
        m_clips.AddClip(Source(szName));
    }
    m_view.m_onStatus = [&](const std::string &strText) {
        if (strText.rfind("Progress: 2 of 3", 0) == 0) {
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
    bool bClosableDuringProgress = true;
    bool bConvertingAtQuestion = false;
    m_view.m_onStatus = [&](const std::string &strText) {
        if (strText.rfind("Progress:", 0) == 0 && m_view.m_statusTexts.size() == 1) {
            bClosableDuringProgress = m_pBatch->CanClose();
        }
        if (strText == "Conversion Done!") {
            bConvertingAtQuestion = m_pBatch->IsConverting();
        }
    };
    RunBatch();
    EXPECT_FALSE(bClosableDuringProgress);
    EXPECT_TRUE(m_view.Has("message:Conversion is running, please stop it first!"));
    EXPECT_TRUE(bConvertingAtQuestion);
    EXPECT_TRUE(m_pBatch->CanClose());
}

TEST_F(BatchTest, LargeBatchHoldsOneDecoderAtATime) {
    m_view.m_iType = kOutputTypeWav;
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

// Batches whose files are converted side by side; the notices come from the workers, one at a time.
class ParallelBatchTest : public BatchTest {
protected:
    std::string PathOf(const std::string &strName) const { return Source(strName); }
    int64_t WavFramesOf(const std::string &strOutput) const {
        const std::string strBytes = ReadFileBytes(Output(strOutput));
        return strBytes.size() < 44 ? -1 : static_cast<int64_t>(ReadU32(strBytes, 40) / 4);
    }
    // The file numbers of the progress texts, in the order shown.
    std::vector<int> ShownFileNumbers() const {
        std::vector<int> numbers;
        for (const std::string &strText : m_view.m_statusTexts) {
            int nFile = 0, nCount = 0;
            double dPercent = 0.0;
            char cPercent = 0;
            if (std::sscanf(strText.c_str(), "Progress: %d of %d, %lf%c", &nFile, &nCount, &dPercent,
                            &cPercent) == 4 &&
                cPercent == '%') {
                numbers.push_back(nFile);
                EXPECT_LE(dPercent, 100.0) << strText;
            }
        }
        return numbers;
    }
};

TEST_F(ParallelBatchTest, ProgressFollowsTheEarliestFileStillConverting) {
    m_pScript->nFillsWaitForDecoders = 3;
    for (int i = 0; i < 5; ++i) {
        m_clips.AddClip(PathOf("clip" + std::to_string(i) + ".avi"));
    }
    m_view.m_iType = kOutputTypeWav;
    m_pBatch->SetJobsAtOnce(3);
    RunBatch();
    const std::vector<int> numbers = ShownFileNumbers();
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.front(), 1);
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << "the shown file never goes back";
    EXPECT_EQ(m_view.m_statusTexts[m_view.m_statusTexts.size() - 2], "Progress: 5 of 5, 100.0%");
    EXPECT_NE(std::find(m_view.m_statusTexts.begin(), m_view.m_statusTexts.end(), "Progress: 1 of 5, 100.0%"),
              m_view.m_statusTexts.end());
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(WavFramesOf("clip" + std::to_string(i) + ".avi.wav"), 44100) << i;
    }
    EXPECT_LE(m_pScript->nMostLiveDecoders, 3);
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
    m_view.m_iType = kOutputTypeWav;
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
    m_view.m_iType = kOutputTypeWav;
    m_clips.AddClip(PathOf("live.ts"));
    RunBatch();
    const auto &texts = m_view.m_statusTexts;
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Progress: 1 of 1, 50.0%"), texts.end());
    EXPECT_EQ(texts[texts.size() - 2], "Progress: 1 of 1, 100.0%");
    ShownFileNumbers();  // checks that no text passes 100%
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
    m_view.m_iType = kOutputTypeWav;
    m_clips.AddClip(Source("a.avi"));
    m_pBatch->SetLoudnessTarget({true, -16.0});
    RunBatch();
    const std::vector<double> percents = ShownPercents(m_view.m_statusTexts);
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << "the percentage went back";
    EXPECT_LE(percents.front(), 2.0);
    EXPECT_NE(std::find(percents.begin(), percents.end(), 50.0), percents.end());
    EXPECT_EQ(percents.back(), 100.0);
    EXPECT_TRUE(m_pBatch->GetFailures().empty());
    EXPECT_TRUE(fs::exists(Output("a.avi.wav")));
    // Both passes read the whole range: the measuring one and the converting one.
    EXPECT_EQ(m_pScript->nFills.load(), 2 * static_cast<int>((44100 + 999) / 1000));
}

TEST_F(BatchTest, StopWhileMeasuringWritesNoFileAndSaysWhy) {
    m_view.m_iType = kOutputTypeMp3;
    m_clips.AddClip(Source("a.avi"));
    m_clips.AddClip(Source("b.avi"));
    m_pBatch->SetLoudnessTarget({true, -16.0});
    m_view.m_onStatus = [this](const std::string &strText) {
        if (strText.rfind("Progress: 1 of 2, 2", 0) == 0) {
            m_pBatch->OnStopConvert();
        }
    };
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

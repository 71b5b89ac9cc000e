// Writers whose jobs are converted side by side: stop, resources, failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <new>
#include <set>

#include "JobTestSupport.h"
#include "convert/outputs/Mp3JobOutput.h"
#include "convert/batch/WriterThread.h"
#include "convert/outputs/WavJobOutput.h"
#include "support/MediaFactory.h"
#include "support/TempDir.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

// The data frames of a WAV file, checked against its own header; -1 when the file is not well-formed.
int64_t WavFrames(const std::string &strPath) {
    const std::string strBytes = ReadFileBytes(strPath);
    if (strBytes.size() < 44 || strBytes.substr(0, 4) != "RIFF" || strBytes.substr(36, 4) != "data") {
        return -1;
    }
    const uint32_t nData = ReadU32(strBytes, 40);
    if (ReadU32(strBytes, 4) != nData + 36 || strBytes.size() != 44u + nData) {
        return -1;
    }
    return nData / ReadU16(strBytes, 32);
}

std::vector<std::string> HiddenFiles(const fs::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string()[0] == '.') {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

class ParallelWriterTest : public ::testing::Test {
protected:
    TempDir m_dir;
    JobSet m_jobs;
    NoticeRecorder m_recorder;
    std::shared_ptr<DecoderScript> m_pScript = std::make_shared<DecoderScript>();

    std::string PathOf(const std::string &strName) const { return (m_dir.Path() / strName).string(); }
    // Jobs left closed, as a batch prepares them: each is opened by its worker for its turn.
    void AddJobs(int nCount, const char *szExtension) {
        for (int i = 0; i < nCount; ++i) {
            const std::string strName = "clip" + std::to_string(i);
            m_jobs.Add(PathOf(strName + ".avi"), PathOf(strName + szExtension), m_pScript);
        }
    }

    // A batch of one file per script, as ConvertToMp3 makes them, converted to MP3 by the writer; the
    // outputs' bytes in list order.
    std::vector<std::string> ConvertToMp3(const std::vector<std::shared_ptr<DecoderScript>> &scripts,
                                          WriterThread &writer, EncoderSettings &settings, int nJobs,
                                          double dSplitSeconds) {
        m_jobs = JobSet();
        for (size_t i = 0; i < scripts.size(); ++i) {
            m_jobs.Add(PathOf("clip" + std::to_string(i) + ".avi"),
                       PathOf("clip" + std::to_string(i) + ".mp3"), scripts[i]);
        }
        writer.SetJobsAtOnce(nJobs);
        writer.SetDivideAfterSeconds(dSplitSeconds);
        EXPECT_EQ(writer.Start(m_jobs.Pointers(), OutputFormat::Mp3, settings), 0);
        writer.Wait();
        std::vector<std::string> outputs;
        for (const auto &pJob : m_jobs.jobs) {
            EXPECT_EQ(pJob->GetError(), "") << pJob->GetOutputPath();
            outputs.push_back(ReadFileBytes(pJob->GetOutputPath()));
        }
        return outputs;
    }
};

// 16-bit mono of the given length and rate.
std::shared_ptr<DecoderScript> ClipScript(double dSeconds, uint32_t nRate) {
    auto pScript = std::make_shared<DecoderScript>();
    pScript->wfx = WaveFormat{kWaveFormatPcm, 1, nRate, nRate * 2, 2, 16, 0};
    pScript->nRealFrames = static_cast<uint64_t>(dSeconds * nRate);
    pScript->llDuration = static_cast<int64_t>(dSeconds * 10000000);
    return pScript;
}

TEST_F(ParallelWriterTest, StopFinishesEveryRunningFileShortAndStartsNoMore) {
    m_pScript->nRealFrames = 441000;
    m_pScript->llDuration = 100000000;
    m_pScript->nFillsWaitForDecoders = 3;
    WriterThread writer;
    // Once all three files are being read (the fills wait for three decoders), the first to reach a
    // tenth of its file stops the batch.
    m_pScript->llHookAtFrame = 44100;
    m_pScript->onFrameReached = [&writer] { writer.Stop(); };
    AddJobs(5, ".wav");
    writer.SetJobsAtOnce(3);
    writer.SetNotify(&NoticeRecorder::Proc, &m_recorder);
    ASSERT_EQ(writer.Start(m_jobs.Pointers(), OutputFormat::Wav), 0);
    writer.Wait();
    EXPECT_EQ(m_recorder.notices.back().nKind, NOTICE_BATCH_DONE);
    const std::vector<uint64_t> frames = m_jobs.FramesPerJob();
    ASSERT_EQ(frames.size(), 3u) << "no job starts after the stop";
    for (int i = 0; i < 3; ++i) {
        const std::string strPath = PathOf("clip" + std::to_string(i) + ".wav");
        EXPECT_EQ(WavFrames(strPath), static_cast<int64_t>(frames[i])) << strPath;
        EXPECT_LT(frames[i], 441000u) << "finished short";
        EXPECT_TRUE(m_jobs.jobs[i]->GetError().empty());
    }
    EXPECT_FALSE(fs::exists(PathOf("clip3.wav")));
    EXPECT_FALSE(fs::exists(PathOf("clip4.wav")));
    EXPECT_TRUE(HiddenFiles(m_dir.Path()).empty());
    EXPECT_EQ(m_pScript->nLiveDecoders, 0);
}

TEST_F(ParallelWriterTest, DecodersNeverOutnumberTheJobsAtOnce) {
    m_pScript->nFillsWaitForDecoders = 2;
    AddJobs(6, ".mp3");
    EncoderSettings settings;
    WriterThread writer;
    writer.SetJobsAtOnce(2);
    writer.SetNotify(&NoticeRecorder::Proc, &m_recorder);
    ASSERT_EQ(writer.Start(m_jobs.Pointers(), OutputFormat::Mp3, settings), 0);
    writer.Wait();
    EXPECT_EQ(m_pScript->nMostLiveDecoders, 2);
    EXPECT_EQ(m_pScript->nLiveDecoders, 0);
    EXPECT_EQ(m_pScript->lastFormat, PcmSampleFormat::Float) << "MP3 jobs are opened for float";
    EXPECT_EQ(m_jobs.FramesPerJob(), std::vector<uint64_t>(6, 44100));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(DecodeS16(PathOf("clip" + std::to_string(i) + ".mp3")).size(), 44100u * 4) << i;
    }
    // Every job ends once, and the batch after all of them.
    std::map<int32_t, int> ends;
    for (size_t i = 0; i + 1 < m_recorder.notices.size(); ++i) {
        EXPECT_EQ(m_recorder.notices[i].nKind, NOTICE_JOB_ENDED);
        ++ends[m_recorder.notices[i].nJob];
    }
    EXPECT_EQ(ends.size(), 6u);
    for (const auto &[nJob, nEnds] : ends) {
        EXPECT_EQ(nEnds, 1) << "job " << nJob;
    }
}

TEST_F(ParallelWriterTest, AJobThatThrowsFailsAloneAndLeavesNoFile) {
    auto pThrowing = std::make_shared<DecoderScript>();
    pThrowing->bThrowInFill = true;
    m_jobs.Add(PathOf("a.avi"), PathOf("a.wav"), pThrowing);
    m_jobs.Add(PathOf("b.avi"), PathOf("b.wav"));
    WriterThread writer;
    writer.SetJobsAtOnce(2);
    writer.SetNotify(&NoticeRecorder::Proc, &m_recorder);
    ASSERT_EQ(writer.Start(m_jobs.Pointers(), OutputFormat::Wav), 0);
    writer.Wait();
    EXPECT_EQ(m_jobs.jobs[0]->GetError(), "decoder ran out of memory");
    EXPECT_EQ(m_jobs.scripts[0]->nLiveDecoders, 0) << "the job's reader went with its turn";
    EXPECT_FALSE(fs::exists(PathOf("a.wav")));
    EXPECT_EQ(WavFrames(PathOf("b.wav")), 44100);
    EXPECT_TRUE(HiddenFiles(m_dir.Path()).empty());
}

TEST_F(ParallelWriterTest, TheBytesWrittenDependOnNeitherTheJobsAtOnceNorTheTiming) {
    // Long files (divided in two at a 2 s threshold) between short ones.
    const std::vector<double> seconds = {0.4, 9.5, 1.0, 9.0};
    struct Run {
        int nJobs;
        int nSlowed;  // the file whose decoding is slowed, -1 for none
    };
    const Run runs[] = {{1, -1}, {2, -1}, {3, -1}, {1, -1}, {2, -1}, {3, -1}, {2, 0}};
    std::vector<std::string> first;
    for (const Run &run : runs) {
        SCOPED_TRACE("--jobs " + std::to_string(run.nJobs) + ", slowed file " + std::to_string(run.nSlowed));
        std::vector<std::shared_ptr<DecoderScript>> scripts;
        for (size_t i = 0; i < seconds.size(); ++i) {
            scripts.push_back(ClipScript(seconds[i], 44100));
            if (static_cast<int>(i) == run.nSlowed) {
                scripts.back()->fillDelay = std::chrono::milliseconds(20);
            }
        }
        EncoderSettings settings;
        settings.m_iQuality = 7;  // fast: the bytes are compared, not the sound
        WriterThread writer;
        const std::vector<std::string> outputs = ConvertToMp3(scripts, writer, settings, run.nJobs, 2.0);
        if (first.empty()) {
            first = outputs;
            // Otherwise nothing was divided and the rest proves nothing.
            WriterThread whole;
            const std::vector<std::string> undivided = ConvertToMp3(scripts, whole, settings, 1, 0.0);
            EXPECT_TRUE(undivided[0] == first[0] && undivided[2] == first[2]);
            EXPECT_TRUE(undivided[1] != first[1] && undivided[3] != first[3]);
        }
        for (size_t i = 0; i < outputs.size(); ++i) {
            EXPECT_TRUE(outputs[i] == first[i]) << "clip" << i << ".mp3 differs from the first run's";
        }
    }
}

TEST_F(ParallelWriterTest, APartRunningOutOfMemoryOnlySendsItsFileToBeEncodedWhole) {
    auto pScript = ClipScript(9.5, 44100);
    // Once, in the second part's decoding only: the undivided encode after it gets every frame.
    pScript->llHookAtFrame = 8 * 44100;
    pScript->onFrameReached = [] { throw std::bad_alloc(); };
    EncoderSettings settings;
    WriterThread writer;
    const std::vector<std::string> outputs = ConvertToMp3({pScript}, writer, settings, 2, 2.0);
    ASSERT_TRUE(pScript->bHookCalled);
    WriterThread whole;
    EXPECT_TRUE(outputs == ConvertToMp3({ClipScript(9.5, 44100)}, whole, settings, 1, 0.0));
}

TEST_F(ParallelWriterTest, EveryFileGetsTheSettingsItWouldGetOneAtATime) {
    // A low-rate file that is slow to open, and after it a file at 44.1 kHz: one at a time, the first
    // lowers the bitrate to 64 kbps for the second too.
    struct Outcome {
        std::vector<std::string> outputs;
        int32_t iBitrateBeforeWriteBack = 0;
        int32_t iBitrateAfter = 0;
    };
    const auto convert = [&](int nJobs) {
        auto pLow = ClipScript(0.5, 8000);
        pLow->openDelay = std::chrono::milliseconds(300);
        EncoderSettings settings;
        settings.m_iBitrate = 192;
        WriterThread writer;
        Outcome outcome;
        outcome.outputs = ConvertToMp3({pLow, ClipScript(0.5, 44100)}, writer, settings, nJobs, 2.0);
        outcome.iBitrateBeforeWriteBack = settings.m_iBitrate;
        // What the window's thread does as the batch's ends reach it.
        writer.WriteBackSettings(settings);
        outcome.iBitrateAfter = settings.m_iBitrate;
        return outcome;
    };
    const Outcome one = convert(1);
    const Outcome two = convert(2);
    EXPECT_TRUE(one.outputs == two.outputs);
    EXPECT_EQ(ProbeStream(PathOf("clip1.mp3"))["bit_rate"], "64000");
    for (const Outcome &outcome : {one, two}) {
        EXPECT_EQ(outcome.iBitrateBeforeWriteBack, 192) << "no worker writes the record";
        EXPECT_EQ(outcome.iBitrateAfter, 64);
    }
}

}  // namespace

}  // namespace klangor

// Writers whose jobs are converted side by side: stop, resources, failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "JobTestSupport.h"
#include "convert/Mp3WriterThread.h"
#include "convert/WavWriterThread.h"
#include "support/MediaFactory.h"
#include "support/TempDir.h"

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
            m_jobs.scripts.push_back(m_pScript);
            m_jobs.jobs.push_back(std::make_unique<AudioStreamReader>(ScriptedFactory(m_pScript)));
            m_jobs.jobs.back()->FixSelection(PathOf(strName + ".avi"));
            m_jobs.jobs.back()->m_strOutputPath = PathOf(strName + szExtension);
        }
    }
};

TEST_F(ParallelWriterTest, StopFinishesEveryRunningFileShortAndStartsNoMore) {
    m_pScript->nRealFrames = 441000;
    m_pScript->llDuration = 100000000;
    m_pScript->nFillsWaitForDecoders = 3;
    AddJobs(5, ".wav");
    WavWriterThread writer;
    writer.SetJobsAtOnce(3);
    std::set<int32_t> reporting;
    int32_t nStoppingJob = -1;
    m_recorder.onNotice = [&](const ConversionNotice &notice) {
        if (notice.nKind == NOTICE_PROGRESS && reporting.insert(notice.nJob).second && reporting.size() == 3) {
            nStoppingJob = notice.nJob;
            writer.Stop();
        }
    };
    writer.SetNotify(&NoticeRecorder::Proc, &m_recorder);
    ASSERT_EQ(writer.Start(m_jobs.Pointers()), 0);
    writer.Wait();
    EXPECT_EQ(m_recorder.notices.back().nKind, NOTICE_BATCH_DONE);
    const std::vector<uint64_t> frames = m_recorder.FramesPerJob();
    ASSERT_EQ(frames.size(), 3u) << "no job starts after the stop";
    for (int i = 0; i < 3; ++i) {
        const std::string strPath = PathOf("clip" + std::to_string(i) + ".wav");
        EXPECT_EQ(WavFrames(strPath), static_cast<int64_t>(frames[i])) << strPath;
        EXPECT_TRUE(m_jobs.jobs[i]->m_strJobError.empty());
    }
    ASSERT_GE(nStoppingJob, 0);
    EXPECT_LT(frames[static_cast<size_t>(nStoppingJob)], 441000u) << "finished short";
    EXPECT_FALSE(fs::exists(PathOf("clip3.wav")));
    EXPECT_FALSE(fs::exists(PathOf("clip4.wav")));
    EXPECT_TRUE(HiddenFiles(m_dir.Path()).empty());
    EXPECT_EQ(m_pScript->nLiveDecoders, 0);
}

TEST_F(ParallelWriterTest, DecodersNeverOutnumberTheJobsAtOnce) {
    m_pScript->nFillsWaitForDecoders = 2;
    AddJobs(6, ".mp3");
    EncoderSettings settings;
    Mp3WriterThread writer;
    writer.SetJobsAtOnce(2);
    writer.SetNotify(&NoticeRecorder::Proc, &m_recorder);
    ASSERT_EQ(writer.Start(m_jobs.Pointers(), settings), 0);
    writer.Wait();
    EXPECT_EQ(m_pScript->nMostLiveDecoders, 2);
    EXPECT_EQ(m_pScript->nLiveDecoders, 0);
    EXPECT_EQ(m_pScript->lastFormat, PcmSampleFormat::Float) << "MP3 jobs are opened for float";
    EXPECT_EQ(m_recorder.FramesPerJob(), std::vector<uint64_t>(6, 44100));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(DecodeS16(PathOf("clip" + std::to_string(i) + ".mp3")).size(), 44100u * 4) << i;
    }
    // Every job's notices come between its start and its end.
    std::map<int32_t, int> phase;
    for (const ConversionNotice &notice : m_recorder.notices) {
        if (notice.nKind == NOTICE_BATCH_DONE) {
            continue;
        }
        const int nExpected = notice.nKind == NOTICE_JOB_STARTED ? 0 : 1;
        EXPECT_EQ(phase[notice.nJob], nExpected) << "job " << notice.nJob << " kind " << notice.nKind;
        if (notice.nKind != NOTICE_PROGRESS) {
            ++phase[notice.nJob];
        }
    }
}

TEST_F(ParallelWriterTest, AJobThatThrowsFailsAloneAndLeavesNoFile) {
    auto pThrowing = std::make_shared<DecoderScript>();
    pThrowing->bThrowInFill = true;
    m_jobs.Add(PathOf("a.avi"), PathOf("a.wav"), pThrowing);
    m_jobs.Add(PathOf("b.avi"), PathOf("b.wav"));
    WavWriterThread writer;
    writer.SetJobsAtOnce(2);
    writer.SetNotify(&NoticeRecorder::Proc, &m_recorder);
    ASSERT_EQ(writer.Start(m_jobs.Pointers()), 0);
    writer.Wait();
    EXPECT_EQ(m_jobs.jobs[0]->m_strJobError, "decoder ran out of memory");
    EXPECT_FALSE(m_jobs.jobs[0]->IsOpen()) << "the job was closed after its turn";
    EXPECT_FALSE(fs::exists(PathOf("a.wav")));
    EXPECT_EQ(WavFrames(PathOf("b.wav")), 44100);
    EXPECT_TRUE(HiddenFiles(m_dir.Path()).empty());
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "JobTestSupport.h"
#include "convert/outputs/WavJobOutput.h"
#include "convert/batch/WriterThread.h"
#include "support/MediaFactory.h"
#include "support/TempDir.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

class WavWriterTest : public ::testing::Test {
protected:
    TempDir m_dir;
    JobSet m_jobs;
    NoticeRecorder m_recorder;

    std::string PathOf(const std::string &strName) const { return (m_dir.Path() / strName).string(); }
    // One file at a time unless asked otherwise: the design's order of notices and files.
    void Run(WriterThread &writer, int nJobsAtOnce = 1) {
        writer.SetJobsAtOnce(nJobsAtOnce);
        writer.SetNotify(&NoticeRecorder::Proc, &m_recorder);
        ASSERT_EQ(writer.Start(m_jobs.Pointers(), OutputFormat::Wav), 0);
        writer.Wait();
        ASSERT_FALSE(m_recorder.notices.empty());
        EXPECT_EQ(m_recorder.notices.back().nKind, NOTICE_BATCH_DONE);
        EXPECT_EQ(writer.IsRunning(), 0);
    }
    // Checks the header against the format and the data size, and returns the data bytes.
    std::string CheckedData(const std::string &strPath, const WaveFormat &wfx, uint32_t nFrames) {
        const std::string strBytes = ReadFileBytes(strPath);
        EXPECT_EQ(strBytes.size(), 44u + uint64_t{nFrames} * wfx.nBlockAlign);
        if (strBytes.size() < 44) {
            return {};
        }
        EXPECT_EQ(strBytes.substr(0, 4), "RIFF");
        EXPECT_EQ(ReadU32(strBytes, 4), nFrames * wfx.nBlockAlign + 36);
        EXPECT_EQ(strBytes.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(ReadU32(strBytes, 16), 16u);
        EXPECT_EQ(ReadU16(strBytes, 20), wfx.wFormatTag);
        EXPECT_EQ(ReadU16(strBytes, 22), wfx.nChannels);
        EXPECT_EQ(ReadU32(strBytes, 24), wfx.nSamplesPerSec);
        EXPECT_EQ(ReadU32(strBytes, 28), wfx.nAvgBytesPerSec);
        EXPECT_EQ(ReadU16(strBytes, 32), wfx.nBlockAlign);
        EXPECT_EQ(ReadU16(strBytes, 34), wfx.wBitsPerSample);
        EXPECT_EQ(strBytes.substr(36, 4), "data");
        EXPECT_EQ(ReadU32(strBytes, 40), nFrames * wfx.nBlockAlign);
        return strBytes.substr(44);
    }
};

TEST_F(WavWriterTest, SizesCountOnlyEachFilesOwnFrames) {
    auto pLong = std::make_shared<DecoderScript>();
    pLong->llDuration = 50000000;
    pLong->nRealFrames = 5 * 44100;
    ASSERT_TRUE(WriteCutInfo(PathOf("a.avi"), ClipInfo{500, 150, 400}));
    m_jobs.Add(PathOf("a.avi"), PathOf("a.wav"), pLong);
    m_jobs.Add(PathOf("b.avi"), PathOf("b.wav"));
    WriterThread writer;
    Run(writer);

    const std::string strData = CheckedData(PathOf("a.wav"), pLong->wfx, 110250);
    EXPECT_EQ(fs::file_size(PathOf("a.wav")), 441044u);
    ASSERT_EQ(strData.size(), 441000u);
    for (size_t nFrame = 0; nFrame < 110250; nFrame += 1013) {
        EXPECT_EQ(static_cast<uint8_t>(strData[nFrame * 4 + 2]),
                  DecoderScript::PatternByte(66150 + nFrame, 2));
    }
    CheckedData(PathOf("b.wav"), m_jobs.scripts[1]->wfx, 44100);
    EXPECT_EQ(m_jobs.FramesPerJob(), (std::vector<uint64_t>{110250, 44100}));
    EXPECT_TRUE(m_jobs.jobs[0]->GetError().empty());
}

TEST_F(WavWriterTest, EmptyRangeGivesA44ByteFile) {
    ASSERT_TRUE(WriteCutInfo(PathOf("a.avi"), ClipInfo{100, 30, 30}));
    m_jobs.Add(PathOf("a.avi"), PathOf("a.wav"));
    WriterThread writer;
    Run(writer);
    CheckedData(PathOf("a.wav"), m_jobs.scripts[0]->wfx, 0);
}

TEST_F(WavWriterTest, EightBitMonoBytesAreCopiedUnchanged) {
    auto pScript = std::make_shared<DecoderScript>();
    pScript->wfx = WaveFormat{kWaveFormatPcm, 1, 8000, 8000, 1, 8, 0};
    pScript->llDuration = 10000000;
    pScript->nRealFrames = 8000;
    m_jobs.Add(PathOf("a.wav"), PathOf("out.wav"), pScript);
    WriterThread writer;
    Run(writer);
    const std::string strData = CheckedData(PathOf("out.wav"), pScript->wfx, 8000);
    ASSERT_EQ(strData.size(), 8000u);
    for (size_t i = 0; i < strData.size(); ++i) {
        ASSERT_EQ(static_cast<uint8_t>(strData[i]), DecoderScript::PatternByte(i, 0)) << i;
    }
}

TEST_F(WavWriterTest, ExistingOutputIsOverwritten) {
    std::ofstream(PathOf("a.wav")) << std::string(100000, 'x');
    m_jobs.Add(PathOf("a.avi"), PathOf("a.wav"));
    WriterThread writer;
    Run(writer);
    CheckedData(PathOf("a.wav"), m_jobs.scripts[0]->wfx, 44100);
}

TEST_F(WavWriterTest, StopFinishesTheCurrentFileWellFormedAndSkipsTheRest) {
    WriterThread writer;
    auto pStopping = std::make_shared<DecoderScript>();
    // Stops while the second file's third chunk is being read; that chunk is still written.
    pStopping->llHookAtFrame = 2000;
    pStopping->onFrameReached = [&writer] { writer.Stop(); };
    m_jobs.Add(PathOf("a.avi"), PathOf("a.wav"));
    m_jobs.Add(PathOf("b.avi"), PathOf("b.wav"), pStopping);
    m_jobs.Add(PathOf("c.avi"), PathOf("c.wav"));
    Run(writer);
    CheckedData(PathOf("a.wav"), m_jobs.scripts[0]->wfx, 44100);
    CheckedData(PathOf("b.wav"), m_jobs.scripts[1]->wfx, 3000);
    EXPECT_FALSE(fs::exists(PathOf("c.wav")));
}

TEST_F(WavWriterTest, UnwritableJobsAreRecordedAndTheBatchGoesOn) {
    auto pFailing = std::make_shared<DecoderScript>();
    pFailing->llFailFillAtFrame = 2500;
    auto pNoAudio = std::make_shared<DecoderScript>();
    pNoAudio->iOpenResult = -1;
    m_jobs.Add(PathOf("a.avi"), PathOf("missing/a.wav"));
    m_jobs.Add(PathOf("b.avi"), PathOf("b.wav"), pFailing);
    m_jobs.Add(PathOf("c.avi"), PathOf("c.wav"), pNoAudio);
    m_jobs.Add(PathOf("d.avi"), PathOf("d.wav"));
    WriterThread writer;
    Run(writer);
    EXPECT_EQ(m_jobs.jobs[0]->GetError(), "Cannot create output file");
    EXPECT_EQ(m_jobs.jobs[1]->GetError(), "Cannot update audio sample");
    EXPECT_FALSE(fs::exists(PathOf("b.wav"))) << "a file cut short by a read failure must not stay";
    EXPECT_EQ(m_jobs.jobs[2]->GetError(), "Can not find audio in you Media file!");
    EXPECT_FALSE(fs::exists(PathOf("c.wav")));
    EXPECT_TRUE(m_jobs.jobs[3]->GetError().empty());
    CheckedData(PathOf("d.wav"), m_jobs.scripts[3]->wfx, 44100);
    EXPECT_EQ(writer.GetLastError(), "Can not find audio in you Media file!");
}

TEST_F(WavWriterTest, FullDiskIsAFailureNotAFile) {
    fs::create_symlink("/dev/full", PathOf("full.wav"));
    m_jobs.Add(PathOf("a.avi"), PathOf("full.wav"));
    m_jobs.Add(PathOf("b.avi"), PathOf("b.wav"));
    WriterThread writer;
    Run(writer);
    EXPECT_EQ(m_jobs.jobs[0]->GetError(), "Error writing mp3 output");
    EXPECT_TRUE(fs::exists("/dev/full"));
    CheckedData(PathOf("b.wav"), m_jobs.scripts[1]->wfx, 44100);
}

TEST_F(WavWriterTest, DataPastWhat32BitSizesCountIsWrittenAsRf64) {
    // The writer is told that RIFF sizes end at 100 000 bytes, so a second of stereo passes them. The
    // first job's length says so in advance; the second's container claims a tenth of what it holds,
    // so room for the 64-bit sizes is only made at its end; the third stays below the limit.
    m_jobs.Add(PathOf("a.avi"), PathOf("a.wav"));
    auto pUnderstated = std::make_shared<DecoderScript>();
    pUnderstated->llDuration = 1000000;
    m_jobs.Add(PathOf("b.avi"), PathOf("b.wav"), pUnderstated);
    auto pShort = std::make_shared<DecoderScript>();
    pShort->llDuration = 1000000;
    pShort->nRealFrames = 4410;
    m_jobs.Add(PathOf("c.avi"), PathOf("c.wav"), pShort);
    WriterThread writer(100000);
    Run(writer);
    for (const char *szName : {"a.wav", "b.wav"}) {
        SCOPED_TRACE(szName);
        const std::string strBytes = ReadFileBytes(PathOf(szName));
        ASSERT_EQ(strBytes.size(), 80u + 176400u);
        EXPECT_EQ(strBytes.substr(0, 4), "RF64");
        EXPECT_EQ(ReadU32(strBytes, 4), 0xFFFFFFFFu);
        EXPECT_EQ(strBytes.substr(8, 8), "WAVEds64");
        EXPECT_EQ(ReadU32(strBytes, 16), 28u);
        EXPECT_EQ(ReadU32(strBytes, 20), strBytes.size() - 8) << "64-bit RIFF size, low half";
        EXPECT_EQ(ReadU32(strBytes, 28), 176400u) << "64-bit data size, low half";
        EXPECT_EQ(ReadU32(strBytes, 36), 44100u) << "64-bit sample count, low half";
        EXPECT_EQ(strBytes.substr(48, 4), "fmt ");
        EXPECT_EQ(strBytes.substr(72, 4), "data");
        EXPECT_EQ(ReadU32(strBytes, 76), 0xFFFFFFFFu);
        // ffmpeg reads the sizes from the ds64 chunk: every frame and nothing else.
        EXPECT_EQ(ProbeFormat(PathOf(szName)).at("duration"), "1.000000");
        EXPECT_TRUE(DecodeS16(PathOf(szName)) == strBytes.substr(80));
        EXPECT_TRUE(m_jobs.jobs[szName[0] - 'a']->GetError().empty());
    }
    CheckedData(PathOf("c.wav"), pShort->wfx, 4410);
}

TEST_F(WavWriterTest, RunningFlagStaysUpUntilTheBatchDoneNoticeReturns) {
    m_jobs.Add(PathOf("a.avi"), PathOf("a.wav"));
    WriterThread writer;
    int iRunningAtDone = -1;
    m_recorder.onNotice = [&](const ConversionNotice &notice) {
        if (notice.nKind == NOTICE_BATCH_DONE) {
            iRunningAtDone = writer.IsRunning();
        }
    };
    Run(writer);
    EXPECT_EQ(iRunningAtDone, 1);
    ASSERT_EQ(m_recorder.notices.size(), 2u);
    EXPECT_EQ(m_recorder.notices.front().nKind, NOTICE_JOB_ENDED);
    EXPECT_EQ(m_recorder.notices.front().nJob, 0);
}

}  // namespace

}  // namespace klangor

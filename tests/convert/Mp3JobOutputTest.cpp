#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "JobTestSupport.h"
#include "convert/outputs/Mp3JobOutput.h"
#include "convert/batch/WriterThread.h"
#include "support/MediaFactory.h"
#include "support/TempDir.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

// An MPEG audio layer III frame header, read independently of the encoder.
struct Mp3Header {
    bool bMpeg1 = false;
    int nBitrate = 0;
    int nSampleRate = 0;
    bool bCrc = false;
    bool bPrivate = false;
    int nMode = 0;
    bool bCopyright = false;
    bool bOriginal = false;
    int nFrameBytes = 0;
};

bool ParseMp3Header(const std::string &strBytes, size_t nPos, Mp3Header &header) {
    if (nPos + 4 > strBytes.size()) {
        return false;
    }
    const auto b = [&](size_t i) { return static_cast<uint8_t>(strBytes[nPos + i]); };
    if (b(0) != 0xFF || (b(1) & 0xE0) != 0xE0 || ((b(1) >> 1) & 3) != 1) {
        return false;
    }
    static const int kRates1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kRates2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int kFreq[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    const int nVersion = (b(1) >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int nRateIndex = b(2) >> 4;
    const int nFreqIndex = (b(2) >> 2) & 3;
    if (nVersion == 1 || nRateIndex == 0 || nRateIndex == 15 || nFreqIndex == 3) {
        return false;
    }
    header.bMpeg1 = nVersion == 3;
    header.nBitrate = header.bMpeg1 ? kRates1[nRateIndex] : kRates2[nRateIndex];
    header.nSampleRate = kFreq[nVersion == 3 ? 0 : nVersion == 2 ? 1 : 2][nFreqIndex];
    header.bCrc = (b(1) & 1) == 0;
    header.bPrivate = (b(2) & 1) != 0;
    header.nMode = b(3) >> 6;
    header.bCopyright = (b(3) & 8) != 0;
    header.bOriginal = (b(3) & 4) != 0;
    const int nPadding = (b(2) >> 1) & 1;
    header.nFrameBytes = (header.bMpeg1 ? 144000 : 72000) * header.nBitrate / header.nSampleRate + nPadding;
    return true;
}

// The header of the first audio frame after the encoder's own header frame.
Mp3Header SecondFrameHeader(const std::string &strPath) {
    const std::string strBytes = ReadFileBytes(strPath);
    Mp3Header first, second;
    EXPECT_TRUE(ParseMp3Header(strBytes, 0, first)) << strPath;
    EXPECT_TRUE(ParseMp3Header(strBytes, static_cast<size_t>(first.nFrameBytes), second)) << strPath;
    return second;
}

double Rms(const std::string &strPcm) {
    double dSum = 0;
    const size_t nSamples = strPcm.size() / 2;
    for (size_t i = 0; i < nSamples; ++i) {
        int16_t iSample;
        std::memcpy(&iSample, strPcm.data() + 2 * i, 2);
        dSum += static_cast<double>(iSample) * iSample;
    }
    return nSamples ? std::sqrt(dSum / static_cast<double>(nSamples)) : 0.0;
}

class Mp3WriterTest : public ::testing::Test {
protected:
    TempDir m_dir;
    JobSet m_jobs;
    NoticeRecorder m_recorder;
    EncoderSettings m_settings;

    std::string PathOf(const std::string &strName) const { return (m_dir.Path() / strName).string(); }
    // One file at a time unless asked otherwise: the design's order of notices and files.
    void Run(WriterThread &writer, int nJobsAtOnce = 1) {
        writer.SetJobsAtOnce(nJobsAtOnce);
        writer.SetNotify(&NoticeRecorder::Proc, &m_recorder);
        ASSERT_EQ(writer.Start(m_jobs.Pointers(), OutputFormat::Mp3, m_settings), 0);
        writer.Wait();
        ASSERT_FALSE(m_recorder.notices.empty());
        EXPECT_EQ(m_recorder.notices.back().nKind, NOTICE_BATCH_DONE);
    }
};

TEST_F(Mp3WriterTest, SelectionDecodesToExactlyTheSelectedFrames) {
    auto pScript = std::make_shared<DecoderScript>();
    pScript->llDuration = 50000000;
    pScript->nRealFrames = 5 * 44100;
    ASSERT_TRUE(WriteCutInfo(PathOf("a.avi"), ClipInfo{500, 150, 400}));
    m_jobs.Add(PathOf("a.avi"), PathOf("a.mp3"), pScript);
    WriterThread writer;
    Run(writer);
    EXPECT_TRUE(m_jobs.jobs[0]->GetError().empty());
    EXPECT_EQ(DecodeS16(PathOf("a.mp3")).size(), 110250u * 4);
    auto stream = ProbeStream(PathOf("a.mp3"));
    EXPECT_EQ(stream["sample_rate"], "44100");
    EXPECT_EQ(stream["channels"], "2");
    EXPECT_EQ(stream["bit_rate"], "128000");
    EXPECT_EQ(m_jobs.FramesPerJob(), std::vector<uint64_t>{110250});
}

TEST_F(Mp3WriterTest, HeaderBitsAndChannelModeFollowTheSettings) {
    m_jobs.Add(PathOf("a.avi"), PathOf("plain.mp3"));
    WriterThread writer;
    Run(writer);
    Mp3Header header = SecondFrameHeader(PathOf("plain.mp3"));
    EXPECT_EQ(header.nMode, 1);  // joint stereo by default
    EXPECT_TRUE(header.bOriginal);
    EXPECT_FALSE(header.bCopyright || header.bCrc || header.bPrivate);

    m_settings.m_bCopyright = 1;
    m_settings.m_bOriginal = 0;
    m_settings.m_bCrc = 1;
    m_settings.m_bPrivate = 1;
    m_settings.m_iChannelMode = kChannelModeStereo;
    m_settings.m_iBitrate = 192;
    m_jobs = JobSet();
    m_recorder.notices.clear();
    m_jobs.Add(PathOf("a.avi"), PathOf("flags.mp3"));
    Run(writer);
    header = SecondFrameHeader(PathOf("flags.mp3"));
    EXPECT_EQ(header.nMode, 0);
    EXPECT_TRUE(header.bCopyright);
    EXPECT_FALSE(header.bOriginal);
    EXPECT_TRUE(header.bCrc);
    EXPECT_TRUE(header.bPrivate);
    EXPECT_EQ(header.nBitrate, 192);
}

TEST_F(Mp3WriterTest, VbrAndHeaderFrameFollowTheSettings) {
    const auto firstFrame = [&](const std::string &strName) {
        m_jobs = JobSet();
        m_recorder.notices.clear();
        m_jobs.Add(PathOf("a.avi"), PathOf(strName));
        WriterThread writer;
        Run(writer);
        return ReadFileBytes(PathOf(strName)).substr(0, 200);
    };
    EXPECT_NE(firstFrame("cbr.mp3").find("Info"), std::string::npos) << "constant bitrate: an Info frame";
    m_settings.m_iVbrMode = kVbrModeOn;
    m_settings.m_iVbrMinBitrate = 32;
    m_settings.m_iVbrMaxBitrate = 320;
    EXPECT_NE(firstFrame("vbr.mp3").find("Xing"), std::string::npos) << "variable bitrate: a Xing frame";
    EXPECT_EQ(DecodeS16(PathOf("vbr.mp3")).size(), 44100u * 4);
    m_settings.m_bWriteVbrHeader = 0;
    const std::string strBare = firstFrame("bare.mp3");
    EXPECT_EQ(strBare.find("Xing"), std::string::npos);
    EXPECT_EQ(strBare.find("Info"), std::string::npos);
}

TEST_F(Mp3WriterTest, AutoRateOnALowRateSourceCapsTheBitrateInTheSharedSettings) {
    auto pLowRate = std::make_shared<DecoderScript>();
    pLowRate->wfx = WaveFormat{kWaveFormatPcm, 2, 11025, 11025 * 4, 4, 16, 0};
    pLowRate->nRealFrames = 11025;
    m_jobs.Add(PathOf("low.avi"), PathOf("low.mp3"), pLowRate);
    m_jobs.Add(PathOf("high.avi"), PathOf("high.mp3"));
    m_settings.m_iBitrate = 192;
    WriterThread writer;
    Run(writer);
    EXPECT_EQ(m_settings.m_iBitrate, 192) << "written back on the record's own thread only";
    EXPECT_TRUE(writer.WriteBackSettings(m_settings));
    EXPECT_EQ(m_settings.m_iBitrate, 64);
    EXPECT_EQ(SecondFrameHeader(PathOf("low.mp3")).nBitrate, 64);
    EXPECT_EQ(SecondFrameHeader(PathOf("high.mp3")).nBitrate, 64) << "later files keep the lowered value";
}

TEST_F(Mp3WriterTest, ExplicitHigherOutputRateLeavesTheBitrateAlone) {
    auto pLowRate = std::make_shared<DecoderScript>();
    pLowRate->wfx = WaveFormat{kWaveFormatPcm, 2, 11025, 11025 * 4, 4, 16, 0};
    pLowRate->nRealFrames = 11025;
    m_jobs.Add(PathOf("low.avi"), PathOf("low.mp3"), pLowRate);
    m_settings.m_iSampleRate = 22050;
    WriterThread writer;
    Run(writer);
    EXPECT_EQ(m_settings.m_iBitrate, 128);
    const Mp3Header header = SecondFrameHeader(PathOf("low.mp3"));
    EXPECT_EQ(header.nSampleRate, 22050);
    EXPECT_EQ(header.nBitrate, 128);
}

TEST_F(Mp3WriterTest, EmptyRangeStillGivesAFile) {
    ASSERT_TRUE(WriteCutInfo(PathOf("a.avi"), ClipInfo{100, 20, 20}));
    m_jobs.Add(PathOf("a.avi"), PathOf("a.mp3"));
    WriterThread writer;
    Run(writer);
    EXPECT_TRUE(m_jobs.jobs[0]->GetError().empty());
    EXPECT_TRUE(fs::exists(PathOf("a.mp3")));
    EXPECT_EQ(m_jobs.FramesPerJob(), std::vector<uint64_t>{0});
}

TEST_F(Mp3WriterTest, StopLeavesACompleteShortFileAndNoLaterFiles) {
    WriterThread writer;
    auto pStopping = std::make_shared<DecoderScript>();
    // Stops while the sixth chunk is being read, which the encoder then never gets.
    pStopping->llHookAtFrame = 5000;
    pStopping->onFrameReached = [&writer] { writer.Stop(); };
    m_jobs.Add(PathOf("a.avi"), PathOf("a.mp3"), pStopping);
    m_jobs.Add(PathOf("b.avi"), PathOf("b.mp3"));
    Run(writer);
    EXPECT_EQ(DecodeS16(PathOf("a.mp3")).size(), 5000u * 4) << "flushed and tagged: exactly what was encoded";
    EXPECT_FALSE(fs::exists(PathOf("b.mp3")));
}

TEST_F(Mp3WriterTest, FailuresAreRecordedPerJobAndLeaveNoFile) {
    auto pFailing = std::make_shared<DecoderScript>();
    pFailing->llFailFillAtFrame = 20000;
    m_jobs.Add(PathOf("a.avi"), PathOf("nowhere/a.mp3"));
    m_jobs.Add(PathOf("b.avi"), PathOf("b.mp3"), pFailing);
    fs::create_symlink("/dev/full", PathOf("full.mp3"));
    m_jobs.Add(PathOf("c.avi"), PathOf("full.mp3"));
    m_jobs.Add(PathOf("d.avi"), PathOf("d.mp3"));
    WriterThread writer;
    Run(writer);
    EXPECT_EQ(m_jobs.jobs[0]->GetError(), "Cannot create output file");
    EXPECT_EQ(m_jobs.jobs[1]->GetError(), "Cannot update audio sample");
    EXPECT_FALSE(fs::exists(PathOf("b.mp3")));
    EXPECT_EQ(m_jobs.jobs[2]->GetError(), "Error writing mp3 output");
    EXPECT_TRUE(m_jobs.jobs[3]->GetError().empty());
    EXPECT_EQ(DecodeS16(PathOf("d.mp3")).size(), 44100u * 4);
}

TEST(Mp3ChannelSplit, EightBitSamplesAreCenteredAndScaledToFullScale) {
    const uint8_t bytes[] = {0x80, 0x00, 0xFF, 0x81};
    float left[2], right[2];
    const EncoderSettings settings;
    SplitChannels(bytes, 2, SampleLayout{SampleLayout::Kind::U8, true, 2}, settings, left, right);
    EXPECT_EQ(left[0], 0.0f);
    EXPECT_EQ(right[0], -1.0f);
    EXPECT_EQ(left[1], 127.0f / 128.0f);
    EXPECT_EQ(right[1], 1.0f / 128.0f);
}

TEST(Mp3ChannelSplit, SixteenBitAndFloatSamplesKeepTheirValue) {
    const int16_t pcm[] = {-32768, 16384};
    float left[1], right[1];
    const EncoderSettings settings;
    SplitChannels(reinterpret_cast<const uint8_t *>(pcm), 1, SampleLayout{SampleLayout::Kind::S16, true, 2},
                  settings, left, right);
    EXPECT_EQ(left[0], -1.0f);
    EXPECT_EQ(right[0], 0.5f);
    // Float samples pass unrounded, also beyond full scale (LAME clips them itself).
    const float floats[] = {0.123456789f, -1.25f};
    SplitChannels(reinterpret_cast<const uint8_t *>(floats), 1,
                  SampleLayout{SampleLayout::Kind::Float, true, 2}, settings, left, right);
    EXPECT_EQ(left[0], 0.123456789f);
    EXPECT_EQ(right[0], -1.25f);
}

TEST(Mp3ChannelSplit, MonoPickAndSingleChannelSources) {
    const float stereo[] = {0.1f, -0.2f, 0.3f, -0.4f};
    float left[4], right[4];
    EncoderSettings settings;
    settings.m_iChannelMode = kChannelModeMono;
    settings.m_iMonoSource = kMonoSourceRight;
    const auto *pBytes = reinterpret_cast<const uint8_t *>(stereo);
    const SampleLayout twoChannels{SampleLayout::Kind::Float, true, 2};
    const SampleLayout oneChannel{SampleLayout::Kind::Float, false, 1};
    SplitChannels(pBytes, 2, twoChannels, settings, left, right);
    EXPECT_EQ(left[1], -0.4f);
    EXPECT_EQ(right[1], -0.4f);
    settings.m_iMonoSource = kMonoSourceLeft;
    SplitChannels(pBytes, 2, twoChannels, settings, left, right);
    EXPECT_EQ(right[0], 0.1f);
    settings.m_iMonoSource = kMonoSourceMerge;
    SplitChannels(pBytes, 2, twoChannels, settings, left, right);
    EXPECT_EQ(left[0], 0.1f);
    EXPECT_EQ(right[0], -0.2f);

    // A single-channel source feeds both buffers, whatever channel mono keeps.
    settings.m_iMonoSource = kMonoSourceRight;
    SplitChannels(pBytes, 4, oneChannel, settings, left, right);
    EXPECT_EQ(left[2], 0.3f);
    EXPECT_EQ(right[2], 0.3f);
    settings.m_iChannelMode = kChannelModeStereo;
    SplitChannels(pBytes, 4, oneChannel, settings, left, right);
    EXPECT_EQ(right[3], -0.4f);
}

TEST_F(Mp3WriterTest, MonoKeepsTheChosenChannelOfARealSource) {
    MediaFactory media;
    const std::string strSource =
        media.Make("lr.wav", {"-f", "lavfi", "-i", "aevalsrc=exprs=0.5*sin(440*2*PI*t)|0:s=44100:d=2"},
                   {"-c:a", "pcm_s16le"});
    m_settings.m_iChannelMode = kChannelModeMono;
    double dRms[3] = {};
    for (int32_t iSource : {kMonoSourceMerge, kMonoSourceLeft, kMonoSourceRight}) {
        m_settings.m_iMonoSource = iSource;
        m_jobs = JobSet();
        const std::string strOut = PathOf("mono" + std::to_string(iSource) + ".mp3");
        m_jobs.jobs.push_back(std::make_unique<ConversionJob>(strSource, strOut));
        WriterThread writer;
        Run(writer);
        EXPECT_EQ(ProbeStream(strOut)["channels"], "1");
        dRms[iSource] = Rms(DecodeS16(strOut));
    }
    const double dToneRms = 0.5 * 32767 / std::sqrt(2.0);
    EXPECT_NEAR(dRms[kMonoSourceLeft], dToneRms, dToneRms * 0.05);
    EXPECT_LT(dRms[kMonoSourceRight], dToneRms * 0.01);
    EXPECT_NEAR(dRms[kMonoSourceMerge], dToneRms / 2, dToneRms * 0.05);
}

}  // namespace

}  // namespace klangor

// The timeline's waveform: the peak summary, and the loader that fills it from real media on a thread
// of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <new>
#include <numbers>
#include <string>
#include <vector>

#include "waveform/WaveformLoader.h"
#include "waveform/WaveformSummary.h"
#include "support/MediaFactory.h"
#include "support/MemoryBounds.h"

namespace klangor {

using namespace std::chrono_literals;

namespace {

std::vector<float> Sine(uint32_t nFrames, double dHz, uint32_t nRate, float fAmplitude, int nChannels) {
    std::vector<float> samples;
    for (uint32_t i = 0; i < nFrames; ++i) {
        const auto fSample =
            static_cast<float>(fAmplitude * std::sin(2.0 * std::numbers::pi * dHz * i / nRate));
        for (int c = 0; c < nChannels; ++c) {
            samples.push_back(c == 1 ? -0.5f * fSample : fSample);
        }
    }
    return samples;
}

// How far above what is resident now this process's memory rises while fnWork runs, in KiB. The
// kernel's high-water mark is set back first, so what earlier tests used does not hide it.
template <typename Work>
long PeakGrowthKiB(Work fnWork) {
    std::ofstream("/proc/self/clear_refs") << "5";
    const long nBefore = StatusKiB("VmRSS:");
    fnWork();
    return StatusKiB("VmHWM:") - nBefore;
}

}  // namespace

TEST(WaveformSummaryTest, SlicesHoldTheLowestAndHighestSampleOfEveryChannel) {
    WaveformSummary summary;
    summary.Reset(8000, 8000, 100);  // 80 frames a slice
    ASSERT_EQ(summary.GetFramesPerSlice(), 80u);
    // The first half second at 0.8, the second at 0.2; the right channel is the left inverted at half
    // level, so a slice's minimum comes from the other channel than its maximum.
    std::vector<float> loud = Sine(4000, 100.0, 8000, 0.8f, 2);
    std::vector<float> quiet = Sine(4000, 100.0, 8000, 0.2f, 2);
    summary.AddFrames(loud.data(), 1000, 2);  // in pieces that do not meet the slices' edges
    summary.AddFrames(loud.data() + 2000, 3000, 2);
    summary.AddFrames(quiet.data(), 4000, 2);
    ASSERT_EQ(summary.GetSliceCount(), 100u);
    EXPECT_EQ(summary.GetFramesAdded(), 8000u);
    for (size_t n = 0; n < 100; ++n) {
        const WavePeak &slice = summary.GetSlice(n);
        const float fLevel = n < 50 ? 0.8f : 0.2f;
        ASSERT_TRUE(slice.bHas);
        // 80 frames are one period of 100 Hz at 8 kHz: every slice sees the crest and the trough.
        EXPECT_NEAR(slice.fMax, fLevel, 1e-3) << n;
        EXPECT_NEAR(slice.fMin, -fLevel, 1e-3) << n;
    }
}

TEST(WaveformSummaryTest, SilenceHasPeaksAtZeroAndStaysDistinctFromNoAudio) {
    WaveformSummary summary;
    summary.Reset(44100, 44100);
    const std::vector<float> silence(2 * 44100, 0.0f);
    summary.AddFrames(silence.data(), 44100, 2);
    const std::vector<WavePeak> columns = summary.Columns(300, 1.0);
    for (const WavePeak &column : columns) {
        ASSERT_TRUE(column.bHas);
        EXPECT_EQ(column.fMin, 0.0f);
        EXPECT_EQ(column.fMax, 0.0f);
    }

    WaveformSummary empty;
    for (const WavePeak &column : empty.Columns(300, 1.0)) {
        EXPECT_FALSE(column.bHas);
    }
}

TEST(WaveformSummaryTest, ClipShorterThanTheWidthFillsEveryColumnWithoutGaps) {
    WaveformSummary summary;
    summary.Reset(1000, 50);  // 50 frames: fewer than the columns, one frame a slice
    ASSERT_EQ(summary.GetFramesPerSlice(), 1u);
    std::vector<float> samples;
    for (int i = 0; i < 50; ++i) {
        samples.push_back(i < 25 ? 0.9f : -0.1f);
    }
    summary.AddFrames(samples.data(), 50, 1);
    const std::vector<WavePeak> columns = summary.Columns(800, 0.05);
    for (size_t x = 0; x < columns.size(); ++x) {
        ASSERT_TRUE(columns[x].bHas) << x;
        EXPECT_FLOAT_EQ(columns[x].fMax, x < 400 ? 0.9f : -0.1f) << x;
    }
}

TEST(WaveformSummaryTest, ColumnsFollowTheTimelineRangeNotTheSummarisedLength) {
    WaveformSummary summary;
    summary.Reset(100, 0);  // unknown length: 10 ms slices
    ASSERT_EQ(summary.GetFramesPerSlice(), 1u);
    const std::vector<float> half(100, 0.5f);
    summary.AddFrames(half.data(), 100, 1);
    // One second summarised of a two-second clip: only the first half of the columns has peaks yet.
    const std::vector<WavePeak> columns = summary.Columns(200, 2.0);
    EXPECT_TRUE(columns[99].bHas);
    EXPECT_FALSE(columns[100].bHas);
    // A NaN from a damaged stream counts as silence instead of hiding the slice's real peaks.
    const float nan[] = {std::nanf(""), -0.25f};
    summary.AddFrames(nan, 2, 1);
    EXPECT_EQ(summary.GetSlice(100).fMax, 0.0f);
    EXPECT_EQ(summary.GetSlice(101).fMin, -0.25f);
}

// A decoder over a fixed tone that fails after a number of fills, as a damaged file does, or runs out
// of memory there.
class FailingDecoder : public IAudioDecoder {
public:
    explicit FailingDecoder(int nGoodFills, bool bThrow = false)
        : m_nGoodFills(nGoodFills), m_bThrow(bThrow) {}
    int OpenFile(const std::string &) override { return 0; }
    int GetDuration(int64_t &llDuration) override {
        llDuration = 10 * 10000000LL;
        return 0;
    }
    int GetFormat(WaveFormat &wfx) override {
        wfx = WaveFormat{};
        wfx.wFormatTag = kWaveFormatFloat;
        wfx.nChannels = 1;
        wfx.nSamplesPerSec = 8000;
        wfx.wBitsPerSample = 32;
        wfx.nBlockAlign = 4;
        return 0;
    }
    int Run() override { return 0; }
    int Seek(int64_t) override { return 0; }
    int Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) override {
        if (m_nGoodFills-- <= 0) {
            if (m_bThrow) {
                throw std::bad_alloc();
            }
            return -1;
        }
        const float fSample = 0.5f;
        for (uint32_t i = 0; i < nFrames; ++i) {
            std::memcpy(pBuffer + i * 4, &fSample, 4);
        }
        nFilled = nFrames;
        return 0;
    }

private:
    int m_nGoodFills;
    bool m_bThrow;
};

// Running out of memory on the loader's thread is a failure like any other, not the end of the program.
TEST(WaveformLoaderTest, FileFailingHalfwayKeepsWhatWasRead) {
    for (const bool bThrow : {false, true}) {
        SCOPED_TRACE(bThrow ? "out of memory" : "damaged");
        WaveformLoader loader(
            [bThrow](PcmSampleFormat) { return std::make_unique<FailingDecoder>(3, bThrow); });
        MediaFactory media;
        loader.Load(media.MakeRaw("damaged.bin", "x"));
        ASSERT_TRUE(loader.WaitUntilSettled(10s));
        EXPECT_EQ(loader.GetState(), WaveformLoader::State::Failed);
        const WaveformSummary summary = loader.Snapshot();
        EXPECT_GT(summary.GetFramesAdded(), 0u);
        EXPECT_LT(summary.GetFramesAdded(), 80000u);
        const std::vector<WavePeak> columns = loader.Columns(100, 10.0);
        EXPECT_TRUE(columns.front().bHas);
        EXPECT_FLOAT_EQ(columns.front().fMax, 0.5f);
        EXPECT_FALSE(columns.back().bHas);
    }
}

TEST(WaveformLoaderTest, RealClipWithLoudAndSilentHalvesAndFilesWithoutAudio) {
    MediaFactory media;
    // Four seconds: a full-scale-ish tone, then two seconds of nothing.
    const std::string strClip = media.Make(
        "halves.mka", {"-f", "lavfi", "-i", "aevalsrc='if(lt(t,2),0.9*sin(2*PI*330*t),0)':s=44100:d=4"},
        {"-c:a", "flac"});
    const std::string strVideoOnly =
        media.Make("video.mkv", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=5:duration=1"}, {"-an"});
    std::atomic<int> nChanges{0};
    WaveformLoader loader;
    loader.SetChangedCallback([&nChanges] { ++nChanges; });
    loader.Load(strClip);
    ASSERT_TRUE(loader.WaitUntilSettled(20s));
    ASSERT_EQ(loader.GetState(), WaveformLoader::State::Complete);
    EXPECT_GE(nChanges.load(), 1);
    EXPECT_EQ(loader.Snapshot().GetFramesAdded(), 4u * 44100u);
    const std::vector<WavePeak> columns = loader.Columns(400, 4.0);
    for (size_t x = 0; x < 400; ++x) {
        ASSERT_TRUE(columns[x].bHas) << x;
        if (x < 195) {
            EXPECT_GT(columns[x].fMax, 0.8f) << x;
            EXPECT_LT(columns[x].fMin, -0.8f) << x;
        } else if (x > 205) {
            EXPECT_EQ(columns[x].fMax, 0.0f) << x;
        }
    }

    loader.Load(strVideoOnly);
    ASSERT_TRUE(loader.WaitUntilSettled(20s));
    EXPECT_EQ(loader.GetState(), WaveformLoader::State::NoAudio);
    EXPECT_FALSE(loader.Columns(10, 1.0)[0].bHas);

    // A named pipe is read once, by the conversion: never opened here, where it would wait for a writer.
    const std::string strPipe = media.PathOf("pipe.wav");
    ASSERT_EQ(::mkfifo(strPipe.c_str(), 0600), 0);
    loader.Load(strPipe);
    const bool bSettled = loader.WaitUntilSettled(5s);
    if (const int fd = ::open(strPipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
        ::close(fd);  // an end of file for a scan that did open it, so that failing cannot hang the test
    }
    ASSERT_TRUE(bSettled);
    EXPECT_EQ(loader.GetState(), WaveformLoader::State::NoAudio);

    // Loaded again in the same session: the kept summary is there at once, no thread decodes again.
    loader.Load(strClip);
    EXPECT_EQ(loader.GetState(), WaveformLoader::State::Complete);
    EXPECT_EQ(loader.Snapshot().GetFramesAdded(), 4u * 44100u);
    loader.Load({});
    EXPECT_EQ(loader.GetState(), WaveformLoader::State::Idle);
}

TEST(WaveformLoaderTest, AnotherClipCancelsTheRunningScanAndTheCutSummaryIsNotKept) {
    MediaFactory media;
    const std::string strLong =
        media.Make("long.wav", {"-f", "lavfi", "-i", "sine=f=440:r=48000:d=600"}, {"-c:a", "pcm_s16le"});
    const std::string strShort =
        media.Make("short.wav", {"-f", "lavfi", "-i", "sine=f=440:r=8000:d=1"}, {"-c:a", "pcm_s16le"});
    WaveformLoader loader;
    loader.Load(strLong);
    loader.Load(strShort);  // joins the first scan, which stops within one chunk
    ASSERT_TRUE(loader.WaitUntilSettled(20s));
    EXPECT_EQ(loader.GetState(), WaveformLoader::State::Complete);
    EXPECT_EQ(loader.Snapshot().GetFramesAdded(), 8000u);
    loader.Load(strLong);
    // The cut-short scan of the long file was dropped: it is read afresh, not shown as complete.
    const WaveformSummary summary = loader.Snapshot();
    EXPECT_TRUE(loader.GetState() == WaveformLoader::State::Scanning ||
                summary.GetFramesAdded() == 600u * 48000u);
    ASSERT_TRUE(loader.WaitUntilSettled(60s));
    EXPECT_EQ(loader.Snapshot().GetFramesAdded(), 600u * 48000u);
}

TEST(WaveformLoaderTest, EachAudioTrackHasItsOwnSummaryAndATrackTheFileLacksShowsTheBestOne) {
    MediaFactory media;
    // Three tracks told apart by their loudness; the first is the one the decoder calls best.
    const std::string strFilm = media.Make("tracks.mkv",
                                           {"-f", "lavfi", "-i", "aevalsrc='0.2*sin(2*PI*300*t)':s=8000:d=2",
                                            "-f", "lavfi", "-i", "aevalsrc='0.5*sin(2*PI*300*t)':s=8000:d=2",
                                            "-f", "lavfi", "-i", "aevalsrc='0.8*sin(2*PI*300*t)':s=8000:d=2"},
                                           {"-map", "0", "-map", "1", "-map", "2", "-c:a", "flac"});
    WaveformLoader loader;
    const auto loudest = [&loader] {
        float fMax = 0.0f;
        for (const WavePeak &peak : loader.Columns(50, 2.0)) {
            fMax = std::max(fMax, peak.fMax);
        }
        return fMax;
    };
    const std::pair<uint32_t, float> cases[] = {{2, 0.5f}, {3, 0.8f}, {0, 0.2f}, {1, 0.2f}, {9, 0.2f}};
    for (const auto &[nTrack, fPeak] : cases) {
        SCOPED_TRACE(nTrack);
        loader.Load(strFilm, nTrack);
        ASSERT_TRUE(loader.WaitUntilSettled(20s));
        ASSERT_EQ(loader.GetState(), WaveformLoader::State::Complete);
        EXPECT_NEAR(loudest(), fPeak, 0.02f);
    }
    // Back to a track summarised before: its own summary, kept, at once.
    loader.Load(strFilm, 2);
    EXPECT_EQ(loader.GetState(), WaveformLoader::State::Complete);
    EXPECT_NEAR(loudest(), 0.5f, 0.02f);
}

// Two hours of MP3 behind an Info header claiming two frames: the summary would keep one slice per
// sample (about a gigabyte). It stays within its budget and still shows the whole file, loud first
// half and quiet second half.
TEST(WaveformLoaderTest, LengthUnderstatedByTheContainerCostsABoundedSummary) {
    MediaFactory media;
    const std::vector<std::string> lowRate = {"-ac", "1", "-c:a", "libmp3lame", "-b:a", "8k"};
    media.Make("loud.mp3", {"-f", "lavfi", "-i", "aevalsrc='0.8*sin(2*PI*440*t)':s=8000:d=10"}, lowRate);
    media.Make("quiet.mp3", {"-f", "lavfi", "-i", "aevalsrc='0.1*sin(2*PI*440*t)':s=8000:d=10"}, lowRate);
    std::string strList;
    for (int i = 0; i < 720; ++i) {
        strList += i < 360 ? "file loud.mp3\n" : "file quiet.mp3\n";
    }
    const std::string strLong = media.Make(
        "long.mp3", {"-f", "concat", "-safe", "0", "-i", media.MakeRaw("list.txt", strList)}, {"-c", "copy"});
    const double dSeconds = std::stod(ProbeFormat(strLong).at("duration"));
    ASSERT_GT(dSeconds, 7200.0);

    std::string strBytes = ReadFileBytes(strLong);
    const size_t nTag = std::min(strBytes.find("Info"), strBytes.find("Xing"));
    ASSERT_LT(nTag, 200u);
    ASSERT_TRUE(strBytes[nTag + 7] & 1) << "the header carries a frame count";
    strBytes.replace(nTag + 8, 4, std::string("\0\0\0\2", 4));
    const std::string strUnderstated = media.MakeRaw("understated.mp3", strBytes);
    ASSERT_LT(std::stod(ProbeFormat(strUnderstated).at("duration")), 1.0);

    WaveformLoader loader(CreateMediaAudioDecoder, {});
    const long nGrowth = PeakGrowthKiB([&] {
        loader.Load(strUnderstated);
        ASSERT_TRUE(loader.WaitUntilSettled(300s));
    });
    EXPECT_LT(nGrowth, 64 * 1024 * kMemoryBoundFactor) << "KiB more at the peak";
    ASSERT_EQ(loader.GetState(), WaveformLoader::State::Complete);
    const WaveformSummary summary = loader.Snapshot();
    EXPECT_LE(summary.GetSliceCount(), summary.GetSliceBudget());
    EXPECT_NEAR(static_cast<double>(summary.GetFramesAdded()), dSeconds * 8000, 8000);
    const std::vector<WavePeak> columns = loader.Columns(200, dSeconds);
    for (size_t x = 0; x < columns.size(); ++x) {
        ASSERT_TRUE(columns[x].bHas) << x;
        if (x < 98) {
            EXPECT_NEAR(columns[x].fMax, 0.8f, 0.1f) << x;
        } else if (x > 102) {
            EXPECT_NEAR(columns[x].fMax, 0.1f, 0.05f) << x;
        }
    }
}

}  // namespace klangor

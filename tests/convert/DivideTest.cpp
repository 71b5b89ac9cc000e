// A long file encoded in pieces on several workers and joined: the joined stream must be as valid, as
// exact and as good as one encoder's. Media are made at test time; the threshold for dividing a file is
// lowered so that a few seconds make several pieces. Results are checked with ffmpeg, mp3val and a frame
// walk of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "JobTestSupport.h"
#include "ScriptedDecoder.h"
#include "clips/CutInfo.h"
#include "convert/outputs/CodecJobOutput.h"
#include "convert/batch/WriterThread.h"
#include "convert/outputs/Mp3Frame.h"
#include "convert/divide/Mp3StreamWriter.h"
#include "convert/divide/PieceJoiner.h"
#include "convert/outputs/Mp3JobOutput.h"
#include "convert/divide/SeekCheck.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

constexpr double kSourceSeconds = 16.0;
constexpr double kSplitSeconds = 3.0;
constexpr int kPieces = 2;  // what a file of that length is divided into
// Frames either side of an even cut that an MP3 join, its reach and its encoders' settling lie within.
constexpr size_t kJoinSpan = 32768;
// How much worse than one encoder's a 20 ms window of a divided lossy file may be: a seam is far worse.
constexpr double kWorstWindowDb = 3.0;

// One encode of a source by the writer, the way a batch of one file runs it.
struct Encode {
    std::string strPath;
    std::string strError;
    uint64_t nProgressFrames = 0;
    uint32_t nFramesToConvert = 0;
    int nFills = 0;  // of every decoder the encode made
};

// The media decoder, calling onFill with where it sought (100 ns units) and how many frames it has
// given before each fill (to stop the batch there), which fails the fill when it returns false.
class WatchedDecoder : public IAudioDecoder {
public:
    using OnFill = std::function<bool(int64_t llSoughtTo, uint64_t llFilled)>;
    WatchedDecoder(std::unique_ptr<IAudioDecoder> pInner, OnFill onFill)
        : m_pInner(std::move(pInner)), m_onFill(std::move(onFill)) {}
    int OpenFile(const std::string &strPath) override { return m_pInner->OpenFile(strPath); }
    int GetDuration(int64_t &llDuration) override { return m_pInner->GetDuration(llDuration); }
    int GetFormat(WaveFormat &wfx) override { return m_pInner->GetFormat(wfx); }
    int Run() override { return m_pInner->Run(); }
    int Seek(int64_t llTime) override {
        m_llSoughtTo = llTime;
        return m_pInner->Seek(llTime);
    }
    int Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) override {
        if (!m_onFill(m_llSoughtTo, m_llFilled)) {
            return -1;
        }
        const int iResult = m_pInner->Fill(pBuffer, nFrames, nFilled);
        m_llFilled += nFilled;
        return iResult;
    }
    double GetReadFraction() const override { return m_pInner->GetReadFraction(); }
    std::string GetFailureText() const override { return m_pInner->GetFailureText(); }
    void SetAudioTrack(int nTrack, bool bStrict) override { m_pInner->SetAudioTrack(nTrack, bStrict); }

private:
    std::unique_ptr<IAudioDecoder> m_pInner;
    OnFill m_onFill;
    int64_t m_llSoughtTo = 0;
    uint64_t m_llFilled = 0;
};

// Halfway through: every part is running by then, and even a first part that the others left behind
// holds enough frames for a decoder to recognise the stream.
bool StopHalfway(WriterThread &writer, const ConversionJob &job) {
    const ConversionJob::Progress progress = job.GetProgress();
    if (progress.nFramesToConvert > 0 && uint64_t{progress.nFramesDone} * 2 >= progress.nFramesToConvert) {
        writer.Stop();
    }
    return true;
}

Encode RunWriter(const std::string &strSource, const std::string &strOut, const EncoderSettings &settings,
                 int nJobs, double dSplitSeconds, bool bStopEarly = false,
                 const LoudnessTarget &loudness = {},
                 const AudioDecoderFactory &decoders = CreateMediaAudioDecoder) {
    WriterThread writer;
    writer.SetLoudnessTarget(loudness);
    ConversionJob *pJob = nullptr;
    std::atomic<int> nFills{0};
    AudioDecoderFactory factory = [&](PcmSampleFormat format) -> std::unique_ptr<IAudioDecoder> {
        return std::make_unique<WatchedDecoder>(decoders(format),
                                                [&writer, &pJob, &nFills, bStopEarly](int64_t, uint64_t) {
                                                    ++nFills;
                                                    return !bStopEarly || StopHalfway(writer, *pJob);
                                                });
    };
    ConversionJob job(strSource, strOut, factory);
    pJob = &job;
    writer.SetJobsAtOnce(nJobs);
    writer.SetDivideAfterSeconds(dSplitSeconds);
    job.FixSelection();
    EXPECT_EQ(writer.Start({&job}, OutputFormat::Mp3, settings), 0);
    writer.Wait();
    const ConversionJob::Progress progress = job.GetProgress();
    return Encode{strOut, job.GetError(), progress.nFramesDone, progress.nFramesToConvert, nFills.load()};
}

std::vector<int16_t> Samples(const std::string &strBytes) {
    std::vector<int16_t> samples(strBytes.size() / 2);
    std::memcpy(samples.data(), strBytes.data(), samples.size() * 2);
    return samples;
}

// What a frame walk of the file finds: the frames' bitrates and the header frame's count.
struct FrameWalk {
    bool bValid = true;
    std::vector<int> bitrates;    // of the audio frames
    int64_t llHeaderFrames = -1;  // the Xing/Info frame count, -1 without one
};

FrameWalk WalkFrames(const std::string &strBytes) {
    static const int kMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int kRates[3] = {44100, 48000, 32000};
    FrameWalk walk;
    size_t nPos = 0;
    // The source's tags come first, as an ID3v2 tag: "ID3", version, flags and a 28-bit length.
    if (strBytes.size() >= 10 && strBytes.compare(0, 3, "ID3") == 0) {
        const auto *t = reinterpret_cast<const uint8_t *>(strBytes.data());
        nPos = 10 + ((size_t{t[6]} << 21) | (size_t{t[7]} << 14) | (size_t{t[8]} << 7) | t[9]);
    }
    const size_t nFirst = nPos;
    while (nPos + 4 <= strBytes.size()) {
        const auto *p = reinterpret_cast<const uint8_t *>(strBytes.data() + nPos);
        const int nVersion = (p[1] >> 3) & 3;
        const int nBitrate = (p[2] >> 4) & 15;
        const int nRate = (p[2] >> 2) & 3;
        if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || nVersion == 1 || ((p[1] >> 1) & 3) != 1 || nRate == 3 ||
            nBitrate == 0 || nBitrate == 15) {
            walk.bValid = false;
            return walk;
        }
        const bool bMpeg1 = nVersion == 3;
        const int nKbps = bMpeg1 ? kMpeg1[nBitrate] : kMpeg2[nBitrate];
        const int nHz = kRates[nRate] >> (bMpeg1 ? 0 : nVersion == 2 ? 1 : 2);
        const size_t nBytes =
            static_cast<size_t>((bMpeg1 ? 144000 : 72000) * nKbps / nHz + ((p[2] >> 1) & 1));
        // Readers look for the tag right after the side information, counted as if there were no CRC.
        const size_t nSide = (bMpeg1 ? ((p[3] >> 6) == 3 ? 17 : 32) : ((p[3] >> 6) == 3 ? 9 : 17)) + 4;
        const std::string strTag = strBytes.substr(nPos + nSide, 4);
        if (nPos == nFirst && (strTag == "Xing" || strTag == "Info")) {
            const auto *q = p + nSide + 8;
            walk.llHeaderFrames = (int64_t{q[0]} << 24) | (q[1] << 16) | (q[2] << 8) | q[3];
        } else {
            walk.bitrates.push_back(nKbps);
        }
        nPos += nBytes;
    }
    walk.bValid = nPos == strBytes.size();
    return walk;
}

// Every remark mp3val makes, but the absence of ID3 tags (LAME writes none, nor do we).
std::string Mp3valComplaints(const std::string &strPath) {
    const CommandResult result = RunCommand({"mp3val", strPath});
    std::string strComplaints;
    size_t nStart = 0;
    while (nStart < result.strStdout.size()) {
        const size_t nEnd = result.strStdout.find('\n', nStart);
        const std::string strLine = result.strStdout.substr(nStart, nEnd - nStart);
        if ((strLine.rfind("WARNING", 0) == 0 || strLine.rfind("ERROR", 0) == 0) &&
            strLine.find("No supported tags") == std::string::npos) {
            strComplaints += strLine + "\n";
        }
        nStart = nEnd == std::string::npos ? result.strStdout.size() : nEnd + 1;
    }
    return strComplaints + (result.iExitStatus == 0 ? "" : "mp3val failed\n");
}

std::string FfmpegComplaints(const std::string &strPath) {
    const CommandResult result =
        RunCommand({"ffmpeg", "-nostdin", "-v", "warning", "-i", strPath, "-f", "null", "-"});
    return result.strStderr + (result.iExitStatus == 0 ? "" : "ffmpeg failed");
}

double SnrDb(const std::vector<int16_t> &source, const std::vector<int16_t> &decoded, size_t nFrom,
             size_t nTo) {
    double dSignal = 1.0;
    double dNoise = 1.0;
    for (size_t i = nFrom; i < nTo; ++i) {
        const auto dSource = static_cast<double>(source[i]);
        dSignal += dSource * dSource;
        const double dError = static_cast<double>(decoded[i]) - dSource;
        dNoise += dError * dError;
    }
    return 10.0 * std::log10(dSignal / dNoise);
}

struct PartsCase {
    const char *szName;
    int nSampleRate;
    int nChannels;
    std::function<void(EncoderSettings &)> configure;
    bool bVbr;
};

void PrintTo(const PartsCase &c, std::ostream *pOut) {
    *pOut << c.szName;
}

class Mp3DivideTest : public ::testing::TestWithParam<PartsCase> {
protected:
    MediaFactory m_media;

    // Music-like: two gliding tones, a beat that switches LAME's blocks, and some noise.
    std::string MakeSource(const PartsCase &c) {
        std::string strExprs;
        for (int i = 0; i < c.nChannels; ++i) {
            strExprs += (i ? "|" : "") + std::string("0.3*sin(") + std::to_string(300 + 140 * i) +
                        "*2*PI*t+2*sin(0.4*t))+0.25*sin(90*2*PI*t)*lt(mod(t\\,0.5)\\,0.05)+0.02*random(" +
                        std::to_string(i) + ")";
        }
        return m_media.Make("source.flac",
                            {"-f", "lavfi", "-i",
                             "aevalsrc=exprs=" + strExprs + ":s=" + std::to_string(c.nSampleRate) +
                                 ":d=" + std::to_string(kSourceSeconds)},
                            {"-c:a", "flac"});
    }
};

TEST_P(Mp3DivideTest, JoinedStreamIsValidExactAndAsGoodAsOneEncoder) {
    const PartsCase &c = GetParam();
    const std::string strSource = MakeSource(c);
    EncoderSettings settings;
    c.configure(settings);

    const Encode parted =
        RunWriter(strSource, m_media.PathOf("parted.mp3"), settings, kPieces, kSplitSeconds);
    const Encode whole = RunWriter(strSource, m_media.PathOf("whole.mp3"), settings, 1, 0.0);
    ASSERT_EQ(parted.strError, "");
    ASSERT_EQ(whole.strError, "");
    const std::string strParted = ReadFileBytes(parted.strPath);
    const std::string strWhole = ReadFileBytes(whole.strPath);
    // Otherwise nothing was divided and the rest proves nothing.
    ASSERT_TRUE(strParted != strWhole);
    // One job, one percentage: the parts' progress adds up to the file's frames.
    EXPECT_EQ(parted.nProgressFrames, parted.nFramesToConvert);

    EXPECT_EQ(FfmpegComplaints(parted.strPath), "");
    EXPECT_EQ(Mp3valComplaints(parted.strPath), "");
    const FrameWalk walk = WalkFrames(strParted);
    ASSERT_TRUE(walk.bValid);
    EXPECT_EQ(walk.llHeaderFrames, static_cast<int64_t>(walk.bitrates.size()));
    for (const int nKbps : walk.bitrates) {
        if (!c.bVbr) {
            ASSERT_EQ(nKbps, settings.m_iBitrate.load());
        }
    }
    if (c.bVbr) {
        EXPECT_GT(*std::max_element(walk.bitrates.begin(), walk.bitrates.end()),
                  *std::min_element(walk.bitrates.begin(), walk.bitrates.end()));
    }

    const bool bMono = settings.m_iChannelMode == kChannelModeMono;
    const std::vector<std::string> stereo = {"-ac", bMono ? "1" : std::to_string(c.nChannels)};
    const std::vector<int16_t> source = Samples(
        DecodeS16(strSource, bMono ? std::vector<std::string>{"-ac", "1"} : std::vector<std::string>{}));
    const std::vector<int16_t> partedPcm = Samples(DecodeS16(parted.strPath, stereo));
    const std::vector<int16_t> wholePcm = Samples(DecodeS16(whole.strPath, stereo));
    ASSERT_EQ(partedPcm.size(), source.size());
    ASSERT_EQ(wholePcm.size(), source.size());

    // Around every join (within its reach of the even cut), window by window.
    const size_t nChannels = bMono ? 1 : static_cast<size_t>(c.nChannels);
    const size_t nFrames = source.size() / nChannels;
    int nLargestWholeError = 0;
    for (size_t i = 0; i < source.size(); ++i) {
        nLargestWholeError = std::max(nLargestWholeError, std::abs(wholePcm[i] - source[i]));
    }
    // In 20 ms windows, where a seam would show as one bad window.
    const size_t nWindow = c.nSampleRate / 50;
    for (int nJoin = 1; nJoin < kPieces; ++nJoin) {
        const size_t nCut = nFrames * static_cast<size_t>(nJoin) / kPieces;
        for (size_t nFrom = nCut - kJoinSpan; nFrom < nCut + kJoinSpan; nFrom += nWindow) {
            const size_t nA = nFrom * nChannels;
            const size_t nB = (nFrom + nWindow) * nChannels;
            EXPECT_GE(SnrDb(source, partedPcm, nA, nB), SnrDb(source, wholePcm, nA, nB) - kWorstWindowDb)
                << "window at frame " << nFrom;
            int nLargestStep = 0;
            for (size_t i = nA; i < nB; ++i) {
                nLargestStep = std::max(nLargestStep, std::abs(partedPcm[i] - wholePcm[i]));
            }
            EXPECT_LE(nLargestStep, nLargestWholeError) << "click in the window at frame " << nFrom;
        }
    }
}

const PartsCase kCases[] = {
    {"Cbr128JointStereo", 44100, 2, [](EncoderSettings &) {}, false},
    // Frames so small that the reservoir is always nearly empty: the join has little room to give.
    {"Cbr64StarvedReservoir", 44100, 2,
     [](EncoderSettings &s) {
         s.m_iSampleRate = 44100;
         s.m_iBitrate = 64;
     },
     false},
    {"Cbr320", 48000, 2, [](EncoderSettings &s) { s.m_iBitrate = 320; }, false},
    {"VbrWide", 44100, 2,
     [](EncoderSettings &s) {
         s.m_iVbrMode = kVbrModeOn;
         s.m_iVbrMinBitrate = 32;
         s.m_iVbrMaxBitrate = 320;
     },
     true},
    // Every frame's CRC covers the side information the join rewrites.
    {"CrcStereo", 44100, 2,
     [](EncoderSettings &s) {
         s.m_bCrc = 1;
         s.m_iChannelMode = kChannelModeStereo;
     },
     false},
    {"MonoRightOnly", 44100, 2,
     [](EncoderSettings &s) {
         s.m_iChannelMode = kChannelModeMono;
         s.m_iMonoSource = kMonoSourceRight;
     },
     false},
    // MPEG-2 frames: 576 samples, an 8-bit main_data_begin.
    {"Mpeg2At22050", 22050, 2, [](EncoderSettings &s) { s.m_iBitrate = 64; }, false},
};

INSTANTIATE_TEST_SUITE_P(Settings, Mp3DivideTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PartsCase> &info) { return info.param.szName; });

class DivideJobTest : public ::testing::Test {
protected:
    MediaFactory m_media;
    std::string m_strSource;
    void SetUp() override {
        m_strSource = m_media.MakeTone("long.mp4", kSourceSeconds, 44100, 2, {"-c:a", "aac"}, true);
    }
};

TEST_F(DivideJobTest, DividedSelectionDecodesToExactlyItsFrames) {
    // 1.37 s to 14.21 s: neither end on a frame boundary.
    ASSERT_TRUE(WriteCutInfo(m_strSource, ClipInfo{1600, 137, 1421}));
    const Encode parted =
        RunWriter(m_strSource, m_media.PathOf("cut.mp3"), EncoderSettings{}, kPieces, kSplitSeconds);
    const Encode whole = RunWriter(m_strSource, m_media.PathOf("cut1.mp3"), EncoderSettings{}, 1, 0.0);
    ASSERT_EQ(parted.strError, "");
    ASSERT_TRUE(ReadFileBytes(parted.strPath) != ReadFileBytes(whole.strPath));
    const uint32_t nExpected = static_cast<uint32_t>(14.21 * 44100) - static_cast<uint32_t>(1.37 * 44100);
    EXPECT_EQ(parted.nFramesToConvert, nExpected);
    EXPECT_EQ(DecodeS16(parted.strPath).size(), size_t{nExpected} * 4);
    EXPECT_EQ(FfmpegComplaints(parted.strPath), "");
}

TEST_F(DivideJobTest, NoThresholdOrAShortFileNeverDivides) {
    const Encode one = RunWriter(m_strSource, m_media.PathOf("one.mp3"), EncoderSettings{}, 1, 0.0);
    const Encode never = RunWriter(m_strSource, m_media.PathOf("never.mp3"), EncoderSettings{}, kPieces, 0.0);
    const Encode shortFile =
        RunWriter(m_strSource, m_media.PathOf("short.mp3"), EncoderSettings{}, kPieces, kSourceSeconds + 1);
    EXPECT_TRUE(ReadFileBytes(one.strPath) == ReadFileBytes(never.strPath));
    EXPECT_TRUE(ReadFileBytes(one.strPath) == ReadFileBytes(shortFile.strPath));
}

// A decoder that lands a few frames late after a seek would repeat them at every join. The check made
// before any part finds it, and the file is encoded in one piece, once.
TEST_F(DivideJobTest, ASourceThatSeeksInexactlyIsEncodedInOnePieceOnce) {
    const auto run = [this](uint64_t nSlip, int nJobs, double dSplit, const char *szName) {
        auto pScript = std::make_shared<DecoderScript>();
        pScript->llDuration = static_cast<int64_t>(kSourceSeconds * 10000000);
        pScript->nRealFrames = static_cast<uint64_t>(kSourceSeconds * 44100);
        pScript->nSeekSlipFrames = nSlip;
        return RunWriter(m_strSource, m_media.PathOf(szName), EncoderSettings{}, nJobs, dSplit, false, {},
                         ScriptedFactory(pScript));
    };
    const Encode exact = run(0, kPieces, kSplitSeconds, "exact.mp3");
    const Encode slipping = run(7, kPieces, kSplitSeconds, "slipping.mp3");
    const Encode whole = run(7, 1, 0.0, "whole.mp3");
    ASSERT_EQ(slipping.strError, "");
    // The same source landing exactly is divided, so the check is what kept the other whole.
    EXPECT_FALSE(ReadFileBytes(exact.strPath) == ReadFileBytes(whole.strPath));
    EXPECT_TRUE(ReadFileBytes(slipping.strPath) == ReadFileBytes(whole.strPath));
    EXPECT_LT(slipping.nFills, whole.nFills * 2);
}

TEST_F(DivideJobTest, StopWhenDividedLeavesAShortValidFileAndNoScratchFiles) {
    const Encode stopped = RunWriter(m_strSource, m_media.PathOf("stopped.mp3"), EncoderSettings{}, kPieces,
                                     kSplitSeconds, true);
    ASSERT_EQ(stopped.strError, "");
    EXPECT_EQ(FfmpegComplaints(stopped.strPath), "");
    EXPECT_EQ(Mp3valComplaints(stopped.strPath), "");
    const size_t nDecoded = DecodeS16(stopped.strPath).size() / 4;
    EXPECT_GT(nDecoded, 0u);
    EXPECT_LT(nDecoded, stopped.nFramesToConvert);
    // The header frame's count and the gapless trim describe the short file.
    const FrameWalk walk = WalkFrames(ReadFileBytes(stopped.strPath));
    ASSERT_TRUE(walk.bValid);
    EXPECT_EQ(walk.llHeaderFrames, static_cast<int64_t>(walk.bitrates.size()));
    for (const auto &entry : fs::directory_iterator(m_media.Dir())) {
        EXPECT_EQ(entry.path().filename().string().rfind('.', 0), std::string::npos) << entry.path();
    }
}

TEST(PiecesKeptAfterStopTest, AStopKeepsEveryPartEncodedWithoutAGapFromTheStart) {
    const PieceEnd whole{true, true}, pastJoin{false, true}, early{false, false};
    // The first part stopped: only it, whatever the others did.
    EXPECT_EQ(PiecesKeptAfterStop({early, whole, whole}), 1);
    EXPECT_EQ(PiecesKeptAfterStop({pastJoin, whole, whole}), 1);
    // Finished parts are kept, and the stopped one after them once it could be joined.
    EXPECT_EQ(PiecesKeptAfterStop({whole, early, whole}), 1);
    EXPECT_EQ(PiecesKeptAfterStop({whole, pastJoin, whole}), 2);
    EXPECT_EQ(PiecesKeptAfterStop({whole, whole, early, whole}), 2);
    EXPECT_EQ(PiecesKeptAfterStop({whole, whole, pastJoin, pastJoin}), 3);
    // The stop came after the last part had finished and while an earlier one still ran.
    EXPECT_EQ(PiecesKeptAfterStop({whole, whole, whole}), 3);
}

TEST_F(DivideJobTest, AStopAfterTheEarlierPartsFinishedKeepsThemAndTheStoppedPartUpToItsStop) {
    // The last part is held at 90% of the file until the other parts have ended, then the batch is
    // stopped: the file must run to where the last part stopped, not end where the first part did.
    const uint64_t llFrames = static_cast<uint64_t>(kSourceSeconds * 44100);
    const uint64_t llStopAt = llFrames * 9 / 10;
    auto pScript = std::make_shared<DecoderScript>();
    pScript->llDuration = static_cast<int64_t>(kSourceSeconds * 10000000);
    pScript->nRealFrames = llFrames;
    WriterThread writer;
    pScript->llHookAtFrame = static_cast<int64_t>(llStopAt);
    // Not the shared pointer itself: the script would then own itself and never go.
    DecoderScript &script = *pScript;
    pScript->onFrameReached = [&writer, &script] {
        // The job's own decoder and this part's stay; the other parts' go when they end.
        for (int i = 0; i < 6000 && script.nLiveDecoders > 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        writer.Stop();
    };
    JobSet set;
    ConversionJob &job = set.Add(m_media.PathOf("scripted.avi"), m_media.PathOf("held.mp3"), pScript);
    EncoderSettings settings;
    writer.SetJobsAtOnce(kPieces);
    writer.SetDivideAfterSeconds(kSplitSeconds);
    ASSERT_EQ(writer.Start(set.Pointers(), OutputFormat::Mp3, settings), 0);
    writer.Wait();
    ASSERT_TRUE(pScript->bHookCalled);
    ASSERT_EQ(job.GetError(), "");
    EXPECT_EQ(FfmpegComplaints(job.GetOutputPath()), "");
    EXPECT_EQ(Mp3valComplaints(job.GetOutputPath()), "");
    const FrameWalk walk = WalkFrames(ReadFileBytes(job.GetOutputPath()));
    ASSERT_TRUE(walk.bValid);
    EXPECT_EQ(walk.llHeaderFrames, static_cast<int64_t>(walk.bitrates.size()));
    const std::vector<int16_t> stopped = Samples(DecodeS16(job.GetOutputPath()));
    // The reader fills ahead of the encoder, so the stop lands a little before the held frame.
    EXPECT_GT(stopped.size() / 2, llStopAt - 44100);
    EXPECT_LT(stopped.size() / 2, llFrames);

    // No frame went missing or came twice at the joins: the kept stretch is the undivided encode's.
    JobSet wholeSet;
    wholeSet.Add(m_media.PathOf("scripted.avi"), m_media.PathOf("whole.mp3"));
    wholeSet.scripts[0]->llDuration = pScript->llDuration;
    wholeSet.scripts[0]->nRealFrames = llFrames;
    WriterThread wholeWriter;
    wholeWriter.SetJobsAtOnce(1);
    ASSERT_EQ(wholeWriter.Start(wholeSet.Pointers(), OutputFormat::Mp3, settings), 0);
    wholeWriter.Wait();
    const std::vector<int16_t> whole = Samples(DecodeS16(m_media.PathOf("whole.mp3")));
    ASSERT_GE(whole.size(), stopped.size());
    EXPECT_GT(SnrDb(whole, stopped, 0, stopped.size() - 2 * 44100), 20.0);
}

double RmsOf(const std::vector<int16_t> &samples) {
    double dSum = 0;
    for (const int16_t i : samples) {
        dSum += static_cast<double>(i) * i;
    }
    return samples.empty() ? 0.0 : std::sqrt(dSum / static_cast<double>(samples.size()));
}

TEST_F(DivideJobTest, EveryPartDecodesTheChosenTrackWithTheJobsGainAndTheFileKeepsItsTags) {
    // Track 1 a loud tone, track 2 quiet noise; the record chooses track 2 and the batch normalises.
    const std::string strFilm = m_media.Make(
        "film.mkv",
        {"-f", "lavfi", "-i", "sine=f=440:r=44100:d=16,volume=0.5", "-f", "lavfi", "-i",
         "anoisesrc=c=pink:r=44100:seed=3:d=16:a=0.02,lowpass=f=8000"},
        {"-map", "0", "-map", "1", "-c:a", "flac", "-ac", "2", "-metadata", "title=Zwei Spuren"});
    ASSERT_TRUE(WriteCutInfo(strFilm, ClipInfo{1600, 0, 1600, 2}));
    const LoudnessTarget normalise{true, -16.0};
    const Encode parted = RunWriter(strFilm, m_media.PathOf("parted.mp3"), EncoderSettings{}, kPieces,
                                    kSplitSeconds, false, normalise);
    const Encode whole =
        RunWriter(strFilm, m_media.PathOf("whole.mp3"), EncoderSettings{}, 1, 0.0, false, normalise);
    ASSERT_EQ(parted.strError, "");
    ASSERT_EQ(whole.strError, "");
    ASSERT_TRUE(ReadFileBytes(parted.strPath) != ReadFileBytes(whole.strPath)) << "the file was not divided";
    const std::vector<int16_t> partedPcm = Samples(DecodeS16(parted.strPath));
    const std::vector<int16_t> wholePcm = Samples(DecodeS16(whole.strPath));
    ASSERT_EQ(partedPcm.size(), wholePcm.size());
    // The same noise: the two encodes agree far better than a tone and a noise could.
    double dDot = 0, dParted = 0, dWhole = 0;
    for (size_t i = 0; i < partedPcm.size(); ++i) {
        dDot += static_cast<double>(partedPcm[i]) * wholePcm[i];
        dParted += static_cast<double>(partedPcm[i]) * partedPcm[i];
        dWhole += static_cast<double>(wholePcm[i]) * wholePcm[i];
    }
    EXPECT_GT(dDot / std::sqrt(dParted * dWhole), 0.95);
    // The same gain in every part: each third is as loud as the undivided encode's.
    const size_t nThird = partedPcm.size() / 3;
    for (size_t nPart = 0; nPart < 3; ++nPart) {
        const std::vector<int16_t> a(partedPcm.begin() + nPart * nThird,
                                     partedPcm.begin() + (nPart + 1) * nThird);
        const std::vector<int16_t> b(wholePcm.begin() + nPart * nThird,
                                     wholePcm.begin() + (nPart + 1) * nThird);
        EXPECT_NEAR(20 * std::log10(RmsOf(a) / RmsOf(b)), 0.0, 0.2) << "third " << nPart;
    }
    const CommandResult title = RunCommand({"ffprobe", "-v", "error", "-show_entries", "format_tags=title",
                                            "-of", "default=nw=1:nk=1", parted.strPath});
    EXPECT_EQ(title.strStdout, "Zwei Spuren\n");
    EXPECT_EQ(FfmpegComplaints(parted.strPath), "");
}

// The reservoir rebuilt by the stream writer, checked against made-up frames with random main data.
std::vector<uint8_t> MakeFrame(int nMainBytes) {
    std::vector<uint8_t> frame(417, 0);  // MPEG-1, 128 kbps, 44.1 kHz, joint stereo, no CRC
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    frame[2] = 0x90;
    frame[3] = 0x64;
    // The whole length in the first granule's first part2_3_length (12 bits from side-info bit 20),
    // the rest in the second channel's.
    const int nBits = nMainBytes * 8;
    const int nFirst = std::min(nBits, 4095);
    const auto put12 = [&](int nBitPos, int nValue) {
        for (int i = 0; i < 12; ++i) {
            const int nBit = 4 * 8 + nBitPos + i;
            if ((nValue >> (11 - i)) & 1) {
                frame[nBit >> 3] |= static_cast<uint8_t>(1 << (7 - (nBit & 7)));
            }
        }
    };
    put12(20, nFirst);
    put12(20 + 59, nBits - nFirst);
    return frame;
}

TEST(Mp3StreamWriterTest, MainDataSurvivesRepackingAndOverfullFramesAreRefused) {
    std::mt19937 random(17);
    FILE *pFile = std::tmpfile();
    ASSERT_NE(pFile, nullptr);
    Mp3StreamWriter writer(pFile, 0);
    std::vector<std::vector<uint8_t>> written;
    Mp3StreamFrame frame;
    ASSERT_TRUE(ParseMp3Header(MakeFrame(0).data(), frame.info));
    const int nSlot = frame.info.PayloadBytes();
    for (int i = 0; i < 300; ++i) {
        // Sometimes more than a frame's own slot, so the data reaches back into earlier frames.
        const int nWanted = std::uniform_int_distribution<int>(0, nSlot + 300)(random);
        const std::vector<uint8_t> bytes = MakeFrame(nWanted);
        frame.head.assign(bytes.begin(), bytes.begin() + frame.info.PayloadPos());
        frame.mainData.resize(static_cast<size_t>(nWanted));
        for (uint8_t &b : frame.mainData) {
            b = static_cast<uint8_t>(random());
        }
        frame.nOriginalBegin = 0;
        const int64_t llRoom = std::min<int64_t>(writer.FreeBytes(), 511) + nSlot;
        ASSERT_EQ(writer.Add(frame), nWanted <= llRoom) << "frame " << i;
        if (nWanted <= llRoom) {
            written.push_back(frame.mainData);
        }
    }
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(writer.GetFrameCount(), written.size());
    std::rewind(pFile);
    Mp3FrameSource source(pFile);
    for (const std::vector<uint8_t> &expected : written) {
        ASSERT_TRUE(source.Next(frame));
        ASSERT_EQ(frame.mainData, expected);
        EXPECT_LE(frame.nOriginalBegin, 511);
    }
    EXPECT_FALSE(source.Next(frame));
    EXPECT_FALSE(source.IsDamaged());
    std::fclose(pFile);
}

// FLAC in parts: the joined file must be the very bytes one encoder writes.

struct CodecEncode {
    std::string strPath;
    std::string strError;
    int nDecoders = 0;
    uint32_t nFramesToConvert = 0;
    int nFills = 0;
    int nWholeReads = 0;  // decoders that read the whole source from its start
};

enum class CodecRun { Whole, Stopped, PartFails };

CodecEncode RunCodecWriter(const std::string &strSource, const std::string &strOut, int nLevel, int nJobs,
                           double dSplitSeconds, CodecRun run = CodecRun::Whole,
                           OutputFormat format = OutputFormat::Flac) {
    WriterThread writer;
    ConversionJob *pJob = nullptr;
    std::atomic<int> nDecoders{0};
    std::atomic<int> nFills{0};
    std::atomic<int> nWholeReads{0};
    AudioDecoderFactory factory = [&](PcmSampleFormat format) -> std::unique_ptr<IAudioDecoder> {
        ++nDecoders;
        auto pCounted = std::make_shared<bool>(false);
        return std::make_unique<WatchedDecoder>(
            CreateMediaAudioDecoder(format),
            [&writer, &pJob, &nFills, &nWholeReads, pCounted, run](int64_t llSoughtTo, uint64_t llFilled) {
                ++nFills;
                if (llSoughtTo == 0 && !*pCounted &&
                    llFilled >= pJob->GetProgress().nFramesToConvert * 9ull / 10) {
                    *pCounted = true;
                    ++nWholeReads;
                }
                // The third of eight parts, sought to a little before its start (where no check of the
                // source seeks to), fails halfway through.
                constexpr int64_t kPart = static_cast<int64_t>(kSourceSeconds / 8 * 10000000);
                if (run == CodecRun::PartFails && llSoughtTo > kPart * 7 / 4 &&
                    llSoughtTo < kPart * 19 / 10 && llFilled > 44100 * kSourceSeconds / 16) {
                    return false;
                }
                return run != CodecRun::Stopped || StopHalfway(writer, *pJob);
            });
    };
    ConversionJob job(strSource, strOut, factory);
    pJob = &job;
    EncoderSettings settings;
    settings.m_iFlacCompression = nLevel;
    writer.SetJobsAtOnce(nJobs);
    writer.SetDivideAfterSeconds(dSplitSeconds);
    job.FixSelection();
    EXPECT_EQ(writer.Start({&job}, format, settings), 0);
    writer.Wait();
    return CodecEncode{strOut,        job.GetError(),    nDecoders.load(), job.GetProgress().nFramesToConvert,
                       nFills.load(), nWholeReads.load()};
}

// flac's own test of a file: every frame's checksums, and the stream's length and MD5 of its samples.
bool FlacTestPasses(const std::string &strPath) {
    return RunCommand({"flac", "-t", "-s", strPath}).iExitStatus == 0;
}

struct FlacPartsCase {
    const char *szName;
    int nRate;
    int nChannels;
    const char *szSource;  // the source's name, whose container holds
    const char *szCodec;   // its samples, which give the output's depth
    int nLevel;            // which gives the block size with the rate
    OutputFormat format = OutputFormat::Flac;
};

void PrintTo(const FlacPartsCase &c, std::ostream *pOut) {
    *pOut << c.szName;
}

class FlacDivideTest : public ::testing::TestWithParam<FlacPartsCase> {
protected:
    MediaFactory m_media;

    // Noisy tones, so that the frames' sizes differ; a length that is no multiple of any block size.
    std::string MakeSource(const FlacPartsCase &c) {
        std::string strExprs;
        for (int i = 0; i < c.nChannels; ++i) {
            strExprs += (i ? "|" : "") + std::string("0.3*sin(") + std::to_string(300 + 140 * i) +
                        "*2*PI*t)+0.05*random(" + std::to_string(i) + ")";
        }
        return m_media.Make(c.szSource,
                            {"-f", "lavfi", "-i",
                             "aevalsrc=exprs=" + strExprs + ":s=" + std::to_string(c.nRate) +
                                 ":d=" + std::to_string(kSourceSeconds + 0.0123)},
                            {"-c:a", c.szCodec});
    }
};

// A lossy source is decoded to 24 bits. After a seek the Opus decoder gives other samples for a while:
// it has settled before each part.
const FlacPartsCase kFlacCases[] = {
    {"S16At44100Level5", 44100, 2, "source.wav", "pcm_s16le", 5},
    {"S24At48000Level8", 48000, 2, "source.wav", "pcm_s24le", 8},
    {"S16MonoAt22050Level0", 22050, 1, "source.wav", "pcm_s16le", 0},
    {"OpusAt48000", 48000, 2, "source.opus", "libopus", 5},
    {"AlacS16At44100", 44100, 2, "source.wav", "pcm_s16le", 5, OutputFormat::Alac},
    {"AlacS24MonoAt48000", 48000, 1, "source.wav", "pcm_s24le", 5, OutputFormat::Alac},
    {"AlacFromOpus", 48000, 2, "source.opus", "libopus", 5, OutputFormat::Alac},
};

TEST_P(FlacDivideTest, JoinedFileIsByteForByteOneEncodersFile) {
    const FlacPartsCase &c = GetParam();
    const std::string strSource = MakeSource(c);
    const bool bFlac = c.format == OutputFormat::Flac;
    const std::string strExtension = bFlac ? ".flac" : ".m4a";
    const CodecEncode whole = RunCodecWriter(strSource, m_media.PathOf("whole" + strExtension), c.nLevel, 1,
                                             0.0, CodecRun::Whole, c.format);
    const CodecEncode parted = RunCodecWriter(strSource, m_media.PathOf("parted" + strExtension), c.nLevel,
                                              kPieces, kSplitSeconds, CodecRun::Whole, c.format);
    ASSERT_EQ(parted.strError, "");
    // 16 s at a 3 s threshold: the most parts, each decoding its own stretch.
    EXPECT_EQ(whole.nDecoders, 1);
    EXPECT_GT(parted.nDecoders, WriterThread::kMostPieces);
    EXPECT_TRUE(ReadFileBytes(parted.strPath) == ReadFileBytes(whole.strPath));
    EXPECT_TRUE(bFlac ? FlacTestPasses(parted.strPath) : FfmpegComplaints(parted.strPath).empty());
}

INSTANTIATE_TEST_SUITE_P(Depths, FlacDivideTest, ::testing::ValuesIn(kFlacCases),
                         [](const auto &info) { return std::string(info.param.szName); });

TEST_F(DivideJobTest, FlacAndAlacStoppedWhenDividedAreTheStartOfTheWholeAndWellFormed) {
    for (const OutputFormat format : {OutputFormat::Flac, OutputFormat::Alac}) {
        const bool bFlac = format == OutputFormat::Flac;
        SCOPED_TRACE(bFlac ? "FLAC" : "ALAC");
        const std::string strExtension = bFlac ? ".flac" : ".m4a";
        const CodecEncode whole = RunCodecWriter(m_strSource, m_media.PathOf("whole" + strExtension), 5, 1,
                                                 0.0, CodecRun::Whole, format);
        const CodecEncode stopped = RunCodecWriter(m_strSource, m_media.PathOf("stopped" + strExtension), 5,
                                                   kPieces, kSplitSeconds, CodecRun::Stopped, format);
        ASSERT_EQ(stopped.strError, "");
        EXPECT_TRUE(bFlac ? FlacTestPasses(stopped.strPath) : FfmpegComplaints(stopped.strPath).empty());
        const std::string strWhole = DecodeS16(whole.strPath);
        const std::string strStopped = DecodeS16(stopped.strPath);
        EXPECT_GT(strStopped.size(), 0u);
        EXPECT_LT(strStopped.size(), strWhole.size());
        EXPECT_TRUE(strWhole.compare(0, strStopped.size(), strStopped) == 0);
    }
}

TEST_F(DivideJobTest, FlacWithAFailedPartFailsAndLeavesNoFile) {
    const CodecEncode failed = RunCodecWriter(m_strSource, m_media.PathOf("failed.flac"), 5, kPieces,
                                              kSplitSeconds, CodecRun::PartFails);
    EXPECT_NE(failed.strError, "");
    for (const auto &entry : fs::directory_iterator(m_media.Dir())) {
        EXPECT_EQ(entry.path().extension(), ".mp4") << entry.path();
    }
}

// Decoders that fill bands with noise (AAC's noise substitution) or dither (AC-3's) never decode the
// same twice after a seek. Such files divide all the same, are encoded once, and keep their length.
TEST_F(DivideJobTest, SourcesThatNeverDecodeAlikeTwiceStillDivideOnce) {
    const std::string strNoise =
        "sine=f=330:r=44100:d=" + std::to_string(kSourceSeconds) +
        "[s];anoisesrc=c=pink:a=0.25:seed=5:r=44100:d=" + std::to_string(kSourceSeconds) +
        "[n];[s][n]amix=inputs=2[out0]";
    for (const auto &[szName, szCodec] : {std::pair{"noise.m4a", "aac"}, std::pair{"dither.mkv", "ac3"}}) {
        SCOPED_TRACE(szName);
        const std::string strSource =
            m_media.Make(szName, {"-f", "lavfi", "-i", strNoise}, {"-c:a", szCodec, "-b:a", "48k"});
        AudioStreamReader source;
        ASSERT_TRUE(source.Open(strSource));
        const SeekLanding landing = MeasureSeekLanding(source, SeekProbe{300000, 310000}, 200000);
        EXPECT_EQ(landing.nOffset, 0);
        EXPECT_LT(landing.dMatch, 1.0);  // the source really does decode otherwise after a seek
        const Encode whole = RunWriter(strSource, m_media.PathOf("whole.mp3"), EncoderSettings{}, 1, 0.0);
        const Encode parted =
            RunWriter(strSource, m_media.PathOf("parted.mp3"), EncoderSettings{}, kPieces, kSplitSeconds);
        ASSERT_EQ(parted.strError, "");
        EXPECT_FALSE(ReadFileBytes(parted.strPath) == ReadFileBytes(whole.strPath));
        EXPECT_LT(parted.nFills, whole.nFills * 2);
        EXPECT_EQ(DecodeS16(parted.strPath).size(), DecodeS16(whole.strPath).size());
        EXPECT_EQ(FfmpegComplaints(parted.strPath), "");

        const CodecEncode flacWhole = RunCodecWriter(strSource, m_media.PathOf("whole.flac"), 5, 1, 0.0);
        const CodecEncode flacParted =
            RunCodecWriter(strSource, m_media.PathOf("parted.flac"), 5, kPieces, kSourceSeconds / 2 + 2);
        ASSERT_EQ(flacParted.strError, "");
        EXPECT_FALSE(ReadFileBytes(flacParted.strPath) == ReadFileBytes(flacWhole.strPath));
        EXPECT_LT(flacParted.nFills, flacWhole.nFills * 2);
        EXPECT_EQ(DecodeS16(flacParted.strPath).size(), DecodeS16(flacWhole.strPath).size());
        EXPECT_TRUE(FlacTestPasses(flacParted.strPath));
    }
}

// The lossy formats' pieces are spliced from encoders that started well before them: each file decodes
// to exactly the source's length, and no 20 ms window is more than a few dB worse than one encoder's.
TEST_F(DivideJobTest, SplicedLossyFilesKeepTheirLengthAndHaveNoAudibleJoin) {
    const std::string strSource = m_media.Make("tonal.wav",
                                               {"-f", "lavfi", "-i",
                                                "aevalsrc=exprs=0.3*sin(440*2*PI*t+2*sin(0.3*t))+0.05*random("
                                                "0)|0.3*sin(554*2*PI*t)+0.05*random(1):s="
                                                "44100:d=" +
                                                    std::to_string(kSourceSeconds + 0.0123)},
                                               {"-c:a", "pcm_s16le"});
    const std::vector<int16_t> source = Samples(DecodeS16(strSource));
    for (const auto &[format, szExtension] :
         {std::pair{OutputFormat::Aac, ".m4a"}, std::pair{OutputFormat::Opus, ".opus"}}) {
        SCOPED_TRACE(szExtension);
        const CodecEncode whole =
            RunCodecWriter(strSource, m_media.PathOf(std::string("whole") + szExtension), 5, 1, 0.0,
                           CodecRun::Whole, format);
        const CodecEncode parted =
            RunCodecWriter(strSource, m_media.PathOf(std::string("parted") + szExtension), 5, kPieces,
                           kSplitSeconds, CodecRun::Whole, format);
        ASSERT_EQ(parted.strError, "");
        EXPECT_GT(parted.nDecoders, WriterThread::kMostPieces);
        // Spliced, not encoded again once the pieces were done: only AAC's count of the frames reads
        // the whole source.
        EXPECT_EQ(parted.nWholeReads, format == OutputFormat::Aac ? 1 : 0);
        EXPECT_EQ(FfmpegComplaints(parted.strPath), "");
        const std::vector<std::string> back = {"-ar", "44100"};
        const std::vector<int16_t> partedPcm = Samples(DecodeS16(parted.strPath, back));
        const std::vector<int16_t> wholePcm = Samples(DecodeS16(whole.strPath, back));
        ASSERT_EQ(partedPcm.size(), wholePcm.size());
        if (format != OutputFormat::Opus) {  // decoded at 48 kHz, its length is only near once resampled
            ASSERT_EQ(partedPcm.size(), source.size());
        }
        constexpr size_t kTwentyMs = 882 * 2;
        for (size_t nA = 0; nA + kTwentyMs <= std::min(source.size(), partedPcm.size()); nA += kTwentyMs) {
            ASSERT_GE(SnrDb(source, partedPcm, nA, nA + kTwentyMs),
                      SnrDb(source, wholePcm, nA, nA + kTwentyMs) - kWorstWindowDb)
                << "window at " << nA / 2 << " frames";
        }
    }
}

// The pieces' own frames of every format that divides add up to the selection, neither of whose ends
// lies on a frame boundary.
TEST_F(DivideJobTest, DividedSelectionsOfEveryFormatDecodeToExactlyTheirFrames) {
    ASSERT_TRUE(WriteCutInfo(m_strSource, ClipInfo{1600, 137, 1421}));
    const uint32_t nExpected = static_cast<uint32_t>(14.21 * 44100) - static_cast<uint32_t>(1.37 * 44100);
    for (const auto &[format, szName] :
         {std::pair{OutputFormat::Flac, "cut.flac"}, std::pair{OutputFormat::Alac, "cut.m4a"},
          std::pair{OutputFormat::Aac, "cut.aac.m4a"}}) {
        SCOPED_TRACE(szName);
        const CodecEncode encoded = RunCodecWriter(m_strSource, m_media.PathOf(szName), 5, kPieces,
                                                   kSplitSeconds, CodecRun::Whole, format);
        ASSERT_EQ(encoded.strError, "");
        EXPECT_GT(encoded.nDecoders, WriterThread::kMostPieces);
        EXPECT_EQ(DecodeS16(encoded.strPath).size(), size_t{nExpected} * 4);
        EXPECT_EQ(FfmpegComplaints(encoded.strPath), "");
    }
}

// The pieces follow from the file alone: bytes that depended on timing would differ between one, two
// and three workers.
TEST_F(DivideJobTest, EveryDividedOutputIsTheSameWhateverTheWorkers) {
    std::vector<std::string> mp3s, flacs, alacs, aacs, opuses;
    for (const int nJobs : {1, 2, 3}) {
        const std::string strName = std::to_string(nJobs);
        mp3s.push_back(ReadFileBytes(
            RunWriter(m_strSource, m_media.PathOf(strName + ".mp3"), EncoderSettings{}, nJobs, kSplitSeconds)
                .strPath));
        flacs.push_back(ReadFileBytes(
            RunCodecWriter(m_strSource, m_media.PathOf(strName + ".flac"), 5, nJobs, kSplitSeconds).strPath));
        alacs.push_back(ReadFileBytes(RunCodecWriter(m_strSource, m_media.PathOf(strName + ".m4a"), 5, nJobs,
                                                     kSplitSeconds, CodecRun::Whole, OutputFormat::Alac)
                                          .strPath));
        aacs.push_back(ReadFileBytes(RunCodecWriter(m_strSource, m_media.PathOf(strName + ".aac.m4a"), 5,
                                                    nJobs, kSplitSeconds, CodecRun::Whole, OutputFormat::Aac)
                                         .strPath));
        opuses.push_back(
            ReadFileBytes(RunCodecWriter(m_strSource, m_media.PathOf(strName + ".opus"), 5, nJobs,
                                         kSplitSeconds, CodecRun::Whole, OutputFormat::Opus)
                              .strPath));
    }
    for (const auto *pRuns : {&mp3s, &flacs, &alacs, &aacs, &opuses}) {
        EXPECT_FALSE(pRuns->front().empty());
        EXPECT_TRUE(std::all_of(pRuns->begin(), pRuns->end(),
                                [&](const std::string &s) { return s == pRuns->front(); }));
    }
}

}  // namespace

}  // namespace klangor

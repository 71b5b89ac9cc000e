// Samples no encoder can take, as damaged files decode to them: NaN, infinities, values far beyond full
// scale. They reach LAME as floats, and its assertions would end the whole process; the file must
// convert instead, in one piece and divided into parts alike. The sources are float WAV files whose
// bytes the test writes itself (no tool writes such samples on purpose); the results are checked with
// ffmpeg's own decode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <random>

#include "convert/batch/ConversionJob.h"
#include "convert/batch/WriterThread.h"
#include "convert/outputs/Mp3JobOutput.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 16;
constexpr double kSplitSeconds = 3.0;

void PutLe(std::string &strBytes, uint32_t nValue, int nBytes) {
    for (int i = 0; i < nBytes; ++i) {
        strBytes.push_back(static_cast<char>(nValue >> (8 * i)));
    }
}

// A stereo 32-bit float WAV of kSeconds whose i-th sample is sample(i).
std::string FloatWav(const std::function<float(size_t)> &sample) {
    const size_t nSamples = size_t{kRate} * kSeconds * 2;
    std::string strBytes = "RIFF";
    PutLe(strBytes, static_cast<uint32_t>(36 + nSamples * 4), 4);
    strBytes += "WAVEfmt ";
    PutLe(strBytes, 16, 4);
    PutLe(strBytes, 3, 2);  // IEEE float
    PutLe(strBytes, 2, 2);
    PutLe(strBytes, kRate, 4);
    PutLe(strBytes, kRate * 8, 4);
    PutLe(strBytes, 8, 2);
    PutLe(strBytes, 32, 2);
    strBytes += "data";
    PutLe(strBytes, static_cast<uint32_t>(nSamples * 4), 4);
    for (size_t i = 0; i < nSamples; ++i) {
        uint32_t nBits = 0;
        const float fSample = sample(i);
        std::memcpy(&nBits, &fSample, sizeof nBits);
        PutLe(strBytes, nBits, 4);
    }
    return strBytes;
}

// One file to MP3 as a batch of one runs it, divided into parts or in one piece.
std::string Encode(const std::string &strSource, const std::string &strOut, int nJobs, bool bDivide) {
    EncoderSettings settings;
    WriterThread writer;
    writer.SetJobsAtOnce(nJobs);
    writer.SetDivideAfterSeconds(bDivide ? kSplitSeconds : 0);
    ConversionJob job(strSource, strOut);
    job.FixSelection();
    EXPECT_EQ(writer.Start({&job}, OutputFormat::Mp3, settings), 0);
    writer.Wait();
    return job.GetError();
}

TEST(HostileSamples, NonFiniteAndFarOverFullScaleSamplesConvertWholeAndDivided) {
    MediaFactory media;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1e6f, 1e6f);
    const float kBad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity(), 3e38f, -3e38f};
    const struct {
        const char *szName;
        std::function<float(size_t)> sample;
    } kSources[] = {
        // A tone with a damaged sample every 97.
        {"nonfinite.wav",
         [&](size_t i) {
             return i % 97 == 0 ? kBad[i / 97 % 5] : 0.5f * std::sin(static_cast<float>(i / 2) * 0.06f);
         }},
        // What a damaged gain field decodes to: noise at a million times full scale.
        {"overfull.wav", [&](size_t) { return noise(random); }},
    };
    for (const auto &source : kSources) {
        SCOPED_TRACE(source.szName);
        const std::string strSource = media.MakeRaw(source.szName, FloatWav(source.sample));
        const std::string strWhole = media.PathOf(std::string(source.szName) + ".whole.mp3");
        const std::string strParts = media.PathOf(std::string(source.szName) + ".parts.mp3");
        EXPECT_EQ(Encode(strSource, strWhole, 3, false), "");
        EXPECT_EQ(Encode(strSource, strParts, 3, true), "");
        EXPECT_TRUE(ReadFileBytes(strWhole) != ReadFileBytes(strParts)) << "the second file was not divided";
        for (const std::string &strOut : {strWhole, strParts}) {
            const std::string strPcm = DecodeS16(strOut);
            EXPECT_EQ(strPcm.size(), size_t{kRate} * kSeconds * 4);
            int nPeak = 0;
            for (size_t i = 0; i + 1 < strPcm.size(); i += 2) {
                int16_t iSample;
                std::memcpy(&iSample, strPcm.data() + i, 2);
                nPeak = std::max(nPeak, std::abs(int{iSample}));
            }
            EXPECT_GT(nPeak, 8000) << "held at full scale, not silenced";
        }
    }
}

}  // namespace

}  // namespace klangor

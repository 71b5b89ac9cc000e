// Inputs the fuzz targets once crashed on (tests/fuzz/regressions), run through the same steps in the
// normal suite, so the sanitizer build catches the fault again should it come back.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "media/AudioDecoder.h"
#include "cli/ConvertCommandLine.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

const fs::path kRegressions = fs::path(KLANGOR_SOURCE_DIR) / "tests" / "fuzz" / "regressions";

std::vector<fs::path> FilesIn(const std::string &strKind) {
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(kRegressions / strKind)) {
        files.push_back(entry.path());
    }
    return files;
}

// Open, read every chunk to the end; with llSeek >= 0, seek there first. Frames read, or -1.
int64_t ReadAll(const fs::path &path, int64_t llSeek, uint32_t &nRate) {
    auto pDecoder = CreateFfmpegAudioDecoder();
    WaveFormat wfx;
    if (pDecoder->OpenFile(path.string()) != 0 || pDecoder->GetFormat(wfx) != 0 || pDecoder->Run() != 0) {
        return -1;
    }
    nRate = wfx.nSamplesPerSec;
    if (llSeek >= 0 && pDecoder->Seek(llSeek) != 0) {
        return -1;
    }
    std::vector<uint8_t> buffer(1000u * wfx.nBlockAlign);
    int64_t nTotal = 0;
    for (;;) {
        uint32_t nFilled = 0;
        const int iResult = pDecoder->Fill(buffer.data(), 1000, nFilled);
        EXPECT_LE(nFilled, 1000u);
        nTotal += nFilled;
        if (iResult != 0 || nFilled < 1000) {
            return nTotal;
        }
    }
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Ahead of the test reading every damaged file, which would raise the peak first.
// 872 bytes of WAV whose tag list claims 1.1 GB: the sound is still read whole, and the claim costs no
// memory (FFmpeg would zero a block of the claimed size before finding the file ends).
TEST(FuzzRegressions, TagSizesAFileCannotHoldCostNoMemory) {
    SilenceDecoderLog();
    const long lBefore = PeakResidentKiB();
    uint32_t nRate = 0;
    EXPECT_EQ(ReadAll(kRegressions / "media" / "wav-info-claims-a-gigabyte.wav", -1, nRate), 400);
    EXPECT_EQ(nRate, 8000u);
    EXPECT_LT(PeakResidentKiB() - lBefore, 256 * 1024);
}

TEST(FuzzRegressions, DamagedMediaDecodesToItsEndWithoutFault) {
    SilenceDecoderLog();
    const auto files = FilesIn("media");
    ASSERT_FALSE(files.empty());
    for (const fs::path &path : files) {
        SCOPED_TRACE(path.filename().string());
        uint32_t nRate = 0;
        const int64_t nFrames = ReadAll(path, -1, nRate);
        if (nFrames > 0 && nRate > 0) {
            ReadAll(path, nFrames / 3 * 10000000 / nRate, nRate);
        }
    }
}

TEST(FuzzRegressions, CommandLinesThatOnceParsedWronglyAreRefused) {
    for (const fs::path &path : FilesIn("cmdline")) {
        SCOPED_TRACE(path.filename().string());
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        std::vector<std::string> args;
        std::istringstream parts(text.str());
        for (std::string strArg; std::getline(parts, strArg, '\0');) {
            args.push_back(strArg);
        }
        ConvertOptions options;
        std::string strError;
        EXPECT_FALSE(ParseConvertCommandLine(args, "/home/u/VellumarMP3", options, strError));
        EXPECT_FALSE(strError.empty());
    }
}

}  // namespace

}  // namespace klangor

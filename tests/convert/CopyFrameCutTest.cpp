// A copy's selection from the codecs whose packets cannot simply be cut, checked with ffmpeg: MP3 and
// FLAC hold exactly the selection's samples (MP3 in the source's own frames), AC-3, E-AC-3 and DTS the
// whole frames nearest its bounds, and the file's line says how far those lie from it.
#include <gtest/gtest.h>

#include <algorithm>

#include "ConvertProgram.h"
#include "support/DecodedAudio.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace {

// 1.23 s to 2.35 s: inside an MP3 (1152 or 576), AC-3 (1536) and DTS (512) frame at both ends.
constexpr const char *kSelection = "Owner=Vellumar\r\nCutInfo=400,123,235,0;";

struct CutCase {
    const char *szName;
    const char *szCopy;  // the copy's name
    std::vector<std::string> codecArgs;
    int nChannels;
    float fTolerance;    // of the samples against the source's; negative: whole frames, compared as packets
    int nFrameSamples;   // of the whole frames kept
    const char *szNote;  // the file's line's remark
    int nRate = 44100;
};

const CutCase kCases[] = {
    {"song.mp3", "song.mp3.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}, 2, 1e-6f, 0, "(copied)"},
    // Small frames: the reservoir spreads over more of them than the delay field can skip.
    {"low.mp3", "low.mp3.mp3", {"-c:a", "libmp3lame", "-b:a", "32k"}, 1, 1e-6f, 0, "(copied)"},
    // MPEG-2: one granule a frame, so two frames to decode the first one from.
    {"half.mp3",
     "half.mp3.mp3",
     {"-ar", "22050", "-c:a", "libmp3lame", "-b:a", "24k"},
     2,
     1e-6f,
     0,
     "(copied)",
     22050},
    {"deep.flac",
     "deep.flac.flac",
     {"-c:a", "flac", "-sample_fmt", "s32", "-frame_size", "4096"},
     2,
     0.0f,
     0,
     "(copied)"},
    {"film.ac3",
     "film.ac3.ac3",
     {"-c:a", "ac3"},
     2,
     -1,
     1536,
     "(copied, cut on whole frames, starts 11 ms early, ends 16 ms early)"},
    // Matroska keeps its timestamps in milliseconds: the frames are counted from their headers.
    {"film.mka", "film.mka.ac3", {"-c:a", "ac3"}, 2, -1, 1536, "starts 11 ms early, ends 16 ms early"},
    {"film.eac3", "film.eac3.eac3", {"-c:a", "eac3"}, 2, -1, 1536, "cut on whole frames, starts 11 ms early"},
    {"film.dts",
     "film.dts.dts",
     {"-c:a", "dca", "-strict", "-2"},
     2,
     -1,
     512,
     "cut on whole frames, starts 1 ms late"},
};

// Where the run of packets lies in the source's, -1 when they are not a run of its packets.
long RunIn(const std::vector<std::string> &source, const std::vector<std::string> &run) {
    const auto it = std::search(source.begin(), source.end(), run.begin(), run.end());
    return run.empty() || it == source.end() ? -1 : static_cast<long>(it - source.begin());
}

size_t NearestFrame(size_t nAt, int nFrameSamples) {
    const auto nFrame = static_cast<size_t>(nFrameSamples);
    return (nAt + nFrame / 2) / nFrame;
}

}  // namespace

TEST(CopyFrameCut, EachCodecGivesItsSelectionAsExactlyAsItsContainerAllows) {
    MediaFactory media;
    for (const CutCase &c : kCases) {
        SCOPED_TRACE(c.szName);
        const auto nStart = static_cast<size_t>(c.nRate) * 123 / 100;
        const auto nEnd = static_cast<size_t>(c.nRate) * 235 / 100;
        std::vector<std::string> outputArgs = {"-filter_complex",
                                               "[0][1]amix=inputs=2:normalize=0",
                                               "-ac",
                                               std::to_string(c.nChannels),
                                               "-metadata",
                                               "title=Cut Title"};
        outputArgs.insert(outputArgs.end(), c.codecArgs.begin(), c.codecArgs.end());
        const std::string strSource = media.Make(
            c.szName,
            {"-f", "lavfi", "-i", "aevalsrc=exprs=0.3*sin(440*2*PI*t)+0.2*sin(1230*2*PI*t*t):s=44100:d=4",
             "-f", "lavfi", "-i", "anoisesrc=d=4:r=44100:a=0.05:seed=7"},
            outputArgs);
        media.MakeRaw(std::string(c.szName) + ".clipinfo", kSelection);
        const CommandResult result = Convert({"-f", "copy", "-o", media.PathOf("cut"), strSource});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        EXPECT_NE(result.strStdout.find(c.szNote), std::string::npos) << result.strStdout;
        const std::string strCut = media.PathOf("cut") + "/" + c.szCopy;
        const std::vector<std::string> sourcePackets = PacketChecksums(strSource);
        const std::vector<std::string> cutPackets = PacketChecksums(strCut);
        if (c.fTolerance < 0) {
            const size_t nFirst = NearestFrame(nStart, c.nFrameSamples);
            const size_t nLast = NearestFrame(nEnd, c.nFrameSamples);
            ASSERT_LT(nLast, sourcePackets.size());
            EXPECT_EQ(cutPackets, std::vector<std::string>(sourcePackets.begin() + static_cast<long>(nFirst),
                                                           sourcePackets.begin() + static_cast<long>(nLast)));
            continue;
        }
        // The channels are one mix: the first stands for all.
        const std::vector<float> source = DecodeFirstChannel(strSource);
        const std::vector<float> cut = DecodeFirstChannel(strCut);
        EXPECT_EQ(BestOffset(source, cut, nStart, 0, 4000, 3000), 0);
        ASSERT_EQ(cut.size(), nEnd - nStart);
        EXPECT_LE(MaxDifference(source, cut, nStart, 0), c.fTolerance);
        EXPECT_NE(RunCommand({"ffprobe", "-v", "error", "-show_entries", "format_tags=title", strCut})
                      .strStdout.find("=Cut Title"),
                  std::string::npos);
        if (std::string(c.szName).ends_with(".mp3")) {
            // The source's frames: all of them, or all but a first silent one that holds their reservoir.
            const bool bCarrier = RunIn(sourcePackets, cutPackets) < 0;
            EXPECT_GE(RunIn(sourcePackets, std::vector<std::string>(cutPackets.begin() + (bCarrier ? 1 : 0),
                                                                    cutPackets.end())),
                      0);
            EXPECT_EQ(bCarrier, std::string(c.szName) == "low.mp3");
            // A reader names the encoder only when the tag's CRC is right.
            EXPECT_EQ(ProbeStream(strCut)["TAG:encoder"].rfind("LAME", 0), 0u);
        } else {
            EXPECT_EQ(ProbeStream(strCut).at("bits_per_raw_sample"), "24");
            const std::string strBlocks =
                RunCommand({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                            "packet=duration", "-of", "csv=p=0", strCut})
                    .strStdout;
            EXPECT_EQ(strBlocks.substr(0, strBlocks.find('\n')), "4096");
        }
    }
}

}  // namespace klangor

// A selection copied without re-encoding, checked on ffmpeg's decode: it starts at the selection's first
// sample, holds its count, decodes as the source does there, and its packets are the source's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "ConvertProgram.h"
#include "support/DecodedAudio.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace {

struct CutCase {
    const char *szName;
    const char *szCodec;
    int nRate;  // the source's, which for Opus is also what ffmpeg presents
    const char *szExtension;
    // From the source's decode over the selection (AAC: within a 16-bit step, the float rounding of
    // another decoding order); negative: judged in dB instead.
    float fMaxDifference;
    size_t nSettle;  // frames the decoder needs after its pre-roll before the comparison
    // ffmpeg 5.1 decodes an MP4 track's last packet whole: the edit list's end, which it does not
    // honour, is checked instead and the decode cut there. nPacket bounds what it gives past it.
    bool bEndInEditList;
    size_t nPacket;
    // ALAC's last packet is encoded again, losslessly, as a frame that says its own length: ffmpeg
    // ends there exactly, and every other packet is the source's.
    bool bLastEncodedAgain = false;
};

const CutCase kCases[] = {
    {"aac.m4a", "aac", 44100, ".m4a", 3e-5f, 0, true, 1024},
    {"alac.m4a", "alac", 44100, ".m4a", 0.0f, 0, false, 0, true},
    // Matroska keeps milliseconds: its AAC packets are placed by their count.
    {"film.mkv", "aac", 48000, ".m4a", 3e-5f, 0, true, 1024},
    {"talk.opus", "libopus", 48000, ".opus", -1.0f, 960, false, 0},
    // And its Opus packets by the frames each one's first byte says it holds.
    {"talk.webm", "libopus", 48000, ".opus", -1.0f, 960, false, 0},
    {"tune.ogg", "libvorbis", 44100, ".ogg", 1e-5f, 0, false, 0},
};

}  // namespace

TEST(CopyCut, EachCodecKeepsExactlyTheSelectionInTheSourcesOwnPackets) {
    MediaFactory media;
    for (const CutCase &c : kCases) {
        SCOPED_TRACE(c.szName);
        // A sweep in each channel: no stretch of it matches another, so the alignment has one answer even
        // for a lossy codec; noise would not do, since an AAC decoder makes up its own for noisy bands.
        const std::string strSweep =
            "aevalsrc=exprs=0.4*sin(2*PI*(200*t+300*t*t))|0.4*sin(2*PI*(300*t+200*t*t))"
            ":d=4:s=" +
            std::to_string(c.nRate);
        const std::string strSource =
            media.Make(c.szName, {"-f", "lavfi", "-i", strSweep}, {"-c:a", c.szCodec});
        // 1.23 s to 2.35 s: both inside a packet for every codec here.
        media.MakeRaw(std::string(c.szName) + ".clipinfo", "Owner=Vellumar\r\nCutInfo=400,123,235,0;");
        const auto nStart = static_cast<size_t>(std::trunc(123 / 100.0 * c.nRate));
        const auto nCount = static_cast<size_t>(std::trunc(235 / 100.0 * c.nRate)) - nStart;
        const CommandResult result = Convert({"-q", "-f", "copy", "-o", media.PathOf("cut"), strSource});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strCut = media.PathOf("cut") + "/" + c.szName + c.szExtension;

        // A reader finds nothing wrong with the container: a negative granule position, for one, shows.
        EXPECT_EQ(RunCommand({"ffprobe", "-v", "error", "-show_packets", strCut}).strStderr, "");
        const std::vector<float> source = DecodeFirstChannel(strSource);
        // ffmpeg 5.1 leaves a Vorbis start, which the first page's granule position says, to the
        // timestamps: the samples they put before the first are dropped here.
        std::vector<float> cut = DecodeFirstChannel(strCut, "atrim=start_pts=0");
        if (c.bEndInEditList) {
            EXPECT_EQ(ProbeStream(strCut).at("duration_ts"), std::to_string(nCount));
            EXPECT_GE(cut.size(), nCount);
            EXPECT_LT(cut.size(), nCount + c.nPacket);
            cut.resize(std::min(cut.size(), nCount));
        }
        EXPECT_EQ(cut.size(), nCount);
        EXPECT_EQ(BestOffset(source, cut, nStart, c.nSettle, 4096, 3000), 0);
        if (c.fMaxDifference >= 0.0f) {
            EXPECT_LE(MaxDifference(source, cut, nStart, 0), c.fMaxDifference);
        } else {
            EXPECT_GE(SignalToDifferenceDb(source, cut, nStart, c.nSettle), 40.0);
        }

        std::vector<std::string> kept = PacketChecksums(strCut);
        if (c.bLastEncodedAgain && !kept.empty()) {
            const std::vector<std::string> source = PacketChecksums(strSource);
            EXPECT_EQ(std::find(source.begin(), source.end(), kept.back()), source.end());
            kept.pop_back();
        }
        const std::vector<std::string> all = PacketChecksums(strSource);
        ASSERT_FALSE(kept.empty());
        const auto first = std::find(all.begin(), all.end(), kept.front());
        ASSERT_NE(first, all.end()) << "the first kept packet is not the source's";
        EXPECT_TRUE(static_cast<size_t>(all.end() - first) >= kept.size() &&
                    std::equal(kept.begin(), kept.end(), first))
            << "the kept packets are not the source's own";
    }
}

}  // namespace klangor

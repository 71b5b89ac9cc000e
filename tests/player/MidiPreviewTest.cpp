// A MIDI clip in the preview player: it loads with the length of its song, plays, seeks and honours its
// selection, synthesised as it plays with nothing written to disk.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "player/MpvPlayback.h"
#include "media/AudioDecoder.h"
#include "media/MidiPreview.h"
#include "../convert/MidiSongs.h"
#include "player/PlayerTestSupport.h"
#include "support/TempDir.h"
#include "support/MemoryBounds.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

class MidiPreviewTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1); }

    std::unique_ptr<MediaPlayer> MakePlayer() {
        return std::make_unique<MediaPlayer>(window, 1037,
                                             std::make_unique<MpvPlaybackEngine>(MpvEngineOptions{"null"}));
    }
    // The renderings in the player's runtime folder.
    std::vector<fs::path> Renderings() const {
        std::vector<fs::path> found;
        const fs::path folder = m_runtime.Path() / "klangor";
        if (fs::exists(folder)) {
            for (const auto &entry : fs::directory_iterator(folder)) {
                if (entry.path().extension() == ".wav") {
                    found.push_back(entry.path());
                }
            }
        }
        return found;
    }

    TempDir m_runtime;
    MediaFactory media;
    RecordingWindow window;
};

TEST_F(MidiPreviewTest, SongPlaysSeeksAndStopsAtItsSelection) {
    const std::string strSong = media.MakeRaw("song.mid", midi::RunningStatusSong());
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, strSong), kPlaybackOk)
        << (window.boxes.empty() ? "" : window.boxes.front().strText);
    EXPECT_TRUE(player->IsAudioOnly());
    // 2.25 s of notes and a tail that rings for less than 2 s.
    const uint32_t nDuration = player->GetClipInfo().nDuration;
    EXPECT_GT(nDuration, 225u);
    EXPECT_LE(nDuration, 426u);
    EXPECT_TRUE(Renderings().empty()) << "the song is synthesised as it plays, never written out";
    // The cut-info belongs to the song, not to its rendering.
    player->DrainRecords();
    EXPECT_EQ(ReadFileBytes(strSong + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=" + std::to_string(nDuration) +
                                                        ",0," + std::to_string(nDuration) + ",0;");

    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) > 20; }));
    player->SetRate(2.0);
    EXPECT_DOUBLE_EQ(player->GetRate(), 2.0);
    player->SetRate(1.0);
    player->SetSelection(100, 150);
    player->SetPosition(120);
    int nComplete = 0;
    long lAt = -1;
    WaitUntil(
        *player, [&] { return nComplete > 0; }, 5.0,
        [&](const GraphEvent &event) {
            if (event.lCode == kEventComplete) {
                ++nComplete;
                lAt = PositionOf(*player);
            }
        });
    EXPECT_EQ(nComplete, 1);
    EXPECT_NEAR(lAt, 150, 2);
}

// 38 bytes that last 11.65 hours: one quarter note per tick at the slowest tempo there is, a note struck
// and never released, and the end of the track 2500 ticks later.
std::string HoursLongSong() {
    return midi::Header(0, 1, 1) + midi::Track({{0, midi::Tempo(0xFFFFFF)},
                                                {0, midi::Bytes({0x90, 60, 100})},
                                                {2500, midi::Bytes({0xFF, 0x2F, 0x00})}},
                                               false);
}

TEST_F(MidiPreviewTest, AnHoursLongSongOpensAtOncePlaysAndSeeksAnywhereInLittleMemory) {
    const std::string strBytes = HoursLongSong();
    ASSERT_EQ(strBytes.size(), 38u);
    const std::string strSong = media.MakeRaw("long.mid", strBytes);
    auto player = MakePlayer();
    const long lMiBBefore = ResidentMiB();
    const auto start = std::chrono::steady_clock::now();
    {
        StallGuard guard(std::chrono::seconds(30), "opening an hours-long song");
        ASSERT_EQ(LoadAndWait(*player, strSong), kPlaybackOk)
            << (window.boxes.empty() ? "" : window.boxes.front().strText);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // 2500 ticks of 16.777215 s, and the tail.
    EXPECT_NEAR(player->GetClipInfo().nDuration, 4194304 + 200, 2);

    const long lTarget = 5 * 360000;  // five hours in
    player->SetPosition(lTarget);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) > lTarget + 30; }))
        << "plays on from where it was put, at " << PositionOf(*player);
    EXPECT_LT(ResidentMiB() - lMiBBefore, 64 * kMemoryBoundFactor);
    EXPECT_TRUE(Renderings().empty());
}

TEST_F(MidiPreviewTest, ADamagedSongFailsWithAMessageAndLeavesNothing) {
    const std::string strBroken = media.MakeRaw("broken.mid", "MThd" + std::string(40, '\xEE'));
    auto player = MakePlayer();
    EXPECT_NE(LoadAndWait(*player, strBroken), kPlaybackOk);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes.front().strCaption, "PlayWnd Sample");
    EXPECT_NE(window.boxes.front().strText.find("Can not find audio"), std::string::npos);
    EXPECT_FALSE(player->IsClipLoaded());
    EXPECT_TRUE(Renderings().empty());
}

// Every byte of the preview's file, read in pieces of nPiece bytes.
std::string ReadWhole(MidiPreview &preview, uint64_t nPiece) {
    std::string strBytes(preview.Size(), '\0');
    const std::atomic<bool> bCancel{false};
    for (uint64_t nAt = 0; nAt < strBytes.size();) {
        const int64_t nRead = preview.ReadAt(nAt, reinterpret_cast<uint8_t *>(strBytes.data() + nAt),
                                             std::min<uint64_t>(nPiece, strBytes.size() - nAt), bCancel);
        if (nRead <= 0) {
            ADD_FAILURE() << "read stopped at " << nAt;
            break;
        }
        nAt += static_cast<uint64_t>(nRead);
    }
    return strBytes;
}

// The preview plays what the converter writes: the same samples, then silence to the length both report.
TEST(MidiPreview, ItsFileIsAWavOfTheConvertersSamplesInWhateverPiecesItIsRead) {
    TempDir folder;
    MediaFactory media;
    const std::string strSong = media.MakeRaw("song.mid", midi::TwoChannelSongWithDrums());
    auto pDecoder = CreateMidiAudioDecoder(PcmSampleFormat::S16);
    ASSERT_EQ(pDecoder->OpenFile(strSong), 0);
    std::string strConverted;
    for (uint32_t nFilled = 4096; nFilled == 4096;) {
        char buffer[4096 * 4];
        ASSERT_EQ(pDecoder->Fill(reinterpret_cast<uint8_t *>(buffer), 4096, nFilled), 0);
        strConverted.append(buffer, size_t{nFilled} * 4);
    }
    int64_t llDuration = 0;
    ASSERT_EQ(pDecoder->GetDuration(llDuration), 0);

    MidiPreview preview;
    std::string strError;
    ASSERT_TRUE(preview.Open(strSong, strError)) << strError;
    const std::string strFile = ReadWhole(preview, 1001);
    EXPECT_TRUE(ReadWhole(preview, 1 << 20) == strFile) << "a second reading, from the start again";
    const std::string strPath = (folder.Path() / "preview.wav").string();
    std::ofstream(strPath, std::ios::binary) << strFile;
    const auto stream = ProbeStream(strPath);
    EXPECT_EQ(stream.at("codec_name"), "pcm_s16le");
    EXPECT_EQ(stream.at("sample_rate"), "44100");
    EXPECT_EQ(stream.at("channels"), "2");
    EXPECT_NEAR(std::stod(ProbeFormat(strPath).at("duration")), static_cast<double>(llDuration) / 1e7, 0.001);
    const std::string strPcm = DecodeS16(strPath);
    ASSERT_EQ(strPcm.size(), static_cast<size_t>(llDuration * 44100 / 10000000) * 4);
    EXPECT_TRUE(strPcm.compare(0, strConverted.size(), strConverted) == 0);
    EXPECT_EQ(strPcm.find_first_not_of('\0', strConverted.size()), std::string::npos);
}

}  // namespace

}  // namespace klangor

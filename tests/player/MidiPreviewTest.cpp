// A MIDI clip in the preview player: it loads with the length of its rendering, plays, seeks, honours
// its selection, and its rendering lives in the private runtime folder only while the clip is loaded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "clips/MpvPlayback.h"
#include "convert/MidiPreview.h"
#include "../convert/MidiSongs.h"
#include "player/PlayerTestSupport.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class MidiPreviewTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1); }

    std::unique_ptr<MediaPlayer> MakePlayer() {
        return std::make_unique<MediaPlayer>(window, 1037, std::make_unique<MpvPlaybackEngine>(MpvEngineOptions{"null"}));
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
    ASSERT_EQ(player->LoadClip(strSong), kPlaybackOk) << (window.boxes.empty() ? "" : window.boxes.front().strText);
    EXPECT_TRUE(player->IsAudioOnly());
    // 2.25 s of notes and a tail that rings for less than 2 s.
    const uint32_t nDuration = player->GetClipInfo().nDuration;
    EXPECT_GT(nDuration, 225u);
    EXPECT_LE(nDuration, 426u);
    ASSERT_EQ(Renderings().size(), 1u);
    EXPECT_EQ(fs::status(Renderings().front().parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
    // The cut-info belongs to the song, not to its rendering.
    EXPECT_EQ(ReadFileBytes(strSong + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=" + std::to_string(nDuration) + ",0," +
                                                        std::to_string(nDuration) + ",0;");

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

    player->CloseClip();
    EXPECT_TRUE(Renderings().empty()) << "the rendering goes with the clip";
}

TEST_F(MidiPreviewTest, ADamagedSongFailsWithAMessageAndLeavesNothing) {
    const std::string strBroken = media.MakeRaw("broken.mid", "MThd" + std::string(40, '\xEE'));
    auto player = MakePlayer();
    EXPECT_NE(player->LoadClip(strBroken), kPlaybackOk);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes.front().strCaption, "PlayWnd Sample");
    EXPECT_NE(window.boxes.front().strText.find("Can not find audio"), std::string::npos);
    EXPECT_FALSE(player->IsClipLoaded());
    EXPECT_TRUE(Renderings().empty());
}

TEST(MidiPreview, RenderingsOfEndedRunsAreClearedAndOwnOnesRemoved) {
    TempDir folder;
    MediaFactory media;
    const std::string strSong = media.MakeRaw("song.mid", midi::TwoChannelSongWithDrums());
    // Left by a crashed run whose process id no longer exists, and one of a live process (this one's
    // parent) that must stay.
    const fs::path dead = folder.Path() / ".klangor-midi-999999999-abcdef.wav";
    const fs::path live = folder.Path() / (".klangor-midi-" + std::to_string(getppid()) + "-abcdef.wav");
    std::ofstream(dead) << "x";
    std::ofstream(live) << "x";
    std::string strPath;
    {
        MidiPreview preview;
        std::string strError;
        ASSERT_TRUE(preview.Render(strSong, folder.Path().string(), strError)) << strError;
        strPath = preview.Path();
        EXPECT_TRUE(fs::exists(strPath));
        EXPECT_EQ(ProbeStream(strPath).at("sample_rate"), "44100");
        EXPECT_FALSE(fs::exists(dead));
        EXPECT_TRUE(fs::exists(live));
    }
    EXPECT_FALSE(fs::exists(strPath));
}

}  // namespace

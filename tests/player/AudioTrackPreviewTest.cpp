// The audio track chosen for a clip plays in the preview, and the choice lives in the clip's record
// alongside its selection.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "player/MpvPlayback.h"
#include "player/PlayerTestSupport.h"
#include "support/TempDir.h"

namespace klangor {

namespace {

class AudioTrackPreviewTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1); }

    std::unique_ptr<MediaPlayer> MakePlayer() {
        return std::make_unique<MediaPlayer>(window, 1037,
                                             std::make_unique<MpvPlaybackEngine>(MpvEngineOptions{"null"}));
    }
    std::string MakeFilm() {
        return media.Make("film.mkv",
                          {"-f", "lavfi", "-i", "sine=f=300:d=3", "-f", "lavfi", "-i", "sine=f=600:d=3", "-f",
                           "lavfi", "-i", "sine=f=900:d=3"},
                          {"-map", "0", "-map", "1", "-map", "2", "-c:a", "flac"});
    }
    // The audio track libmpv is playing, asked through the inspection socket as an outside tool would.
    std::string PlayingTrack(MediaPlayer &player) {
        const std::string strReply =
            AskSocket(player.GetRegistrationPath(),
                      R"({"command": ["get_property_string", "current-tracks/audio/id"]})");
        const size_t nAt = strReply.find("\"data\":\"");
        return nAt == std::string::npos ? strReply
                                        : strReply.substr(nAt + 8, strReply.find('"', nAt + 8) - nAt - 8);
    }

    TempDir m_runtime;
    MediaFactory media;
    RecordingWindow window;
};

TEST_F(AudioTrackPreviewTest, RecordedTrackPlaysAndAChoiceKeepsTheSelection) {
    const std::string strFilm = MakeFilm();
    std::ofstream(strFilm + ".clipinfo", std::ios::binary) << "Owner=Vellumar\r\nCutInfo=300,50,250,2;";
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, strFilm), kPlaybackOk);
    EXPECT_EQ(player->GetClipInfo().nTrack, 2u);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PlayingTrack(*player) == "2"; })) << PlayingTrack(*player);

    ASSERT_EQ(player->SetAudioTrack(3), kPlaybackOk);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PlayingTrack(*player) == "3"; })) << PlayingTrack(*player);
    player->DrainRecords();
    EXPECT_EQ(ReadFileBytes(strFilm + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=300,50,250,3;");

    // A selection edit keeps the track.
    player->SetSelection(60, 200);
    player->WriteCutInfo();
    player->DrainRecords();
    EXPECT_EQ(ReadFileBytes(strFilm + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=300,60,200,3;");

    // A track the file lacks plays the best one instead of silence.
    ASSERT_EQ(player->SetAudioTrack(9), kPlaybackOk);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PlayingTrack(*player) == "1"; })) << PlayingTrack(*player);
}

}  // namespace

}  // namespace klangor

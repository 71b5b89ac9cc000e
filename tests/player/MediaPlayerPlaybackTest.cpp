// Real playback on libmpv with no display and no sound device: media made with ffmpeg at test time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "clips/CutInfo.h"
#include "player/GraphRegistration.h"
#include "player/MpvPlayback.h"
#include "player/PlayerTestSupport.h"
#include "support/TempDir.h"

namespace klangor {

namespace {

double NumberAfter(const std::string &strReply, const std::string &strKey) {
    const size_t nAt = strReply.find("\"" + strKey + "\":");
    if (nAt == std::string::npos) {
        return NAN;
    }
    return std::strtod(strReply.c_str() + nAt + strKey.size() + 3, nullptr);
}

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1); }

    // Null audio keeps the test machine quiet; the fallback list itself is tested on its own.
    std::unique_ptr<MediaPlayer> MakePlayer(const std::string &strAudio = "null") {
        return std::make_unique<MediaPlayer>(window, 1037,
                                             std::make_unique<MpvPlaybackEngine>(MpvEngineOptions{strAudio}));
    }

    int CountCompletions(MediaPlayer &player, double dSeconds, long &lPositionAtCompletion) {
        int nComplete = 0;
        WaitUntil(
            player, [&] { return nComplete > 0; }, dSeconds,
            [&](const GraphEvent &event) {
                if (event.lCode == kEventComplete) {
                    ++nComplete;
                    lPositionAtCompletion = PositionOf(player);
                }
            });
        return nComplete;
    }

    TempDir m_runtime;
    MediaFactory media;
    RecordingWindow window;
};

TEST_F(PlaybackTest, VideoClipOpensRunsPausesAndDrawsFrames) {
    const std::string strClip = MakeClip(media, "clip.mp4", 3.0);
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, strClip), kPlaybackOk);
    EXPECT_TRUE(window.boxes.empty()) << window.boxes.front().strText;
    EXPECT_TRUE(player->IsClipLoaded());
    EXPECT_EQ(player->GetPlayState(), PlayState::Running);
    EXPECT_FALSE(player->IsAudioOnly());
    EXPECT_TRUE(player->CanStepFrame());
    EXPECT_EQ(player->GetVideoWidth(), 320);
    EXPECT_EQ(player->GetVideoHeight(), 240);
    const double dProbed = std::stod(ProbeFormat(strClip).at("duration"));
    EXPECT_NEAR(player->GetClipInfo().nDuration, dProbed * 100, 1.0);
    EXPECT_EQ(player->GetClipInfo().nStart, 0u);
    EXPECT_EQ(player->GetClipInfo().nEnd, player->GetClipInfo().nDuration);
    EXPECT_EQ(window.lastControlId, 1037);

    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) > 40; }));
    ASSERT_EQ(player->TogglePause(), kPlaybackOk);
    EXPECT_EQ(player->GetPlayState(), PlayState::Paused);
    const long lPaused = SettledPosition(*player);
    EXPECT_FALSE(WaitUntil(
        *player, [&] { return PositionOf(*player) != lPaused; }, 0.3));
    ASSERT_EQ(player->TogglePause(), kPlaybackOk);
    EXPECT_EQ(player->GetPlayState(), PlayState::Running);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) > lPaused + 20; }));

    // The 320x240 host holds the 320x240 picture with its one-pixel margin.
    VideoFrame frame;
    ASSERT_TRUE(player->GetVideoSurface().CopyFrame(frame));
    EXPECT_EQ(frame.iWidth, 319);
    EXPECT_EQ(frame.iHeight, 239);
    EXPECT_GE(frame.iStride, 319 * 4);
    const VideoPlacement placement = player->GetVideoSurface().GetPlacement();
    EXPECT_EQ(placement.iLeft, 1);
    EXPECT_EQ(placement.iTop, 1);
    EXPECT_TRUE(placement.bVisible);
    long lBright = 0;
    for (int y = 0; y < frame.iHeight; y += 8) {
        for (int x = 0; x < frame.iWidth; x += 8) {
            const uint8_t *p = &frame.pixels[static_cast<size_t>(y * frame.iStride + x * 4)];
            lBright += p[0] + p[1] + p[2] > 150 ? 1 : 0;
        }
    }
    EXPECT_GT(lBright, 100) << "the test picture is colourful, not black";

    player->CloseClip();
    EXPECT_EQ(player->GetPlayState(), PlayState::Closed);
    EXPECT_FALSE(player->GetVideoSurface().CopyFrame(frame)) << "a closed clip's last frame must disappear";
    EXPECT_GT(window.nInvalidates, 0);
}

TEST_F(PlaybackTest, StopRewindsToSelectionStartAndHolds) {
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "clip.mp4", 3.0)), kPlaybackOk);
    player->SetSelection(100, 200);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) > 20; }));
    ASSERT_EQ(player->StopClip(), kPlaybackOk);
    EXPECT_EQ(player->GetPlayState(), PlayState::Stopped);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) == 100; }));
    EXPECT_FALSE(WaitUntil(
        *player, [&] { return PositionOf(*player) != 100; }, 0.3));
    // From stopped, play runs again from there.
    ASSERT_EQ(player->TogglePause(), kPlaybackOk);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) > 110; }));
}

TEST_F(PlaybackTest, ReachingSelectionEndCompletesThere) {
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "clip.mp4", 3.0)), kPlaybackOk);
    player->SetSelection(0, 80);
    player->SetPosition(30);
    long lAt = -1;
    EXPECT_EQ(CountCompletions(*player, 5.0, lAt), 1);
    EXPECT_NEAR(lAt, 80, 2);
    EXPECT_FALSE(WaitUntil(
        *player, [&] { return std::abs(PositionOf(*player) - 80) > 2; }, 0.3))
        << "playback stops at the selection end, not at " << PositionOf(*player);
}

// The player plays every clip in one instance: the clip before, running into its stop position as the
// next is chosen, must leave neither that stop position nor its completion to the next one.
TEST_F(PlaybackTest, TheNextClipKeepsNothingOfTheOneBefore) {
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "first.mp4", 3.0)), kPlaybackOk);
    player->SetSelection(0, 50);
    player->SetPosition(45);
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "second.mp4", 2.0)), kPlaybackOk);
    EXPECT_NEAR(player->GetClipInfo().nDuration, 200, 4);
    long lAt = -1;
    EXPECT_EQ(CountCompletions(*player, 5.0, lAt), 1);
    EXPECT_GE(lAt, 190) << "the second clip ends at its own end";
}

TEST_F(PlaybackTest, SeekPastSelectionEndPlaysToEndOfClip) {
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "clip.mp4", 3.0)), kPlaybackOk);
    player->SetSelection(0, 80);
    player->SetPosition(200);
    long lAt = -1;
    EXPECT_EQ(CountCompletions(*player, 5.0, lAt), 1);
    EXPECT_GE(lAt, static_cast<long>(player->GetClipInfo().nDuration) - 5);
}

TEST_F(PlaybackTest, RateVolumeAndMuteReadBackFromThePlayback) {
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "clip.mp4", 3.0)), kPlaybackOk);
    EXPECT_EQ(player->SetRate(0.25), kPlaybackOk);
    EXPECT_DOUBLE_EQ(player->GetRate(), 0.25);
    EXPECT_EQ(player->SetRate(2.0), kPlaybackOk);
    EXPECT_DOUBLE_EQ(player->GetRate(), 2.0);

    // The volume is read by an outside tool through the inspection socket: libmpv's percentage, whose
    // gain is its cube, so -20 dB (-2000) is 10^(-1/3) = 46.42 %.
    const std::string strSocket = player->GetRegistrationPath();
    ASSERT_FALSE(strSocket.empty());
    const std::string strAsk = R"({"command":["get_property","volume"]})";
    ASSERT_EQ(player->SetVolume(-2000), kPlaybackOk);
    EXPECT_NEAR(NumberAfter(AskSocket(strSocket, strAsk), "data"), 46.416, 0.01);
    ASSERT_EQ(player->ToggleMute(), kPlaybackOk);
    EXPECT_NEAR(NumberAfter(AskSocket(strSocket, strAsk), "data"), 0.0, 1e-9);
    ASSERT_EQ(player->ToggleMute(), kPlaybackOk);
    EXPECT_NEAR(NumberAfter(AskSocket(strSocket, strAsk), "data"), 46.416, 0.01) << "unmute restores it";

    ASSERT_EQ(player->SetVolume(-10000), kPlaybackOk);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(player->ToggleMute(), kPlaybackOk);
        EXPECT_NEAR(NumberAfter(AskSocket(strSocket, strAsk), "data"), 0.0, 1e-9) << "silent both ways";
    }
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(PlaybackTest, FrameStepAdvancesOneFrameOf25Fps) {
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "clip.mp4", 3.0)), kPlaybackOk);
    player->StopClip();
    player->SetPosition(100);
    ASSERT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) == 100; }));
    ASSERT_EQ(player->StepFrame(), kPlaybackOk);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) == 104; }));
    EXPECT_EQ(player->GetPlayState(), PlayState::Paused);
    EXPECT_FALSE(WaitUntil(
        *player, [&] { return PositionOf(*player) != 104; }, 0.2))
        << "the step holds still after one frame";
    ASSERT_EQ(player->StepFrame(), kPlaybackOk);
    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) == 108; }));
}

TEST_F(PlaybackTest, ValidCutInfoStartsAtItsSelectionAndStopsAtItsEnd) {
    const std::string strClip = MakeClip(media, "clip.mp4", 3.0);
    std::ofstream(strClip + ".clipinfo", std::ios::binary) << "Owner=Vellumar\r\nCutInfo=300,120,170,0;";
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, strClip), kPlaybackOk);
    EXPECT_EQ(player->GetClipInfo().nStart, 120u);
    EXPECT_EQ(player->GetClipInfo().nEnd, 170u);
    const long lFirst = PositionOf(*player);
    EXPECT_GE(lFirst, 120);
    EXPECT_LT(lFirst, 170);
    long lAt = -1;
    EXPECT_EQ(CountCompletions(*player, 5.0, lAt), 1);
    EXPECT_NEAR(lAt, 170, 2);
}

TEST_F(PlaybackTest, CutInfoThatCannotBeASelectionPreviewsWholeClipAndStaysUntouched) {
    const std::string strClip = MakeClip(media, "clip.mp4", 3.0);
    for (const std::string strRecord : {"CutInfo=300,250,100,0;", "CutInfo=900,100,800,0;"}) {
        const std::string strText = "Owner=Vellumar\r\n" + strRecord;
        std::ofstream(strClip + ".clipinfo", std::ios::binary) << strText;
        auto player = MakePlayer();
        ASSERT_EQ(LoadAndWait(*player, strClip), kPlaybackOk);
        EXPECT_EQ(player->GetClipInfo().nStart, 0u) << strRecord;
        EXPECT_EQ(player->GetClipInfo().nEnd, player->GetClipInfo().nDuration) << strRecord;
        EXPECT_LE(player->GetClipInfo().nDuration, 301u) << strRecord;
        EXPECT_EQ(ReadFileBytes(strClip + ".clipinfo"), strText);
    }
}

TEST_F(PlaybackTest, ClipWithoutCutInfoGetsWholeClipWritten) {
    const std::string strClip = MakeClip(media, "clip.mp4", 2.0);
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, strClip), kPlaybackOk);
    player->DrainRecords();
    const unsigned nDuration = player->GetClipInfo().nDuration;
    EXPECT_EQ(ReadFileBytes(strClip + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=" + std::to_string(nDuration) +
                                                        ",0," + std::to_string(nDuration) + ",0;");
}

TEST_F(PlaybackTest, RegistrationSocketAnswersOutsideToolsAndGoesAtClose) {
    auto player = MakePlayer();
    const std::string strClip = MakeClip(media, "clip.mp4", 3.0);
    ASSERT_EQ(LoadAndWait(*player, strClip), kPlaybackOk);
    const std::string strSocket = player->GetRegistrationPath();
    const std::string strFolder = m_runtime.Path().string() + "/klangor";
    ASSERT_EQ(strSocket.rfind(strFolder + "/FilterGraph ", 0), 0u) << strSocket;
    char szPid[32];
    std::snprintf(szPid, sizeof(szPid), " pid %08x", static_cast<unsigned>(getpid()));
    EXPECT_NE(strSocket.find(szPid), std::string::npos) << strSocket;
    struct stat info {};
    ASSERT_EQ(stat(strFolder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    const std::string strReply = AskSocket(strSocket, R"({"command":["get_property","time-pos"]})");
    EXPECT_NE(strReply.find("\"error\":\"success\""), std::string::npos) << strReply;
    EXPECT_GE(NumberAfter(strReply, "data"), 0.0) << strReply;
    const std::string strPath = AskSocket(strSocket, R"({"command":["get_property","path"]})");
    EXPECT_NE(strPath.find("clip.mp4"), std::string::npos) << strPath;
    EXPECT_NE(AskSocket(strSocket, R"({"command":["get_property","pause"]})").find("\"data\":false"),
              std::string::npos);
    player->TogglePause();
    EXPECT_NE(AskSocket(strSocket, R"({"command":["get_property","pause"]})").find("\"data\":true"),
              std::string::npos);

    player->CloseClip();
    EXPECT_TRUE(player->GetRegistrationPath().empty());
    EXPECT_NE(access(strSocket.c_str(), F_OK), 0) << "the socket must go with the clip";
}

TEST_F(PlaybackTest, RegistrationFailureIsReportedAndPreviewGoesOn) {
    // The runtime folder is a plain file, so no registration folder can be made in it.
    const std::string strBlocker = media.MakeRaw("not-a-folder", "x");
    setenv("XDG_RUNTIME_DIR", strBlocker.c_str(), 1);
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "clip.mp4", 2.0)), kPlaybackOk);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].strCaption, "PlayWnd Sample");
    EXPECT_EQ(window.boxes[0].strText.rfind("Failed to register filter graph with ROT!  hr=0x", 0), 0u);
    EXPECT_TRUE(player->GetRegistrationPath().empty());
    EXPECT_EQ(player->GetPlayState(), PlayState::Running);
}

TEST_F(PlaybackTest, BadFilesFailWithRenderTextAndLeaveNothingLoaded) {
    const std::string strGood = MakeClip(media, "good.mp4", 3.0);
    const std::string strTruncated = media.MakeRaw("truncated.mp4", ReadFileBytes(strGood).substr(0, 20000));
    std::ofstream(media.PathOf("subs.srt")) << "1\n00:00:00,000 --> 00:00:01,000\nhello\n";
    const std::string strSubtitlesOnly = media.Make("subs.mkv", {"-i", media.PathOf("subs.srt")}, {});
    // A folder (dropped ones are listed like files) and a playlist naming a real clip are not clips.
    std::filesystem::create_directory(media.PathOf("folder.avi"));
    const std::string strPlaylist = media.MakeRaw("list.m3u", strGood + "\n");
    const std::vector<std::string> bad = {media.PathOf("missing.mp4"),
                                          media.MakeRaw("empty.mp4", ""),
                                          media.MakeRaw("notes.txt", "just some words\n"),
                                          strTruncated,
                                          strSubtitlesOnly,
                                          media.PathOf("folder.avi"),
                                          strPlaylist};
    auto player = MakePlayer();
    for (const std::string &strPath : bad) {
        window.boxes.clear();
        const int iStatus = LoadAndWait(*player, strPath);
        EXPECT_LT(iStatus, 0) << strPath;
        ASSERT_EQ(window.boxes.size(), 1u) << strPath;
        char szText[128];
        std::snprintf(szText, sizeof(szText), "FAILED(hr=0x%x) in m_pGB->RenderFile(wFile, NULL)\n",
                      static_cast<unsigned>(iStatus));
        EXPECT_EQ(window.boxes[0].strText, szText) << strPath;
        EXPECT_EQ(window.boxes[0].strCaption, "PlayWnd Sample");
        EXPECT_FALSE(player->IsClipLoaded()) << strPath;
        EXPECT_EQ(player->GetPlayState(), PlayState::Closed);
        EXPECT_TRUE(player->GetFileName().empty());
        EXPECT_TRUE(player->GetRegistrationPath().empty());
        EXPECT_NE(access((strPath + ".clipinfo").c_str(), F_OK), 0) << "a failed open writes nothing";
    }
    EXPECT_EQ(ReadFileBytes(strGood).size(), std::filesystem::file_size(strGood));
    window.boxes.clear();
    EXPECT_EQ(LoadAndWait(*player, strGood), kPlaybackOk) << "the next clip opens normally";
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(LoadAndWait(*player, ""), kPlaybackInvalidPointer);
    EXPECT_TRUE(window.boxes.empty()) << "a missing path fails without a message";
}

TEST_F(PlaybackTest, FileNamesWithSpacesColonsAndAccentsOpenAsLocalFiles) {
    const std::string strClip = MakeClip(media, "clip 1.mp4", 2.0);
    const std::string strOdd = media.PathOf("http: caf\xc3\xa9 -1.mp4");
    std::filesystem::copy_file(strClip, strOdd);
    auto player = MakePlayer();
    EXPECT_EQ(LoadAndWait(*player, strOdd), kPlaybackOk);
    EXPECT_TRUE(window.boxes.empty());
    // A relative name is a file in the current folder, never a protocol.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(media.Dir());
    EXPECT_EQ(LoadAndWait(*player, "http: caf\xc3\xa9 -1.mp4"), kPlaybackOk);
    EXPECT_EQ(LoadAndWait(*player, "clip 1.mp4"), kPlaybackOk);
    std::filesystem::current_path(previous);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(PlaybackTest, AudioOnlyClipPlaysOnNullSoundWithoutVideoFeatures) {
    // The product's own output list: with no sound device here it ends on the null output.
    auto player = MakePlayer(MpvEngineOptions{}.strAudioOutput);
    const std::string strWav = MakeClip(media, "tone.wav", 3.0, true, false);
    ASSERT_EQ(LoadAndWait(*player, strWav), kPlaybackOk);
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_TRUE(player->IsAudioOnly());
    EXPECT_FALSE(player->CanStepFrame());
    EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) > 30; }));
    EXPECT_EQ(player->ToggleFullScreen(), kPlaybackOk);
    EXPECT_FALSE(player->IsFullScreen());
    player->TogglePause();
    // The sound output reports its last hundredth a moment after the pause.
    const long lBefore = SettledPosition(*player);
    EXPECT_EQ(player->StepFrame(), kPlaybackOk);
    EXPECT_FALSE(WaitUntil(
        *player, [&] { return PositionOf(*player) != lBefore; }, 0.2));
    VideoFrame frame;
    EXPECT_FALSE(player->GetVideoSurface().CopyFrame(frame));
    long lAt = -1;
    player->TogglePause();
    player->SetPosition(250);
    EXPECT_EQ(CountCompletions(*player, 5.0, lAt), 1) << "an audio clip completes too";
}

TEST_F(PlaybackTest, ClipWithoutAudioIgnoresVolumeAndMuteSilently) {
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "mute.mp4", 2.0, false, true)), kPlaybackOk);
    EXPECT_EQ(player->SetVolume(-3000), kPlaybackOk);
    EXPECT_EQ(player->ToggleMute(), kPlaybackOk);
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(player->GetStoredVolume(), -3000);
}

TEST_F(PlaybackTest, FullScreenShowsThePictureAtItsOwnSize) {
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "clip.mp4", 3.0)), kPlaybackOk);
    ASSERT_EQ(player->ToggleFullScreen(), kPlaybackOk);
    EXPECT_TRUE(player->IsFullScreen());
    EXPECT_TRUE(player->GetVideoSurface().GetPlacement().bFullScreen);
    VideoFrame frame;
    EXPECT_TRUE(WaitUntil(*player, [&] {
        return player->GetVideoSurface().CopyFrame(frame) && frame.iWidth == 320 && frame.iHeight == 240;
    }));
    ASSERT_EQ(player->ToggleFullScreen(), kPlaybackOk);
    EXPECT_FALSE(player->IsFullScreen());
    EXPECT_TRUE(WaitUntil(*player, [&] {
        return player->GetVideoSurface().CopyFrame(frame) && frame.iWidth == 319 && frame.iHeight == 239;
    }));
}

}  // namespace

namespace {

// Stop seeks back while the sound output still holds what it buffered; held first, the position reads
// the selection start at once and stays there, on an audio-only clip as on a video clip.
TEST_F(PlaybackTest, StopOnAnAudioOnlyClipReadsTheTrueSelectionStart) {
    auto player = MakePlayer();
    ASSERT_EQ(LoadAndWait(*player, MakeClip(media, "tone.wav", 4.0, true, false)), kPlaybackOk);
    ASSERT_TRUE(player->IsAudioOnly());
    player->SetSelection(100, 300);
    ASSERT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) > 130; }));
    ASSERT_EQ(player->StopClip(), kPlaybackOk);
    EXPECT_EQ(PositionOf(*player), 100);
    EXPECT_FALSE(WaitUntil(
        *player, [&] { return PositionOf(*player) != 100; }, 0.5))
        << "the held position drifted to " << PositionOf(*player);
}

int CountEvents(MediaPlayer &player, long lCode, double dSeconds, const std::function<bool()> &fnDone) {
    int nCount = 0;
    WaitUntil(player, fnDone, dSeconds, [&](const GraphEvent &event) {
        if (event.lCode == lCode) {
            ++nCount;
        }
    });
    return nCount;
}

// An outside tool may stop the playback, load another file into it or shut it down through the
// inspection socket. None of these is the end of the selection, and the next command brings the clip back.
TEST_F(PlaybackTest, StopLoadfileOrQuitThroughTheSocketIsNoCompletionAndTheClipComesBack) {
    const std::string strClip = MakeClip(media, "clip.mp4", 3.0);
    const std::string strOther = MakeClip(media, "other.wav", 0.3, true, false);
    for (const std::string &strCommand :
         {std::string(R"({"command":["stop"]})"), R"({"command":["loadfile",")" + strOther + R"("]})",
          std::string(R"({"command":["quit"]})")}) {
        SCOPED_TRACE(strCommand);
        auto player = MakePlayer();
        ASSERT_EQ(LoadAndWait(*player, strClip), kPlaybackOk);
        const std::string strReply = AskSocket(player->GetRegistrationPath(), strCommand);
        if (strCommand.find("quit") == std::string::npos) {
            EXPECT_NE(strReply.find("\"error\":\"success\""), std::string::npos) << strReply;
        }
        int nEnded = 0;
        int nComplete = 0;
        WaitUntil(
            *player, [&] { return player->IsPlaybackLost() && nEnded > 0; }, 5.0,
            [&](const GraphEvent &event) {
                nEnded += event.lCode == kEventEndedElsewhere ? 1 : 0;
                nComplete += event.lCode == kEventComplete ? 1 : 0;
            });
        ASSERT_TRUE(player->IsPlaybackLost());
        EXPECT_EQ(nEnded, 1);
        // The other file is short and would have reached its end by now.
        EXPECT_EQ(nComplete + CountEvents(*player, kEventComplete, 0.6, [] { return false; }), 0);

        ASSERT_EQ(player->TogglePause(), kPlaybackOk);
        EXPECT_FALSE(player->IsPlaybackLost());
        ASSERT_TRUE(WaitUntil(*player, [&] { return !player->IsOpening(); }));
        ASSERT_TRUE(player->IsClipLoaded());
        EXPECT_EQ(player->GetPlayState(), PlayState::Running);
        EXPECT_TRUE(WaitUntil(*player, [&] { return PositionOf(*player) > 20; }));
        const std::string strPath =
            AskSocket(player->GetRegistrationPath(), R"({"command":["get_property","path"]})");
        EXPECT_NE(strPath.find("clip.mp4"), std::string::npos) << strPath;
        EXPECT_TRUE(window.boxes.empty()) << window.boxes[0].strText;
    }
}

}  // namespace

}  // namespace klangor

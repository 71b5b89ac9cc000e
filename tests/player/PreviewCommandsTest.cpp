// The main window's clip list, selection and transport commands on a stand-in view, over real headless
// playback (libmpv with null outputs) of media made with ffmpeg at test time.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "clips/ClipList.h"
#include "clips/CutInfo.h"
#include "player/MpvPlayback.h"
#include "player/PreviewCommands.h"
#include "player/ControlIds.h"
#include "player/PlayerTestSupport.h"

namespace klangor {

namespace {

// The main window as the commands see it: every control's last state, and the list box.
class StandInView : public IPreviewView {
public:
    struct Slider {
        int nMin = 0;
        int nMax = 100;
        int nPosition = 0;
        int nSelStart = 0;
        int nSelEnd = 0;
    };

    void ShowControl(int nId, bool bShow) override { shown[nId] = bShow; }
    void EnableControl(int nId, bool bEnable) override { enabled[nId] = bEnable; }
    void SetControlText(int nId, const std::string &strText) override { texts[nId] = strText; }
    void SetSliderRange(int nId, int nMin, int nMax) override {
        sliders[nId].nMin = nMin;
        sliders[nId].nMax = nMax;
    }
    int GetSliderPosition(int nId) override { return sliders[nId].nPosition; }
    void SetSliderPosition(int nId, int nPosition) override { sliders[nId].nPosition = nPosition; }
    void SetSliderSelection(int nId, int nStart, int nEnd) override {
        sliders[nId].nSelStart = nStart;
        sliders[nId].nSelEnd = nEnd;
    }
    void SetListEntries(const std::vector<ListEntry> &newEntries, int nSelection) override {
        entries = newEntries;
        nListSelection = nSelection;
        ++nRefreshes;
    }
    int GetListSelection() override { return nListSelection; }
    int GetListCount() override { return static_cast<int>(entries.size()); }
    void SetTitle(const std::string &strTitle) override { title = strTitle; }
    std::vector<std::string> ChooseMediaFiles() override { return dialogAnswer; }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const ListEntry &entry : entries) {
            names.push_back(entry.strName);
        }
        return names;
    }
    bool TransportEnabled(bool bEnabled) const {
        for (int nId : {kIdPlay, kIdMute, kIdStop, kIdStepFrame}) {
            const auto it = enabled.find(nId);
            if (it == enabled.end() || it->second != bEnabled) {
                return false;
            }
        }
        return true;
    }

    std::map<int, bool> shown;
    std::map<int, bool> enabled;
    std::map<int, std::string> texts;
    std::map<int, Slider> sliders;
    std::vector<ListEntry> entries;
    int nListSelection = -1;
    int nRefreshes = 0;
    std::string title;
    std::vector<std::string> dialogAnswer;
};

double VolumePercent(MediaPlayer &player) {
    const std::string strReply =
        AskSocket(player.GetRegistrationPath(), R"({"command":["get_property","volume"]})");
    const size_t nAt = strReply.find("\"data\":");
    return nAt == std::string::npos ? NAN : std::strtod(strReply.c_str() + nAt + 7, nullptr);
}

// The record once every write asked for has landed.
std::string CutInfoText(MediaPlayer &player, const std::string &strMedia) {
    player.DrainRecords();
    return ReadFileBytes(CutInfoPath(strMedia));
}

std::string Record(uint32_t nDuration, uint32_t nStart, uint32_t nEnd) {
    return "Owner=Vellumar\r\nCutInfo=" + std::to_string(nDuration) + "," + std::to_string(nStart) + "," +
           std::to_string(nEnd) + ",0;";
}

class PreviewCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1); }

    std::string Tone(const std::string &strName, double dSeconds) {
        return media.MakeTone(strName, dSeconds, 8000, 1, {"-c:a", "pcm_s16le"});
    }

    // Drains the player's events through the commands on each notice, as the window does; conditions
    // that follow no event are looked at again every 10 ms at the latest.
    bool PumpUntil(const std::function<bool()> &fnDone, double dSeconds = 10.0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(dSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            const int nSeen = window.nNotifies.load();
            commands.HandleGraphEvents();
            if (fnDone()) {
                return true;
            }
            window.WaitForNotify(nSeen, std::chrono::milliseconds(10));
        }
        return false;
    }
    // Runs the window's side until the clip asked for is open or has failed.
    void WaitForOpen() {
        ASSERT_TRUE(PumpUntil([&] { return !player.IsOpening(); }, 30.0));
    }

    TempDir m_runtime;
    MediaFactory media;
    RecordingWindow window;
    MediaPlayer player{window, 1037, std::make_unique<MpvPlaybackEngine>(MpvEngineOptions{"null"})};
    StandInView view;
    ClipList clips;
    PreviewCommands commands{player, clips, view};
};

TEST_F(PreviewCommandsTest, AddingToAnEmptyListLoadsTheFirstStoppedAtItsStartAndLaterAddsLeaveIt) {
    const std::string strFirst = Tone("first.wav", 3.0);
    const std::string strSecond = Tone("second.wav", 1.0);
    const std::string strThird = Tone("third.wav", 1.0);
    std::ofstream(CutInfoPath(strFirst), std::ios::binary) << Record(300, 120, 250);
    commands.InitDialog();
    EXPECT_EQ(view.title, "Vellumar Klangor - v2.31 []");
    EXPECT_TRUE(view.TransportEnabled(false));

    commands.AddMediaFiles({strFirst});
    WaitForOpen();
    ASSERT_TRUE(player.IsClipLoaded());
    EXPECT_EQ(player.GetFileName(), strFirst);
    EXPECT_EQ(player.GetPlayState(), PlayState::Stopped);
    EXPECT_FALSE(commands.IsPreviewPlaying());
    EXPECT_TRUE(view.shown[kIdPlay]);
    EXPECT_FALSE(view.shown[kIdPause]);
    EXPECT_TRUE(view.TransportEnabled(true));
    EXPECT_EQ(view.sliders[kIdSeekBar].nMax, 300);
    EXPECT_EQ(view.texts[kIdSelectionTime], "Selection: 00:00:01.20 -- 00:00:02.50");
    EXPECT_EQ(view.texts[kIdSelectionDuration], "Duration: 00:00:01.30");
    EXPECT_EQ(view.title, "Vellumar Klangor - v2.31 [" + strFirst + "]");
    EXPECT_TRUE(WaitUntil(player, [&] { return std::labs(PositionOf(player) - 120) <= 5; }))
        << "stopped on the selection start, not at " << PositionOf(player);
    EXPECT_EQ(view.Names(), std::vector<std::string>{"first.wav"});
    EXPECT_EQ(view.nListSelection, 0);

    commands.AddMediaFiles({strSecond, strThird});
    WaitForOpen();
    EXPECT_EQ(view.Names(), (std::vector<std::string>{"first.wav", "second.wav", "third.wav"}));
    EXPECT_EQ(view.entries[2].strPath, strThird);
    EXPECT_EQ(player.GetFileName(), strFirst) << "adding to a list leaves the loaded clip";
    EXPECT_EQ(clips.GetCurrentIndex(), 0);
    EXPECT_EQ(view.nListSelection, 0);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(PreviewCommandsTest, UpOnTheFirstAndDownOnTheLastChangeNothingButRebuildTheList) {
    for (const char *pszPath : {"/m/a.avi", "/m/b.avi", "/m/c.avi"}) {
        clips.AddClip(pszPath);
    }
    commands.RefreshClipList();
    const std::vector<std::string> order{"a.avi", "b.avi", "c.avi"};

    view.nListSelection = 0;
    int nRefreshes = view.nRefreshes;
    commands.OnMoveClipUp();
    EXPECT_EQ(view.Names(), order);
    EXPECT_EQ(view.nRefreshes, nRefreshes + 1);

    view.nListSelection = 2;
    nRefreshes = view.nRefreshes;
    commands.OnMoveClipDown();
    EXPECT_EQ(view.Names(), order);
    EXPECT_EQ(view.nRefreshes, nRefreshes + 1);

    // A move in the middle goes through and the moved entry stays highlighted.
    view.nListSelection = 1;
    commands.OnMoveClipUp();
    EXPECT_EQ(view.Names(), (std::vector<std::string>{"b.avi", "a.avi", "c.avi"}));
    EXPECT_EQ(view.nListSelection, 0);

    // Without a highlighted entry the list commands do nothing.
    view.nListSelection = -1;
    nRefreshes = view.nRefreshes;
    commands.OnMoveClipDown();
    commands.OnRemoveClip();
    EXPECT_EQ(view.nRefreshes, nRefreshes);
    EXPECT_EQ(clips.GetCount(), 3);
}

TEST_F(PreviewCommandsTest, RemovingTheOnlyEntryEmptiesTheListAndKeepsTheClipLoadedStopped) {
    const std::string strClip = Tone("only.wav", 2.0);
    commands.InitDialog();
    commands.AddMediaFiles({strClip});
    WaitForOpen();
    view.nListSelection = 0;
    commands.OnClipDoubleClick();
    WaitForOpen();
    ASSERT_EQ(player.GetPlayState(), PlayState::Running);
    commands.OnRemoveClip();
    EXPECT_TRUE(view.entries.empty());
    EXPECT_EQ(view.nListSelection, -1);
    EXPECT_EQ(clips.GetCurrentIndex(), -1);
    EXPECT_TRUE(player.IsClipLoaded());
    EXPECT_EQ(player.GetFileName(), strClip);
    EXPECT_EQ(player.GetPlayState(), PlayState::Stopped);
    EXPECT_FALSE(commands.IsPreviewPlaying());
}

TEST_F(PreviewCommandsTest, SetStartAndEndCollapseAsDesignedAndWriteTheCutInfoAtOnce) {
    const std::string strClip = Tone("long.wav", 61.0);
    commands.InitDialog();
    commands.AddMediaFiles({strClip});
    WaitForOpen();
    ASSERT_TRUE(player.IsClipLoaded());
    const uint32_t nDuration = player.GetClipInfo().nDuration;
    ASSERT_EQ(nDuration, 6100u);

    player.SetSelection(100, 5000);
    view.sliders[kIdSeekBar].nPosition = 6000;
    commands.OnSetStart();
    EXPECT_EQ(view.texts[kIdSelectionTime], "Selection: 00:01:00.00 -- 00:01:00.00");
    EXPECT_EQ(CutInfoText(player, strClip), Record(nDuration, 6000, 6000));
    view.sliders[kIdSeekBar].nPosition = 50;
    commands.OnSetEnd();
    EXPECT_EQ(view.texts[kIdSelectionTime], "Selection: 00:00:00.50 -- 00:00:00.50");
    EXPECT_EQ(view.texts[kIdSelectionDuration], "Duration: 00:00:00.00");
    EXPECT_EQ(view.sliders[kIdSeekBar].nSelStart, 50);
    EXPECT_EQ(view.sliders[kIdSeekBar].nSelEnd, 50);
    EXPECT_EQ(CutInfoText(player, strClip), Record(nDuration, 50, 50));

    // An end equal to the start is a selection, not a collapse.
    player.SetSelection(100, 5000);
    view.sliders[kIdSeekBar].nPosition = 100;
    commands.OnSetEnd();
    EXPECT_EQ(CutInfoText(player, strClip), Record(nDuration, 100, 100));
    view.sliders[kIdSeekBar].nPosition = 4000;
    commands.OnSetEnd();
    EXPECT_EQ(CutInfoText(player, strClip), Record(nDuration, 100, 4000));

    commands.OnSelectAll();
    EXPECT_EQ(CutInfoText(player, strClip), Record(nDuration, 0, nDuration));
    EXPECT_EQ(view.texts[kIdSelectionTime], "Selection: 00:00:00.00 -- 00:01:01.00");
    EXPECT_EQ(view.texts[kIdSelectionDuration], "Duration: 00:01:01.00");
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(PreviewCommandsTest, SelectionTextsShowTheLengthOfTheSelectionNotOfTheClip) {
    // Without a clip the commands still change the selection and its texts.
    player.SetSelection(0, 12345);
    commands.UpdateSelectionText();
    EXPECT_EQ(view.texts[kIdSelectionTime], "Selection: 00:00:00.00 -- 00:02:03.45");
    EXPECT_EQ(view.texts[kIdSelectionDuration], "Duration: 00:02:03.45");
    view.sliders[kIdSeekBar].nPosition = 12344;
    commands.OnSetStart();
    EXPECT_EQ(view.texts[kIdSelectionTime], "Selection: 00:02:03.44 -- 00:02:03.45");
    EXPECT_EQ(view.texts[kIdSelectionDuration], "Duration: 00:00:00.01");
    EXPECT_EQ(view.sliders[kIdSeekBar].nSelStart, 12344);
}

TEST_F(PreviewCommandsTest, CutInfoTurnedInsideOutOrPastTheClipShowsTheWholeClip) {
    const std::string strBackwards = Tone("backwards.wav", 2.0);
    const std::string strTooLong = Tone("toolong.wav", 2.0);
    std::ofstream(CutInfoPath(strBackwards), std::ios::binary) << Record(200, 150, 50);
    std::ofstream(CutInfoPath(strTooLong), std::ios::binary) << Record(200, 50, 900);
    commands.InitDialog();
    commands.AddMediaFiles({strBackwards, strTooLong});
    WaitForOpen();
    EXPECT_EQ(view.texts[kIdSelectionTime], "Selection: 00:00:00.00 -- 00:00:02.00");
    EXPECT_EQ(view.texts[kIdSelectionDuration], "Duration: 00:00:02.00");
    view.nListSelection = 1;
    commands.OnClipSelectionChange();
    WaitForOpen();
    EXPECT_EQ(player.GetFileName(), strTooLong);
    EXPECT_EQ(view.texts[kIdSelectionTime], "Selection: 00:00:00.00 -- 00:00:02.00");
    EXPECT_EQ(view.sliders[kIdSeekBar].nSelEnd, 200);
}

TEST_F(PreviewCommandsTest, CompletionMovesToTheNextClipAndStopsAfterTheLast) {
    const std::string strFirst = Tone("one.wav", 1.0);
    const std::string strSecond = Tone("two.wav", 1.0);
    const std::string strThird = Tone("three.wav", 1.0);
    commands.InitDialog();
    commands.AddMediaFiles({strFirst, strSecond, strThird});
    WaitForOpen();
    view.nListSelection = 1;
    commands.OnClipDoubleClick();
    WaitForOpen();
    ASSERT_EQ(player.GetFileName(), strSecond);
    ASSERT_TRUE(commands.IsPreviewPlaying());

    ASSERT_TRUE(PumpUntil([&] { return player.GetFileName() == strThird; }));
    WaitForOpen();
    EXPECT_EQ(clips.GetCurrentIndex(), 2);
    EXPECT_EQ(view.nListSelection, 2) << "the list follows the clip that plays";
    EXPECT_EQ(player.GetPlayState(), PlayState::Running);
    EXPECT_TRUE(commands.IsPreviewPlaying());
    EXPECT_TRUE(view.shown[kIdPause]);
    EXPECT_EQ(view.title, "Vellumar Klangor - v2.31 [" + strThird + "]");

    ASSERT_TRUE(PumpUntil([&] { return !commands.IsPreviewPlaying(); }));
    EXPECT_EQ(player.GetFileName(), strThird) << "nothing after the last";
    EXPECT_EQ(player.GetPlayState(), PlayState::Stopped);
    EXPECT_TRUE(view.shown[kIdPlay]);
    EXPECT_TRUE(WaitUntil(player, [&] { return PositionOf(player) <= 5; }))
        << "rewound to the selection start, not at " << PositionOf(player);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(PreviewCommandsTest, MuteAndUnmuteSwapFacesAndRestoreTheStoredVolume) {
    const std::string strClip = Tone("loud.wav", 3.0);
    commands.InitDialog();
    EXPECT_EQ(view.sliders[kIdVolumeSlider].nMin, -10000);
    EXPECT_EQ(view.sliders[kIdVolumeSlider].nMax, 0);
    commands.AddMediaFiles({strClip});
    WaitForOpen();
    ASSERT_FALSE(player.GetRegistrationPath().empty());
    commands.OnVolumeScroll(-2000, true);
    EXPECT_EQ(player.GetStoredVolume(), -2000);
    EXPECT_NEAR(VolumePercent(player), 46.416, 0.01);

    commands.OnMute();
    EXPECT_TRUE(commands.IsMuted());
    EXPECT_TRUE(view.shown[kIdUnmute]);
    EXPECT_FALSE(view.shown[kIdMute]);
    EXPECT_FALSE(view.enabled[kIdVolumeSlider]);
    EXPECT_NEAR(VolumePercent(player), 0.0, 1e-9);

    commands.OnMute();
    EXPECT_FALSE(commands.IsMuted());
    EXPECT_TRUE(view.shown[kIdMute]);
    EXPECT_FALSE(view.shown[kIdUnmute]);
    EXPECT_TRUE(view.enabled[kIdVolumeSlider]);
    EXPECT_NEAR(VolumePercent(player), 46.416, 0.01) << "unmute restores the stored volume";
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(PreviewCommandsTest, SpeedSliderEndsGiveQuarterAndDoubleRateAndNormalSpeedResets) {
    const std::string strClip = Tone("speed.wav", 3.0);
    commands.InitDialog();
    EXPECT_EQ(view.sliders[kIdRateSlider].nMin, 25);
    EXPECT_EQ(view.sliders[kIdRateSlider].nMax, 200);
    commands.AddMediaFiles({strClip});
    WaitForOpen();
    commands.OnRateScroll(25, false);
    EXPECT_FALSE(commands.IsSliderIdle()) << "a drag holds the thumbs";
    EXPECT_EQ(view.texts[kIdRateText], "0.25 X");
    EXPECT_DOUBLE_EQ(player.GetRate(), 0.25);
    commands.OnRateScroll(200, true);
    EXPECT_TRUE(commands.IsSliderIdle());
    EXPECT_EQ(view.texts[kIdRateText], "2.00 X");
    EXPECT_DOUBLE_EQ(player.GetRate(), 2.0);

    // Normal Speed on a stopped clip sets 1.00 X and starts it.
    ASSERT_FALSE(commands.IsPreviewPlaying());
    view.nListSelection = 0;
    commands.OnNormalSpeed();
    WaitForOpen();
    EXPECT_EQ(view.texts[kIdRateText], "1.00 X");
    EXPECT_EQ(view.sliders[kIdRateSlider].nPosition, 100);
    EXPECT_DOUBLE_EQ(player.GetRate(), 1.0);
    EXPECT_TRUE(commands.IsPreviewPlaying());
    EXPECT_EQ(player.GetPlayState(), PlayState::Running);
}

TEST_F(PreviewCommandsTest, FrameStepHoldsTheVideoAndShowsThePlayFace) {
    const std::string strClip = MakeClip(media, "steps.mp4", 2.0);
    commands.InitDialog();
    commands.AddMediaFiles({strClip});
    WaitForOpen();
    view.nListSelection = 0;
    commands.OnClipDoubleClick();
    WaitForOpen();
    ASSERT_TRUE(player.CanStepFrame());
    ASSERT_TRUE(commands.IsPreviewPlaying());
    commands.OnStepFrame();
    EXPECT_EQ(player.GetPlayState(), PlayState::Paused);
    EXPECT_FALSE(commands.IsPreviewPlaying());
    EXPECT_TRUE(view.shown[kIdPlay]);
    EXPECT_FALSE(view.shown[kIdPause]);
    // Play runs it again.
    commands.PlayPausePreview();
    WaitForOpen();
    EXPECT_EQ(player.GetPlayState(), PlayState::Running);
}

TEST_F(PreviewCommandsTest, PlayLoadsAnotherHighlightedClipThenPausesAndTheTimerSparesADraggedThumb) {
    const std::string strFirst = Tone("a.wav", 3.0);
    const std::string strSecond = Tone("b.wav", 3.0);
    commands.InitDialog();
    commands.AddMediaFiles({strFirst, strSecond});
    WaitForOpen();
    view.nListSelection = 1;
    commands.PlayPausePreview();
    WaitForOpen();
    EXPECT_EQ(player.GetFileName(), strSecond);
    EXPECT_EQ(commands.GetLastPlayedIndex(), 1);
    EXPECT_EQ(player.GetPlayState(), PlayState::Running);
    commands.PlayPausePreview();
    WaitForOpen();
    EXPECT_EQ(player.GetPlayState(), PlayState::Paused);
    EXPECT_FALSE(commands.IsPreviewPlaying());
    EXPECT_TRUE(view.shown[kIdPlay]);

    player.SetPosition(150);
    // Seeks complete on the playback's own thread.
    ASSERT_TRUE(WaitUntil(player, [&] { return std::labs(PositionOf(player) - 150) <= 2; }));
    commands.OnSeekScroll(150, false);  // the user holds the thumb
    view.sliders[kIdSeekBar].nPosition = 40;
    commands.OnTimer();
    EXPECT_EQ(view.texts[kIdCurrentTime], "Current: 00:00:01.50");
    EXPECT_EQ(view.sliders[kIdSeekBar].nPosition, 40);
    commands.OnSeekScroll(150, true);
    commands.OnTimer();
    EXPECT_EQ(view.sliders[kIdSeekBar].nPosition, 150);

    // The keys: one second on, the selection's ends, and I/O at the play position.
    commands.OnSeekBy(PreviewCommands::kKeySeekStep);
    EXPECT_EQ(view.sliders[kIdSeekBar].nPosition, 250);
    ASSERT_TRUE(WaitUntil(player, [&] { return std::labs(PositionOf(player) - 250) <= 2; }));
    commands.OnMarkStart();
    EXPECT_NEAR(player.GetClipInfo().nStart, 250, 2);
    EXPECT_EQ(CutInfoText(player, strSecond), Record(300, player.GetClipInfo().nStart, 300));
    commands.OnSeekBy(-10 * PreviewCommands::kKeySeekStep);
    EXPECT_EQ(view.sliders[kIdSeekBar].nPosition, 0) << "kept within the clip";
    EXPECT_TRUE(WaitUntil(player, [&] { return PositionOf(player) == 0; }));
    commands.OnGoToSelectionStart();
    EXPECT_EQ(view.sliders[kIdSeekBar].nPosition, static_cast<int>(player.GetClipInfo().nStart));
}

TEST_F(PreviewCommandsTest, UnplayableFileStaysListedWithTransportDisabledAndTheNextOpens) {
    const std::string strBroken = media.MakeRaw("broken.avi", std::string(4096, 'x'));
    const std::string strGood = Tone("good.wav", 2.0);
    commands.InitDialog();
    commands.AddMediaFiles({strBroken});
    WaitForOpen();
    EXPECT_FALSE(player.IsClipLoaded());
    EXPECT_EQ(view.Names(), std::vector<std::string>{"broken.avi"});
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].strCaption, "PlayWnd Sample");
    EXPECT_EQ(window.boxes[0].strText.rfind("FAILED(hr=0x", 0), 0u);
    EXPECT_NE(window.boxes[0].strText.find("in m_pGB->RenderFile(wFile, NULL)"), std::string::npos);
    EXPECT_TRUE(view.TransportEnabled(false));

    commands.AddMediaFiles({strGood});
    WaitForOpen();
    view.nListSelection = 1;
    commands.OnClipSelectionChange();
    WaitForOpen();
    EXPECT_TRUE(player.IsClipLoaded());
    EXPECT_EQ(player.GetFileName(), strGood);
    EXPECT_TRUE(view.TransportEnabled(true));
    EXPECT_TRUE(view.enabled[kIdClipList]) << "the list is usable again after the open";
    EXPECT_EQ(window.boxes.size(), 1u);
}

TEST_F(PreviewCommandsTest, PlayOnAFileThatCannotOpenLeavesThePlayFaceSoTheListStillPreviews) {
    const std::string strGood = Tone("fine.wav", 2.0);
    const std::string strBroken = media.MakeRaw("damaged.mpg", std::string(2048, 'z'));
    commands.InitDialog();
    commands.AddMediaFiles({strGood, strBroken});
    WaitForOpen();
    view.nListSelection = 1;
    commands.PlayPausePreview();
    WaitForOpen();
    EXPECT_FALSE(player.IsClipLoaded());
    EXPECT_FALSE(commands.IsPreviewPlaying());
    EXPECT_TRUE(view.shown[kIdPlay]);
    EXPECT_FALSE(view.shown[kIdPause]);
    EXPECT_TRUE(view.TransportEnabled(false));

    // A click on the good entry previews it again.
    view.nListSelection = 0;
    commands.OnClipSelectionChange();
    WaitForOpen();
    EXPECT_EQ(player.GetFileName(), strGood);
    EXPECT_TRUE(view.TransportEnabled(true));
}

TEST_F(PreviewCommandsTest, CutInfoThatCannotBeWrittenIsReportedAndPreviewGoesOn) {
    const std::string strClip = Tone("guarded.wav", 3.0);
    // A folder where the cut-info file belongs: no file can take its place.
    std::filesystem::create_directory(CutInfoPath(strClip));
    commands.InitDialog();
    commands.AddMediaFiles({strClip});
    WaitForOpen();
    ASSERT_TRUE(player.IsClipLoaded());
    view.nListSelection = 0;
    commands.OnClipDoubleClick();
    WaitForOpen();
    player.DrainRecords();
    window.boxes.clear();

    view.sliders[kIdSeekBar].nPosition = 100;
    commands.OnSetStart();
    EXPECT_TRUE(window.boxes.empty()) << "the write is told once it is done";
    player.DrainRecords();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].strCaption, "Vellumar Klangor");
    EXPECT_EQ(window.boxes[0].strText, CutInfoPath(strClip) + " contains an invalid path.");
    EXPECT_EQ(view.texts[kIdSelectionTime], "Selection: 00:00:01.00 -- 00:00:03.00");
    EXPECT_EQ(player.GetPlayState(), PlayState::Running);
    EXPECT_TRUE(std::filesystem::is_directory(CutInfoPath(strClip)));
}

TEST_F(PreviewCommandsTest, DroppedItemsAreAddedOneByOneInTheirOrder) {
    const std::string strFirst = Tone("drop1.wav", 1.0);
    const std::string strSecond = Tone("drop2.wav", 1.0);
    commands.InitDialog();
    commands.OnDropFiles({strFirst, strSecond});
    WaitForOpen();
    EXPECT_EQ(view.Names(), (std::vector<std::string>{"drop1.wav", "drop2.wav"}));
    EXPECT_EQ(player.GetFileName(), strFirst);
    EXPECT_EQ(player.GetPlayState(), PlayState::Stopped);

    // The open dialog's choice is added the same way; a cancel adds nothing.
    view.dialogAnswer = {strSecond};
    commands.OnOpenFile();
    WaitForOpen();
    view.dialogAnswer.clear();
    commands.OnOpenFile();
    WaitForOpen();
    EXPECT_EQ(view.Names(), (std::vector<std::string>{"drop1.wav", "drop2.wav", "drop2.wav"}));
}

}  // namespace

}  // namespace klangor

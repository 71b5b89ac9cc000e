// The player's own rules over a scripted playback, for the cases real playback cannot produce on demand
// (a playback that fails a given step, a query that answers "no such interface").
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <optional>

#include "player/PlayerTestSupport.h"
#include "support/TempDir.h"

namespace klangor {

namespace {

struct Script {
    int iStartupStatus = kPlaybackOk;
    int iCreateStatus = kPlaybackOk;
    int iRenderStatus = kPlaybackOk;
    int iOpenEndStatus = kPlaybackOk;
    int iDurationStatus = kPlaybackOk;
    int64_t llDuration = 12345LL * 100000;
    int iVisibleStatus = kPlaybackOk;
    int iNativeSizeStatus = kPlaybackOk;
    int iVideoWidth = 640;
    int iVideoHeight = 360;
    int iRunStatus = kPlaybackOk;
    int iGetVolumeStatus = kPlaybackOk;
    int iPutVolumeStatus = kPlaybackOk;
    long lVolume = 0;
    int iRegistrationStatus = kPlaybackOk;
    int iCanStep = kPlaybackOk;
    int iSetPositionsStatus = kPlaybackOk;

    // What the player did.
    std::vector<std::string> calls;
    std::vector<std::pair<int64_t, int64_t>> positions;
    std::vector<long> putVolumes;
    std::optional<VideoRect> windowPosition;
    bool bFullScreen = false;
    bool bNotifyHooked = false;
    int nGraphsAlive = 0;
    std::deque<GraphEvent> events;
    int64_t llCurrent = 0;
};

class ScriptedGraph : public IPlaybackGraph {
public:
    explicit ScriptedGraph(Script &script) : m_script(script) { ++m_script.nGraphsAlive; }
    ~ScriptedGraph() override {
        EXPECT_FALSE(m_script.bNotifyHooked) << "the notification must be unhooked before the playback goes";
        --m_script.nGraphsAlive;
        // A playback's pending events go with it.
        m_script.events.clear();
    }
    // The open ends at once, as the first event: opened, or failed with the status scripted for it.
    int RenderFile(const std::string &) override {
        if (PlaybackFailed(m_script.iRenderStatus)) {
            return Call("RenderFile", m_script.iRenderStatus);
        }
        m_script.events.push_front(PlaybackFailed(m_script.iOpenEndStatus)
                                       ? GraphEvent{kEventOpenFailed, m_script.iOpenEndStatus, 0}
                                       : GraphEvent{kEventOpened, 0, 0});
        return Call("RenderFile", kPlaybackOk);
    }
    int Run() override { return Call("Run", m_script.iRunStatus); }
    int Pause() override { return Call("Pause", kPlaybackOk); }
    int Stop() override { return Call("Stop", kPlaybackOk); }
    int SetNotify(std::function<void()> fnNotify) override {
        m_script.bNotifyHooked = static_cast<bool>(fnNotify);
        return kPlaybackOk;
    }
    bool GetEvent(GraphEvent &event) override {
        if (m_script.events.empty()) {
            return false;
        }
        event = m_script.events.front();
        m_script.events.pop_front();
        return true;
    }
    int GetDuration(int64_t &llDuration) override {
        llDuration = m_script.llDuration;
        return m_script.iDurationStatus;
    }
    int GetPositions(int64_t &llCurrent, int64_t &llStop) override {
        llCurrent = m_script.llCurrent;
        llStop = m_script.positions.empty() ? m_script.llDuration : m_script.positions.back().second;
        return kPlaybackOk;
    }
    int SetPositions(int64_t llCurrent, int64_t llStop) override {
        m_script.calls.emplace_back("SetPositions");
        if (PlaybackFailed(m_script.iSetPositionsStatus)) {
            return m_script.iSetPositionsStatus;
        }
        m_script.positions.emplace_back(llCurrent, llStop);
        m_script.llCurrent = llCurrent;
        return kPlaybackOk;
    }
    int SetRate(double) override { return kPlaybackOk; }
    int GetRate(double &dRate) override {
        dRate = 1.0;
        return kPlaybackOk;
    }
    int GetVolume(long &lVolume) override {
        lVolume = m_script.lVolume;
        return m_script.iGetVolumeStatus;
    }
    int PutVolume(long lVolume) override {
        if (m_script.iPutVolumeStatus == kPlaybackOk) {
            m_script.putVolumes.push_back(lVolume);
            m_script.lVolume = lVolume;
        }
        return m_script.iPutVolumeStatus;
    }
    int GetVisible(bool &bVisible) override {
        bVisible = true;
        return m_script.iVisibleStatus;
    }
    int SetVisible(bool) override { return kPlaybackOk; }
    int GetNativeVideoSize(int &iWidth, int &iHeight) override {
        iWidth = m_script.iVideoWidth;
        iHeight = m_script.iVideoHeight;
        return m_script.iNativeSizeStatus;
    }
    int SetWindowPosition(int iLeft, int iTop, int iWidth, int iHeight) override {
        m_script.windowPosition = VideoRect{iLeft, iTop, iWidth, iHeight};
        return kPlaybackOk;
    }
    int GetFullScreenMode(bool &bFullScreen) override {
        bFullScreen = m_script.bFullScreen;
        return kPlaybackOk;
    }
    int PutFullScreenMode(bool bFullScreen) override {
        m_script.bFullScreen = bFullScreen;
        return kPlaybackOk;
    }
    int CanStep() override { return m_script.iCanStep; }
    int Step() override { return Call("Step", kPlaybackOk); }
    uintptr_t GetReference() const override { return 0x1234abcd; }
    int SetRegistration(const std::string &strPath) override {
        return Call(strPath.empty() ? "Unregister" : "Register", m_script.iRegistrationStatus);
    }

private:
    int Call(const char *pszName, int iStatus) {
        m_script.calls.emplace_back(pszName);
        return iStatus;
    }
    Script &m_script;
};

class ScriptedEngine : public IPlaybackEngine {
public:
    explicit ScriptedEngine(Script &script) : m_script(script) {}
    int Startup() override { return m_script.iStartupStatus; }
    std::unique_ptr<IPlaybackGraph> CreateGraph(VideoSurface &, int &iStatus) override {
        iStatus = m_script.iCreateStatus;
        return PlaybackFailed(iStatus) ? nullptr : std::make_unique<ScriptedGraph>(m_script);
    }

private:
    Script &m_script;
};

// Current and stop positions in media time, from hundredths of a second.
std::pair<int64_t, int64_t> Span(int64_t llCurrent, int64_t llStop) {
    return {llCurrent * 100000, llStop * 100000};
}

class ScriptedPlayerTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1); }

    MediaPlayer &Player() {
        if (!m_pPlayer) {
            m_pPlayer = std::make_unique<MediaPlayer>(window, 1037, std::make_unique<ScriptedEngine>(script));
        }
        return *m_pPlayer;
    }
    // A media path in a folder of its own, where the cut-info file can be written.
    std::string ClipPath() const { return (m_runtime.Path() / "clip.avi").string(); }
    bool Called(const std::string &strName) const {
        return std::find(script.calls.begin(), script.calls.end(), strName) != script.calls.end();
    }

    TempDir m_runtime;
    Script script;
    RecordingWindow window;
    std::unique_ptr<MediaPlayer> m_pPlayer;
};

TEST_F(ScriptedPlayerTest, EngineThatCannotStartShowsTheStartupText) {
    script.iStartupStatus = kPlaybackFailed;
    EXPECT_FALSE(Player().IsEngineStarted());
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].strCaption, "PlayWnd Sample");
    EXPECT_EQ(window.boxes[0].strText, "CoInitialize Failed!\r\n");
    EXPECT_EQ(window.nUnownedBoxes, 1) << "the program ends after it: no window owns the box";
}

// A box shown in the middle of Stop runs a nested event loop. Whatever runs there (here: the clip is
// closed, as a completion that moves on to a clip that fails to open would leave it) must not leave
// Stop holding a playback that is gone; and the completion itself waits until the box is closed.
TEST_F(ScriptedPlayerTest, StopSurvivesAClipClosedInsideItsErrorBoxAndEventsWaitForTheBox) {
    struct HookedWindow : RecordingWindow {
        std::function<void()> fnOnBox;
        void ShowErrorBox(const std::string &strCaption, const std::string &strText) override {
            RecordingWindow::ShowErrorBox(strCaption, strText);
            if (fnOnBox) {
                fnOnBox();
            }
        }
    } hooked;
    MediaPlayer player(hooked, 1037, std::make_unique<ScriptedEngine>(script));
    ASSERT_EQ(LoadAndWait(player, ClipPath()), kPlaybackOk);
    script.events.push_back(GraphEvent{kEventComplete, 0, 0});
    script.iSetPositionsStatus = kPlaybackFailed;
    bool bFetchedDuringBox = false;
    hooked.fnOnBox = [&] {
        GraphEvent event;
        bFetchedDuringBox = bFetchedDuringBox || player.GetGraphEvent(event);
        player.CloseClip();
    };
    const int nNotifiesBefore = hooked.nNotifies.load();
    EXPECT_EQ(player.StopClip(), kPlaybackOk);
    EXPECT_FALSE(player.IsClipLoaded());
    EXPECT_FALSE(bFetchedDuringBox);
    EXPECT_EQ(hooked.boxes.size(), 1u);

    // The same with the clip left loaded: the held-back completion is announced once the box is gone.
    hooked.fnOnBox = [&] {
        GraphEvent event;
        bFetchedDuringBox = bFetchedDuringBox || player.GetGraphEvent(event);
    };
    script.iSetPositionsStatus = kPlaybackOk;
    ASSERT_EQ(LoadAndWait(player, ClipPath()), kPlaybackOk);
    script.events.push_back(GraphEvent{kEventComplete, 0, 0});
    script.iSetPositionsStatus = kPlaybackFailed;
    EXPECT_EQ(player.SetPosition(10), kPlaybackFailed);
    EXPECT_FALSE(bFetchedDuringBox);
    EXPECT_GT(hooked.nNotifies.load(), nNotifiesBefore);
    GraphEvent event;
    ASSERT_TRUE(player.GetGraphEvent(event));
    EXPECT_EQ(event.lCode, kEventComplete);
}

TEST_F(ScriptedPlayerTest, StopHoldsThePlaybackBeforeMovingItToTheSelectionStart) {
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    Player().SetSelection(100, 200);
    script.calls.clear();
    ASSERT_EQ(Player().StopClip(), kPlaybackOk);
    // Held first: the seeks after it are made on a held playback, whose position reads the target.
    ASSERT_FALSE(script.calls.empty());
    EXPECT_EQ(script.calls.front(), "Pause");
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "Run"), 0);
    EXPECT_EQ(script.calls.back(), "SetPositions");
    EXPECT_EQ(script.positions.back(), Span(100, 200));
    EXPECT_EQ(Player().GetPlayState(), PlayState::Stopped);
}

TEST_F(ScriptedPlayerTest, AnEndFromOutsideIsNoCompletionAndTheNextCommandReopensTheClip) {
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    ASSERT_EQ(script.nGraphsAlive, 1);
    script.events.push_back(GraphEvent{kEventEndedElsewhere, 3, 0});
    GraphEvent event;
    ASSERT_TRUE(Player().GetGraphEvent(event));
    EXPECT_EQ(event.lCode, kEventEndedElsewhere);
    EXPECT_TRUE(Player().IsPlaybackLost());
    long lPosition = 777;
    EXPECT_EQ(Player().GetCurrentPosition(lPosition), kPlaybackOk);
    EXPECT_EQ(lPosition, 777) << "the timer's poll neither fails nor reopens";
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "RenderFile"), 1);

    EXPECT_EQ(Player().TogglePause(), kPlaybackOk);
    EXPECT_FALSE(Player().IsPlaybackLost());
    ASSERT_TRUE(WaitUntil(Player(), [&] { return !Player().IsOpening(); }));
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "RenderFile"), 2);
    EXPECT_EQ(script.nGraphsAlive, 1);
    EXPECT_EQ(Player().GetPlayState(), PlayState::Running);
    EXPECT_EQ(Player().GetFileName(), ClipPath());
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(window.nBusyDepth, 0) << "the busy pointer is given back after each open";
}

TEST_F(ScriptedPlayerTest, EachFailingOpenStepShowsItsOwnTextAndLeavesNothingLoaded) {
    struct Case {
        int Script::*pField;
        const char *pszText;
    };
    const Case cases[] = {
        {&Script::iCreateStatus,
         "FAILED(hr=0xffffbffb) in CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, "
         "IID_IGraphBuilder, (void **)&m_pGB)\n"},
        {&Script::iRenderStatus, "FAILED(hr=0xffffbffb) in m_pGB->RenderFile(wFile, NULL)\n"},
        {&Script::iOpenEndStatus, "FAILED(hr=0xffffbffb) in m_pGB->RenderFile(wFile, NULL)\n"},
        {&Script::iDurationStatus, "FAILED(hr=0xffffbffb) in m_pMS->GetDuration( &llTmp )\n"},
        {&Script::iRunStatus, "FAILED(hr=0xffffbffb) in m_pMC->Run()\n"},
    };
    for (const Case &c : cases) {
        Script fresh;
        script = fresh;
        script.*c.pField = kPlaybackFailed;
        window.boxes.clear();
        EXPECT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackFailed);
        ASSERT_EQ(window.boxes.size(), 1u) << c.pszText;
        EXPECT_EQ(window.boxes[0].strText, c.pszText);
        EXPECT_EQ(window.boxes[0].strCaption, "PlayWnd Sample");
        EXPECT_FALSE(Player().IsClipLoaded());
        EXPECT_EQ(Player().GetPlayState(), PlayState::Closed);
        EXPECT_EQ(script.nGraphsAlive, 0) << "a failed open releases its playback";
        EXPECT_TRUE(Player().GetRegistrationPath().empty());
    }
}

TEST_F(ScriptedPlayerTest, OddVisibilityAnswerIsReportedAndOpeningGoesOn) {
    script.iVisibleStatus = -1;
    EXPECT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].strText, "Failed(ffffffff) in m_pVW->get_Visible()!\r\n");
    EXPECT_FALSE(Player().IsAudioOnly());
    EXPECT_EQ(Player().GetPlayState(), PlayState::Running);
}

TEST_F(ScriptedPlayerTest, VideoWithoutSizeInterfaceStaysLoadedButNotRunning) {
    script.iNativeSizeStatus = kPlaybackNoInterface;
    EXPECT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    EXPECT_TRUE(Player().IsClipLoaded());
    EXPECT_EQ(Player().GetPlayState(), PlayState::Stopped);
    EXPECT_FALSE(Called("Run"));
    EXPECT_FALSE(Called("Register"));
}

TEST_F(ScriptedPlayerTest, VideoIsPlacedByTheRuleAndZeroSizeVideoPlacesNothing) {
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    ASSERT_TRUE(script.windowPosition.has_value());
    EXPECT_EQ(script.windowPosition->iLeft, 1);
    EXPECT_EQ(script.windowPosition->iTop, 31);
    EXPECT_EQ(script.windowPosition->iWidth, 319);
    EXPECT_EQ(script.windowPosition->iHeight, 179);
    EXPECT_TRUE(Player().CanStepFrame());

    script.windowPosition.reset();
    script.iVideoWidth = 0;
    EXPECT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    EXPECT_FALSE(script.windowPosition.has_value());
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(Player().GetPlayState(), PlayState::Running);
}

TEST_F(ScriptedPlayerTest, SelectionCollapsesInsteadOfTurningInsideOut) {
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    MediaPlayer &player = Player();
    player.SetSelection(100, 5000);
    player.SetSelection(6000, -1);
    EXPECT_EQ(player.GetClipInfo().nStart, 6000u);
    EXPECT_EQ(player.GetClipInfo().nEnd, 6000u);
    player.SetSelection(-1, 50);
    EXPECT_EQ(player.GetClipInfo().nStart, 50u);
    EXPECT_EQ(player.GetClipInfo().nEnd, 50u);
    player.SetSelection(100, 5000);
    player.SetSelection(-1, 100);
    EXPECT_EQ(player.GetClipInfo().nStart, 100u);
    EXPECT_EQ(player.GetClipInfo().nEnd, 100u) << "an end equal to the start is accepted";
    player.SetSelection(300, 200);
    EXPECT_EQ(player.GetClipInfo().nStart, 100u) << "both given the wrong way round change nothing";
    EXPECT_EQ(player.GetClipInfo().nEnd, 100u);
}

TEST_F(ScriptedPlayerTest, StopPositionFollowsSelectionEndUnlessPlaybackIsPastIt) {
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    MediaPlayer &player = Player();
    script.llCurrent = 50LL * 100000;
    player.SetSelection(-1, 200);
    EXPECT_EQ(script.positions.back(), Span(50, 200)) << "reseek after a change";
    player.SetPosition(150);
    EXPECT_EQ(script.positions.back(), Span(150, 200));
    player.SetPosition(250);
    EXPECT_EQ(script.positions.back(), Span(250, 12345))
        << "past the selection end the rest of the clip plays";
    player.SetPosition(200);
    EXPECT_EQ(script.positions.back().second, Span(0, 12345).second);
}

TEST_F(ScriptedPlayerTest, MuteSwapsBetweenStoredVolumeAndSilence) {
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    MediaPlayer &player = Player();
    player.SetVolume(-2000);
    script.putVolumes.clear();
    player.ToggleMute();
    player.ToggleMute();
    EXPECT_EQ(script.putVolumes, (std::vector<long>{-10000, -2000}));

    player.SetVolume(500);
    EXPECT_EQ(player.GetStoredVolume(), 0);
    player.SetVolume(-20000);
    EXPECT_EQ(player.GetStoredVolume(), -10000);
    EXPECT_TRUE(window.boxes.empty());

    script.iGetVolumeStatus = kPlaybackFailed;
    player.ToggleMute();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].strText, "Failed to read audio volume!  hr=0xffffbffb\r\n");
    script.iGetVolumeStatus = kPlaybackOk;
    script.iPutVolumeStatus = kPlaybackFailed;
    player.SetVolume(-100);
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[1].strText, "FAILED(hr=0xffffbffb) in m_pBA->put_Volume(m_lVolume)\n");
}

TEST_F(ScriptedPlayerTest, ClipWithoutAudioAnswersVolumeAndMuteSilently) {
    script.iGetVolumeStatus = kPlaybackNotImplemented;
    script.iPutVolumeStatus = kPlaybackNotImplemented;
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    EXPECT_EQ(Player().ToggleMute(), kPlaybackOk);
    EXPECT_EQ(Player().SetVolume(-500), kPlaybackOk);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(ScriptedPlayerTest, StepFromRunningPausesFirstAndLeavesThePlayerPaused) {
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    script.calls.clear();
    ASSERT_EQ(Player().StepFrame(), kPlaybackOk);
    EXPECT_EQ(script.calls, (std::vector<std::string>{"Pause", "Step"}));
    EXPECT_EQ(Player().GetPlayState(), PlayState::Paused);
    // From a stopped clip the held frame is stepped on without running it.
    Player().StopClip();
    script.calls.clear();
    ASSERT_EQ(Player().StepFrame(), kPlaybackOk);
    EXPECT_EQ(script.calls, (std::vector<std::string>{"Step"}));
    EXPECT_EQ(Player().GetPlayState(), PlayState::Paused);
    // A play press after the step runs the clip.
    Player().TogglePause();
    EXPECT_EQ(Player().GetPlayState(), PlayState::Running);
}

TEST_F(ScriptedPlayerTest, AudioOnlyClipHasNoStepFullScreenOrPlacement) {
    script.iVisibleStatus = kPlaybackNoInterface;
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    EXPECT_TRUE(Player().IsAudioOnly());
    EXPECT_FALSE(Player().CanStepFrame());
    script.calls.clear();
    EXPECT_EQ(Player().StepFrame(), kPlaybackOk);
    EXPECT_EQ(Player().ToggleFullScreen(), kPlaybackOk);
    EXPECT_FALSE(script.bFullScreen);
    EXPECT_FALSE(Player().IsFullScreen());
    EXPECT_TRUE(script.calls.empty());
    EXPECT_FALSE(script.windowPosition.has_value());
}

TEST_F(ScriptedPlayerTest, FullScreenToggleReturnsFocusToTheWindow) {
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    ASSERT_EQ(Player().ToggleFullScreen(), kPlaybackOk);
    EXPECT_TRUE(Player().IsFullScreen());
    const int nFocus = window.nFocus;
    ASSERT_EQ(Player().ToggleFullScreen(), kPlaybackOk);
    EXPECT_FALSE(Player().IsFullScreen());
    EXPECT_EQ(window.nFocus, nFocus + 1);
}

TEST_F(ScriptedPlayerTest, EventsArrivingDuringAnErrorBoxWaitUntilTheClipIsOpen) {
    script.iRegistrationStatus = kPlaybackFailed;
    bool bFetchedDuringOpen = true;
    struct HookedWindow : RecordingWindow {
        std::function<void()> fnOnBox;
        void ShowErrorBox(const std::string &strCaption, const std::string &strText) override {
            RecordingWindow::ShowErrorBox(strCaption, strText);
            fnOnBox();
        }
    } hooked;
    MediaPlayer player(hooked, 1037, std::make_unique<ScriptedEngine>(script));
    hooked.fnOnBox = [&] {
        script.events.push_back(GraphEvent{kEventComplete, 0, 0});
        GraphEvent event;
        bFetchedDuringOpen = player.GetGraphEvent(event);
    };
    ASSERT_EQ(player.LoadClip(ClipPath()), kPlaybackOk);
    std::vector<long> codes;
    ASSERT_TRUE(WaitUntil(
        player, [&] { return codes.size() >= 2; }, 5.0,
        [&](const GraphEvent &event) { codes.push_back(event.lCode); }));
    ASSERT_EQ(hooked.boxes.size(), 1u);
    EXPECT_EQ(hooked.boxes[0].strText, "Failed to register filter graph with ROT!  hr=0xffffbffb");
    EXPECT_FALSE(bFetchedDuringOpen);
    EXPECT_GE(hooked.nNotifies.load(), 1) << "the held-back events are announced once the clip is open";
    EXPECT_EQ(codes, (std::vector<long>{kEventOpened, kEventComplete}));
}

TEST_F(ScriptedPlayerTest, CloseUnregistersAndReleases) {
    MediaPlayer &player = Player();
    ASSERT_EQ(LoadAndWait(player, ClipPath()), kPlaybackOk);
    EXPECT_TRUE(Called("Register"));
    EXPECT_FALSE(player.GetRegistrationPath().empty());
    player.CloseClip();
    EXPECT_TRUE(Called("Unregister"));
    EXPECT_EQ(script.nGraphsAlive, 0);
    EXPECT_TRUE(player.GetFileName().empty());
    EXPECT_EQ(player.GetPlayState(), PlayState::Closed);
    EXPECT_EQ(player.GetClipInfo().nDuration, 12345u) << "the last selection stays until the next open";
}

TEST_F(ScriptedPlayerTest, CutInfoThatCannotBeWrittenShowsFileErrorAndPreviewGoesOn) {
    const std::string strPath = (m_runtime.Path() / "no-such-folder" / "clip.avi").string();
    ASSERT_EQ(LoadAndWait(Player(), strPath), kPlaybackOk);
    Player().DrainRecords();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].strCaption, "Vellumar Klangor");
    EXPECT_NE(window.boxes[0].strText.find(strPath + ".clipinfo"), std::string::npos)
        << window.boxes[0].strText;
    EXPECT_EQ(Player().GetPlayState(), PlayState::Running);
}

TEST_F(ScriptedPlayerTest, UnwritableCutInfoIsDeniedAndTheSelectionLivesOnInMemory) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes whatever the permissions say; this case runs in CI's unprivileged-user "
                        "stage";
    }
    const std::string strCutInfo = ClipPath() + ".clipinfo";
    const std::string strOld = "Owner=Vellumar\r\nCutInfo=12345,100,5000,0;";
    {
        std::ofstream out(strCutInfo, std::ios::binary);
        out << strOld;
    }
    std::filesystem::permissions(strCutInfo, std::filesystem::perms::owner_read);
    ASSERT_EQ(LoadAndWait(Player(), ClipPath()), kPlaybackOk);
    EXPECT_TRUE(window.boxes.empty()) << "a readable record needs no write";
    Player().SetSelection(200, 300);
    EXPECT_TRUE(Player().WriteCutInfo());
    EXPECT_TRUE(window.boxes.empty()) << "the write is told once it is done, on the window's side";
    Player().DrainRecords();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].strText, "Access to " + strCutInfo + " was denied.");
    EXPECT_EQ(Player().GetClipInfo().nStart, 200u);
    EXPECT_EQ(Player().GetClipInfo().nEnd, 300u);
    EXPECT_EQ(Player().GetPlayState(), PlayState::Running);
    std::ifstream in(strCutInfo, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), strOld);
}

// The window goes on while a clip opens: a clip chosen meanwhile gives the first open up, and Stop and
// Play pressed meanwhile decide what the clip does once it is open.
TEST_F(ScriptedPlayerTest, AClipChosenWhileAnotherOpensReplacesItAndPlayPressedMeanwhileWaitsForTheOpen) {
    const std::string strOther = (m_runtime.Path() / "other.avi").string();
    ASSERT_EQ(Player().LoadClip(ClipPath()), kPlaybackOk);
    ASSERT_TRUE(Player().IsOpening());
    EXPECT_FALSE(Player().IsClipLoaded());
    ASSERT_EQ(Player().LoadClip(strOther), kPlaybackOk);
    EXPECT_EQ(script.nGraphsAlive, 1) << "the first open is given up with its playback";
    EXPECT_EQ(window.nBusyDepth, 1);
    EXPECT_EQ(Player().StopClip(), kPlaybackOk);
    EXPECT_EQ(Player().TogglePause(), kPlaybackOk);
    EXPECT_FALSE(Called("Run")) << "nothing runs before the open has ended";
    std::vector<long> codes;
    ASSERT_TRUE(WaitUntil(
        Player(), [&] { return !Player().IsOpening(); }, 5.0,
        [&](const GraphEvent &event) { codes.push_back(event.lCode); }));
    EXPECT_EQ(codes, std::vector<long>{kEventOpened});
    EXPECT_EQ(Player().GetFileName(), strOther);
    EXPECT_EQ(Player().GetPlayState(), PlayState::Running);
    EXPECT_EQ(window.nBusyDepth, 0);

    // Stopped while it opens, a clip stays held once open.
    ASSERT_EQ(Player().LoadClip(ClipPath()), kPlaybackOk);
    script.calls.clear();
    EXPECT_EQ(Player().StopClip(), kPlaybackOk);
    ASSERT_TRUE(WaitUntil(Player(), [&] { return !Player().IsOpening(); }));
    EXPECT_FALSE(Called("Run"));
    EXPECT_EQ(Player().GetPlayState(), PlayState::Stopped);
    EXPECT_TRUE(Player().IsClipLoaded());
}

}  // namespace

}  // namespace klangor

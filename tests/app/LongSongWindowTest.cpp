// A MIDI file of a few bytes can last for hours. The window opens it, plays it, jumps about in it and moves
// on to the next clip without its event loop ever stalling, and without memory or disk of the song's size.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "../convert/MidiSongs.h"
#include "app/AppTestSupport.h"
#include "player/MpvPlayback.h"
#include "player/PlayerTestSupport.h"
#include "gui/TimelineBar.h"
#include "support/MemoryBounds.h"

namespace klangor {

namespace {

// Opening a clip holds the window's loop for some hundred milliseconds on a busy machine (a song loads its
// instrument bank too); a song rendered whole held it for minutes.
constexpr qint64 kOpeningMs = 1000;

// The largest gap between two ticks of a 20 ms timer, beyond the 20 ms, while fnStep runs in the loop.
qint64 WorstLatenessWhile(const std::function<void()> &fnStep) {
    QElapsedTimer clock;
    qint64 llLast = -1;
    qint64 llWorst = 0;
    QTimer ticker;
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 llNow = clock.elapsed();
        if (llLast >= 0) {
            llWorst = std::max(llWorst, llNow - llLast - 20);
        }
        llLast = llNow;
    });
    clock.start();
    ticker.start();
    ProcessEvents(100);
    fnStep();
    ProcessEvents(400);
    return llWorst;
}

TEST(MainWindowLongSong, AnHoursLongSongNeverStallsTheWindowAndTheNextClipStopsItsWaveform) {
    TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    MediaFactory media;
    // 38 bytes: one quarter note per tick at the slowest tempo there is, a note struck and never
    // released, and the end of the track 2500 ticks (11.65 hours) later.
    const std::string strBytes =
        midi::Header(0, 1, 1) + midi::Track({{0, midi::Tempo(0xFFFFFF)},
                                             {0, midi::Bytes({0x90, 60, 100})},
                                             {2500, midi::Bytes({0xFF, 0x2F, 0x00})}},
                                            false);
    ASSERT_EQ(strBytes.size(), 38u);
    const QString strSong = QString::fromStdString(media.MakeRaw("long.mid", strBytes));
    const QString strNext =
        QString::fromStdString(media.MakeTone("next.wav", 1.0, 8000, 1, {"-c:a", "pcm_s16le"}));
    WindowHarness harness({}, {},
                          [] { return std::make_unique<MpvPlaybackEngine>(MpvEngineOptions{"null"}); });
    MainWindow &window = harness.Window();
    window.show();
    const long lMiBBefore = ResidentMiB();

    StallGuard guard(std::chrono::seconds(60), "previewing an hours-long song");
    EXPECT_LT(WorstLatenessWhile([&] {
                  window.GetPreviewCommands().AddMediaFiles({strSong.toStdString(), strNext.toStdString()});
              }),
              kOpeningMs)
        << "opening";
    ASSERT_TRUE(window.IsClipLoaded());
    EXPECT_GT(window.GetPlayer()->GetClipInfo().nDuration, 11u * 360000);
    // The first play after an add opens the clip again.
    EXPECT_LT(WorstLatenessWhile([&] { window.GetButton(kIdPlay)->click(); }), kOpeningMs) << "playing";
    EXPECT_TRUE(window.GetPreviewCommands().IsPreviewPlaying());
    EXPECT_LT(WorstLatenessWhile([&] { window.GetPlayer()->SetPosition(8 * 360000); }), 300) << "a far seek";
    EXPECT_LT(WorstLatenessWhile([&] { window.GetPlayer()->SetPosition(1000); }), 300) << "a seek back";
    EXPECT_EQ(window.GetTimeline()->Waveform().GetState(), WaveformLoader::State::Scanning);

    EXPECT_LT(WorstLatenessWhile([&] { window.GetPreviewCommands().SelectClip(1); }), kOpeningMs)
        << "the next clip";
    EXPECT_EQ(window.GetPlayer()->GetFileName(), strNext.toStdString());
    EXPECT_TRUE(window.GetTimeline()->Waveform().WaitUntilSettled(std::chrono::seconds(10)));
    EXPECT_EQ(window.GetTimeline()->Waveform().GetPath(), strNext.toStdString());
    EXPECT_EQ(window.GetTimeline()->Waveform().GetState(), WaveformLoader::State::Complete);

    // Two synthesisers with their bank (the preview's and the waveform's) and a playback; the song whole
    // would be gigabytes.
    EXPECT_LT(ResidentMiB() - lMiBBefore, 128 * kMemoryBoundFactor);
    uintmax_t nOnDisk = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(runtime.Path())) {
        nOnDisk += entry.is_regular_file() ? entry.file_size() : 0;
    }
    EXPECT_LT(nOnDisk, 1u << 20) << "bytes written to the runtime folder";
}

}  // namespace

}  // namespace klangor

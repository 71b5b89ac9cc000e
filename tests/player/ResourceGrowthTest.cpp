// Opening and closing many clips must give back every thread, descriptor and buffer of each playback.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <malloc.h>
#include <string>
#include <thread>

#include "player/MpvPlayback.h"
#include "player/PlayerTestSupport.h"
#include "support/MemoryBounds.h"
#include "support/TempDir.h"

namespace klangor {

namespace {

size_t CountEntries(const char *pszFolder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(pszFolder)) {
        ++n;
    }
    return n;
}

// Bytes the allocator has handed out and not had back, over all arenas and large blocks.
size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Threads that libmpv ends at close may still be on their way out when the last close returns, most of
// all on a loaded machine; a leak never comes back down, so the count is given a moment to settle.
size_t SettledCount(const char *pszFolder, size_t nBaseline) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    size_t nCount = CountEntries(pszFolder);
    while (nCount > nBaseline && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        nCount = CountEntries(pszFolder);
    }
    return nCount;
}

TEST(ResourceGrowthTest, TwoHundredOpensAndClosesLeaveNoThreadsDescriptorsOrMemoryBehind) {
    TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    MediaFactory media;
    const std::string strVideo = MakeClip(media, "clip.mp4", 2.0);
    const std::string strAudio = MakeClip(media, "tone.wav", 2.0, true, false);
    const std::string strBad = media.MakeRaw("bad.mp4", "not a movie");
    RecordingWindow window;
    MediaPlayer player(window, 1037, std::make_unique<MpvPlaybackEngine>(MpvEngineOptions{"null"}));

    auto Cycle = [&](int i) {
        const std::string &strPath = i % 5 == 4 ? strBad : (i % 2 == 0 ? strVideo : strAudio);
        LoadAndWait(player, strPath);
        player.CloseClip();
    };
    // Libraries set up some things once per process (codec tables, the allocator's arenas).
    for (int i = 0; i < 20; ++i) {
        Cycle(i);
    }
    const size_t nThreads = CountEntries("/proc/self/task");
    const size_t nDescriptors = CountEntries("/proc/self/fd");
    const size_t nHeap = HeapInUse();
    const long lResident = ResidentKiB();
    for (int i = 0; i < 200; ++i) {
        Cycle(i);
    }
    // The baseline may itself count a thread of the last close still ending: fewer afterwards is no
    // leak, while one thread or descriptor kept per open would be two hundred more.
    EXPECT_LE(SettledCount("/proc/self/task", nThreads), nThreads);
    EXPECT_LE(SettledCount("/proc/self/fd", nDescriptors), nDescriptors);
    // One playback left behind per open (a decoder, its pictures, a demuxer) would be megabytes each
    // time.
    EXPECT_LT(static_cast<long>(HeapInUse()) - static_cast<long>(nHeap), 2L * 1024 * 1024);
    // Resident memory also counts what the allocator's per-thread arenas keep for reuse, which moves in
    // steps of several megabytes: 30 to 40 MiB after these two hundred opens on a busy machine. The heap
    // bound above is the leak check; this one catches memory that bypasses the allocator (a mapping
    // kept per open), which two hundred opens would take far past it.
    EXPECT_LT(ResidentKiB() - lResident, 96L * 1024);
    EXPECT_EQ(CountEntries((runtime.Path() / "klangor").c_str()), 0u) << "every socket is removed";
    EXPECT_FALSE(player.IsClipLoaded());
}

}  // namespace

}  // namespace klangor

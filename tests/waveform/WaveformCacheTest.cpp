// Waveform summaries kept on disk between sessions: what is found again, what is never handed out
// (damaged files, another key's file, a changed source), and how the folder is kept small.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "common/SidecarFile.h"
#include "waveform/WaveformCache.h"
#include "waveform/WaveformLoader.h"
#include "support/MediaFactory.h"
#include "support/TempDir.h"

namespace klangor {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

WaveformSummary Ramp(uint32_t nFrames) {
    WaveformSummary summary;
    summary.Reset(8000, nFrames, 64);
    std::vector<float> samples;
    for (uint32_t i = 0; i < nFrames; ++i) {
        samples.push_back(static_cast<float>(i) / nFrames * 2.0f - 1.0f);
        samples.push_back(i % 2 == 0 ? 0.25f : -0.25f);
    }
    summary.AddFrames(samples.data(), nFrames, 2);
    return summary;
}

void ExpectSame(const WaveformSummary &a, const WaveformSummary &b) {
    ASSERT_EQ(a.GetSliceCount(), b.GetSliceCount());
    EXPECT_EQ(a.GetSampleRate(), b.GetSampleRate());
    EXPECT_EQ(a.GetFramesPerSlice(), b.GetFramesPerSlice());
    EXPECT_EQ(a.GetFramesAdded(), b.GetFramesAdded());
    for (size_t n = 0; n < a.GetSliceCount(); ++n) {
        EXPECT_EQ(a.GetSlice(n).fMin, b.GetSlice(n).fMin) << n;
        EXPECT_EQ(a.GetSlice(n).fMax, b.GetSlice(n).fMax) << n;
        EXPECT_EQ(a.GetSlice(n).bHas, b.GetSlice(n).bHas) << n;
    }
}

std::string Bytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path &path, const std::string &strBytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << strBytes;
}

void Age(const fs::path &path, std::chrono::hours age) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - age);
}

}  // namespace

TEST(WaveformCacheTest, AStoredSummaryIsFoundWholeAndOnlyUnderItsOwnKey) {
    TempDir dir;
    const WaveformCache cache(dir.Path() / "waves");
    const WaveformSummary summary = Ramp(1000);  // 64 slices, the last one partly filled
    ASSERT_TRUE(cache.Store("/films/a.mkv\n10\n1.5\n0", summary));
    // The folder is the user's own: it names the files that were opened.
    EXPECT_EQ(fs::status(dir.Path() / "waves").permissions() & fs::perms::all, fs::perms::owner_all);

    WaveformSummary found;
    ASSERT_TRUE(cache.Find("/films/a.mkv\n10\n1.5\n0", found));
    ExpectSame(found, summary);
    // Finding it marks it as just used, so trimming the folder spares it.
    const fs::path file = cache.FileFor("/films/a.mkv\n10\n1.5\n0");
    Age(file, 5h);
    ASSERT_TRUE(cache.Find("/films/a.mkv\n10\n1.5\n0", found));
    EXPECT_GT(fs::last_write_time(file), fs::file_time_type::clock::now() - 1h);
    EXPECT_FALSE(cache.Find("/films/a.mkv\n10\n1.5\n2", found));  // another track
    // Another key's file under this key's name, as a collision of names would put it: not handed out.
    fs::copy_file(cache.FileFor("/films/a.mkv\n10\n1.5\n0"), cache.FileFor("/films/b.mkv\n10\n1.5\n0"));
    EXPECT_FALSE(cache.Find("/films/b.mkv\n10\n1.5\n0", found));
    // No folder, no keeping, and no harm.
    const WaveformCache none{fs::path()};
    EXPECT_FALSE(none.Store("k", summary));
    EXPECT_FALSE(none.Find("k", found));
    const WaveformCache unwritable(dir.Path() / "waves" /
                                   cache.FileFor("/films/a.mkv\n10\n1.5\n0").filename());
    EXPECT_FALSE(unwritable.Store("k", summary));
}

TEST(WaveformCacheTest, AFolderOthersMayWriteOrThatIsNotTheUsersIsNeverUsed) {
    TempDir dir;
    const std::string strKey = "/films/a.mkv\n10\n1.5\n0";
    const WaveformSummary summary = Ramp(1000);
    const WaveformCache good(dir.Path() / "good");
    ASSERT_TRUE(good.Store(strKey, summary));
    struct Case {
        const char *pszName;
        fs::perms mode;
        bool bForeign;  // another user's folder, which only root can make
    };
    const Case cases[] = {
        {"group may write", fs::perms::owner_all | fs::perms::group_all, false},
        {"anyone may write, sticky", fs::perms::all | fs::perms::sticky_bit, false},
        {"another user's", fs::perms::owner_all, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszName);
        if (c.bForeign && ::geteuid() != 0) {
            continue;
        }
        const fs::path folder = dir.Path() / c.pszName;
        fs::create_directory(folder);
        // A summary someone else could have put there is not handed out either.
        fs::copy_file(good.FileFor(strKey), folder / good.FileFor(strKey).filename());
        fs::permissions(folder, c.mode);
        if (c.bForeign) {
            ASSERT_EQ(::chown(folder.c_str(), 4321, 4321), 0);
        }
        const WaveformCache cache(folder);
        WaveformSummary found;
        EXPECT_FALSE(cache.Find(strKey, found));
        EXPECT_FALSE(cache.Store("/films/b.mkv\n10\n1.5\n0", summary));
        EXPECT_EQ(FileNamesIn(folder), std::vector<std::string>{good.FileFor(strKey).filename().string()});
        EXPECT_EQ(fs::status(folder).permissions(), c.mode);
    }
}

TEST(WaveformCacheTest, DamagedFilesAreNeverHandedOutAndAreReplacedByTheNextStore) {
    TempDir dir;
    const WaveformCache cache(dir.Path());
    const std::string strKey = "/music/song.flac\n123\n9.0\n0";
    const WaveformSummary summary = Ramp(640);
    ASSERT_TRUE(cache.Store(strKey, summary));
    const fs::path file = cache.FileFor(strKey);
    const std::string strGood = Bytes(file);
    const size_t nHeader = 8 + 4 + 4 + 4 + 8 + 8 + strKey.size();

    std::string strNaN = strGood;
    const float fNaN = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(strNaN.data() + nHeader + 4, &fNaN, 4);
    std::string strMoreFrames = strGood;
    strMoreFrames[8 + 12] =
        static_cast<char>(strMoreFrames[8 + 12] + 1);  // one frame more than the slices hold
    std::string strHugeCount = strGood;
    std::memset(strHugeCount.data() + 8 + 20, 0xff, 8);
    std::string strBadFlag = strGood;
    strBadFlag[nHeader + 8] = 7;
    std::string strOtherVersion = strGood;
    strOtherVersion[6] = '9';
    const std::pair<const char *, std::string> damaged[] = {
        {"empty", ""},
        {"truncated", strGood.substr(0, strGood.size() - 3)},
        {"longer", strGood + "x"},
        {"header only", strGood.substr(0, 20)},
        {"NaN peak", strNaN},
        {"frames and slices disagree", strMoreFrames},
        {"huge slice count", strHugeCount},
        {"bad flag", strBadFlag},
        {"other version", strOtherVersion},
        {"text", "not a waveform at all"},
    };
    for (const auto &[pszCase, strBytes] : damaged) {
        SCOPED_TRACE(pszCase);
        Write(file, strBytes);
        WaveformSummary found;
        EXPECT_FALSE(cache.Find(strKey, found));
        EXPECT_TRUE(found.IsEmpty());
        ASSERT_TRUE(cache.Store(strKey, summary));
        ASSERT_TRUE(cache.Find(strKey, found));
        ExpectSame(found, summary);
    }
    // A folder or a link in the file's place is not read.
    fs::remove(file);
    fs::create_directory(file);
    WaveformSummary found;
    EXPECT_FALSE(cache.Find(strKey, found));
    fs::remove(file);
    Write(dir.Path() / "elsewhere", strGood);
    fs::create_symlink(dir.Path() / "elsewhere", file);
    EXPECT_FALSE(cache.Find(strKey, found));
    // A store leaves no temporary file behind, whether it succeeded or not.
    for (const fs::directory_entry &entry : fs::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename().string().find(kSidecarTempMarker), std::string::npos)
            << entry.path();
    }
}

TEST(WaveformCacheTest, TheFolderKeepsTheRecentlyUsedFilesWithinItsBoundsAndDropsDeadTemporaries) {
    TempDir dir;
    const WaveformCache cache(dir.Path());
    // Three big summaries (sparse files: no disk is used), more than the bound's worth together.
    const uint64_t nBig = WaveformCache::kMaxFolderBytes / 3 + 1;
    const fs::path used = dir.Path() / "0000000000000001.peaks";
    const fs::path older = dir.Path() / "0000000000000002.peaks";
    const fs::path newer = dir.Path() / "0000000000000003.peaks";
    for (const fs::path &path : {used, older, newer}) {
        Write(path, "");
        fs::resize_file(path, nBig);
    }
    Age(older, 20h);
    Age(newer, 10h);
    // The first was made longest ago but found lately (a find marks its file as just used): the
    // next oldest goes instead.
    Age(used, 30h);
    ::utimensat(AT_FDCWD, used.c_str(), nullptr, 0);
    // Half-written files of the next store's target: one of a writer that died, one of a writer still
    // at work (this process).
    const std::string strNew = cache.FileFor("/films/new.mkv\n1\n1.0\n0").string() + kSidecarTempMarker;
    const fs::path deadTemporary = strNew + "2147483640-Ab12Cd";
    const fs::path liveTemporary = strNew + std::to_string(::getpid()) + "-Ef34Gh";
    Write(deadTemporary, "half");
    Write(liveTemporary, "half");
    const fs::path stranger = dir.Path() / "notes.txt";
    Write(stranger, "not ours");
    Age(stranger, 100h);

    ASSERT_TRUE(cache.Store("/films/new.mkv\n1\n1.0\n0", Ramp(100)));
    EXPECT_FALSE(fs::exists(older));
    EXPECT_TRUE(fs::exists(used));
    EXPECT_TRUE(fs::exists(newer));
    EXPECT_TRUE(fs::exists(cache.FileFor("/films/new.mkv\n1\n1.0\n0")));
    EXPECT_FALSE(fs::exists(deadTemporary));
    EXPECT_TRUE(fs::exists(liveTemporary));
    EXPECT_TRUE(fs::exists(stranger));

    // Too many files: the ones used longest ago go until the count is back within its bound.
    TempDir many;
    const WaveformCache crowded(many.Path());
    for (size_t n = 0; n < WaveformCache::kMaxFiles; ++n) {
        const fs::path path = many.Path() / (std::to_string(1000 + n) + ".peaks");
        Write(path, "x");
        Age(path, std::chrono::hours(1000 - n % 1000));
    }
    ASSERT_TRUE(crowded.Store("/films/one-more.mkv\n1\n1.0\n0", Ramp(10)));
    size_t nLeft = 0;
    for (const fs::directory_entry &entry : fs::directory_iterator(many.Path())) {
        nLeft += entry.path().extension() == ".peaks" ? 1 : 0;
    }
    EXPECT_EQ(nLeft, WaveformCache::kMaxFiles);
    EXPECT_FALSE(fs::exists(many.Path() / "1000.peaks"));
    EXPECT_TRUE(fs::exists(many.Path() / "1001.peaks"));
    EXPECT_TRUE(fs::exists(crowded.FileFor("/films/one-more.mkv\n1\n1.0\n0")));
}

TEST(WaveformCacheTest, ALaterSessionDrawsTheKeptWaveformWithoutDecodingUntilTheFileChanges) {
    MediaFactory media;
    TempDir cacheDir;
    const std::string strClip = media.Make(
        "halves.mka", {"-f", "lavfi", "-i", "aevalsrc='if(lt(t,1),0.9*sin(2*PI*330*t),0)':s=8000:d=2"},
        {"-c:a", "flac"});
    std::atomic<int> nDecoders{0};
    const AudioDecoderFactory counting = [&nDecoders](PcmSampleFormat format) {
        ++nDecoders;
        return CreateFfmpegAudioDecoder(format);
    };
    WaveformSummary first;
    {
        WaveformLoader loader(counting, cacheDir.Path());
        loader.Load(strClip);
        ASSERT_TRUE(loader.WaitUntilSettled(20s));
        ASSERT_EQ(loader.GetState(), WaveformLoader::State::Complete);
        first = loader.Snapshot();
    }
    EXPECT_EQ(nDecoders.load(), 1);
    {
        WaveformLoader loader(counting, cacheDir.Path());
        loader.Load(strClip);
        ASSERT_TRUE(loader.WaitUntilSettled(20s));
        ASSERT_EQ(loader.GetState(), WaveformLoader::State::Complete);
        ExpectSame(loader.Snapshot(), first);
        // Another track of the same file is a summary of its own.
        loader.Load(strClip, 1);
        ASSERT_TRUE(loader.WaitUntilSettled(20s));
    }
    EXPECT_EQ(nDecoders.load(), 2);
    // The file changed on disk: it is read afresh, and a decoder that cannot read it shows nothing.
    fs::last_write_time(strClip, fs::last_write_time(strClip) + 1s);
    WaveformLoader loader([](PcmSampleFormat) { return std::unique_ptr<IAudioDecoder>(); }, cacheDir.Path());
    loader.Load(strClip);
    ASSERT_TRUE(loader.WaitUntilSettled(20s));
    EXPECT_EQ(loader.GetState(), WaveformLoader::State::NoAudio);
}

TEST(WaveformCacheTest, ASummaryCutShortByAFailureIsNotKeptForLaterSessions) {
    MediaFactory media;
    TempDir cacheDir;
    const std::string strClip = media.MakeTone("tone.wav", 3.0, 8000, 1, {"-c:a", "pcm_s16le"});
    // Fails after its first fill, as a file that is still being written does.
    const AudioDecoderFactory failing = [](PcmSampleFormat format) -> std::unique_ptr<IAudioDecoder> {
        class Cut : public IAudioDecoder {
        public:
            explicit Cut(std::unique_ptr<IAudioDecoder> pInner) : m_pInner(std::move(pInner)) {}
            int OpenFile(const std::string &strPath) override { return m_pInner->OpenFile(strPath); }
            int GetDuration(int64_t &llDuration) override { return m_pInner->GetDuration(llDuration); }
            int GetFormat(WaveFormat &wfx) override { return m_pInner->GetFormat(wfx); }
            int Run() override { return m_pInner->Run(); }
            int Seek(int64_t llTime) override { return m_pInner->Seek(llTime); }
            int Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) override {
                return m_nFills++ == 0 ? m_pInner->Fill(pBuffer, nFrames, nFilled) : -1;
            }

        private:
            std::unique_ptr<IAudioDecoder> m_pInner;
            int m_nFills = 0;
        };
        return std::make_unique<Cut>(CreateFfmpegAudioDecoder(format));
    };
    {
        WaveformLoader loader(failing, cacheDir.Path());
        loader.Load(strClip);
        ASSERT_TRUE(loader.WaitUntilSettled(20s));
        ASSERT_EQ(loader.GetState(), WaveformLoader::State::Failed);
    }
    WaveformLoader loader(CreateFfmpegAudioDecoder, cacheDir.Path());
    loader.Load(strClip);
    ASSERT_TRUE(loader.WaitUntilSettled(20s));
    ASSERT_EQ(loader.GetState(), WaveformLoader::State::Complete);
    EXPECT_EQ(loader.Snapshot().GetFramesAdded(), 3u * 8000u);
}

}  // namespace klangor

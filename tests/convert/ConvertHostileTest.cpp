// klangor-convert where the system says no: folders and files the user may not touch, and a disk that
// fills up mid-file. Judged as the user sees it: exit status, the "FILE: reason" lines, the files in the
// folders. The permission cases need an unprivileged user (root may write anything) and the full-disk
// case the small filesystem named by KLANGOR_FULL_DISK_DIR; CI's unprivileged-user stage provides both.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "ConvertProgram.h"
#include "support/MediaFactory.h"

namespace fs = std::filesystem;

namespace {


bool HasLine(const std::string &strText, const std::string &strLine) {
    return ("\n" + strText).find("\n" + strLine + "\n") != std::string::npos;
}

#define SKIP_UNLESS_UNPRIVILEGED()                                                                     \
    if (::geteuid() == 0)                                                                               \
    GTEST_SKIP() << "root writes whatever the permissions say; this case runs in CI's unprivileged-user " \
                    "stage"

TEST(ConvertHostile, ReadOnlyOutputFolderFailsEveryJobAndKeepsWhatIsThere) {
    SKIP_UNLESS_UNPRIVILEGED();
    MediaFactory media;
    const std::string strA = media.MakeTone("a.wav", 1, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strB = media.MakeTone("b.ogg", 1, 8000, 1, {"-c:a", "libvorbis"});
    const fs::path out = media.Dir() / "out";
    fs::create_directory(out);
    media.MakeRaw("out/older.mp3", "an older conversion");
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
    for (const bool bWav : {false, true}) {
        std::vector<std::string> args = {"-o", out.string(), strA, strB};
        if (bWav)
            args.insert(args.begin(), "--wav");
        const CommandResult result = Convert(args);
        EXPECT_EQ(result.iExitStatus, 1) << result.strStderr;
        EXPECT_TRUE(HasLine(result.strStderr, strA + ": Cannot create output file")) << result.strStderr;
        EXPECT_TRUE(HasLine(result.strStderr, strB + ": Cannot create output file")) << result.strStderr;
        EXPECT_EQ(FileNamesIn(out), std::vector<std::string>{"older.mp3"});
        EXPECT_EQ(ReadFileBytes((out / "older.mp3").string()), "an older conversion");
    }
    fs::permissions(out, fs::perms::owner_all);
}

TEST(ConvertHostile, UnreadableMediaFailsItsOwnJobOnly) {
    SKIP_UNLESS_UNPRIVILEGED();
    MediaFactory media;
    const std::string strLocked = media.MakeTone("locked.wav", 1, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strOpen = media.MakeTone("open.wav", 1, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strBytes = ReadFileBytes(strLocked);
    fs::permissions(strLocked, fs::perms::none);
    const fs::path out = media.Dir() / "out";
    const CommandResult result = Convert({"--wav", "-o", out.string(), strLocked, strOpen});
    fs::permissions(strLocked, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(result.iExitStatus, 1) << result.strStderr;
    EXPECT_TRUE(HasLine(result.strStderr, strLocked + ": Can not find audio in you Media file!")) << result.strStderr;
    EXPECT_EQ(FileNamesIn(out), std::vector<std::string>{"open.wav.wav"});
    EXPECT_EQ(ReadFileBytes(strLocked), strBytes);
    EXPECT_EQ(FileNamesIn(media.Dir()), (std::vector<std::string>{"locked.wav", "open.wav", "out"}))
        << "no cut-info file or anything else appears beside the sources";
}

TEST(ConvertHostile, OutputFillingTheDiskFailsLeavesNoFileAndTheBatchGoesOn) {
    const char *szFolder = std::getenv("KLANGOR_FULL_DISK_DIR");
    if (szFolder == nullptr || *szFolder == '\0') {
        GTEST_SKIP() << "needs a small filesystem of its own (KLANGOR_FULL_DISK_DIR), which CI mounts";
    }
    MediaFactory media;
    const fs::path out = fs::path(szFolder) / ("convert-" + std::to_string(::getpid()));
    fs::create_directories(out);
    const std::uintmax_t nFree = fs::space(out).available;
    // Ten times what the disk holds as WAV, then a small file that fits once the big one is gone.
    const int iSeconds = static_cast<int>(nFree * 10 / (44100 * 4)) + 1;
    const std::string strBig = media.MakeTone("big.flac", iSeconds, 44100, 2, {"-c:a", "flac"});
    const std::string strSmall = media.MakeTone("small.wav", 1, 8000, 1, {"-c:a", "pcm_s16le"});
    const CommandResult result = Convert({"--wav", "-o", out.string(), strBig, strSmall});
    const std::vector<std::string> names = FileNamesIn(out);
    const bool bSmallWhole = fs::exists(out / "small.wav.wav") && fs::file_size(out / "small.wav.wav") == 44u + 16000u;
    fs::remove_all(out);
    EXPECT_EQ(result.iExitStatus, 1) << result.strStderr;
    EXPECT_TRUE(HasLine(result.strStderr, strBig + ": Error writing mp3 output") ||
                HasLine(result.strStderr, strBig + ": Cannot create output file"))
        << result.strStderr;
    EXPECT_EQ(names, std::vector<std::string>{"small.wav.wav"}) << "the failed file must not stay behind";
    EXPECT_TRUE(bSmallWhole);
}

TEST(ConvertHostile, CoverFillingTheDiskFailsAndKeepsTheEarlierOutput) {
    const char *szFolder = std::getenv("KLANGOR_FULL_DISK_DIR");
    if (szFolder == nullptr || *szFolder == '\0') {
        GTEST_SKIP() << "needs a small filesystem of its own (KLANGOR_FULL_DISK_DIR), which CI mounts";
    }
    MediaFactory media;
    const fs::path out = fs::path(szFolder) / ("tags-" + std::to_string(::getpid()));
    fs::create_directories(out);
    // A second of audio fits; a cover of noise bigger than the whole disk does not.
    const std::string strCover =
        media.Make("cover.png", {"-f", "lavfi", "-i", "color=s=768x768,noise=alls=100:allf=u"}, {"-frames:v", "1"});
    const std::string strSong = media.Make("song.flac", {"-f", "lavfi", "-i", "sine=d=1", "-i", strCover},
                                           {"-map", "0", "-map", "1", "-c:a", "flac", "-c:v", "copy",
                                            "-disposition:v", "attached_pic", "-metadata", "title=Song"});
    ASSERT_GT(fs::file_size(strCover), fs::space(out).capacity);
    const CommandResult first = Convert({"-q", "--no-tags", "-o", out.string(), strSong});
    const std::string strEarlier = ReadFileBytes((out / "song.flac.mp3").string());
    const CommandResult second = Convert({"-o", out.string(), strSong});
    const std::string strAfter = ReadFileBytes((out / "song.flac.mp3").string());
    const std::vector<std::string> names = FileNamesIn(out);
    fs::remove_all(out);
    ASSERT_EQ(first.iExitStatus, 0) << first.strStderr;
    EXPECT_EQ(second.iExitStatus, 1) << second.strStderr;
    EXPECT_TRUE(HasLine(second.strStderr, strSong + ": Error writing mp3 output")) << second.strStderr;
    EXPECT_TRUE(!strEarlier.empty() && strAfter == strEarlier) << "the earlier output must stay as it was";
    EXPECT_EQ(names, std::vector<std::string>{"song.flac.mp3"}) << "no temporary may stay behind";
}

}  // namespace

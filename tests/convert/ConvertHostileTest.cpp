// klangor-convert where the system says no: folders and files the user may not touch, links another
// user planted, names at the file system's limit, and a disk that fills up mid-file. Judged as the user
// sees it: exit status, the "FILE: reason" lines, the files in the folders. The permission cases need an
// unprivileged user (root may write anything), the planted links a shared folder prepared by root
// (KLANGOR_SHARED_DIR) and the full-disk case the small filesystem named by KLANGOR_FULL_DISK_DIR; CI's
// unprivileged-user stage provides all three.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "ConvertProgram.h"
#include "clips/CutInfo.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

bool HasLine(const std::string &strText, const std::string &strLine) {
    return ("\n" + strText).find("\n" + strLine + "\n") != std::string::npos;
}

#define SKIP_UNLESS_UNPRIVILEGED()                                                                        \
    if (::geteuid() == 0)                                                                                 \
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
        if (bWav) {
            args.insert(args.begin(), "--wav");
        }
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
    EXPECT_TRUE(HasLine(result.strStderr, strLocked + ": Can not find audio in you Media file!"))
        << result.strStderr;
    EXPECT_EQ(FileNamesIn(out), std::vector<std::string>{"open.wav.wav"});
    EXPECT_EQ(ReadFileBytes(strLocked), strBytes);
    EXPECT_EQ(FileNamesIn(media.Dir()), (std::vector<std::string>{"locked.wav", "open.wav", "out"}))
        << "no cut-info file or anything else appears beside the sources";
}

// A sticky folder anyone may write, as the system's temporary folder is, where another user made the
// names of the next output and cut-info record links to a file of this user's.
TEST(ConvertHostile, LinksAnotherUserPlantedInASharedFolderAreNeverWrittenThrough) {
    const char *szShared = std::getenv("KLANGOR_SHARED_DIR");
    if (szShared == nullptr || *szShared == '\0') {
        GTEST_SKIP()
            << "needs a sticky folder with links of another user's (KLANGOR_SHARED_DIR), which CI makes";
    }
    const fs::path shared = szShared;
    const fs::path notes = fs::read_symlink(shared / "talk.wav.mp3");
    ASSERT_EQ(fs::read_symlink(shared / "talk.wav.clipinfo"), notes);
    const std::string strNotes = ReadFileBytes(notes.string());
    MediaFactory media;
    const std::string strSource = (shared / "talk.wav").string();
    fs::copy_file(media.MakeTone("talk.wav", 1, 8000, 1, {"-c:a", "pcm_s16le"}), strSource);
    std::string strError;
    const bool bRecordSaved = WriteCutInfo(strSource, ClipInfo{100, 10, 50}, &strError);
    const CommandResult result = Convert({"-o", shared.string(), strSource});
    fs::remove(strSource);
    EXPECT_FALSE(bRecordSaved);
    EXPECT_EQ(strError, "Access to " + strSource + ".clipinfo was denied.");
    EXPECT_EQ(result.iExitStatus, 1) << result.strStderr;
    EXPECT_TRUE(HasLine(result.strStderr, strSource + ": Cannot create output file")) << result.strStderr;
    EXPECT_TRUE(ReadFileBytes(notes.string()) == strNotes)
        << "the user's own file was written through the link";
    EXPECT_EQ(FileNamesIn(shared), (std::vector<std::string>{"talk.wav.clipinfo", "talk.wav.mp3"}));
    EXPECT_TRUE(fs::is_symlink(shared / "talk.wav.mp3"));
    EXPECT_TRUE(fs::is_symlink(shared / "talk.wav.clipinfo"));
}

// A name takes up to 255 bytes; the hidden temporaries beside it must not make a shorter limit of that.
TEST(ConvertHostile, NamesAsLongAsTheFileSystemAllowsAreConvertedAndTheirSelectionKept) {
    struct Case {
        size_t nSourceBytes;
        bool bWav;
    };
    // 246 bytes make a cut-info record of exactly 255; 251 an output of exactly 255, with no room left
    // for a record at all.
    for (const Case &c : {Case{240, false}, Case{246, false}, Case{251, false}, Case{251, true}}) {
        SCOPED_TRACE(std::to_string(c.nSourceBytes) + (c.bWav ? " wav" : " mp3"));
        // Two-byte characters too, so a shortened name must be cut between characters.
        std::string strName = "Vortrag-\xc3\xa4\xc3\xb6\xc3\xbc-";
        strName += std::string(c.nSourceBytes - strName.size() - 4, 'x') + ".wav";
        ASSERT_EQ(strName.size(), c.nSourceBytes);
        MediaFactory media;
        const std::string strSource = media.MakeTone(strName, 2, 8000, 1, {"-c:a", "pcm_s16le"});
        const bool bRecordFits = c.nSourceBytes + 9 <= 255;
        std::string strError;
        EXPECT_EQ(WriteCutInfo(strSource, ClipInfo{200, 50, 100}, &strError), bRecordFits) << strError;
        const fs::path out = media.Dir() / "out";
        std::vector<std::string> args = {"-o", out.string(), strSource};
        if (c.bWav) {
            args.insert(args.begin(), "--wav");
        }
        const CommandResult result = Convert(args);
        EXPECT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strOutput = strName + (c.bWav ? ".wav" : ".mp3");
        ASSERT_EQ(FileNamesIn(out), std::vector<std::string>{strOutput});
        const double dSeconds = std::stod(ProbeFormat((out / strOutput).string()).at("duration"));
        EXPECT_NEAR(dSeconds, bRecordFits ? 0.5 : 2.0, 0.2) << "an MP3 at 8 kHz counts its padding frames";
        std::vector<std::string> beside = {strName, "out"};
        if (bRecordFits) {
            beside.insert(beside.begin() + 1, strName + ".clipinfo");
        }
        EXPECT_EQ(FileNamesIn(media.Dir()), beside);
    }
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
    const bool bSmallWhole =
        fs::exists(out / "small.wav.wav") && fs::file_size(out / "small.wav.wav") == 44u + 16000u;
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
    const std::string strCover = media.Make(
        "cover.png", {"-f", "lavfi", "-i", "color=s=768x768,noise=alls=100:allf=u"}, {"-frames:v", "1"});
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

}  // namespace klangor

// The cut-info file as a file the user owns: links, modes, owners, read-only folders, full disks and
// the temporaries a write leaves (none). The permission cases need an unprivileged user (root writes
// anything); CI runs this program once more as one. The full-disk case needs the small filesystem CI
// mounts for it, named by KLANGOR_FULL_DISK_DIR.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <filesystem>
#include <fstream>

#include "clips/CutInfo.h"
#include "common/SidecarFile.h"
#include "support/MediaFactory.h"
#include "support/TempDir.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

const char *const kRecord = "Owner=Vellumar\r\nCutInfo=10,2,3,0;";

std::string ReadWhole(const fs::path &path) {
    return ReadFileBytes(path.string());
}

void WriteWhole(const fs::path &path, const std::string &strText) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << strText;
}

struct stat StatOf(const fs::path &path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

bool IsRoot() {
    return ::geteuid() == 0;
}

#define SKIP_UNLESS_UNPRIVILEGED()                                                                        \
    if (IsRoot())                                                                                         \
    GTEST_SKIP() << "root writes whatever the permissions say; this case runs in CI's unprivileged-user " \
                    "stage"

class CutInfoFiles : public ::testing::Test {
protected:
    TempDir m_dir;
    std::string m_strMedia = (m_dir.Path() / "movie.avi").string();
    std::string m_strCutInfo = m_strMedia + ".clipinfo";
};

TEST_F(CutInfoFiles, SymbolicLinkIsWrittenThroughAndStaysALink) {
    fs::create_directory(m_dir.Path() / "kept");
    const fs::path target = m_dir.Path() / "kept" / "real.clipinfo";
    WriteWhole(target, "old");
    fs::create_symlink("kept/real.clipinfo", m_strCutInfo);
    std::string strError;
    ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}, &strError)) << strError;
    EXPECT_TRUE(fs::is_symlink(m_strCutInfo));
    EXPECT_EQ(ReadWhole(target), kRecord);
    EXPECT_EQ(FileNamesIn(m_dir.Path() / "kept"), std::vector<std::string>{"real.clipinfo"});

    // A link whose target does not exist yet gets its target created.
    fs::remove(target);
    ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}, &strError)) << strError;
    EXPECT_TRUE(fs::is_symlink(m_strCutInfo));
    EXPECT_EQ(ReadWhole(target), kRecord);

    // A circle of links is no file: reported, nothing created.
    fs::remove(m_strCutInfo);
    const std::string strOther = (m_dir.Path() / "other.clipinfo").string();
    fs::create_symlink(strOther, m_strCutInfo);
    fs::create_symlink(m_strCutInfo, strOther);
    EXPECT_FALSE(WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}, &strError));
    EXPECT_EQ(strError, m_strCutInfo + " contains an invalid path.");
}

// A pipe under the record's name would hold whoever reads it (the window's thread, a conversion) until
// some writer came; it is no record at all.
TEST_F(CutInfoFiles, APipeUnderTheRecordsNameIsNoRecordAndIsNeverWaitedOn) {
    ASSERT_EQ(::mkfifo(m_strCutInfo.c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [this] {
        uint32_t nDuration = 0, nStart = 0, nEnd = 0;
        return ReadCutInfo(m_strMedia, nDuration, nStart, nEnd);
    });
    const bool bReturned = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!bReturned) {
        // Lets the stuck reader go, so that the test ends.
        ::close(::open(m_strCutInfo.c_str(), O_WRONLY | O_CLOEXEC));
    }
    EXPECT_TRUE(bReturned) << "the read waited for a writer";
    EXPECT_FALSE(read.get());
}

TEST_F(CutInfoFiles, ModeAndHardLinksAreKept) {
    WriteWhole(m_strCutInfo, "old");
    ::chmod(m_strCutInfo.c_str(), 0640);
    ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}));
    EXPECT_EQ(StatOf(m_strCutInfo).st_mode & 07777, 0640u);

    const fs::path second = m_dir.Path() / "second-name";
    fs::create_hard_link(m_strCutInfo, second);
    ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{20, 2, 3}));
    EXPECT_EQ(ReadWhole(second), "Owner=Vellumar\r\nCutInfo=20,2,3,0;") << "the other name lost the file";
}

TEST_F(CutInfoFiles, OwnerIsKept) {
    if (!IsRoot()) {
        GTEST_SKIP() << "giving the file another owner needs root";
    }
    WriteWhole(m_strCutInfo, "old");
    ::chmod(m_strCutInfo.c_str(), 0640);
    ASSERT_EQ(::chown(m_strCutInfo.c_str(), 4321, 4322), 0);
    ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{30, 2, 3}));
    const struct stat st = StatOf(m_strCutInfo);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadWhole(m_strCutInfo), "Owner=Vellumar\r\nCutInfo=30,2,3,0;");
}

TEST_F(CutInfoFiles, LeftoversOfDeadRunsGoAndNoTemporaryStays) {
    // A process that has ended: its id names no running writer.
    const pid_t pidDead = ::fork();
    if (pidDead == 0) {
        ::_exit(0);
    }
    ASSERT_GT(pidDead, 0);
    ::waitpid(pidDead, nullptr, 0);
    const std::string strDead =
        m_strCutInfo + kSidecarTempMarker + std::to_string(pidDead) + "-0011223344556677";
    const std::string strLive =
        m_strCutInfo + kSidecarTempMarker + std::to_string(::getppid()) + "-8899aabbccddeeff";
    const std::string strForeign =
        (m_dir.Path() / "other.avi.clipinfo").string() + kSidecarTempMarker + "1-00";
    WriteWhole(strDead, "half");
    WriteWhole(strLive, "being written");
    WriteWhole(strForeign, "not ours to judge");

    ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}));
    ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}));
    EXPECT_FALSE(fs::exists(strDead));
    EXPECT_TRUE(fs::exists(strLive)) << "a writer that still runs keeps its temporary";
    EXPECT_TRUE(fs::exists(strForeign)) << "another file's temporaries are left to its own writes";
    fs::remove(strLive);
    fs::remove(strForeign);
    EXPECT_EQ(FileNamesIn(m_dir.Path()), std::vector<std::string>{"movie.avi.clipinfo"});
    EXPECT_EQ(ReadWhole(m_strCutInfo), kRecord);
}

TEST_F(CutInfoFiles, FolderRefusingNewFilesIsWrittenInPlace) {
    SKIP_UNLESS_UNPRIVILEGED();
    WriteWhole(m_strCutInfo, "Owner=Vellumar\r\nCutInfo=123456789,1,2,0;");
    fs::permissions(m_dir.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    std::string strError;
    const bool bWritten = WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}, &strError);
    const std::string strText = ReadWhole(m_strCutInfo);
    fs::permissions(m_dir.Path(), fs::perms::owner_all);
    EXPECT_TRUE(bWritten) << strError;
    EXPECT_EQ(strText, kRecord) << "the longer old record must not leave its tail";
    EXPECT_EQ(FileNamesIn(m_dir.Path()), std::vector<std::string>{"movie.avi.clipinfo"});

    // With no file to rewrite, the folder's refusal is what the user hears.
    fs::remove(m_strCutInfo);
    fs::permissions(m_dir.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool bCreated = WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}, &strError);
    fs::permissions(m_dir.Path(), fs::perms::owner_all);
    EXPECT_FALSE(bCreated);
    EXPECT_EQ(strError, "Access to " + m_strCutInfo + " was denied.");
    EXPECT_TRUE(FileNamesIn(m_dir.Path()).empty());
}

TEST_F(CutInfoFiles, UnwritableFileIsDeniedAndKeptEvenInAWritableFolder) {
    SKIP_UNLESS_UNPRIVILEGED();
    const std::string strOld = "Owner=Vellumar\r\nCutInfo=7,1,2,0;";
    WriteWhole(m_strCutInfo, strOld);
    ::chmod(m_strCutInfo.c_str(), 0444);
    std::string strError;
    EXPECT_FALSE(WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}, &strError));
    EXPECT_EQ(strError, "Access to " + m_strCutInfo + " was denied.");
    EXPECT_EQ(ReadWhole(m_strCutInfo), strOld);
    EXPECT_EQ(StatOf(m_strCutInfo).st_mode & 07777, 0444u);
    fs::permissions(m_dir.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(WriteCutInfo(m_strMedia, ClipInfo{10, 2, 3}, &strError));
    fs::permissions(m_dir.Path(), fs::perms::owner_all);
    EXPECT_EQ(strError, "Access to " + m_strCutInfo + " was denied.");
    EXPECT_EQ(ReadWhole(m_strCutInfo), strOld);
    EXPECT_EQ(FileNamesIn(m_dir.Path()), std::vector<std::string>{"movie.avi.clipinfo"});
}

// The kernel's rule for links in shared folders (fs.protected_symlinks), which the writers apply to every
// link they would follow themselves.
TEST(LinkRule, AnotherUsersLinkInASharedStickyFolderIsFollowedOnlyWhenThatUserOwnsTheFolder) {
    const uid_t me = 1000, other = 2000, root = 0;
    struct Case {
        uid_t link, folderOwner;
        mode_t folderMode;
        bool bFollowed;
    };
    const Case cases[] = {
        {other, root, 01777, false},                              // planted in the system's temporary folder
        {other, me, 01777, false},                                // planted in a shared folder of mine
        {me, root, 01777, true},                                  // my own link
        {other, other, 01777, true},                              // the folder owner's own link
        {root, root, 01777, true},   {other, root, 00777, true},  // not sticky: nothing shared to guard
        {other, root, 01775, true},                               // sticky, but only its group may write
        {other, root, 01755, true},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(MayFollowLink(c.link, c.folderOwner, S_IFDIR | c.folderMode, me), c.bFollowed)
            << c.link << " in " << c.folderOwner << "'s " << std::oct << c.folderMode;
    }
}

// The small filesystem is filled up to its last block before each write.
TEST(CutInfoFullDisk, FullDiskIsReportedAndTheOldRecordKept) {
    const char *szFolder = std::getenv("KLANGOR_FULL_DISK_DIR");
    if (szFolder == nullptr || *szFolder == '\0') {
        GTEST_SKIP() << "needs a small filesystem of its own (KLANGOR_FULL_DISK_DIR), which CI mounts";
    }
    const fs::path folder = fs::path(szFolder) / ("cutinfo-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string strMedia = (folder / "movie.avi").string();
    const std::string strOld = "Owner=Vellumar\r\nCutInfo=7,1,2,0;";
    WriteWhole(strMedia + ".clipinfo", strOld);
    {
        // Fill every free block; the last write fails with the disk full.
        std::ofstream filler(folder / "filler", std::ios::binary);
        const std::string strBlock(64 * 1024, 'x');
        while (filler.write(strBlock.data(), static_cast<std::streamsize>(strBlock.size()))) {
        }
    }
    std::string strError;
    const bool bReplaced = WriteCutInfo(strMedia, ClipInfo{10, 2, 3}, &strError);
    const bool bCreated = WriteCutInfo((folder / "new.avi").string(), ClipInfo{10, 2, 3}, &strError);
    const std::vector<std::string> names = FileNamesIn(folder);
    const std::string strKept = ReadWhole(strMedia + ".clipinfo");
    fs::remove_all(folder);
    EXPECT_FALSE(bReplaced);
    EXPECT_FALSE(bCreated);
    EXPECT_EQ(strError, "Disk full while accessing " + (folder / "new.avi").string() + ".clipinfo.");
    EXPECT_EQ(strKept, strOld);
    EXPECT_EQ(names, (std::vector<std::string>{"filler", "movie.avi.clipinfo"}));
}

}  // namespace

}  // namespace klangor

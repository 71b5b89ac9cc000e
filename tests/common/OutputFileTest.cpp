#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/OutputFile.h"
#include "support/MediaFactory.h"
#include "support/TempDir.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> NamesIn(const fs::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteText(const fs::path &path, const std::string &strText) {
    std::ofstream(path, std::ios::binary) << strText;
}

// A pid that no process has: a child that has ended and been collected.
pid_t DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

TEST(OutputFileTest, FinalNameKeepsTheEarlierFileUntilTheNewOneIsComplete) {
    TempDir dir;
    const fs::path final = dir.Path() / "song.mp3";
    WriteText(final, "earlier");
    OutputFile file;
    ASSERT_TRUE(file.Create(final.string()));
    const fs::path temp = file.GetTempPath();
    EXPECT_EQ(temp.parent_path(), dir.Path()) << "beside the output, so the rename stays on one disk";
    EXPECT_EQ(temp.filename().string().rfind(".song.mp3.part-" + std::to_string(::getpid()) + "-", 0), 0u)
        << temp;
    std::fputs("new and complete", file.Get());
    std::fflush(file.Get());
    EXPECT_EQ(ReadFileBytes(final.string()), "earlier");
    ASSERT_TRUE(file.Keep());
    EXPECT_EQ(ReadFileBytes(final.string()), "new and complete");
    EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"song.mp3"});
}

TEST(OutputFileTest, DiscardAndDestructionLeaveNothingAndTouchNoEarlierFile) {
    TempDir dir;
    const fs::path final = dir.Path() / "a.wav";
    WriteText(final, "earlier");
    {
        OutputFile file;
        ASSERT_TRUE(file.Create(final.string()));
        std::fputs("half", file.Get());
        file.Discard();
        ASSERT_TRUE(file.Create((dir.Path() / "b.wav").string()));
        std::fputs("half", file.Get());
    }
    EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"a.wav"});
    EXPECT_EQ(ReadFileBytes(final.string()), "earlier");
}

TEST(OutputFileTest, ALinkedOutputKeepsItsLinkAndDevicesAreWrittenInPlace) {
    TempDir dir;
    fs::create_directory(dir.Path() / "real");
    WriteText(dir.Path() / "real" / "target.mp3", "earlier");
    fs::create_symlink(dir.Path() / "real" / "target.mp3", dir.Path() / "link.mp3");
    OutputFile file;
    ASSERT_TRUE(file.Create((dir.Path() / "link.mp3").string()));
    std::fputs("new", file.Get());
    ASSERT_TRUE(file.Keep());
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "link.mp3"));
    EXPECT_EQ(ReadFileBytes((dir.Path() / "real" / "target.mp3").string()), "new");

    ASSERT_TRUE(file.Create("/dev/null"));
    EXPECT_TRUE(file.GetTempPath().empty());
    std::fputs("gone", file.Get());
    EXPECT_TRUE(file.Keep());
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST(OutputFileTest, ExclusiveNamesNeverShareATemporary) {
    TempDir dir;
    const std::string strFinal = (dir.Path() / "x.mp3").string();
    OutputFile first, second;
    ASSERT_TRUE(first.Create(strFinal));
    ASSERT_TRUE(second.Create(strFinal));
    EXPECT_NE(first.GetTempPath(), second.GetTempPath());
    EXPECT_FALSE(OutputFile().Create((dir.Path() / "missing" / "x.mp3").string()));
}

TEST(OutputFileTest, StaleTemporariesOfDeadRunsGoAndEverythingElseStays) {
    TempDir dir;
    const std::string strDead = ".a.mp3.part-" + std::to_string(DeadPid()) + "-Ab3dEf";
    const std::string strAlive = ".b.mp3.part-" + std::to_string(::getppid()) + "-Ab3dEf";
    const std::vector<std::string> kept = {".c.mp3.part-x-Ab3dEf", ".hidden", "d.mp3", "e.mp3.part-1-Ab3dEf",
                                           strAlive};
    WriteText(dir.Path() / strDead, "x");
    for (const std::string &strName : kept) {
        WriteText(dir.Path() / strName, "x");
    }
    // A run killed while writing an output whose name takes all 255 bytes: its temporary, named after
    // only the start of that name, goes too.
    const pid_t pidKilled = ::fork();
    if (pidKilled == 0) {
        OutputFile file;
        ::_exit(file.Create((dir.Path() / (std::string(251, 'g') + ".mp3")).string()) ? 0 : 1);
    }
    int iStatus = -1;
    ::waitpid(pidKilled, &iStatus, 0);
    ASSERT_EQ(iStatus, 0);
    ASSERT_EQ(NamesIn(dir.Path()).size(), kept.size() + 2);
    OutputFile live;
    ASSERT_TRUE(live.Create((dir.Path() / "f.mp3").string()));
    OutputFile::RemoveStaleTemporaries(dir.Path().string());
    std::vector<std::string> expected = kept;
    expected.push_back(fs::path(live.GetTempPath()).filename().string());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NamesIn(dir.Path()), expected);
}

}  // namespace

}  // namespace klangor

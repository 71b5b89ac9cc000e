#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "clips/CutInfo.h"
#include "support/TempDir.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWhole(const fs::path &path, const std::string &strText) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << strText;
}

class CutInfoTest : public ::testing::Test {
protected:
    TempDir m_dir;
    std::string m_strMedia = (m_dir.Path() / "movie.avi").string();
    uint32_t m_nDuration = 11, m_nStart = 22, m_nEnd = 33;

    bool Read() { return ReadCutInfo(m_strMedia, m_nDuration, m_nStart, m_nEnd); }
    void ExpectUntouched() {
        EXPECT_EQ(m_nDuration, 11u);
        EXPECT_EQ(m_nStart, 22u);
        EXPECT_EQ(m_nEnd, 33u);
    }
};

TEST_F(CutInfoTest, RecordIsExactly41BytesWithNoTrailingLineBreak) {
    ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{12345, 100, 5000}));
    const std::string strText = ReadWhole(m_strMedia + ".clipinfo");
    EXPECT_EQ(strText, "Owner=Vellumar\r\nCutInfo=12345,100,5000,0;");
    EXPECT_EQ(strText.size(), 41u);
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_nDuration, 12345u);
    EXPECT_EQ(m_nStart, 100u);
    EXPECT_EQ(m_nEnd, 5000u);
}

TEST_F(CutInfoTest, RewriteReplacesTheWholeFileAndLeavesNoTemporary) {
    WriteWhole(m_strMedia + ".clipinfo", "Owner=Someone\r\nCutInfo=99999999,1,2,0;   and a long tail");
    ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{1, 0, 1}));
    EXPECT_EQ(ReadWhole(m_strMedia + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=1,0,1,0;");
    int nFiles = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator(m_dir.Path())) {
        ++nFiles;
    }
    EXPECT_EQ(nFiles, 1);
}

TEST_F(CutInfoTest, OwnerDifferingOnlyInCaseIsForeign) {
    WriteWhole(m_strMedia + ".clipinfo", "Owner=vellumar\r\nCutInfo=500,1,2,0;");
    EXPECT_FALSE(Read());
    ExpectUntouched();
    WriteWhole(m_strMedia + ".clipinfo", "Owner=Vellumarx\r\nCutInfo=500,1,2,0;");
    EXPECT_FALSE(Read());
    ExpectUntouched();
}

TEST_F(CutInfoTest, FourthFieldIsNotInterpreted) {
    WriteWhole(m_strMedia + ".clipinfo", "Owner=Vellumar\r\nCutInfo=500,100,200,7;");
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_nEnd, 200u);
}

TEST_F(CutInfoTest, PartialRecordSetsOnlyWhatItHolds) {
    WriteWhole(m_strMedia + ".clipinfo", "Owner=Vellumar\r\nCutInfo=500");
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_nDuration, 500u);
    EXPECT_EQ(m_nStart, 22u);
    EXPECT_EQ(m_nEnd, 33u);
}

TEST_F(CutInfoTest, LineBreakMatchesAnyWhiteSpace) {
    WriteWhole(m_strMedia + ".clipinfo", "Owner=Vellumar\nCutInfo=7,8,9,0;");
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_nEnd, 9u);
}

TEST_F(CutInfoTest, EmptyMissingAndMalformedFilesGiveFalse) {
    EXPECT_FALSE(Read());  // missing
    WriteWhole(m_strMedia + ".clipinfo", "");
    EXPECT_FALSE(Read());
    WriteWhole(m_strMedia + ".clipinfo", "CutInfo=1,2,3,0;");
    EXPECT_FALSE(Read());
    ExpectUntouched();
    EXPECT_FALSE(ReadCutInfo("", m_nDuration, m_nStart, m_nEnd));
    ExpectUntouched();
}

TEST_F(CutInfoTest, OverflowingNumberStopsParsingInsteadOfWrapping) {
    WriteWhole(m_strMedia + ".clipinfo", "Owner=Vellumar\r\nCutInfo=500,99999999999,3,0;");
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_nDuration, 500u);
    EXPECT_EQ(m_nStart, 22u);
}

TEST_F(CutInfoTest, OnlyTheFirst1024BytesAreParsed) {
    WriteWhole(m_strMedia + ".clipinfo", "Owner=Vellumar" + std::string(1100, ' ') + "CutInfo=5,6,7,0;");
    EXPECT_TRUE(Read());
    ExpectUntouched();
}

TEST(CutInfo, SidecarNamesKeepTheWholeMediaName) {
    EXPECT_EQ(CutInfoPath("/x/a.mp3"), "/x/a.mp3.clipinfo");
    EXPECT_EQ(CutInfoPath("/x/a.mp3.mp3"), "/x/a.mp3.mp3.clipinfo");
}

TEST(CutInfo, EmptyMediaPathWritesNothing) {
    std::string strError = "unchanged";
    EXPECT_FALSE(WriteCutInfo("", ClipInfo{1, 2, 3}, &strError));
}

TEST_F(CutInfoTest, MissingFolderReportsNotFoundWithTheCutInfoPath) {
    const std::string strMedia = (m_dir.Path() / "nowhere" / "a.avi").string();
    std::string strError;
    EXPECT_FALSE(WriteCutInfo(strMedia, ClipInfo{1, 2, 3}, &strError));
    EXPECT_EQ(strError, strMedia + ".clipinfo was not found.");
}

TEST_F(CutInfoTest, FileInPlaceOfFolderReportsInvalidPathAndLeavesNothing) {
    WriteWhole(m_dir.Path() / "plain", "x");
    const std::string strMedia = (m_dir.Path() / "plain" / "a.avi").string();
    std::string strError;
    EXPECT_FALSE(WriteCutInfo(strMedia, ClipInfo{1, 2, 3}, &strError));
    EXPECT_EQ(strError, strMedia + ".clipinfo contains an invalid path.");
    EXPECT_EQ(ReadWhole(m_dir.Path() / "plain"), "x");
}

TEST(CutInfo, ErrorTextsFollowTheCause) {
    EXPECT_EQ(FileErrorText(ENOSPC, "/a"), "Disk full while accessing /a.");
    EXPECT_EQ(FileErrorText(EMFILE, "/a"), "/a could not be opened because there are too many open files.");
    EXPECT_EQ(FileErrorText(ENOTDIR, "/a"), "/a contains an invalid path.");
    EXPECT_EQ(FileErrorText(EIO, "/a"), "A hardware I/O error was reported while accessing /a.");
    EXPECT_EQ(FileErrorText(EXDEV, "/a"), "An unknown error occurred while accessing /a.");
    EXPECT_EQ(FileErrorText(0, "/a"), "No error occurred.");
}

}  // namespace

}  // namespace klangor

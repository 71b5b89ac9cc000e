#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "skin/SkinLayout.h"
#include "support/TempDir.h"

namespace klangor {

namespace {

SkinLayout LayoutOf(std::string strText) {
    SkinLayout layout;
    layout.SetText(std::move(strText));
    return layout;
}

constexpr SkinLayout::Values kUntouched = {-7, -7, -7, -7};

}  // namespace

TEST(SkinLayoutLookup, KeyInsideAnEarlierKeyIsFoundThere) {
    // "OUTPUT_PATH" is part of "EDIT_OUTPUT_PATH": whichever comes first answers both.
    const SkinLayout trapped = LayoutOf("EDIT_OUTPUT_PATH=100,200,300,20;\nOUTPUT_PATH=5,6,0,0;\n");
    SkinLayout::Values values = kUntouched;
    ASSERT_TRUE(trapped.GetValues("OUTPUT_PATH", values));
    EXPECT_EQ(values[0], 100);
    EXPECT_EQ(values[1], 200);

    const SkinLayout ordered = LayoutOf("OUTPUT_PATH=5,6,0,0;\nEDIT_OUTPUT_PATH=100,200,300,20;\n");
    ASSERT_TRUE(ordered.GetValues("OUTPUT_PATH", values));
    EXPECT_EQ(values[0], 5);
    EXPECT_EQ(values[1], 6);
    ASSERT_TRUE(ordered.GetValues("EDIT_OUTPUT_PATH", values));
    EXPECT_EQ(values[0], 100);
}

TEST(SkinLayoutLookup, MissingNumbersLeaveTheCallersValues) {
    const SkinLayout layout = LayoutOf("A=1,2;B=;C=9;D=3,x,5,6;");
    SkinLayout::Values values = kUntouched;
    int nRead = -1;
    ASSERT_TRUE(layout.GetValues("A", values, &nRead));
    EXPECT_EQ(nRead, 2);
    EXPECT_EQ(values, (SkinLayout::Values{1, 2, -7, -7}));

    values = kUntouched;
    ASSERT_TRUE(layout.GetValues("B", values, &nRead));
    EXPECT_EQ(nRead, 0);
    EXPECT_EQ(values, kUntouched);

    values = kUntouched;
    ASSERT_TRUE(layout.GetValues("D", values, &nRead));
    EXPECT_EQ(values, (SkinLayout::Values{3, -7, -7, -7}));
}

TEST(SkinLayoutLookup, ColourNumbersKeepTheirLowEightBits) {
    const SkinLayout layout = LayoutOf("red=255,0,0,0;wrap=256,511,-1,7;");
    SkinLayout::Values values = kUntouched;
    ASSERT_TRUE(layout.GetValues("red", values));
    EXPECT_EQ(SkinLayout::ColourComponent(values[0]), 255);
    EXPECT_EQ(SkinLayout::ColourComponent(values[1]), 0);
    EXPECT_EQ(SkinLayout::ColourComponent(values[2]), 0);
    ASSERT_TRUE(layout.GetValues("wrap", values));
    EXPECT_EQ(SkinLayout::ColourComponent(values[0]), 0);
    EXPECT_EQ(SkinLayout::ColourComponent(values[1]), 255);
    EXPECT_EQ(SkinLayout::ColourComponent(values[2]), 255);
}

TEST(SkinLayoutLookup, SeparatorIsAnyOneCharacterAndTextBetweenEntriesIsIgnored) {
    const SkinLayout layout = LayoutOf(
        "# the play row\r\nPLAY_MOVIE:12,34,0,0;\r\n\r\n-- stop below --\nSTOP_MOVIE 56, -78,\n9,10; "
        "trailing words");
    SkinLayout::Values values = kUntouched;
    ASSERT_TRUE(layout.GetValues("PLAY_MOVIE", values));
    EXPECT_EQ(values, (SkinLayout::Values{12, 34, 0, 0}));
    // The value runs over the line break up to the ";"; blanks before a number are allowed.
    ASSERT_TRUE(layout.GetValues("STOP_MOVIE", values));
    EXPECT_EQ(values, (SkinLayout::Values{56, -78, 9, 10}));
}

TEST(SkinLayoutLookup, BlankBeforeACommaEndsTheScan) {
    SkinLayout::Values values = kUntouched;
    EXPECT_EQ(klangor::ScanLayoutNumbers("1 ,2,3,4", values), 1);
    EXPECT_EQ(values, (SkinLayout::Values{1, -7, -7, -7}));
    values = kUntouched;
    EXPECT_EQ(klangor::ScanLayoutNumbers(" +8,\t-9,1,2,3", values), 4);
    EXPECT_EQ(values, (SkinLayout::Values{8, -9, 1, 2}));
    values = kUntouched;
    EXPECT_EQ(klangor::ScanLayoutNumbers("4294967296,99999999999", values), 2);
    EXPECT_EQ(values[0], 0);  // 2^32 wraps to its low 32 bits instead of overflowing
}

TEST(SkinLayoutLookup, BrokenEntriesFailWithoutTouchingOutputsOrReadingPastTheText) {
    SkinLayout::Values values = kUntouched;
    EXPECT_FALSE(LayoutOf("PLAY_MOVIE=1,2,3,4;").GetValues("STOP_MOVIE", values));
    EXPECT_FALSE(
        LayoutOf("x PLAY_MOVIE=").GetValues("PLAY_MOVIE", values));  // separator is the last character
    EXPECT_FALSE(LayoutOf("x PLAY_MOVIE").GetValues("PLAY_MOVIE", values));        // key ends the text
    EXPECT_FALSE(LayoutOf("PLAY_MOVIE=1,2,3,4").GetValues("PLAY_MOVIE", values));  // no ";"
    EXPECT_FALSE(LayoutOf("").GetValues("PLAY_MOVIE", values));
    EXPECT_EQ(values, kUntouched);

    // 99 characters of value are read; 100 are refused.
    const std::string str99 = "1,2,3,4" + std::string(92, ' ');
    ASSERT_EQ(str99.size(), 99u);
    EXPECT_TRUE(LayoutOf("K=" + str99 + ";").GetValues("K", values));
    EXPECT_EQ(values, (SkinLayout::Values{1, 2, 3, 4}));
    values = kUntouched;
    EXPECT_FALSE(LayoutOf("K=" + str99 + " ;").GetValues("K", values));
    EXPECT_EQ(values, kUntouched);
}

TEST(SkinLayoutFile, FileOverTheLimitIsRefusedUnread) {
    TempDir dir;
    const auto pathFile = dir.Path() / "position.txt";
    {
        std::ofstream out(pathFile, std::ios::binary);
        out << "MIN_WIN=1,2,0,0;\n" << std::string(SkinLayout::kMaxFileBytes - 17, '#');
    }
    SkinLayout layout;
    ASSERT_TRUE(layout.Load(pathFile)) << "a file of exactly the limit is read";
    EXPECT_EQ(layout.Text().size(), SkinLayout::kMaxFileBytes);
    {
        std::ofstream out(pathFile, std::ios::binary | std::ios::app);
        out << '#';
    }
    EXPECT_FALSE(layout.Load(pathFile));
    EXPECT_TRUE(layout.Text().empty());
    // Many megabytes, sparse so the test costs no disk: refused from its size alone.
    std::filesystem::resize_file(pathFile, std::uintmax_t{64} << 20);
    EXPECT_FALSE(layout.Load(pathFile));
    SkinLayout::Values values = kUntouched;
    EXPECT_FALSE(layout.GetValues("MIN_WIN", values));
}

TEST(SkinLayoutFile, LargeFileIsReadWholeAndMissingFileLeavesNoText) {
    TempDir dir;
    const auto pathFile = dir.Path() / "position.txt";
    {
        std::ofstream out(pathFile, std::ios::binary);
        out << "MIN_WIN=1,2,0,0;\n" << std::string(30000, '#') << "\nCLOSE_WIN=700,8,0,0;\n";
    }
    SkinLayout layout;
    ASSERT_TRUE(layout.Load(pathFile));
    SkinLayout::Values values = kUntouched;
    ASSERT_TRUE(layout.GetValues("CLOSE_WIN", values));
    EXPECT_EQ(values[0], 700);

    EXPECT_FALSE(layout.Load(dir.Path() / "nothing.txt"));
    EXPECT_TRUE(layout.Text().empty());
    ASSERT_TRUE(layout.Load(pathFile));
    EXPECT_FALSE(layout.Load(dir.Path()));  // a folder in the file's place
    EXPECT_TRUE(layout.Text().empty());
    EXPECT_FALSE(layout.GetValues("MIN_WIN", values));
}

}  // namespace klangor

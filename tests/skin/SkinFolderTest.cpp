#include <gtest/gtest.h>

#include <fstream>

#include "skin/SkinFolder.h"
#include "support/TempDir.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

void Touch(const fs::path &pathFile) {
    std::ofstream(pathFile) << "x";
}

}  // namespace

TEST(SkinFolder, NamesMatchWithoutRegardToCase) {
    TempDir dir;
    Touch(dir.Path() / "pausebutton.JPG");
    Touch(dir.Path() / "Helpbutton.jpg");
    EXPECT_EQ(klangor::SkinFilePath(dir.Path(), "Pausebutton.jpg"), dir.Path() / "pausebutton.JPG");
    EXPECT_EQ(klangor::SkinFilePath(dir.Path(), "Helpbutton.jpg"), dir.Path() / "Helpbutton.jpg");
    // A name that matches nothing still yields the expected path, so opening it fails plainly.
    EXPECT_EQ(klangor::SkinFilePath(dir.Path(), "cursor.gif"), dir.Path() / "cursor.gif");
    EXPECT_FALSE(klangor::FindNameIgnoringCase(dir.Path(), "pausebutton.jp").has_value());
}

TEST(SkinFolder, LowerCaseUiFolderIsFoundAndAFolderWithoutLayoutIsPassedOver) {
    TempDir first;
    TempDir second;
    fs::create_directory(first.Path() / "UI");  // no layout file: not a skin
    fs::create_directory(second.Path() / "ui");
    Touch(second.Path() / "ui" / "Position.txt");
    const auto found = klangor::FindSkinFolderIn({first.Path(), second.Path()});
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, second.Path() / "ui");
    EXPECT_FALSE(klangor::FindSkinFolderIn({first.Path()}).has_value());
}

}  // namespace klangor

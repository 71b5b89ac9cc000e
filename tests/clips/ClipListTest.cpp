#include <gtest/gtest.h>

#include <string>

#include "clips/ClipList.h"

namespace klangor {

namespace {

ClipList MakeList(std::initializer_list<const char *> paths) {
    ClipList list;
    for (const char *szPath : paths) {
        list.AddClip(szPath);
    }
    return list;
}

TEST(ClipList, FirstAddMakesEntryCurrentAndLaterAddsDoNot) {
    ClipList list;
    EXPECT_EQ(list.GetCurrentIndex(), -1);
    EXPECT_EQ(list.AddClip("/m/a.avi"), 0);
    EXPECT_EQ(list.GetCurrentIndex(), 0);
    list.SetCurrentIndex(0);
    EXPECT_EQ(list.AddClip("/m/b.avi"), 1);
    EXPECT_EQ(list.GetCurrentIndex(), 0);
}

TEST(ClipList, SameFileTwiceGivesTwoEntriesWithOneDisplayName) {
    ClipList list = MakeList({"/m/a.avi", "/m/a.avi"});
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(ClipDisplayName(list.GetClip(0)), ClipDisplayName(list.GetClip(1)));
}

TEST(ClipList, MovesAtTheEndsChangeNothing) {
    ClipList list = MakeList({"a", "b", "c"});
    list.SetCurrentIndex(1);
    list.MoveClipUp(0);
    list.MoveClipDown(2);
    EXPECT_EQ(list.GetClip(0), "a");
    EXPECT_EQ(list.GetClip(2), "c");
    EXPECT_EQ(list.GetCurrentIndex(), 1);
    ClipList empty;
    empty.MoveClipUp(0);
    empty.MoveClipDown(0);
    EXPECT_EQ(empty.GetCurrentIndex(), -1);
}

TEST(ClipList, MovingMakesTheMovedEntryCurrent) {
    ClipList list = MakeList({"a", "b", "c"});
    list.MoveClipDown(0);
    EXPECT_EQ(list.GetClip(0), "b");
    EXPECT_EQ(list.GetClip(1), "a");
    EXPECT_EQ(list.GetCurrentIndex(), 1);
    list.MoveClipUp(2);
    EXPECT_EQ(list.GetClip(1), "c");
    EXPECT_EQ(list.GetClip(2), "a");
    EXPECT_EQ(list.GetCurrentIndex(), 1);
}

TEST(ClipList, RemovingTheOnlyEntryClearsCurrentIndex) {
    ClipList list = MakeList({"a"});
    list.RemoveClip(0);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetCurrentIndex(), -1);
}

TEST(ClipList, RemovingBeforeCurrentKeepsTheIndexNotTheEntry) {
    ClipList list = MakeList({"a", "b", "c"});
    list.SetCurrentIndex(1);
    list.RemoveClip(0);
    EXPECT_EQ(list.GetCurrentIndex(), 1);
    EXPECT_EQ(list.GetClip(1), "c");
}

TEST(ClipList, RemovingTheLastEntryClampsCurrentIndex) {
    ClipList list = MakeList({"a", "b", "c"});
    list.SetCurrentIndex(2);
    list.RemoveClip(2);
    EXPECT_EQ(list.GetCurrentIndex(), 1);
    list.RemoveClip(7);  // out of range: nothing happens
    EXPECT_EQ(list.GetCount(), 2);
}

TEST(ClipList, LongUtf8PathsAreKeptWhole) {
    std::string strPath = "/media/";
    for (int i = 0; i < 60; ++i) {
        strPath += "Übergröße/";
    }
    strPath += "Straßenmusik – Länge.mkv";
    ASSERT_GT(strPath.size(), 259u);
    ClipList list;
    list.AddClip(strPath);
    EXPECT_EQ(list.GetClip(0), strPath);
    EXPECT_EQ(ClipDisplayName(strPath), "Straßenmusik – Länge.mkv");
}

TEST(ClipList, DisplayNameTakesTextAfterLastSlashOfEitherKind) {
    EXPECT_EQ(ClipDisplayName("C:\\Media\\talk.avi"), "talk.avi");
    EXPECT_EQ(ClipDisplayName("/home/u/x\\y/talk.avi"), "talk.avi");
    EXPECT_EQ(ClipDisplayName("talk.avi"), "talk.avi");
    EXPECT_EQ(ClipDisplayName("/home/u/"), "");
}

}  // namespace

}  // namespace klangor

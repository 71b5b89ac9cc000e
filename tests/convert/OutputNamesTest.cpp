// Output names as templates and parts make them: fallbacks for missing fields, characters and lengths
// a file system refuses, and templates that would write outside the output folder.
#include <gtest/gtest.h>

#include "convert/batch/OutputNames.h"

namespace klangor {

TEST(OutputNames, TemplatesFallBackAndNeverLetAFieldMakeAFolder) {
    NameFields fields;
    fields.strName = "talk.avi";
    fields.strStem = "talk";
    fields.strExt = "mp3";
    fields.strTitle = "AC/DC: \"Live\"?";
    fields.strIndex = "7";
    fields.strCount = "12";
    const std::string strLong(300, 'x');
    struct Case {
        const char *szTemplate;
        std::string strExpected;
    };
    for (const Case &c :
         {Case{kDefaultNameTemplate, "talk.avi.mp3"}, Case{"{title}.{ext}", "AC_DC_ _Live__.mp3"},
          Case{"{artist|stem}.{ext}", "talk.mp3"},
          Case{"{artist|Unknown}/{album|Unknown}/{n} {stem}.{ext}", "Unknown/Unknown/7 talk.mp3"},
          // An empty field between folders still leaves a folder name.
          Case{"{artist}/{stem}.{ext}", "_/talk.mp3"}}) {
        SCOPED_TRACE(c.szTemplate);
        std::string strError;
        ASSERT_TRUE(CheckNameTemplate(c.szTemplate, strError)) << strError;
        EXPECT_EQ(RenderNameTemplate(c.szTemplate, fields), c.strExpected);
    }
    // A name past 255 bytes is cut, its extension kept, never inside a character.
    fields.strTitle = strLong + "\xC3\xA9";
    const std::string strCut = RenderNameTemplate("\xC3\xA9{title}.{ext}", fields);
    EXPECT_EQ(strCut.size(), kMostFileNameBytes);
    EXPECT_EQ(strCut.substr(strCut.size() - 4), ".mp3");
    fields.strTitle = "\xC3\xA9\xC3\xA9";
    EXPECT_EQ(FileNameSafe(fields.strTitle, 3), "\xC3\xA9");
    for (const char *szBad :
         {"{nam}.mp3", "{name", "name}", "/abs/{name}", "../{name}", "a//{name}", "{Unknown|name}"}) {
        std::string strError;
        EXPECT_FALSE(CheckNameTemplate(szBad, strError)) << szBad;
        EXPECT_FALSE(strError.empty());
    }
}

TEST(OutputNames, PartNamesAreNumberedToTheCountsWidthAndFitAFileSystem) {
    EXPECT_EQ(PartOutputPath("/o/book.m4b.mp3", 3, 12, "Chapter: One"),
              "/o/book.m4b - 03 - Chapter_ One.mp3");
    EXPECT_EQ(PartOutputPath("/o/book.m4b.mp3", 3, 9, ""), "/o/book.m4b - 3.mp3");
    EXPECT_EQ(PartOutputPath("/o/book.m4b.mp3", 10, 100, ".hidden.."), "/o/book.m4b - 010 - _hidden.mp3");
    const std::string strPath =
        PartOutputPath("/o/" + std::string(250, 's') + ".mp3", 1, 2, std::string(100, 't'));
    EXPECT_EQ(strPath.size() - 3, kMostFileNameBytes);
    EXPECT_EQ(strPath.substr(strPath.size() - 8), " - 1.mp3");
}

}  // namespace klangor

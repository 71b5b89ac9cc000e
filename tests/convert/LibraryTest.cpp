// klangor-convert over a library: names from templates and their clashes, a rerun that skips what is
// done, an output that would be its own source, shards that share the work, a dry run and the report.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "ConvertProgram.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

// Seven short songs, two of them with the same title, one of them broken.
std::vector<std::string> MakeLibrary(MediaFactory &media) {
    std::vector<std::string> songs;
    for (int i = 0; i < 6; ++i) {
        const std::string strName = "song" + std::to_string(i) + ".flac";
        songs.push_back(
            media.Make(strName, {"-f", "lavfi", "-i", "sine=d=0.3:f=" + std::to_string(300 + 40 * i)},
                       {"-metadata", "title=" + std::string(i < 2 ? "Same" : "Title " + std::to_string(i)),
                        "-c:a", "flac"}));
    }
    songs.push_back(media.MakeRaw("broken.flac", "fLaC but nothing after it"));
    return songs;
}

std::vector<std::string> Lines(const std::string &strText) {
    std::vector<std::string> lines;
    std::istringstream in(strText);
    for (std::string strLine; std::getline(in, strLine);) {
        lines.push_back(strLine);
    }
    return lines;
}

}  // namespace

TEST(Library, TemplatesClashesARerunThatSkipsAndTheReport) {
    MediaFactory media;
    std::vector<std::string> args = {
        "-f", "wav", "--name", "{artist|Unknown}/{title|stem}.{ext}", "-o", media.PathOf("out")};
    const std::vector<std::string> songs = MakeLibrary(media);
    args.insert(args.end(), songs.begin(), songs.end());
    std::vector<std::string> first = args;
    first.insert(first.begin(), {"--report", media.PathOf("first.json")});
    const CommandResult result = Convert(first);
    EXPECT_EQ(result.iExitStatus, 1) << "the broken file fails";
    EXPECT_EQ(FileNamesIn(media.Dir() / "out/Unknown"),
              (std::vector<std::string>{"Same (2).wav", "Same.wav", "Title 2.wav", "Title 3.wav",
                                        "Title 4.wav", "Title 5.wav"}));
    EXPECT_NE(result.strStdout.find("6 converted, 0 skipped, 1 failed\n"), std::string::npos)
        << result.strStdout;
    const std::vector<std::string> report = Lines(ReadFileBytes(media.PathOf("first.json")));
    ASSERT_EQ(report.size(), 7u);
    const std::string strLineStart =
        "{\"source\":\"" + songs[1] + "\",\"output\":\"" + media.PathOf("out") +
        "/Unknown/Same (2).wav\",\"status\":\"converted\",\"reason\":\"\",\"seconds\":";
    EXPECT_EQ(report[1].rfind(strLineStart, 0), 0u) << report[1];
    const std::string strBytes =
        ",\"bytes\":" + std::to_string(fs::file_size(media.PathOf("out/Unknown/Same (2).wav"))) + "}";
    EXPECT_NE(report[1].find(strBytes), std::string::npos) << report[1];
    EXPECT_NE(report[6].find("\"status\":\"failed\",\"reason\":\""), std::string::npos) << report[6];

    // A second run over the converted library does no work: every output is there, and left as it was.
    const auto written = fs::last_write_time(media.PathOf("out/Unknown/Same.wav"));
    std::vector<std::string> second = args;
    second.insert(second.begin(), {"--skip-existing", "--report", media.PathOf("second.json")});
    second.pop_back();  // the broken file
    const CommandResult rerun = Convert(second);
    EXPECT_EQ(rerun.iExitStatus, 0) << rerun.strStderr;
    EXPECT_NE(
        rerun.strStdout.find(songs[0] + ": skipped, " + media.PathOf("out") + "/Unknown/Same.wav exists\n"),
        std::string::npos)
        << rerun.strStdout;
    EXPECT_NE(rerun.strStdout.find("0 converted, 6 skipped, 0 failed\n"), std::string::npos)
        << rerun.strStdout;
    EXPECT_EQ(fs::last_write_time(media.PathOf("out/Unknown/Same.wav")), written);
    for (const std::string &strLine : Lines(ReadFileBytes(media.PathOf("second.json")))) {
        EXPECT_NE(strLine.find("\"status\":\"skipped\""), std::string::npos) << strLine;
    }
}

TEST(Library, ThreeShardsWriteEveryOutputOnceAndADryRunWritesNothing) {
    MediaFactory media;
    std::vector<std::string> songs = MakeLibrary(media);
    songs.pop_back();
    std::vector<std::string> args = {"-q", "-f", "wav", "-o", media.PathOf("out")};
    args.insert(args.end(), songs.begin(), songs.end());

    std::vector<std::string> dry = args;
    dry.erase(dry.begin());
    dry.insert(dry.begin(), {"--dry-run", "--shard", "1/3"});
    const CommandResult planned = Convert(dry);
    EXPECT_EQ(planned.iExitStatus, 0) << planned.strStderr;
    EXPECT_EQ(Lines(planned.strStdout),
              (std::vector<std::string>{songs[1] + " -> " + media.PathOf("out") + "/song1.flac.wav",
                                        songs[4] + " -> " + media.PathOf("out") + "/song4.flac.wav"}));
    EXPECT_FALSE(fs::exists(media.PathOf("out")));

    for (const char *szShard : {"0/3", "1/3", "2/3"}) {
        std::vector<std::string> shard = args;
        shard.insert(shard.begin(), {"--shard", szShard});
        const CommandResult result = Convert(shard);
        EXPECT_EQ(result.iExitStatus, 0) << szShard << result.strStderr;
    }
    std::vector<std::string> expected;
    for (int i = 0; i < 6; ++i) {
        expected.push_back("song" + std::to_string(i) + ".flac.wav");
    }
    EXPECT_EQ(FileNamesIn(media.PathOf("out")), expected);
}

TEST(Library, AnOutputThatWouldBeItsOwnSourceIsNumberedInstead) {
    MediaFactory media;
    const std::string strSource =
        media.Make("talk.mp3", {"-f", "lavfi", "-i", "sine=d=0.5"}, {"-c:a", "libmp3lame", "-b:a", "64k"});
    const std::string strBefore = ReadFileBytes(strSource);
    // Copied into its own folder as {stem}.{ext}: "talk.mp3" itself.
    const CommandResult result =
        Convert({"-f", "copy", "--name", "{stem}.{ext}", "-o", media.Dir().string(), strSource});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    EXPECT_NE(result.strStdout.find("talk (2).mp3 (copied, not talk.mp3, which is a source)"),
              std::string::npos)
        << result.strStdout;
    EXPECT_TRUE(ReadFileBytes(strSource) == strBefore) << "the source was written";
    EXPECT_TRUE(fs::exists(media.PathOf("talk (2).mp3")));
}

TEST(Library, ATreeIsWalkedInPathOrderAndMirroredPassingOverWhatIsNotMedia) {
    MediaFactory media;
    for (const char *szName :
         {"lib/a.flac", "lib/disc1/b.flac", "lib/disc1/cd/c.flac", "lib/disc-2/d.flac"}) {
        fs::create_directories((media.Dir() / szName).parent_path());
        media.Make(szName, {"-f", "lavfi", "-i", "sine=d=0.2"}, {"-c:a", "flac"});
    }
    // Media without an extension is found by its content; a document beside it is passed over.
    media.Make("lib/disc1/recording", {"-f", "lavfi", "-i", "sine=d=0.2"}, {"-f", "wav"});
    media.MakeRaw("lib/disc1/notes.txt", "track list");
    media.MakeRaw("lib/disc1/readme", "no extension, and no media either");
    fs::create_directory_symlink("..", media.Dir() / "lib/disc1/loop");
    const std::string strLib = media.PathOf("lib");
    const std::string strOut = media.PathOf("out");

    const CommandResult planned = Convert({"-r", "--dry-run", "-f", "wav", "-o", strOut, strLib});
    ASSERT_EQ(planned.iExitStatus, 0) << planned.strStderr;
    EXPECT_EQ(Lines(planned.strStdout),
              (std::vector<std::string>{strLib + "/disc1/loop: a link to a folder, not followed",
                                        strLib + "/disc1/notes.txt: not a media file, passed over",
                                        strLib + "/disc1/readme: not a media file, passed over",
                                        // Byte-wise: "disc-2/" before "disc1/".
                                        strLib + "/a.flac -> " + strOut + "/a.flac.wav",
                                        strLib + "/disc-2/d.flac -> " + strOut + "/disc-2/d.flac.wav",
                                        strLib + "/disc1/b.flac -> " + strOut + "/disc1/b.flac.wav",
                                        strLib + "/disc1/cd/c.flac -> " + strOut + "/disc1/cd/c.flac.wav",
                                        strLib + "/disc1/recording -> " + strOut + "/disc1/recording.wav"}));
    // Followed, the link leads back into the tree, which is walked once.
    const CommandResult followed = Convert({"-r", "--follow-links", "--dry-run", "-o", strOut, strLib});
    EXPECT_NE(followed.strStdout.find(strLib + "/disc1/loop: a folder already walked"), std::string::npos)
        << followed.strStdout;
    EXPECT_EQ(followed.strStdout.find("loop/a.flac"), std::string::npos) << followed.strStdout;

    const CommandResult result = Convert({"-q", "-r", "-f", "wav", "-o", strOut, strLib});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    EXPECT_EQ(FileNamesIn(strOut + "/disc1"),
              (std::vector<std::string>{"b.flac.wav", "cd", "recording.wav"}));
    EXPECT_TRUE(fs::exists(strOut + "/disc1/cd/c.flac.wav"));
    EXPECT_TRUE(fs::exists(strOut + "/disc-2/d.flac.wav"));
}

}  // namespace klangor

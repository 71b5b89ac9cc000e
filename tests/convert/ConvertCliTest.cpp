// klangor-convert as a user runs it: options, exit status, messages, output files, Ctrl-C.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "ConvertProgram.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

TEST(ConvertCli, VersionAndHelp) {
    const CommandResult version = Convert({"--version"});
    EXPECT_EQ(version.iExitStatus, 0);
    EXPECT_EQ(version.strStdout, "Vellumar Klangor v2.31\n");
    const CommandResult help = Convert({"--help"});
    EXPECT_EQ(help.iExitStatus, 0);
    EXPECT_NE(help.strStdout.find("--vbr-quality"), std::string::npos);
}

TEST(ConvertCli, UsageErrorsExitWithTwoAndNameTheOption) {
    CommandResult result = Convert({"--bitrate", "100", "x.avi"});
    EXPECT_EQ(result.iExitStatus, 2);
    EXPECT_NE(result.strStderr.find("--bitrate"), std::string::npos) << result.strStderr;
    EXPECT_NE(result.strStderr.find("320, 256, 224"), std::string::npos) << result.strStderr;
    result = Convert({"--mode=surround", "x.avi"});
    EXPECT_EQ(result.iExitStatus, 2);
    EXPECT_NE(result.strStderr.find("stereo, joint, dual, mono"), std::string::npos) << result.strStderr;
    EXPECT_EQ(Convert({"--quality", "10", "x.avi"}).iExitStatus, 2);
    EXPECT_EQ(Convert({"--frobnicate", "x.avi"}).iExitStatus, 2);
    EXPECT_EQ(Convert({"--samplerate"}).iExitStatus, 2);
    EXPECT_EQ(Convert({}).iExitStatus, 2);
}

TEST(ConvertCli, SettingsReachTheMp3File) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("talk.avi", 2, 44100, 2, {"-c:a", "libmp3lame"});
    const std::string strOut = (media.Dir() / "new" / "folder").string();
    const CommandResult result = Convert(
        {"-q", "-o", strOut, "--samplerate", "22,050 Hz", "--bitrate", "64", "--mode", "mono", strSource});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    EXPECT_EQ(result.strStdout, "");
    const auto stream = ProbeStream(strOut + "/talk.avi.mp3");
    EXPECT_EQ(stream.at("sample_rate"), "22050");
    EXPECT_EQ(stream.at("channels"), "1");
    EXPECT_EQ(stream.at("bit_rate"), "64000");
}

TEST(ConvertCli, DefaultFolderIsVellumarMp3InHome) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("song.flac", 1, 44100, 2, {"-c:a", "flac"});
    const CommandResult result =
        RunCommand({"env", "HOME=" + media.Dir().string(), kProgram, "--wav", strSource});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    const std::string strOut = (media.Dir() / "VellumarMP3" / "song.flac.wav").string();
    EXPECT_EQ(ReadFileBytes(strOut).substr(44), DecodeS16(strSource));
    EXPECT_NE(result.strStdout.find(strSource + " -> " + strOut), std::string::npos) << result.strStdout;
}

TEST(ConvertCli, BrokenFilesAreReportedAndTheOthersConverted) {
    MediaFactory media;
    const std::string strGood = media.MakeTone("good.ogg", 1, 44100, 2, {"-c:a", "libvorbis"});
    const std::string strEmpty = media.MakeRaw("empty.mp4", "");
    const std::string strText = media.MakeRaw("notes.mp4", "just some text\n");
    const std::string strSilent = media.Make(
        "silent.mp4", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=5:duration=1"}, {"-c:v", "mpeg4"});
    const std::string strOut = (media.Dir() / "out").string();
    const CommandResult result = Convert({"-o", strOut, strEmpty, strGood, strText, strSilent});
    EXPECT_EQ(result.iExitStatus, 1);
    for (const std::string &strBad : {strEmpty, strText, strSilent}) {
        EXPECT_NE(result.strStderr.find(strBad + ": Can not find audio in you Media file!\n"),
                  std::string::npos)
            << result.strStderr;
        EXPECT_FALSE(fs::exists(strOut + "/" + fs::path(strBad).filename().string() + ".mp3"));
    }
    EXPECT_EQ(DecodeS16(strOut + "/good.ogg.mp3").size(), DecodeS16(strGood).size());
    int nFiles = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator(strOut)) {
        ++nFiles;
    }
    EXPECT_EQ(nFiles, 1) << "nothing half-written is left";
}

TEST(ConvertCli, SourcesThatDecodeToNothingFailAndLeaveNoOutput) {
    MediaFactory media;
    // Streams that open and carry a title but hold not one frame.
    std::vector<std::string> sources;
    for (const char *szName : {"nothing.flac", "nothing.wav"}) {
        sources.push_back(media.Make(szName, {"-f", "lavfi", "-i", "sine"},
                                     {"-frames:a", "0", "-metadata", "title=Nothing"}));
    }
    for (const char *szType : {"--wav", "--mp3"}) {
        SCOPED_TRACE(szType);
        const std::string strOut = media.PathOf(std::string("out") + szType);
        fs::create_directories(strOut);
        const CommandResult result = Convert({szType, "-o", strOut, sources[0], sources[1]});
        EXPECT_EQ(result.iExitStatus, 1);
        for (const std::string &strSource : sources) {
            EXPECT_NE(result.strStderr.find(strSource + ": Can not find audio in you Media file!\n"),
                      std::string::npos)
                << result.strStderr;
        }
        EXPECT_TRUE(FileNamesIn(strOut).empty());
    }
}

TEST(ConvertCli, UnwritableOutputFolderFailsEveryFileClearly) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("a.wav", 1, 8000, 1, {"-c:a", "pcm_s16le"});
    media.MakeRaw("plain", "x");
    const CommandResult result = Convert({"-o", media.PathOf("plain"), strSource});
    EXPECT_EQ(result.iExitStatus, 1);
    EXPECT_NE(result.strStderr.find(media.PathOf("plain")), std::string::npos) << result.strStderr;
}

TEST(ConvertCli, SameNamesFromTwoFoldersGetNumberedOutputs) {
    MediaFactory media;
    fs::create_directories(media.Dir() / "a");
    fs::create_directories(media.Dir() / "b");
    media.MakeTone("a/x.wav", 1, 8000, 1, {"-c:a", "pcm_s16le"});
    media.MakeTone("b/x.wav", 2, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strOut = (media.Dir() / "out").string();
    const CommandResult result =
        Convert({"-q", "--wav", "-o", strOut, media.PathOf("a/x.wav"), media.PathOf("b/x.wav")});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    EXPECT_EQ(fs::file_size(strOut + "/x.wav.wav"), 44u + 8000u * 2);
    EXPECT_EQ(fs::file_size(strOut + "/x.wav (2).wav"), 44u + 16000u * 2);
}

TEST(ConvertCli, CtrlCFinishesTheCurrentFileAndWritesNoMore) {
    MediaFactory media;
    const std::string strLong = media.MakeTone("long.wav", 240, 44100, 2, {"-c:a", "pcm_s16le"});
    const std::string strNext = media.MakeTone("next.wav", 1, 44100, 2, {"-c:a", "pcm_s16le"});
    const std::string strOut = (media.Dir() / "out").string();
    const pid_t pid = Spawn({"-q", "--jobs", "1", "-o", strOut, strLong, strNext});
    // Once encoded data reaches the file, the converter is well into its first job.
    EXPECT_TRUE(WaitForPartialBytes(strOut, "long.wav.mp3", 20000));
    ::kill(pid, SIGINT);
    int iStatus = 0;
    ASSERT_EQ(::waitpid(pid, &iStatus, 0), pid);
    ASSERT_TRUE(WIFEXITED(iStatus)) << "signal " << WTERMSIG(iStatus);
    EXPECT_EQ(WEXITSTATUS(iStatus), 130);
    const size_t nFrames = DecodeS16(strOut + "/long.wav.mp3").size() / 4;
    EXPECT_GT(nFrames, 0u);
    EXPECT_LT(nFrames, 240u * 44100u) << "the file was cut short";
    EXPECT_FALSE(fs::exists(strOut + "/next.wav.mp3"));
    EXPECT_TRUE(FilesStartingWith(strOut, ".").empty()) << "the stopped file was put under its name";
}

TEST(ConvertCli, KilledMidFileLeavesTheEarlierFileAndALaterRunClearsTheRest) {
    MediaFactory media;
    const std::string strLong = media.MakeTone("long.wav", 120, 44100, 2, {"-c:a", "pcm_s16le"});
    const std::string strOut = (media.Dir() / "out").string();
    fs::create_directories(strOut);
    for (const char *szName : {"long.wav.mp3", "long.wav.wav"}) {
        media.MakeRaw("out/" + std::string(szName), "an earlier good file");
    }
    for (const char *szType : {"--mp3", "--wav"}) {
        const std::string strName =
            std::string("long.wav.") + (szType == std::string("--mp3") ? "mp3" : "wav");
        const pid_t pid = Spawn({"-q", szType, "-o", strOut, strLong});
        EXPECT_TRUE(WaitForPartialBytes(strOut, strName, 200000)) << strName;
        ::kill(pid, SIGKILL);
        int iStatus = 0;
        ASSERT_EQ(::waitpid(pid, &iStatus, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(iStatus));
        EXPECT_EQ(ReadFileBytes(strOut + "/" + strName), "an earlier good file") << strName;
        EXPECT_EQ(FilesStartingWith(strOut, "." + strName + ".part-").size(), 1u) << "the dead run's part";
    }
    // The next batch into that folder removes what the killed runs left, and replaces the file whole.
    const std::string strShort = media.MakeTone("short.wav", 1, 44100, 2, {"-c:a", "pcm_s16le"});
    const CommandResult result = Convert({"-q", "--wav", "-o", strOut, strShort});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    EXPECT_TRUE(FilesStartingWith(strOut, ".").empty());
    EXPECT_EQ(ReadFileBytes(strOut + "/long.wav.mp3"), "an earlier good file");
    EXPECT_EQ(ReadFileBytes(strOut + "/short.wav.wav").substr(44), DecodeS16(strShort));
}

TEST(ConvertCli, OutputBytesDoNotDependOnTheNumberOfJobs) {
    MediaFactory media;
    std::vector<std::string> sources = {
        media.MakeTone("a.mp4", 3, 44100, 2, {"-c:a", "aac"}, true),
        media.MakeTone("b.ogg", 2, 48000, 1, {"-c:a", "libvorbis"}),
        media.MakeTone("c.wav", 4, 22050, 6, {"-c:a", "pcm_s16le"}),
        media.MakeTone("d.flac", 1, 32000, 2, {"-c:a", "flac"}),
    };
    media.MakeRaw("a.mp4.clipinfo", "Owner=Vellumar\r\nCutInfo=300,50,250,0;");
    const struct {
        const char *szFormat, *szExtension;
    } kFormats[] = {{"mp3", ".mp3"}, {"wav", ".wav"},  {"flac", ".flac"}, {"opus", ".opus"},
                    {"aac", ".m4a"}, {"alac", ".m4a"}, {"vorbis", ".ogg"}};
    for (const auto &format : kFormats) {
        for (const char *szJobs : {"1", "3"}) {
            const std::string strFolder = std::string(format.szFormat) + szJobs;
            std::vector<std::string> args = {"-q",   "-f", format.szFormat,        "--jobs",
                                             szJobs, "-o", media.PathOf(strFolder)};
            args.insert(args.end(), sources.begin(), sources.end());
            const CommandResult result = Convert(args);
            ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        }
        for (const std::string &strSource : sources) {
            const std::string strName = fs::path(strSource).filename().string() + format.szExtension;
            const std::string strOne =
                ReadFileBytes(media.PathOf(format.szFormat + std::string("1/") + strName));
            EXPECT_GT(strOne.size(), 1000u) << strName;
            EXPECT_TRUE(strOne == ReadFileBytes(media.PathOf(format.szFormat + std::string("3/") + strName)))
                << strName << " differs";
        }
    }
}

TEST(ConvertCli, ALongFileIntoANamedPipeOrADeviceIsWrittenAsOneStream) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("long.wav", 10, 44100, 2, {"-c:a", "pcm_s16le"});
    // Nothing can be written back into a pipe: an MP3 keeps the encoder's delay and padding without its
    // header frame, a WAV says its sizes are unknown and is read to its end.
    const struct {
        const char *szOption, *szExtension;
        size_t nLeastFrames, nMostFrames;
    } kFormats[] = {{"--mp3", ".mp3", 441000, 441000 + 3 * 1152}, {"--wav", ".wav", 441000, 441000}};
    for (const auto &format : kFormats) {
        SCOPED_TRACE(format.szOption);
        const fs::path out = media.Dir() / (std::string("out") + format.szExtension);
        fs::create_directory(out);
        const std::string strPipe = (out / (std::string("long.wav") + format.szExtension)).string();
        ASSERT_EQ(::mkfifo(strPipe.c_str(), 0600), 0);
        std::string strDrained;
        std::thread reader([&] {
            const int fd = ::open(strPipe.c_str(), O_RDONLY | O_CLOEXEC);
            char buffer[65536];
            for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
                strDrained.append(buffer, static_cast<size_t>(n));
            }
            if (fd >= 0) {
                ::close(fd);
            }
        });
        const CommandResult result =
            Convert({"-q", format.szOption, "--split-after", "2", "-o", out.string(), strSource});
        // Lets the reader go should the program never have opened the pipe.
        const int fdWake = ::open(strPipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fdWake >= 0) {
            ::close(fdWake);
        }
        reader.join();
        EXPECT_EQ(result.iExitStatus, 0) << result.strStderr;
        EXPECT_EQ(result.strStderr, "");
        EXPECT_TRUE(fs::is_fifo(strPipe));
        const std::string strCopy = media.MakeRaw(std::string("drained") + format.szExtension, strDrained);
        const size_t nFrames = DecodeS16(strCopy).size() / 4;
        EXPECT_GE(nFrames, format.nLeastFrames);
        EXPECT_LE(nFrames, format.nMostFrames);

        // A device takes the stream as well, and nothing is read back from it.
        const fs::path null = media.Dir() / (std::string("null") + format.szExtension);
        fs::create_directory(null);
        fs::create_symlink("/dev/null", null / (std::string("long.wav") + format.szExtension));
        const CommandResult discarded =
            Convert({"-q", format.szOption, "--split-after", "2", "-o", null.string(), strSource});
        EXPECT_EQ(discarded.iExitStatus, 0) << discarded.strStderr;
        EXPECT_EQ(discarded.strStderr, "");
        EXPECT_TRUE(fs::is_character_file(null / (std::string("long.wav") + format.szExtension)));
    }
}

TEST(ConvertCli, FullDiskFailsThatFileAloneAndLeavesNoTemporary) {
    MediaFactory media;
    const std::string strBig = media.MakeTone("big.wav", 3, 44100, 2, {"-c:a", "pcm_s16le"});
    const std::string strSmall = media.MakeTone("small.wav", 1, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string strOut = (media.Dir() / "out").string();
    fs::create_directories(strOut);
    // A file-size limit of 200 KiB stands in for a disk that fills up: writes past it fail with EFBIG.
    const CommandResult result =
        RunCommand({"bash", "-c", "trap '' XFSZ; ulimit -f 200; exec \"$@\"", "limit", kProgram, "-q",
                    "--wav", "--jobs", "1", "-o", strOut, strBig, strSmall});
    EXPECT_EQ(result.iExitStatus, 1);
    EXPECT_NE(result.strStderr.find(strBig + ": Error writing mp3 output"), std::string::npos)
        << result.strStderr;
    EXPECT_FALSE(fs::exists(strOut + "/big.wav.wav"));
    EXPECT_EQ(ReadFileBytes(strOut + "/small.wav.wav").substr(44), DecodeS16(strSmall));
    EXPECT_TRUE(FilesStartingWith(strOut, ".").empty());
}

TEST(ConvertCli, JobsOptionTakesACountFromOne) {
    for (const char *szBad : {"0", "-1", "two", "", "100000"}) {
        const CommandResult result = Convert({"--jobs", szBad, "x.avi"});
        EXPECT_EQ(result.iExitStatus, 2) << szBad;
        EXPECT_NE(result.strStderr.find("--jobs"), std::string::npos) << result.strStderr;
    }
    EXPECT_EQ(Convert({"-j"}).iExitStatus, 2);
}

TEST(ConvertCli, AWriterThatCannotStartIsAFailure) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("a.wav", 1, 8000, 1, {"-c:a", "pcm_s16le"});
    fs::permissions(media.Dir(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    fs::permissions(strSource, fs::perms::others_read, fs::perm_options::add);
    // A limit of one process for the user leaves no room for the worker thread. The superuser is not
    // held to it, so the run is made as an unprivileged user then. The leak checker of a sanitizer build
    // needs a thread of its own at exit, so it is left out of this run.
    std::vector<std::string> command = {
        "bash",
        "-c",
        "ulimit -u 1; export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\"; exec \"$@\"",
        "limit",
        kProgram,
        "--wav",
        "-o",
        media.Dir().string(),
        strSource};
    if (::geteuid() == 0) {
        command.insert(command.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    const CommandResult result = RunCommand(command);
    EXPECT_EQ(result.iExitStatus, 1) << result.strStderr;
    EXPECT_NE(result.strStderr.find("Cannot start Save WAV to file thread!"), std::string::npos)
        << result.strStderr;
}

}  // namespace

}  // namespace klangor

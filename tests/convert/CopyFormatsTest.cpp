// The copied original audio of klangor-convert, checked with ffmpeg: the container each codec gets,
// packets identical to the source's, tags and cover, PCM cut to a selection, and a selection that
// cannot be cut exactly.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ConvertProgram.h"
#include "convert/copy/PacketCopy.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

struct SourceCase {
    const char *szName;
    const char *szCodecArgs;  // ffmpeg's output options that make the source
    const char *szExtension;
    const char *szContainer;  // the start of ffprobe's format_name
    bool bRewritten;          // PCM rewritten as WAV's: the samples are compared, not the packets
    bool bTagged;             // the container carries tags
};

const SourceCase kSources[] = {
    {"aac.mp4", "aac", ".m4a", "mov,mp4", false, true},
    {"song.mp3", "libmp3lame", ".mp3", "mp3", false, true},
    {"talk.opus", "libopus", ".opus", "ogg", false, true},
    {"tune.ogg", "libvorbis", ".ogg", "ogg", false, true},
    {"tone.flac", "flac", ".flac", "flac", false, true},
    {"film.ac3", "ac3", ".ac3", "ac3", false, false},
    {"studio.aiff", "pcm_s16be", ".wav", "wav", true, true},
    {"float.wav", "pcm_f32le", ".wav", "wav", false, true},
    {"speech.mka", "pcm_s24be", ".wav", "wav", true, true},
};

// The audio track's packets as ffmpeg reads them: timestamps, durations, sizes and checksums, without
// the side data the reader makes up from each container's own header.
std::string PacketSums(const std::string &strPath) {
    std::istringstream sums(RunCommand({"ffmpeg", "-v", "error", "-i", strPath, "-map", "0:a:0", "-c", "copy",
                                        "-f", "framemd5", "-"})
                                .strStdout);
    std::string strPackets;
    for (std::string strLine; std::getline(sums, strLine);) {
        if (!strLine.empty() && strLine[0] != '#') {
            strPackets += strLine.substr(0, strLine.find(", S=")) + "\n";
        }
    }
    return strPackets;
}

// The checksum of the decoded samples, widened to 32 bits whatever their depth.
std::string DecodedSum(const std::string &strPath) {
    return RunCommand({"ffmpeg", "-v", "error", "-i", strPath, "-map", "0:a:0", "-c:a", "pcm_s32le", "-f",
                       "md5", "-"})
        .strStdout;
}

std::string MakeSource(MediaFactory &media, const SourceCase &source) {
    return media.Make(source.szName, {"-f", "lavfi", "-i", "sine=f=440:d=3:r=48000"},
                      {"-ac", "2", "-c:a", source.szCodecArgs, "-metadata", "title=Copied Title"});
}

}  // namespace

TEST(CopyFormats, EachCodecKeepsItsPacketsInItsOwnContainer) {
    MediaFactory media;
    for (const SourceCase &source : kSources) {
        SCOPED_TRACE(source.szName);
        const std::string strSource = MakeSource(media, source);
        const std::string strOut = media.PathOf("out");
        const CommandResult result = Convert({"-q", "-f", "copy", "-o", strOut, strSource});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strCopy = strOut + "/" + source.szName + source.szExtension;
        ASSERT_TRUE(fs::exists(strCopy));
        EXPECT_EQ(ProbeFormat(strCopy).at("format_name").rfind(source.szContainer, 0), 0u);
        if (!source.bRewritten) {
            EXPECT_EQ(PacketSums(strCopy), PacketSums(strSource));
        }
        // The same samples also say the source's delay and padding came along.
        EXPECT_EQ(DecodedSum(strCopy), DecodedSum(strSource));
        const std::string strTags = RunCommand({"ffprobe", "-v", "error", "-show_entries",
                                                "format_tags=title:stream_tags=title", strCopy})
                                        .strStdout;
        EXPECT_EQ(strTags.find("=Copied Title") != std::string::npos, source.bTagged) << strTags;
        const CommandResult bare =
            Convert({"-q", "--no-tags", "-f", "copy", "-o", media.PathOf("bare"), strSource});
        ASSERT_EQ(bare.iExitStatus, 0) << bare.strStderr;
        const std::string strBare =
            RunCommand({"ffprobe", "-v", "error", "-show_entries", "format_tags=title:stream_tags=title",
                        media.PathOf("bare") + "/" + source.szName + source.szExtension})
                .strStdout;
        EXPECT_EQ(strBare.find("=Copied Title"), std::string::npos) << strBare;
    }
}

TEST(CopyFormats, TheCoverComesAlongWhereTheContainerHoldsOne) {
    MediaFactory media;
    const std::string strCover =
        media.Make("cover.png", {"-f", "lavfi", "-i", "testsrc=size=40x30:duration=1"}, {"-frames:v", "1"});
    const std::pair<const char *, const char *> covered[] = {
        {"cover.m4a", "aac"}, {"cover.mp3", "libmp3lame"}, {"cover.flac", "flac"}};
    for (const auto &[szName, szCodec] : covered) {
        SCOPED_TRACE(szName);
        const std::string strSource = media.Make(
            szName, {"-f", "lavfi", "-i", "sine=d=2", "-i", strCover},
            {"-map", "0", "-map", "1", "-c:a", szCodec, "-c:v", "copy", "-disposition:v", "attached_pic"});
        const CommandResult result = Convert({"-q", "-f", "copy", "-o", media.PathOf("out"), strSource});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strCopy =
            media.PathOf("out") + "/" + szName + fs::path(szName).extension().string();
        EXPECT_EQ(PacketSums(strCopy), PacketSums(strSource));
        const std::string strPicture = RunCommand({"ffmpeg", "-v", "error", "-i", strCopy, "-map", "0:v",
                                                   "-c", "copy", "-f", "image2pipe", "-"})
                                           .strStdout;
        EXPECT_TRUE(strPicture == ReadFileBytes(strCover)) << "the cover did not come through";
    }
}

TEST(CopyFormats, AFullDiskFailsTheFileAndLeavesNothing) {
    MediaFactory media;
    const std::string strBig = media.Make("noise.mka", {"-f", "lavfi", "-i", "anoisesrc=d=30:r=44100:a=0.5"},
                                          {"-ac", "2", "-c:a", "flac"});
    const std::string strSmall = MakeSource(media, kSources[4]);
    const std::string strOut = media.PathOf("full");
    fs::create_directories(strOut);
    // A file-size limit of 200 KiB stands in for a disk that fills up: writes past it fail.
    const CommandResult result =
        RunCommand({"bash", "-c", "trap '' XFSZ; ulimit -f 200; exec \"$@\"", "limit", kProgram, "-q", "-f",
                    "copy", "--jobs", "1", "-o", strOut, strBig, strSmall});
    EXPECT_EQ(result.iExitStatus, 1);
    EXPECT_NE(result.strStderr.find(strBig + ": "), std::string::npos) << result.strStderr;
    EXPECT_FALSE(fs::exists(strOut + "/noise.mka.flac"));
    EXPECT_EQ(PacketSums(strOut + "/tone.flac.flac"), PacketSums(strSmall));
    EXPECT_TRUE(FilesStartingWith(strOut, ".").empty());
}

TEST(CopyFormats, PcmIsCutToExactlyTheSelection) {
    MediaFactory media;
    // 0.50 s to 2.00 s at 48 kHz.
    constexpr size_t kStart = 24000;
    constexpr size_t kEnd = 96000;
    for (const SourceCase &source : {kSources[6], kSources[7], kSources[8]}) {
        SCOPED_TRACE(source.szName);
        const std::string strSource = MakeSource(media, source);
        const std::string strWhole = DecodeS16(strSource);
        media.MakeRaw(std::string(source.szName) + ".clipinfo", "Owner=Vellumar\r\nCutInfo=300,50,200,0;");
        const CommandResult result = Convert({"-f", "copy", "-o", media.PathOf("cut"), strSource});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        // The file's line tells a copy from a conversion.
        EXPECT_NE(result.strStdout.find(".wav (copied)\n"), std::string::npos) << result.strStdout;
        const std::string strCut = DecodeS16(media.PathOf("cut") + "/" + source.szName + ".wav");
        EXPECT_EQ(strCut.size(), (kEnd - kStart) * 4);
        EXPECT_TRUE(strCut == strWhole.substr(kStart * 4, (kEnd - kStart) * 4))
            << "not the selection's samples";
    }
}

// What a copy cannot honour fails the file with its reason instead of being ignored: a selection on a
// codec without an exact cut, and a loudness asked for.
TEST(CopyFormats, WhatACopyCannotHonourIsRefusedRatherThanIgnored) {
    MediaFactory media;
    // MP2 has no exact cut of its own.
    const SourceCase radio{"radio.mka", "mp2", ".mka", "matroska", false, true};
    const std::string strSource = MakeSource(media, radio);
    struct Case {
        std::vector<std::string> args;
        bool bSelection;
        const char *szWhy;
    };
    for (const Case &c :
         {Case{{}, true, "can only be copied whole; clear the selection or choose another format"},
          Case{{"--normalize"}, false, "cannot be levelled or given ReplayGain"},
          Case{{"--replaygain"}, false, "cannot be levelled or given ReplayGain"}}) {
        const std::string strRecord = std::string(radio.szName) + ".clipinfo";
        fs::remove(media.PathOf(strRecord));
        if (c.bSelection) {
            media.MakeRaw(strRecord, "Owner=Vellumar\r\nCutInfo=300,50,200,0;");
        }
        std::vector<std::string> args = {"-q", "-f", "copy", "-o", media.PathOf("out")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(strSource);
        const CommandResult result = Convert(args);
        EXPECT_NE(result.iExitStatus, 0);
        EXPECT_NE(result.strStderr.find(c.szWhy), std::string::npos) << result.strStderr;
        EXPECT_FALSE(fs::exists(media.PathOf("out/radio.mka.mka")));
    }
}

// A stop during a copy ends it at the next packet, and the container is still finished: short but whole.
TEST(CopyFormats, StopEndsACopyShortButWhole) {
    MediaFactory media;
    for (const auto &[szName, szCodec] :
         {std::pair{"long.m4a", "aac"}, std::pair{"long.opus", "libopus"}, std::pair{"long.flac", "flac"}}) {
        SCOPED_TRACE(szName);
        const std::string strSource =
            media.Make(szName, {"-f", "lavfi", "-i", "sine=d=20:r=48000"}, {"-ac", "2", "-c:a", szCodec});
        const std::string strCopy = media.PathOf(std::string("copy-") + szName);
        std::FILE *pFile = std::fopen(strCopy.c_str(), "w+be");
        ASSERT_NE(pFile, nullptr);
        uint64_t nCopied = 0;
        PacketCopy copy;
        const bool bCopied = copy.Copy(
            strSource, 0, PacketCopy::Range{}, MediaTags{}, pFile,
            [&nCopied] { return nCopied >= 5 * 48000; }, [&nCopied](uint64_t nFrames) { nCopied = nFrames; });
        std::fclose(pFile);
        ASSERT_TRUE(bCopied) << copy.GetError();
        EXPECT_EQ(RunCommand({"ffprobe", "-v", "error", "-show_packets", strCopy}).strStderr, "");
        const size_t nFrames = DecodeS16(strCopy).size() / 4;
        EXPECT_GE(nFrames, 49u * 4800u);  // the source's own delay and padding come off what was counted
        EXPECT_LT(nFrames, 6u * 48000u) << "the copy did not end at the stop";
    }
}

// A pipe can be read only once: its copy fails with the reason, where it used to wait for ever for a
// second writer once the name's probe had read it.
TEST(CopyFormats, APipeIsRefusedRatherThanWaitedFor) {
    MediaFactory media;
    const std::string strSource = MakeSource(media, kSources[6]);
    const std::string strLive = media.PathOf("live");
    ASSERT_EQ(::mkfifo(strLive.c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);
    std::thread feeder([&] {
        const std::string strBytes = ReadFileBytes(strSource);
        const int fd = ::open(strLive.c_str(), O_WRONLY);
        if (fd >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(fd, strBytes.data(), strBytes.size());
            ::close(fd);
        }
    });
    const CommandResult result = Convert({"-q", "-f", "copy", "-o", media.PathOf("out"), strLive});
    feeder.join();
    EXPECT_EQ(result.iExitStatus, 1);
    EXPECT_NE(result.strStderr.find("live: The original audio of a pipe or a device cannot be copied"),
              std::string::npos)
        << result.strStderr;
}

}  // namespace klangor

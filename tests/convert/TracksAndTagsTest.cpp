// The audio track of each file and the source's tags, through klangor-convert as a user runs it; the
// results checked with ffmpeg's own decodes and ffprobe, and the tags read back with TagLib.
#include <gtest/gtest.h>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/wavfile.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "clips/CutInfo.h"
#include "media/MediaTags.h"
#include "ConvertProgram.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

// Three audio tracks that sound different (300, 600 and 900 Hz), with languages and one title.
std::string MakeThreeTrackFilm(MediaFactory &media, const std::string &strName) {
    return media.Make(strName,
                      {"-f", "lavfi", "-i", "sine=f=300:d=2", "-f", "lavfi", "-i", "sine=f=600:d=2", "-f",
                       "lavfi", "-i", "sine=f=900:d=2"},
                      {"-map", "0", "-map", "1", "-map", "2", "-c:a", "flac", "-metadata:s:a:0",
                       "language=eng", "-metadata:s:a:1", "language=fra", "-metadata:s:a:1",
                       "title=Commentary", "-metadata:s:a:2", "language=deu"});
}

// One audio stream of a file as ffmpeg decodes it, 16-bit interleaved.
std::string PcmOf(const std::string &strPath, const std::string &strStream = "0:a:0") {
    const CommandResult result = RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", strPath, "-map",
                                             strStream, "-f", "s16le", "-acodec", "pcm_s16le", "-"});
    EXPECT_EQ(result.iExitStatus, 0) << result.strStderr;
    return result.strStdout;
}

// Two decodes compared without printing their samples.
::testing::AssertionResult SamePcm(const std::string &strActual, const std::string &strExpected) {
    if (strActual.empty() || strActual.size() != strExpected.size()) {
        return ::testing::AssertionFailure() << strActual.size() << " bytes against " << strExpected.size();
    }
    const auto mismatch = std::mismatch(strActual.begin(), strActual.end(), strExpected.begin());
    if (mismatch.first != strActual.end()) {
        return ::testing::AssertionFailure()
               << "first difference at byte " << (mismatch.first - strActual.begin());
    }
    return ::testing::AssertionSuccess();
}

TEST(AudioTracks, TheChosenTrackIsTheOneConverted) {
    MediaFactory media;
    const std::string strFilm = MakeThreeTrackFilm(media, "film.mkv");

    // The command line's choice, sample for sample the second track of an independent decode.
    CommandResult result = Convert({"-q", "--wav", "--track", "2", "-o", media.PathOf("two"), strFilm});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    EXPECT_TRUE(SamePcm(PcmOf(media.PathOf("two/film.mkv.wav")), PcmOf(strFilm, "0:a:1")));

    // The record's fourth field chooses when the command line does not; a choice the file cannot meet
    // falls back to the best track.
    media.MakeRaw("film.mkv.clipinfo", "Owner=Vellumar\r\nCutInfo=200,0,200,3;");
    ASSERT_EQ(Convert({"-q", "--wav", "-o", media.PathOf("three"), strFilm}).iExitStatus, 0);
    EXPECT_TRUE(SamePcm(PcmOf(media.PathOf("three/film.mkv.wav")), PcmOf(strFilm, "0:a:2")));
    media.MakeRaw("film.mkv.clipinfo", "Owner=Vellumar\r\nCutInfo=200,0,200,7;");
    ASSERT_EQ(Convert({"-q", "--wav", "-o", media.PathOf("seven"), strFilm}).iExitStatus, 0);
    EXPECT_TRUE(SamePcm(PcmOf(media.PathOf("seven/film.mkv.wav")), PcmOf(strFilm, "0:a:0")));

    // A file without that many tracks fails with a plain text; the rest of the batch is converted.
    const std::string strTone = media.MakeTone("tone.wav", 1, 44100, 1, {"-c:a", "pcm_s16le"});
    result = Convert({"-q", "--wav", "--track", "3", "-o", media.PathOf("mixed"), strTone, strFilm});
    EXPECT_EQ(result.iExitStatus, 1);
    EXPECT_NE(result.strStderr.find("tone.wav: The file has no audio track 3 (it has 1)"), std::string::npos)
        << result.strStderr;
    EXPECT_FALSE(fs::exists(media.PathOf("mixed/tone.wav.wav")));
    EXPECT_TRUE(SamePcm(PcmOf(media.PathOf("mixed/film.mkv.wav")), PcmOf(strFilm, "0:a:2")));
    EXPECT_EQ(Convert({"--track", "0", "x.mkv"}).iExitStatus, 2);
}

TEST(AudioTracks, ListedSoAPersonCanTellThemApart) {
    MediaFactory media;
    const std::vector<AudioTrackInfo> tracks = ListAudioTracks(MakeThreeTrackFilm(media, "film.mkv"));
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(tracks[0].strLabel, "1: eng \u2014 FLAC mono, 44.1 kHz");
    EXPECT_EQ(tracks[1].strLabel, "2: fra, Commentary \u2014 FLAC mono, 44.1 kHz");
    EXPECT_EQ(tracks[2].nNumber, 3);
    EXPECT_TRUE(ListAudioTracks(media.MakeRaw("junk.bin", "not media")).empty());
}

TEST(AudioTracks, TheRecordKeepsTheTrackThroughSelectionEdits) {
    MediaFactory media;
    const std::string strClip = media.MakeRaw("clip.mkv", "x");
    media.MakeRaw("clip.mkv.clipinfo", "Owner=Vellumar\r\nCutInfo=500,10,20,2;");
    ClipInfo info;
    ASSERT_TRUE(ReadCutInfo(strClip, info.nDuration, info.nStart, info.nEnd, &info.nTrack));
    EXPECT_EQ(info.nTrack, 2u);
    info.nStart = 30;
    info.nEnd = 40;
    ASSERT_TRUE(WriteCutInfo(strClip, info));
    EXPECT_EQ(ReadFileBytes(strClip + ".clipinfo"), "Owner=Vellumar\r\nCutInfo=500,30,40,2;");
    // Records written before tracks could be chosen read as the best track.
    media.MakeRaw("clip.mkv.clipinfo", "Owner=Vellumar\r\nCutInfo=500,10,20,0;");
    ASSERT_TRUE(ReadCutInfo(strClip, info.nDuration, info.nStart, info.nEnd, &info.nTrack));
    EXPECT_EQ(info.nTrack, 0u);
}

struct Id3View {
    std::map<std::string, std::string> texts;  // frame id to its text
    int nVersion = 0;
    std::string strCoverMime;
    std::string strCover;
};

Id3View ReadId3(const std::string &strPath) {
    Id3View view;
    TagLib::MPEG::File file(strPath.c_str(), false);
    if (!file.isValid() || !file.hasID3v2Tag()) {
        return view;
    }
    TagLib::ID3v2::Tag *pTag = file.ID3v2Tag();
    view.nVersion = static_cast<int>(pTag->header()->majorVersion());
    for (const TagLib::ID3v2::Frame *pFrame : pTag->frameList()) {
        const std::string strId(pFrame->frameID().data(), pFrame->frameID().size());
        if (const auto *pPicture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame *>(pFrame)) {
            if (pPicture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover) {
                view.strCoverMime = pPicture->mimeType().to8Bit(true);
                view.strCover.assign(pPicture->picture().data(), pPicture->picture().size());
            }
            continue;
        }
        view.texts[strId] = pFrame->toString().to8Bit(true);
    }
    return view;
}

TEST(OutputTags, Mp3GetsTheSourcesTagsAndCoverWithItsLengthExact) {
    MediaFactory media;
    const std::string strCover =
        media.Make("cover.jpg", {"-f", "lavfi", "-i", "color=c=red:s=64x64:d=1"}, {"-frames:v", "1"});
    const std::string strSong =
        media.Make("song.m4a", {"-f", "lavfi", "-i", "sine=f=440:d=2", "-i", strCover},
                   {"-map",           "0",
                    "-map",           "1",
                    "-c:a",           "aac",
                    "-c:v",           "mjpeg",
                    "-disposition:v", "attached_pic",
                    "-metadata",      "title=夜の歌",
                    "-metadata",      "artist=Zoë Müller",
                    "-metadata",      "album=Ålbum",
                    "-metadata",      "album_artist=Ensemble",
                    "-metadata",      "date=2021",
                    "-metadata",      "track=3/12",
                    "-metadata",      "genre=Jazz",
                    "-metadata",      "comment=Live",
                    "-metadata",      "composer=Émile"});
    ASSERT_EQ(Convert({"-q", "-o", media.PathOf("tagged"), strSong}).iExitStatus, 0);
    ASSERT_EQ(Convert({"-q", "--no-tags", "-o", media.PathOf("plain"), strSong}).iExitStatus, 0);

    const Id3View id3 = ReadId3(media.PathOf("tagged/song.m4a.mp3"));
    EXPECT_EQ(id3.nVersion, 3);
    EXPECT_EQ(id3.texts.at("TIT2"), "夜の歌");
    EXPECT_EQ(id3.texts.at("TPE1"), "Zoë Müller");
    EXPECT_EQ(id3.texts.at("TALB"), "Ålbum");
    EXPECT_EQ(id3.texts.at("TPE2"), "Ensemble");
    EXPECT_EQ(id3.texts.at("TDRC"), "2021") << "stored as 2.3's TYER, read back by TagLib as TDRC";
    EXPECT_EQ(id3.texts.at("TRCK"), "3/12");
    EXPECT_EQ(id3.texts.at("TCON"), "Jazz");
    EXPECT_EQ(id3.texts.at("TCOM"), "Émile");
    EXPECT_NE(id3.texts.at("COMM").find("Live"), std::string::npos);
    EXPECT_EQ(id3.strCoverMime, "image/jpeg");
    const std::string strSourceCover = RunCommand({"ffmpeg", "-v", "error", "-i", strSong, "-map", "0:v",
                                                   "-c", "copy", "-f", "image2pipe", "-"})
                                           .strStdout;
    EXPECT_EQ(id3.strCover, strSourceCover);
    EXPECT_EQ(ProbeFormat(media.PathOf("tagged/song.m4a.mp3")).at("format_name"), "mp3");

    // The tag sits in front of the stream and leaves LAME's header frame alone: the decode is the same.
    EXPECT_TRUE(SamePcm(DecodeS16(media.PathOf("tagged/song.m4a.mp3")),
                        DecodeS16(media.PathOf("plain/song.m4a.mp3"))));
    EXPECT_EQ(ReadId3(media.PathOf("plain/song.m4a.mp3")).nVersion, 0) << "--no-tags writes no tag";
}

TEST(OutputTags, CoversFromMp3FlacAndMatroskaSourcesAndInfoChunksInWav) {
    MediaFactory media;
    const std::string strCover =
        media.Make("cover.png", {"-f", "lavfi", "-i", "color=c=blue:s=32x32:d=1"}, {"-frames:v", "1"});
    const std::string strCoverBytes = ReadFileBytes(strCover);
    const std::string strMp3 = media.Make("a.mp3", {"-f", "lavfi", "-i", "sine=d=1", "-i", strCover},
                                          {"-map", "0", "-map", "1", "-c:a", "libmp3lame", "-c:v", "copy",
                                           "-id3v2_version", "3", "-metadata", "title=From MP3"});
    const std::string strFlac =
        media.Make("b.flac", {"-f", "lavfi", "-i", "sine=d=1", "-i", strCover},
                   {"-map", "0", "-map", "1", "-c:a", "flac", "-c:v", "copy", "-disposition:v",
                    "attached_pic", "-metadata", "artist=From FLAC"});
    const std::string strMkv = media.Make("c.mkv", {"-f", "lavfi", "-i", "sine=d=1"},
                                          {"-c:a", "flac", "-attach", strCover, "-metadata:s:t",
                                           "mimetype=image/png", "-metadata:s:t", "filename=cover.png"});
    ASSERT_EQ(Convert({"-q", "-o", media.PathOf("out"), strMp3, strFlac, strMkv}).iExitStatus, 0);
    for (const char *szName : {"a.mp3", "b.flac", "c.mkv"}) {
        SCOPED_TRACE(szName);
        const Id3View id3 = ReadId3(media.PathOf(std::string("out/") + szName + ".mp3"));
        EXPECT_EQ(id3.strCoverMime, "image/png");
        EXPECT_EQ(id3.strCover, strCoverBytes);
    }
    EXPECT_EQ(ReadId3(media.PathOf("out/a.mp3.mp3")).texts.at("TIT2"), "From MP3");
    EXPECT_EQ(ReadId3(media.PathOf("out/b.flac.mp3")).texts.at("TPE1"), "From FLAC");

    // A video without a title is titled after its file; WAV carries its tags in a LIST/INFO chunk.
    const std::string strVideo = media.MakeTone("Holiday 2024.mp4", 1, 44100, 2, {"-c:a", "aac"}, true);
    ASSERT_EQ(Convert({"-q", "--wav", "-o", media.PathOf("wav"), strVideo, strFlac}).iExitStatus, 0);
    TagLib::RIFF::WAV::File wav(media.PathOf("wav/Holiday 2024.mp4.wav").c_str(), false);
    ASSERT_TRUE(wav.isValid());
    EXPECT_EQ(wav.InfoTag()->title().to8Bit(true), "Holiday 2024");
    TagLib::RIFF::WAV::File flacWav(media.PathOf("wav/b.flac.wav").c_str(), false);
    EXPECT_EQ(flacWav.InfoTag()->artist().to8Bit(true), "From FLAC");
    EXPECT_TRUE(SamePcm(DecodeS16(media.PathOf("wav/b.flac.wav")), DecodeS16(strFlac)));
}

TEST(OutputTags, WavInfoChunkLiesBeforeTheDataSoNoReaderPlaysIt) {
    MediaFactory media;
    const std::string strSource = media.MakeTone(
        "song.flac", 1, 44100, 2, {"-c:a", "flac", "-metadata", "title=Song", "-metadata", "artist=Band"});
    ASSERT_EQ(Convert({"-q", "--wav", "-o", media.PathOf("out"), strSource}).iExitStatus, 0);
    const std::string strWav = media.PathOf("out/song.flac.wav");
    const std::string strBytes = ReadFileBytes(strWav);
    std::vector<std::string> chunks;
    size_t nPos = 12;
    while (nPos + 8 <= strBytes.size()) {
        chunks.push_back(strBytes.substr(nPos, 4));
        const uint32_t nSize = static_cast<uint8_t>(strBytes[nPos + 4]) |
                               static_cast<uint8_t>(strBytes[nPos + 5]) << 8 |
                               static_cast<uint8_t>(strBytes[nPos + 6]) << 16 |
                               static_cast<uint32_t>(static_cast<uint8_t>(strBytes[nPos + 7])) << 24;
        nPos += 8 + nSize + (nSize & 1);
    }
    EXPECT_EQ(chunks, (std::vector<std::string>{"fmt ", "LIST", "data"}));
    EXPECT_EQ(nPos, strBytes.size()) << "the data chunk ends the file";
    EXPECT_TRUE(SamePcm(DecodeS16(strWav), DecodeS16(strSource)));
    TagLib::RIFF::WAV::File wav(strWav.c_str(), false);
    EXPECT_EQ(wav.InfoTag()->title().to8Bit(true), "Song");
    EXPECT_EQ(wav.InfoTag()->artist().to8Bit(true), "Band");
}

TEST(OutputTags, BrokenMetadataStillConvertsWithWhatIsValid) {
    MediaFactory media;
    const std::string strNotAPicture = media.MakeRaw("cover.jpg", std::string(2000, 'x'));
    const std::string strHuge(100000, 'a');
    const std::string strSource =
        media.Make("broken.mkv", {"-f", "lavfi", "-i", "sine=d=1"},
                   {"-c:a", "flac", "-attach", strNotAPicture, "-metadata:s:t", "mimetype=image/jpeg",
                    "-metadata:s:t", "filename=cover.jpg", "-metadata", "title=" + strHuge, "-metadata",
                    std::string("artist=caf\xE9 bar")});
    const CommandResult result = Convert({"-q", "-o", media.PathOf("out"), strSource});
    ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
    const Id3View id3 = ReadId3(media.PathOf("out/broken.mkv.mp3"));
    EXPECT_TRUE(id3.strCover.empty()) << "bytes that are no picture are not carried over";
    EXPECT_LE(id3.texts.at("TIT2").size(), 1024u);
    EXPECT_EQ(id3.texts.at("TIT2").substr(0, 10), "aaaaaaaaaa");
    EXPECT_EQ(id3.texts.at("TPE1"), "café bar") << "invalid UTF-8 is read as Latin-1";
    EXPECT_EQ(SanitizedTagText(std::string("a\0b\x01"
                                           "c",
                                           5)),
              "abc");
}

// A copy's tags are the source's as every other output gets them, not its raw metadata.
TEST(OutputTags, ACopyGetsTheSanitisedTagsToo) {
    MediaFactory media;
    for (const auto &[szName, szCodec] : {std::pair{"raw.ogg", "libvorbis"}, std::pair{"raw.m4a", "aac"}}) {
        SCOPED_TRACE(szName);
        const std::string strSource =
            media.Make(szName, {"-f", "lavfi", "-i", "sine=d=1"},
                       {"-c:a", szCodec, "-metadata", std::string("artist=caf\xE9 bar")});
        const CommandResult result = Convert({"-q", "-f", "copy", "-o", media.PathOf("out"), strSource});
        ASSERT_EQ(result.iExitStatus, 0) << result.strStderr;
        const std::string strCopy =
            media.PathOf("out") + "/" + szName + fs::path(szName).extension().string();
        EXPECT_EQ(RunCommand({"ffprobe", "-v", "error", "-show_entries",
                              "format_tags=artist:stream_tags=artist", "-of", "default=nw=1:nk=1", strCopy})
                      .strStdout,
                  "café bar\n");
    }
}

// Byte sequences shaped like UTF-8 that Unicode forbids make the text an old 8-bit one, each byte its
// Latin-1 character; the edges of what is allowed stay as they are.
TEST(OutputTags, SurrogatesOverlongFormsAndCodePointsPastUnicodeAreReadAsLatin1) {
    const std::pair<const char *, const char *> cases[] = {
        {"x\xED\xA0\x80", "x\xC3\xAD\xC2\xA0\xC2\x80"},              // U+D800, a surrogate
        {"x\xED\xBF\xBF", "x\xC3\xAD\xC2\xBF\xC2\xBF"},              // U+DFFF
        {"x\xC0\x80", "x\xC3\x80\xC2\x80"},                          // NUL in two bytes
        {"x\xE0\x80\x80", "x\xC3\xA0\xC2\x80\xC2\x80"},              // NUL in three
        {"x\xE0\x9F\xBF", "x\xC3\xA0\xC2\x9F\xC2\xBF"},              // U+07FF in three
        {"x\xF0\x80\x80\x80", "x\xC3\xB0\xC2\x80\xC2\x80\xC2\x80"},  // NUL in four
        {"x\xF0\x8F\xBF\xBF", "x\xC3\xB0\xC2\x8F\xC2\xBF\xC2\xBF"},  // U+FFFF in four
        {"x\xF4\x90\x80\x80", "x\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},  // U+110000
        {"x\xF5\x80\x80\x80", "x\xC3\xB5\xC2\x80\xC2\x80\xC2\x80"},
        {"x\xFF", "x\xC3\xBF"},
        {"x\xED\x9F\xBF \xEE\x80\x80", "x\xED\x9F\xBF \xEE\x80\x80"},          // U+D7FF and U+E000
        {"x\xE0\xA0\x80 \xF0\x90\x80\x80", "x\xE0\xA0\x80 \xF0\x90\x80\x80"},  // U+0800 and U+10000
        {"x\xF4\x8F\xBF\xBF", "x\xF4\x8F\xBF\xBF"},                            // U+10FFFF
    };
    for (const auto &[szTag, szExpected] : cases) {
        EXPECT_EQ(SanitizedTagText(szTag), szExpected) << szTag;
    }
}

// Writes each file into its named pipe, one pipe after the other in the order given, waiting for the
// converter as a reader without ever blocking, so a converter that hangs and is killed does not leave
// the thread behind.
std::thread FeedPipes(std::vector<std::pair<std::string, std::string>> filesAndPipes) {
    return std::thread([filesAndPipes] {
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);  // a reader gone early is EPIPE, not the end
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(70);
        for (const auto &[strFile, strPipe] : filesAndPipes) {
            const std::string strBytes = ReadFileBytes(strFile);
            int fd = -1;
            while ((fd = ::open(strPipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == ENXIO &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (fd < 0) {
                return;
            }
            ::fcntl(fd, F_SETFL, 0);
            for (size_t nDone = 0; nDone < strBytes.size();) {
                const ssize_t nWritten = ::write(fd, strBytes.data() + nDone, strBytes.size() - nDone);
                if (nWritten <= 0) {
                    break;
                }
                nDone += static_cast<size_t>(nWritten);
            }
            ::close(fd);
        }
    });
}

// A named pipe is read once, by the decoder: neither looking for MIDI content nor reading the tags
// takes its first bytes or waits for a writer that is gone. Each pipe holds more than its buffer, so
// its writer is still writing while the conversion reads. Pipes fed in another order than the list's
// must not hold each other up: the second file converts while the first still waits for its writer.
TEST(Sources, NamedPipesAreReadOnceToTheirLastSampleInWhateverOrderTheyAreFed) {
    MediaFactory media;
    const std::string strWav = media.MakeTone("tone.wav", 2, 44100, 2, {"-c:a", "pcm_s16le"});
    const std::vector<std::vector<int>> feedOrders = {{0}, {1, 0}};
    for (const std::vector<int> &order : feedOrders) {
        SCOPED_TRACE(order.size());
        const std::string strOut = media.PathOf("out" + std::to_string(order.size()));
        std::vector<std::string> args = {"timeout", "-s",     "KILL", "60", kProgram, "-q",
                                         "--wav",   "--jobs", "2",    "-o", strOut};
        std::vector<std::pair<std::string, std::string>> feeds;
        for (size_t i = 0; i < order.size(); ++i) {
            const std::string strPipe =
                media.PathOf(std::to_string(order.size()) + "piped" + std::to_string(i) + ".wav");
            ASSERT_EQ(::mkfifo(strPipe.c_str(), 0600), 0);
            args.push_back(strPipe);
        }
        for (int i : order) {
            feeds.emplace_back(strWav, args[args.size() - order.size() + static_cast<size_t>(i)]);
        }
        std::thread writer = FeedPipes(feeds);
        const CommandResult result = RunCommand(args);
        writer.join();
        ASSERT_EQ(result.iExitStatus, 0) << "a converter that hung is killed: " << result.strStderr;
        for (size_t i = 0; i < order.size(); ++i) {
            const std::string strName =
                std::to_string(order.size()) + "piped" + std::to_string(i) + ".wav.wav";
            EXPECT_TRUE(SamePcm(DecodeS16(strOut + "/" + strName), DecodeS16(strWav))) << strName;
        }
    }
}

}  // namespace

}  // namespace klangor

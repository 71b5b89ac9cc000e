// Real media of every kind the converter is expected to read, made with the ffmpeg command, converted by
// the engine and compared with ffmpeg's own 16-bit decode of the same frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "JobTestSupport.h"
#include "convert/outputs/Mp3JobOutput.h"
#include "convert/batch/WriterThread.h"
#include "convert/outputs/WavJobOutput.h"
#include "support/MediaFactory.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

struct MediaKind {
    const char *szName;
    std::vector<std::string> codecArgs;
    int nSampleRate;
    int nChannels;
    bool bVideo;
    // Decoders with overlapping frames (AAC, AC-3, MP2) may differ in the last bit after a seek.
    int nSeekTolerance;
};

const std::vector<MediaKind> &Kinds() {
    static const std::vector<MediaKind> kinds = {
        {"talk.mp4", {"-c:a", "aac", "-c:v", "libx264", "-preset", "ultrafast"}, 44100, 2, true, 8},
        {"clip.avi", {"-c:a", "libmp3lame", "-c:v", "mpeg4"}, 44100, 2, true, 0},
        {"surround.mkv", {"-c:a", "ac3", "-c:v", "mpeg4"}, 48000, 6, true, 8},
        {"program.mpg", {"-c:a", "mp2", "-c:v", "mpeg2video", "-f", "vob"}, 44100, 2, true, 8},
        {"stream.asf", {"-c:a", "wmav2"}, 44100, 2, false, 0},
        {"u8mono.wav", {"-c:a", "pcm_u8"}, 22050, 1, false, 0},
        {"deep.wav", {"-c:a", "pcm_s24le"}, 48000, 2, false, 0},
        {"float.wav", {"-c:a", "pcm_f32le"}, 44100, 2, false, 0},
        {"lossless.flac", {"-c:a", "flac"}, 44100, 2, false, 0},
        {"vorbis.ogg", {"-c:a", "libvorbis"}, 44100, 2, false, 0},
        {"sound.aiff", {"-c:a", "pcm_s16be"}, 44100, 2, false, 0},
        {"sound.au", {"-c:a", "pcm_s16be"}, 22050, 1, false, 0},
    };
    return kinds;
}

constexpr double kSeconds = 10.0;

class MediaConversionTest : public ::testing::TestWithParam<MediaKind> {
protected:
    // Made on first use: ctest runs every test in its own process, so each makes only its own kind.
    static std::string SourceOf(const MediaKind &kind) {
        if (!s_pMedia) {
            s_pMedia = new MediaFactory;
        }
        const std::string strPath = s_pMedia->PathOf(kind.szName);
        if (!fs::exists(strPath)) {
            s_pMedia->MakeTone(kind.szName, kSeconds, kind.nSampleRate, kind.nChannels, kind.codecArgs,
                               kind.bVideo);
        }
        return strPath;
    }
    static void TearDownTestSuite() {
        std::unique_ptr<MediaFactory> pOwned(s_pMedia);
        s_pMedia = nullptr;
    }

    // ffmpeg's 16-bit decode, with more than two channels mixed down as the converter does.
    std::string Reference(const MediaKind &kind) const {
        const std::vector<std::string> extra =
            kind.nChannels > 2 ? std::vector<std::string>{"-ac", "2"} : std::vector<std::string>{};
        return DecodeS16(SourceOf(kind), extra);
    }

    // Converts the source with the given selection (or none) to WAV; returns the data bytes.
    std::string ConvertToWav(const MediaKind &kind, const ClipInfo *pSelection, const std::string &strOut) {
        const std::string strSource = SourceOf(kind);
        fs::remove(strSource + ".clipinfo");
        if (pSelection) {
            EXPECT_TRUE(WriteCutInfo(strSource, *pSelection));
        }
        ConversionJob job(strSource, s_pMedia->PathOf(strOut));
        job.FixSelection();
        // The samples are compared here; a video's title would add an INFO chunk before them.
        job.SetWriteTags(false);
        WriterThread writer;
        EXPECT_EQ(writer.Start({&job}, OutputFormat::Wav), 0);
        writer.Wait();
        EXPECT_EQ(job.GetError(), "");
        const std::string strBytes = ReadFileBytes(job.GetOutputPath());
        const int nOutChannels = std::min(kind.nChannels, 2);
        EXPECT_EQ(ReadU16(strBytes, 22), nOutChannels);
        EXPECT_EQ(ReadU32(strBytes, 24), static_cast<uint32_t>(kind.nSampleRate));
        EXPECT_EQ(ReadU16(strBytes, 34), 16);
        EXPECT_EQ(ReadU32(strBytes, 40), strBytes.size() - 44);
        return strBytes.substr(44);
    }

    // The frames [start, end) of a selection in hundredths, compared with the reference's.
    void ExpectSelection(const MediaKind &kind, uint32_t nStart, uint32_t nEnd) {
        const ClipInfo selection{static_cast<uint32_t>(kSeconds * 100), nStart, nEnd};
        const std::string strOut = ConvertToWav(kind, &selection, std::string(kind.szName) + ".part.wav");
        const size_t nFrameBytes = 2u * static_cast<size_t>(std::min(kind.nChannels, 2));
        const size_t nFirst = static_cast<size_t>(nStart) * kind.nSampleRate / 100;
        const size_t nLast = static_cast<size_t>(nEnd) * kind.nSampleRate / 100;
        const std::string strRef =
            Reference(kind).substr(nFirst * nFrameBytes, (nLast - nFirst) * nFrameBytes);
        ASSERT_EQ(strOut.size(), (nLast - nFirst) * nFrameBytes) << "selection " << nStart << ".." << nEnd;
        if (kind.nSeekTolerance == 0 || nStart == 0) {
            EXPECT_TRUE(strOut == strRef) << "selection " << nStart << ".." << nEnd << " differs";
            return;
        }
        int nMaxDiff = 0;
        for (size_t i = 0; i + 1 < strOut.size(); i += 2) {
            const int a = static_cast<int16_t>(static_cast<uint8_t>(strOut[i]) |
                                               (static_cast<uint8_t>(strOut[i + 1]) << 8));
            const int b = static_cast<int16_t>(static_cast<uint8_t>(strRef[i]) |
                                               (static_cast<uint8_t>(strRef[i + 1]) << 8));
            nMaxDiff = std::max(nMaxDiff, std::abs(a - b));
        }
        // A frame off by one sample differs by hundreds of units in these tones.
        EXPECT_LE(nMaxDiff, kind.nSeekTolerance) << "selection " << nStart << ".." << nEnd;
    }

    static MediaFactory *s_pMedia;
};

MediaFactory *MediaConversionTest::s_pMedia = nullptr;

TEST_P(MediaConversionTest, WholeClipIsEveryFrameFfmpegDecodes) {
    const MediaKind &kind = GetParam();
    const std::string strOut = ConvertToWav(kind, nullptr, std::string(kind.szName) + ".whole.wav");
    EXPECT_TRUE(strOut == Reference(kind)) << kind.szName << ": " << strOut.size() << " bytes";
}

TEST_P(MediaConversionTest, SelectionNearTheStartIsCutSampleExactly) {
    ExpectSelection(GetParam(), 150, 400);
}

TEST_P(MediaConversionTest, SelectionAfterASeekIsCutSampleExactly) {
    ExpectSelection(GetParam(), 750, 950);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MediaConversionTest, ::testing::ValuesIn(Kinds()),
                         [](const ::testing::TestParamInfo<MediaKind> &info) {
                             std::string strName = info.param.szName;
                             std::replace(strName.begin(), strName.end(), '.', '_');
                             return strName;
                         });

TEST(BrokenMedia, FilesWithoutAudioFailToOpenWithTheReason) {
    MediaFactory media;
    const std::string strNoAudio = media.Make(
        "silent.mp4", {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=10:duration=1"}, {"-c:v", "mpeg4"});
    const std::string strWhole = media.MakeTone("whole.mp4", 2, 44100, 2, {"-c:a", "aac"});
    const std::string strBytes = ReadFileBytes(strWhole);
    const std::string strTruncated = media.MakeRaw("truncated.mp4", strBytes.substr(0, strBytes.size() / 2));
    const std::string strEmpty = media.MakeRaw("empty.mp4", "");
    const std::string strText = media.MakeRaw("notes.mp4", "These are my notes, not a movie.\n");
    for (const std::string &strPath : {strNoAudio, strTruncated, strEmpty, strText}) {
        AudioStreamReader job;
        EXPECT_FALSE(job.Open(strPath)) << strPath;
        EXPECT_EQ(job.m_strLastError, "Can not find audio in you Media file!") << strPath;
    }
    AudioStreamReader job;
    EXPECT_FALSE(job.Open(media.PathOf("does-not-exist.avi")));
}

TEST(BrokenMedia, DamageInTheMiddleIsSkippedNotFatal) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("damaged.mpg", 6, 44100, 2, {"-c:a", "mp2", "-f", "vob"});
    std::string strBytes = ReadFileBytes(strSource);
    for (size_t i = strBytes.size() / 2; i < strBytes.size() / 2 + 3000; ++i) {
        strBytes[i] = static_cast<char>(i * 13);
    }
    media.MakeRaw("damaged.mpg", strBytes);
    ConversionJob job(strSource, media.PathOf("damaged.wav"));
    WriterThread writer;
    ASSERT_EQ(writer.Start({&job}, OutputFormat::Wav), 0);
    writer.Wait();
    EXPECT_EQ(job.GetError(), "");
    const size_t nFrames = (ReadFileBytes(job.GetOutputPath()).size() - 44) / 4;
    EXPECT_GT(nFrames, 5u * 44100u) << "the audio after the damage is still converted";
}

TEST(RealMp3, SelectionOfAVideoDecodesToTheSelectedFramesAtTheChosenSettings) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("talk.mp4", 5, 44100, 6, {"-c:a", "aac"}, true);
    ASSERT_TRUE(WriteCutInfo(strSource, ClipInfo{500, 150, 400}));
    ConversionJob job(strSource, media.PathOf("talk.mp4.mp3"));
    job.FixSelection();  // opened by the writer for its turn, in the encoder's float format
    EncoderSettings settings;
    settings.m_iBitrate = 96;
    settings.m_iSampleRate = 44100;  // left to itself, the encoder resamples 96 kbps to 32 kHz
    WriterThread writer;
    ASSERT_EQ(writer.Start({&job}, OutputFormat::Mp3, settings), 0);
    writer.Wait();
    EXPECT_EQ(job.GetError(), "");
    const auto stream = ProbeStream(job.GetOutputPath());
    EXPECT_EQ(stream.at("codec_name"), "mp3");
    EXPECT_EQ(stream.at("sample_rate"), "44100");
    EXPECT_EQ(stream.at("channels"), "2");
    EXPECT_EQ(stream.at("bit_rate"), "96000");
    EXPECT_EQ(DecodeS16(job.GetOutputPath()).size(), 110250u * 4);
}

TEST(RealMp3, SelectionPastAnUnderestimatedVbrLengthIsTheSelectedPart) {
    MediaFactory media;
    // Loud first, silent after: without a Xing header the length is guessed from the first frames'
    // high bitrate, far below the real 20 s.
    const std::string strSource = media.Make(
        "vbr.mp3", {"-f", "lavfi", "-i", "aevalsrc=exprs='if(lt(t,10),0.5*random(0),0)':s=44100:d=20"},
        {"-ac", "2", "-c:a", "libmp3lame", "-q:a", "2", "-write_xing", "0"});
    ASSERT_LT(std::stod(ProbeFormat(strSource).at("duration")), 15.0) << "the container must underestimate";
    ASSERT_TRUE(WriteCutInfo(strSource, ClipInfo{2004, 1300, 1500}));
    ConversionJob job(strSource, media.PathOf("vbr.mp3.wav"));
    job.FixSelection();
    WriterThread writer;
    ASSERT_EQ(writer.Start({&job}, OutputFormat::Wav), 0);
    writer.Wait();
    EXPECT_EQ(job.GetError(), "");
    const std::string strData = ReadFileBytes(job.GetOutputPath()).substr(44);
    EXPECT_EQ(strData.size(), 200u * 441 * 4) << "13 s to 15 s, not the whole clip";
    EXPECT_TRUE(strData == DecodeS16(strSource).substr(1300u * 441 * 4, 200u * 441 * 4));
}

TEST(FfmpegDecoder, FillsPastTheEndHandOutNothingAndTheReadShareReachesTheEnd) {
    MediaFactory media;
    const std::string strSource = media.MakeTone("short.flac", 0.3, 44100, 2, {"-c:a", "flac"});
    for (PcmSampleFormat format : {PcmSampleFormat::S16, PcmSampleFormat::Float}) {
        auto pDecoder = CreateFfmpegAudioDecoder(format);
        ASSERT_EQ(pDecoder->OpenFile(strSource), 0);
        WaveFormat wfx;
        ASSERT_EQ(pDecoder->GetFormat(wfx), 0);
        EXPECT_EQ(wfx.wBitsPerSample, format == PcmSampleFormat::Float ? 32 : 16);
        ASSERT_EQ(pDecoder->Run(), 0);
        std::vector<uint8_t> buffer(1000u * wfx.nBlockAlign);
        uint64_t nTotal = 0;
        uint32_t nFilled = 1;
        double dShare = 0.0;
        while (nFilled > 0) {
            ASSERT_EQ(pDecoder->Fill(buffer.data(), 1000, nFilled), 0);
            nTotal += nFilled;
            EXPECT_GE(pDecoder->GetReadFraction(), dShare) << "the read share never goes back";
            dShare = pDecoder->GetReadFraction();
        }
        EXPECT_EQ(nTotal, 13230u);
        EXPECT_EQ(dShare, 1.0);
        // Nothing pending any more: further fills give nothing and copy nothing.
        ASSERT_EQ(pDecoder->Fill(buffer.data(), 1000, nFilled), 0);
        EXPECT_EQ(nFilled, 0u);
    }
}

}  // namespace

}  // namespace klangor

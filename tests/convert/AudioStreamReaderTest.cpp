#include <gtest/gtest.h>

#include <fstream>

#include "ScriptedDecoder.h"
#include "clips/CutInfo.h"
#include "convert/batch/AudioStreamReader.h"
#include "support/TempDir.h"

namespace klangor {

namespace {

class ReaderTest : public ::testing::Test {
protected:
    TempDir m_dir;
    std::string m_strMedia = (m_dir.Path() / "clip.avi").string();
    std::shared_ptr<DecoderScript> m_pScript = std::make_shared<DecoderScript>();
    AudioStreamReader m_reader{ScriptedFactory(m_pScript)};

    void SaveSelection(uint32_t nDuration, uint32_t nStart, uint32_t nEnd) {
        ASSERT_TRUE(WriteCutInfo(m_strMedia, ClipInfo{nDuration, nStart, nEnd}));
    }
    // Reads the whole range; returns the chunk sizes and checks every frame's bytes on the way.
    std::vector<int> ReadAll(uint64_t nFirstFrame) {
        std::vector<int> chunks;
        uint64_t nFrame = nFirstFrame;
        for (int n = m_reader.ReadChunk(); n > 0; n = m_reader.ReadChunk()) {
            chunks.push_back(n);
            const size_t nFrameBytes = m_pScript->wfx.nBlockAlign;
            for (int j = 0; j < n; j += 97) {
                EXPECT_EQ(m_reader.m_pBuffer[j * nFrameBytes], DecoderScript::PatternByte(nFrame + j, 0))
                    << "frame " << nFrame + j;
            }
            nFrame += static_cast<uint64_t>(n);
        }
        return chunks;
    }
};

TEST_F(ReaderTest, TotalFramesTruncateTheDuration) {
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nTotalFrames, 44100u);
    m_pScript->llDuration = 9999999;
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nTotalFrames, 44099u);
}

TEST_F(ReaderTest, SelectionInHundredthsBecomesAnExactFrameRangeWithOneSeek) {
    m_pScript->llDuration = 50000000;
    m_pScript->nRealFrames = 5 * 44100;
    SaveSelection(500, 150, 400);
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nStartFrame, 66150u);
    EXPECT_EQ(m_reader.m_nEndFrame, 176400u);
    EXPECT_EQ(m_reader.m_nFramesToConvert, 110250u);
    const std::vector<int> chunks = ReadAll(66150);
    ASSERT_EQ(chunks.size(), 111u);
    EXPECT_EQ(chunks.front(), 1000);
    EXPECT_EQ(chunks.back(), 250);
    ASSERT_EQ(m_pScript->seeks.size(), 1u);
    EXPECT_EQ(m_pScript->seeks[0], 15000000);
    EXPECT_EQ(m_reader.ReadChunk(), 0);  // read through once: stays exhausted
}

TEST_F(ReaderTest, InvalidSelectionFallsBackToWholeClip) {
    SaveSelection(2000, 300, 200);  // start after end
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nStartFrame, 0u);
    EXPECT_EQ(m_reader.m_nFramesToConvert, 44100u);
    EXPECT_TRUE(m_reader.RunsToStreamEnd());

    SaveSelection(2000, 10, 101);  // end beyond the stream
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nStartFrame, 0u);
    EXPECT_TRUE(m_reader.RunsToStreamEnd());

    SaveSelection(2000, 10, 100);  // end exactly at the stream's end is a valid range
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nStartFrame, 4410u);
    EXPECT_EQ(m_reader.m_nEndFrame, 44100u);
    EXPECT_FALSE(m_reader.RunsToStreamEnd());
}

TEST_F(ReaderTest, ForeignCutInfoIsIgnored) {
    std::ofstream(m_strMedia + ".clipinfo") << "Owner=Other\r\nCutInfo=100,10,20,0;";
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nFramesToConvert, m_reader.m_nTotalFrames);
}

TEST_F(ReaderTest, WholeClipHoldsEveryDecodedFrameWhenTheDurationIsShort) {
    m_pScript->nRealFrames = 50000;  // the container promised 44100
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    const std::vector<int> chunks = ReadAll(0);
    uint64_t nTotal = 0;
    for (int n : chunks) {
        nTotal += static_cast<uint64_t>(n);
    }
    EXPECT_EQ(nTotal, 50000u);
}

TEST_F(ReaderTest, UnknownDurationStillConvertsTheWholeStream) {
    m_pScript->llDuration = 0;
    m_pScript->nRealFrames = 12345;
    SaveSelection(0, 0, 0);  // what a player that could not measure the clip saves
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nTotalFrames, 0u);
    uint64_t nTotal = 0;
    for (int n : ReadAll(0)) {
        nTotal += static_cast<uint64_t>(n);
    }
    EXPECT_EQ(nTotal, 12345u);
}

TEST_F(ReaderTest, SelectionEndingAtStoredDurationRunsToTheRealEnd) {
    m_pScript->nRealFrames = 47000;
    SaveSelection(100, 50, 100);
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    uint64_t nTotal = 0;
    for (int n : ReadAll(22050)) {
        nTotal += static_cast<uint64_t>(n);
    }
    EXPECT_EQ(nTotal, 47000u - 22050u);
}

TEST_F(ReaderTest, StreamEndingInsideTheRangeDeliversThePartialChunk) {
    m_pScript->nRealFrames = 30500;  // shorter than the container says
    SaveSelection(100, 0, 90);
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    const std::vector<int> chunks = ReadAll(0);
    ASSERT_EQ(chunks.size(), 31u);
    EXPECT_EQ(chunks.back(), 500);
    EXPECT_EQ(m_reader.ReadChunk(), 0);
    EXPECT_TRUE(m_reader.m_strLastError.empty());
}

TEST_F(ReaderTest, EmptyRangeNeverTouchesTheDecoder) {
    SaveSelection(100, 40, 40);
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.ReadChunk(), 0);
    EXPECT_TRUE(m_pScript->seeks.empty());
    EXPECT_EQ(m_pScript->nFills, 0);
}

TEST_F(ReaderTest, BufferHoldsOneThousandFramesOfTheFormat) {
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nBufferBytes, 4000);
    m_pScript->wfx = WaveFormat{kWaveFormatPcm, 1, 8000, 8000, 1, 8, 0};
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nBufferBytes, 1000);
    EXPECT_EQ(m_reader.m_nBytesPerSample, 1);
    EXPECT_EQ(m_reader.m_nChannels, 1);
}

TEST_F(ReaderTest, EachFailingStepLeavesItsText) {
    struct Case {
        void (*script)(DecoderScript &);
        const char *szText;
    };
    const Case cases[] = {
        {[](DecoderScript &s) { s.iOpenResult = -2; }, "Can not find audio in you Media file!"},
        {[](DecoderScript &s) { s.iDurationResult = -2; }, "Can not get Duration."},
        {[](DecoderScript &s) { s.iFormatResult = -2; }, "Cannot get audio format!"},
        {[](DecoderScript &s) { s.wfx.wFormatTag = 3; }, "Audio type is not supported!"},
        {[](DecoderScript &s) { s.iRunResult = -2; }, "Cannot start the audio stream."},
    };
    for (const Case &c : cases) {
        auto pScript = std::make_shared<DecoderScript>();
        c.script(*pScript);
        AudioStreamReader reader(ScriptedFactory(pScript));
        EXPECT_FALSE(reader.Open(m_strMedia));
        EXPECT_EQ(reader.m_strLastError, c.szText);
        EXPECT_FALSE(reader.IsOpen());
    }
    AudioStreamReader noDecoder([](PcmSampleFormat) { return std::unique_ptr<IAudioDecoder>(); });
    EXPECT_FALSE(noDecoder.Open(m_strMedia));
    EXPECT_EQ(noDecoder.m_strLastError, "Could not create MultiMedia Stream for Audio");
    EXPECT_EQ(noDecoder.ReadChunk(), 0);
}

TEST_F(ReaderTest, ReadFailuresReturnMinusOneWithoutAdvancing) {
    m_pScript->iSeekResult = -1;
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.ReadChunk(), -1);
    EXPECT_EQ(m_reader.m_strLastError, "Cannot seek audio.");

    m_pScript->iSeekResult = 0;
    m_pScript->llFailFillAtFrame = 2500;
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.ReadChunk(), 1000);
    EXPECT_EQ(m_reader.ReadChunk(), 1000);
    EXPECT_EQ(m_reader.ReadChunk(), -1);
    EXPECT_EQ(m_reader.m_strLastError, "Cannot update audio sample");
    EXPECT_EQ(m_reader.m_nFramesRead, 2000u);
}

}  // namespace

namespace {

TEST_F(ReaderTest, EmptySelectionAtTheClipsEndConvertsNothing) {
    m_pScript->nRealFrames = 47000;
    SaveSelection(100, 100, 100);
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nFramesToConvert, 0u);
    EXPECT_EQ(m_reader.ReadChunk(), 0);
    EXPECT_EQ(m_pScript->nFills, 0);
}

TEST_F(ReaderTest, SelectionPastAnUnderestimatedLengthIsCheckedAgainstTheCountedLength) {
    m_pScript->llDuration = 109500000;    // 10.95 s promised by the container
    m_pScript->nRealFrames = 2004 * 441;  // 20.04 s really there
    SaveSelection(2003, 1200, 1500);
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nStartFrame, 1200u * 441);
    EXPECT_EQ(m_reader.m_nFramesToConvert, 300u * 441);
    uint64_t nTotal = 0;
    for (int n : ReadAll(1200 * 441)) {
        nTotal += static_cast<uint64_t>(n);
    }
    EXPECT_EQ(nTotal, 300u * 441);
    EXPECT_EQ(m_pScript->nLiveDecoders, 1) << "the counting decoder is gone again";

    // Past the counted end too: the selection is not the clip's, the whole clip is converted.
    SaveSelection(2003, 1200, 2100);
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nStartFrame, 0u);
    EXPECT_TRUE(m_reader.RunsToStreamEnd());
}

TEST_F(ReaderTest, FixedSelectionIsTheOneTakenBeforeLaterEdits) {
    m_pScript->llDuration = 50000000;
    m_pScript->nRealFrames = 5 * 44100;
    SaveSelection(500, 100, 200);
    m_reader.FixSelection(m_strMedia);
    SaveSelection(500, 300, 400);
    ASSERT_TRUE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_nStartFrame, 44100u);
    EXPECT_EQ(m_reader.m_nFramesToConvert, 44100u);
}

TEST_F(ReaderTest, FloatIsAcceptedOnlyWhenAskedFor) {
    m_pScript->wfx = WaveFormat{kWaveFormatFloat, 2, 44100, 44100 * 8, 8, 32, 0};
    EXPECT_FALSE(m_reader.Open(m_strMedia));
    EXPECT_EQ(m_reader.m_strLastError, "Audio type is not supported!");
    ASSERT_TRUE(m_reader.Open(m_strMedia, PcmSampleFormat::Float));
    EXPECT_EQ(m_pScript->lastFormat, PcmSampleFormat::Float);
    EXPECT_EQ(m_reader.m_nBufferBytes, 8000);
}

}  // namespace

}  // namespace klangor

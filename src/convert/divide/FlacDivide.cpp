// One long file to FLAC on several workers. FLAC frames stand alone: a piece that starts on a multiple
// of the encoder's block size makes exactly the frames an undivided encode makes there, but for the
// frame number in each header and the two checksums over it. The first piece goes into the output
// through the container, with the tags and the cover; the later pieces' bare frames, and their samples
// for the stream's checksum, wait in scratch files. The join appends the later frames renumbered and
// gives the stream header the whole file's length, frame sizes and checksum, so the file is byte for
// byte the one a single encoder would have written from the same samples. (A decoder that fills bands
// with noise gives other noise after a seek: the file then holds that noise instead.)
extern "C" {
#include <libavutil/bswap.h>
#include <libavutil/crc.h>
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "common/OutputFile.h"
#include "convert/batch/WriterThread.h"
#include "convert/outputs/CodecOutput.h"
#include "convert/outputs/CodecJobOutput.h"
#include "convert/divide/ScratchFile.h"
#include "convert/divide/EvenPieces.h"
#include "media/AudioDecoder.h"

namespace klangor {

namespace {

constexpr const char *kWriteFailed = "Error writing output file";
// STREAMINFO's body: after "fLaC" and its own block header, as the muxer always writes it first.
constexpr long kStreamInfoAt = 8;
constexpr size_t kStreamInfoBytes = 34;

struct Md5Deleter {
    void operator()(AVMD5 *pMd5) const { av_free(pMd5); }
};

// Written by the worker that runs the piece's task, read by the job's worker once every task has ended.
struct FlacPieceResult {
    bool bOk = false;       // encoded and flushed what it read; otherwise strError says why, if it ran
    bool bStopped = false;  // ended early on a stop request
    uint64_t llFramesIn = 0;
    std::string strError;
    FilePtr pFrames;   // the later pieces' encoded frames, one after the other
    FilePtr pSamples;  // and their samples as the checksum reads them
    std::vector<uint32_t> frameSizes;
};

// FLAC's coded frame number: UTF-8's scheme, stretched to 36 bits.
size_t PutCodedNumber(uint64_t llNumber, uint8_t *pOut) {
    if (llNumber < 0x80) {
        pOut[0] = static_cast<uint8_t>(llNumber);
        return 1;
    }
    int nBytes = 2;
    while (nBytes < 7 && llNumber >= (uint64_t{1} << (5 * nBytes + 1))) {
        ++nBytes;
    }
    const int nShift = 6 * (nBytes - 1);
    pOut[0] = static_cast<uint8_t>(((0xFF00 >> nBytes) & 0xFF) | (llNumber >> nShift));
    for (int i = 1; i < nBytes; ++i) {
        pOut[i] = static_cast<uint8_t>(0x80 | ((llNumber >> (6 * (nBytes - 1 - i))) & 0x3F));
    }
    return static_cast<size_t>(nBytes);
}

// The frame as it is at position llNumber of the stream: its header's number and checksum and the
// frame's closing checksum written anew. False when it is no fixed-block-size frame.
bool RenumberFrame(const uint8_t *pFrame, size_t nSize, uint64_t llNumber, std::vector<uint8_t> &out) {
    if (nSize < 8 || pFrame[0] != 0xFF || pFrame[1] != 0xF8) {
        return false;
    }
    // The coded number's length is told by its first byte's leading ones: none for one byte, else 2 to 7.
    size_t nOldNumber = 0;
    while (nOldNumber < 8 && (pFrame[4] & (0x80 >> nOldNumber)) != 0) {
        ++nOldNumber;
    }
    if (nOldNumber == 0) {
        nOldNumber = 1;
    } else if (nOldNumber == 1 || nOldNumber == 8) {
        return false;
    }
    const int iBlockCode = pFrame[2] >> 4;
    const int iRateCode = pFrame[2] & 0x0F;
    const size_t nBlockBytes = iBlockCode == 6 ? 1 : iBlockCode == 7 ? 2 : 0;
    const size_t nRateBytes = iRateCode == 12 ? 1 : iRateCode == 13 || iRateCode == 14 ? 2 : 0;
    const size_t nOldHeader = 4 + nOldNumber + nBlockBytes + nRateBytes;
    if (nOldHeader + 3 > nSize) {
        return false;
    }
    out.assign(pFrame, pFrame + 4);
    uint8_t number[7] = {};
    out.insert(out.end(), number, number + PutCodedNumber(llNumber, number));
    out.insert(out.end(), pFrame + 4 + nOldNumber, pFrame + nOldHeader);
    out.push_back(static_cast<uint8_t>(av_crc(av_crc_get_table(AV_CRC_8_ATM), 0, out.data(), out.size())));
    out.insert(out.end(), pFrame + nOldHeader + 1, pFrame + nSize - 2);
    // libavutil's table gives this checksum byte-swapped; the stream holds it most significant byte first.
    const uint16_t nCrc = av_bswap16(
        static_cast<uint16_t>(av_crc(av_crc_get_table(AV_CRC_16_ANSI), 0, out.data(), out.size())));
    out.push_back(static_cast<uint8_t>(nCrc >> 8));
    out.push_back(static_cast<uint8_t>(nCrc & 0xFF));
    return true;
}

// The most bytes libavcodec's encoder lets a frame of nSamples take before it writes the frame
// verbatim instead: the verbatim frame with the longest header. The size it compares counts the frame's
// own header, whose coded number is shorter in a piece than in the whole file, so a piece's frame may stay
// compressed where the undivided encode wrote it verbatim: it is then longer than this once renumbered.
uint64_t VerbatimBound(uint64_t llSamples, uint64_t llChannels, uint64_t llBits) {
    const uint64_t llSubframeHeaders = llChannels * ((7 + llBits + 7) / 8);
    const uint64_t llSamplesBits =
        llChannels == 2 ? (2 * llBits + 1) * llSamples : llChannels * llBits * llSamples;
    return 16 + llSubframeHeaders + (llSamplesBits + 7) / 8 + 2;
}

uint32_t Be24(const uint8_t *p) {
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

void PutBe24(uint8_t *p, uint32_t n) {
    p[0] = static_cast<uint8_t>(n >> 16);
    p[1] = static_cast<uint8_t>(n >> 8);
    p[2] = static_cast<uint8_t>(n);
}

}  // namespace

int CodecJobOutput::PiecesFor(const ConversionJob &job, const AudioStreamReader &whole) const {
    // (ReplayGain is no reason to keep a file whole: it was measured in a pass of its own, before any
    // piece.)
    if (Traits().join != PieceJoin::FlacFrames) {
        return 1;
    }
    return EvenPieceCount(job, whole, DivideAfterSeconds(), WriterThread::kMostPieces);
}

bool CodecJobOutput::ConvertFlacDivided(ConversionJob &job, AudioStreamReader &whole,
                                        const EncoderSettings &settings, const MediaTags &tags, int nDepth,
                                        int nPieces) {
    OutputFile file;
    if (!file.Create(job.GetOutputPath(), true)) {
        FailJob(job, kCannotCreateText);
        return true;
    }
    CodecOutput first;
    if (!first.Open(OutputFormat::Flac, settings, whole.m_nSampleRate, whole.m_nChannels, nDepth, file.Get(),
                    tags, 0)) {
        FailJob(job, first.GetError());
        return true;
    }
    std::unique_ptr<AVMD5, Md5Deleter> pMd5(av_md5_alloc());
    if (!pMd5) {
        FailJob(job, "Out of memory");
        return true;
    }
    av_md5_init(pMd5.get());

    // Every cut on the block grid, so that each piece's frames are the whole file's frames there.
    const uint64_t llBlock = static_cast<uint64_t>(first.GetFrameSize());
    const std::vector<EvenPiece> plans = PlanEvenPieces(whole, nPieces, llBlock);
    if (plans.empty()) {
        return false;
    }
    const std::vector<SeekProbe> probes = ProbesOf(plans);
    if (!SeeksLandExactly(whole, probes)) {
        return false;
    }

    std::vector<FlacPieceResult> results(static_cast<size_t>(nPieces));
    const auto encodePiece = [&](int i) {
        const EvenPiece &plan = plans[i];
        FlacPieceResult &result = results[i];
        // The first piece always runs, so that a stop leaves what an undivided encode would: its start.
        if (i > 0 && IsStopRequested()) {
            result.bStopped = true;
            return;
        }
        AudioStreamReader reader;
        if (!reader.OpenPart(whole, plan.nDecodeStart)) {
            result.strError = reader.m_strLastError;
            return;
        }
        CodecOutput piece;
        CodecOutput &output = i == 0 ? first : piece;
        if (i == 0) {
            output.SetSampleSink([&pMd5](const uint8_t *pBytes, size_t nBytes) {
                av_md5_update(pMd5.get(), pBytes, nBytes);
                return true;
            });
        } else {
            result.pFrames = CreateScratchFile(job.GetOutputPath());
            result.pSamples = CreateScratchFile(job.GetOutputPath());
            if (!result.pFrames || !result.pSamples) {
                result.strError = kCannotCreateText;
                return;
            }
            FILE *pFrames = result.pFrames.get();
            FILE *pSamples = result.pSamples.get();
            const bool bOpen =
                piece.OpenFrames(settings, whole.m_nSampleRate, whole.m_nChannels, nDepth,
                                 [pFrames, &result](const uint8_t *pBytes, size_t nBytes) {
                                     result.frameSizes.push_back(static_cast<uint32_t>(nBytes));
                                     return std::fwrite(pBytes, 1, nBytes, pFrames) == nBytes;
                                 });
            if (!bOpen) {
                result.strError = piece.GetError();
                return;
            }
            piece.SetSampleSink([pSamples](const uint8_t *pBytes, size_t nBytes) {
                return std::fwrite(pBytes, 1, nBytes, pSamples) == nBytes;
            });
        }
        const PieceRead read = ReadPieceFrames(
            reader, plan,
            [&](const uint8_t *pChunk, uint32_t nFrames) {
                if (!output.Write(reinterpret_cast<const float *>(pChunk), nFrames)) {
                    return false;
                }
                job.AddFrames(nFrames);
                return true;
            },
            [this] { return IsStopRequested(); });
        result.llFramesIn = read.llFramesIn;
        result.bStopped = read.bStopped;
        if (read.bTakeFailed || !read.strReadError.empty()) {
            result.strError = read.bTakeFailed ? output.GetError() : read.strReadError;
            return;
        }
        if (!output.Finish()) {
            result.strError = output.GetError();
            return;
        }
        if (i > 0 && (std::fflush(result.pFrames.get()) != 0 || std::fflush(result.pSamples.get()) != 0)) {
            result.strError = kWriteFailed;
            return;
        }
        result.bOk = true;
    };

    // Taken in order by this worker and any other that is free; with no other free they run one after
    // the other here, and the file is the same either way.
    RunTasks(nPieces, [&](int i) {
        try {
            encodePiece(i);
        } catch (const std::bad_alloc &) {
            results[i] = FlacPieceResult{};
            results[i].strError = "Out of memory";
        } catch (const std::exception &e) {
            results[i] = FlacPieceResult{};
            results[i].strError = e.what();
        } catch (...) {
            results[i] = FlacPieceResult{};
            results[i].strError = kWriteFailed;
        }
    });

    // A piece that failed fails the file: no output that looks complete is left.
    for (const FlacPieceResult &result : results) {
        if (!result.strError.empty()) {
            FailJob(job, result.strError);
            return true;
        }
    }
    // A stop shortens the file, as it would an undivided one, to as much of its start as the pieces
    // encoded without a gap: every piece whose predecessors all ended whole, up to the first that did not.
    int nUsed = 1;
    while (nUsed < nPieces && results[nUsed - 1].bOk && !results[nUsed - 1].bStopped && results[nUsed].bOk) {
        ++nUsed;
    }
    for (int i = 0; i + 1 < nUsed; ++i) {
        if (results[i].llFramesIn != plans[i].llInputFrames) {
            return false;  // the source was shorter than its container said: the cuts are off the grid
        }
    }
    if (nUsed < nPieces && !IsStopRequested()) {
        return false;
    }
    if (nUsed == 1) {
        // The first piece alone is a complete stream, its header already right.
        if (!file.Keep()) {
            FailJob(job, kWriteFailed);
        }
        return true;
    }

    FILE *pOut = file.Get();
    std::array<uint8_t, kStreamInfoAt + kStreamInfoBytes> head{};
    if (std::fseek(pOut, 0, SEEK_SET) != 0 || std::fread(head.data(), 1, head.size(), pOut) != head.size() ||
        std::memcmp(head.data(), "fLaC", 4) != 0 || (head[4] & 0x7F) != 0 ||
        Be24(&head[5]) != kStreamInfoBytes || std::fseek(pOut, 0, SEEK_END) != 0) {
        FailJob(job, kWriteFailed);
        return true;
    }
    uint8_t *pInfo = head.data() + kStreamInfoAt;
    uint32_t nMinFrame = Be24(pInfo + 4);
    uint32_t nMaxFrame = Be24(pInfo + 7);
    uint64_t llNumber = results[0].llFramesIn / llBlock;
    uint64_t llSamples = results[0].llFramesIn;
    std::vector<uint8_t> frame;
    std::vector<uint8_t> renumbered;
    std::vector<uint8_t> samples(OutputFile::kWriteBufferBytes);
    for (int i = 1; i < nUsed; ++i) {
        FlacPieceResult &result = results[i];
        std::rewind(result.pSamples.get());
        size_t nRead = 0;
        while ((nRead = std::fread(samples.data(), 1, samples.size(), result.pSamples.get())) > 0) {
            av_md5_update(pMd5.get(), samples.data(), nRead);
        }
        std::rewind(result.pFrames.get());
        uint64_t llLeft = result.llFramesIn;
        for (const uint32_t nSize : result.frameSizes) {
            frame.resize(nSize);
            if (std::fread(frame.data(), 1, nSize, result.pFrames.get()) != nSize ||
                !RenumberFrame(frame.data(), nSize, llNumber++, renumbered)) {
                FailJob(job, kWriteFailed);
                return true;
            }
            const uint64_t llSamplesIn = std::min(llLeft, llBlock);
            llLeft -= llSamplesIn;
            if (renumbered.size() > VerbatimBound(llSamplesIn, static_cast<uint64_t>(whole.m_nChannels),
                                                  static_cast<uint64_t>(nDepth))) {
                return false;  // the undivided encode wrote this frame verbatim: no join gives its bytes
            }
            if (std::fwrite(renumbered.data(), 1, renumbered.size(), pOut) != renumbered.size()) {
                FailJob(job, kWriteFailed);
                return true;
            }
            nMinFrame = std::min(nMinFrame, static_cast<uint32_t>(renumbered.size()));
            nMaxFrame = std::max(nMaxFrame, static_cast<uint32_t>(renumbered.size()));
        }
        llSamples += result.llFramesIn;
        result.pFrames.reset();
        result.pSamples.reset();
    }
    PutBe24(pInfo + 4, nMinFrame);
    PutBe24(pInfo + 7, nMaxFrame);
    // 36 bits of sample count, from the low half of byte 13 on.
    pInfo[13] = static_cast<uint8_t>((pInfo[13] & 0xF0) | ((llSamples >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i) {
        pInfo[14 + i] = static_cast<uint8_t>(llSamples >> (24 - 8 * i));
    }
    av_md5_final(pMd5.get(), pInfo + 18);
    if (std::fseek(pOut, kStreamInfoAt, SEEK_SET) != 0 ||
        std::fwrite(pInfo, 1, kStreamInfoBytes, pOut) != kStreamInfoBytes || std::fflush(pOut) != 0 ||
        !file.Keep()) {
        FailJob(job, kWriteFailed);
    }
    return true;
}

}  // namespace klangor

// FLAC's join of a file encoded in even pieces. FLAC frames stand alone: a piece that starts on a
// multiple of the encoder's block size makes exactly the frames an undivided encode makes there, but for
// the frame number in each header and the two checksums over it, which are written anew as the piece's
// frames come. The later pieces' samples, for the stream's checksum, wait in scratch files beside their
// frames until every piece before them has ended. The join appends the later frames and gives the
// stream header the whole file's length, frame sizes and checksum, so the file is byte for byte the one
// a single encoder would have written from the same samples.
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
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "common/OutputFile.h"
#include "convert/batch/JobOutput.h"
#include "convert/divide/PieceJoiner.h"
#include "convert/outputs/CodecOutput.h"

namespace klangor {

namespace {

constexpr const char *kWriteFailed = "Error writing output file";
// STREAMINFO's body: after "fLaC" and its own block header, as the muxer always writes it first.
constexpr long kStreamInfoAt = 8;
constexpr size_t kStreamInfoBytes = 34;

struct Md5Deleter {
    void operator()(AVMD5 *pMd5) const { av_free(pMd5); }
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

class FlacJoiner : public CodecPieceJoiner {
public:
    explicit FlacJoiner(PieceSetup setup)
        : CodecPieceJoiner(std::move(setup)), m_nChannels(Setup().nChannels), m_nDepth(Setup().nDepth) {}

    bool SetUpFirst(CodecOutput &first, std::string &strError) override {
        m_pMd5.reset(av_md5_alloc());
        if (!m_pMd5) {
            strError = "Out of memory";
            return false;
        }
        av_md5_init(m_pMd5.get());
        first.SetSampleSink([this](const uint8_t *pBytes, size_t nBytes) {
            av_md5_update(m_pMd5.get(), pBytes, nBytes);
            return true;
        });
        return true;
    }

    // A later piece's frames are numbered as they come, on its worker: it starts on the block grid, so
    // its first frame's number in the whole file is known before it is encoded.
    bool OpenPiece(CodecOutput &piece, EncodedPiece &result, size_t i, const EvenPiece &plan,
                   uint64_t llBlock) override;

    bool SetUpPiece(CodecOutput &piece, EncodedPiece &result, const std::string &strOutputPath) override {
        result.pSamples = CreateScratchFile(strOutputPath);
        if (!result.pSamples) {
            return false;
        }
        FILE *pSamples = result.pSamples.get();
        piece.SetSampleSink([pSamples](const uint8_t *pBytes, size_t nBytes) {
            return std::fwrite(pBytes, 1, nBytes, pSamples) == nBytes;
        });
        return true;
    }

    // The stream's checksum is over every sample in order: each later piece's samples are added as soon
    // as it and every piece before it have ended, by whichever worker ended the last of them, so that
    // little of it is left for the join.
    void PieceEnded(size_t i, std::vector<EncodedPiece> &pieces) override;

    JoinOutcome Join(CodecOutput &first, FILE *pOut, std::vector<EncodedPiece> &pieces, int nUsed,
                     uint64_t llBlock, std::string &strError) override;

private:
    // Adds the piece's samples to the checksum; false when they cannot be read back.
    bool AddSamples(EncodedPiece &piece);

    const int m_nChannels;
    const int m_nDepth;
    std::unique_ptr<AVMD5, Md5Deleter> m_pMd5;
    std::mutex m_mutex;  // guards what follows
    std::vector<char> m_ended;
    size_t m_nNextSummed = 1;  // the first piece's samples go into the checksum as they are encoded
    bool m_bSumming = false;
    bool m_bSumEnded = false;  // a piece that the file cannot go on with has ended the checksum's run
    bool m_bSumFailed = false;
};

bool FlacJoiner::OpenPiece(CodecOutput &piece, EncodedPiece &result, size_t i, const EvenPiece &plan,
                           uint64_t llBlock) {
    (void)i;
    result.pFrames = CreateScratchFile(Setup().strOutputPath);
    if (!result.pFrames || llBlock == 0 || plan.nInputStart < Setup().nJobStart) {
        result.strError = kCannotCreateText;
        return false;
    }
    FILE *pFrames = result.pFrames.get();
    uint64_t llNumber = (plan.nInputStart - Setup().nJobStart) / llBlock;
    std::vector<uint8_t> renumbered;
    if (!piece.OpenFrames(
            Setup().format, Setup().settings, Setup().nRate, m_nChannels, m_nDepth,
            [pFrames, &result, llNumber, renumbered](const uint8_t *pBytes, size_t nBytes) mutable {
                if (!RenumberFrame(pBytes, nBytes, llNumber++, renumbered)) {
                    return false;
                }
                result.frameSizes.push_back(static_cast<uint32_t>(renumbered.size()));
                return std::fwrite(renumbered.data(), 1, renumbered.size(), pFrames) == renumbered.size();
            })) {
        result.strError = piece.GetError();
        return false;
    }
    if (!SetUpPiece(piece, result, Setup().strOutputPath)) {
        result.strError = kCannotCreateText;
        return false;
    }
    return true;
}

bool FlacJoiner::AddSamples(EncodedPiece &piece) {
    if (!piece.pSamples) {
        return false;
    }
    std::rewind(piece.pSamples.get());
    std::vector<uint8_t> samples(OutputFile::kWriteBufferBytes);
    size_t nRead = 0;
    while ((nRead = std::fread(samples.data(), 1, samples.size(), piece.pSamples.get())) > 0) {
        av_md5_update(m_pMd5.get(), samples.data(), nRead);
    }
    const bool bRead = std::ferror(piece.pSamples.get()) == 0;
    piece.pSamples.reset();
    return bRead;
}

void FlacJoiner::PieceEnded(size_t i, std::vector<EncodedPiece> &pieces) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_ended.empty()) {
        m_ended.assign(pieces.size(), 0);
    }
    m_ended[i] = 1;
    if (m_bSumming) {
        return;  // the worker adding samples now takes this piece's too, when their turn comes
    }
    m_bSumming = true;
    // The pieces the join keeps: the first, then each one that encoded well after one that ended whole.
    while (!m_bSumEnded && m_nNextSummed < pieces.size() && m_ended[m_nNextSummed - 1] != 0 &&
           m_ended[m_nNextSummed] != 0) {
        EncodedPiece &before = pieces[m_nNextSummed - 1];
        EncodedPiece &piece = pieces[m_nNextSummed];
        if (!before.bOk || before.bStopped || !piece.bOk) {
            m_bSumEnded = true;
            break;
        }
        lock.unlock();
        const bool bAdded = AddSamples(piece);
        lock.lock();
        if (!bAdded) {
            m_bSumFailed = true;
            m_bSumEnded = true;
            break;
        }
        ++m_nNextSummed;
    }
    m_bSumming = false;
}

JoinOutcome FlacJoiner::Join(CodecOutput &first, FILE *pOut, std::vector<EncodedPiece> &pieces, int nUsed,
                             uint64_t llBlock, std::string &strError) {
    if (!first.Finish()) {
        strError = first.GetError();
        return JoinOutcome::Failed;
    }
    if (nUsed == 1) {
        return JoinOutcome::Joined;  // the first piece alone is a complete stream, its header already right
    }
    std::array<uint8_t, kStreamInfoAt + kStreamInfoBytes> head{};
    if (std::fflush(pOut) != 0 || std::fseek(pOut, 0, SEEK_SET) != 0 ||
        std::fread(head.data(), 1, head.size(), pOut) != head.size() ||
        std::memcmp(head.data(), "fLaC", 4) != 0 || (head[4] & 0x7F) != 0 ||
        Be24(&head[5]) != kStreamInfoBytes || std::fseek(pOut, 0, SEEK_END) != 0) {
        strError = kWriteFailed;
        return JoinOutcome::Failed;
    }
    // Every task has ended: what is left of the checksum is added here, in order.
    const auto nKept = static_cast<size_t>(nUsed);
    if (m_nNextSummed > nKept) {
        strError = kWriteFailed;
        return JoinOutcome::Failed;
    }
    for (; m_nNextSummed < nKept && !m_bSumFailed; ++m_nNextSummed) {
        m_bSumFailed = !AddSamples(pieces[m_nNextSummed]);
    }
    if (m_bSumFailed) {
        strError = kWriteFailed;
        return JoinOutcome::Failed;
    }
    uint8_t *pInfo = head.data() + kStreamInfoAt;
    uint32_t nMinFrame = Be24(pInfo + 4);
    uint32_t nMaxFrame = Be24(pInfo + 7);
    uint64_t llSamples = pieces[0].llFramesIn;
    std::vector<uint8_t> frames(OutputFile::kWriteBufferBytes);
    for (size_t i = 1; i < nKept; ++i) {
        EncodedPiece &piece = pieces[i];
        uint64_t llLeft = piece.llFramesIn;
        for (const uint32_t nSize : piece.frameSizes) {
            const uint64_t llSamplesIn = std::min(llLeft, llBlock);
            llLeft -= llSamplesIn;
            if (nSize > VerbatimBound(llSamplesIn, static_cast<uint64_t>(m_nChannels),
                                      static_cast<uint64_t>(m_nDepth))) {
                return JoinOutcome::EncodeWhole;  // the undivided encode wrote this frame verbatim
            }
            nMinFrame = std::min(nMinFrame, nSize);
            nMaxFrame = std::max(nMaxFrame, nSize);
        }
        std::rewind(piece.pFrames.get());
        size_t nRead = 0;
        while ((nRead = std::fread(frames.data(), 1, frames.size(), piece.pFrames.get())) > 0) {
            if (std::fwrite(frames.data(), 1, nRead, pOut) != nRead) {
                strError = kWriteFailed;
                return JoinOutcome::Failed;
            }
        }
        if (std::ferror(piece.pFrames.get()) != 0) {
            strError = kWriteFailed;
            return JoinOutcome::Failed;
        }
        llSamples += piece.llFramesIn;
        piece.pFrames.reset();
    }
    PutBe24(pInfo + 4, nMinFrame);
    PutBe24(pInfo + 7, nMaxFrame);
    // 36 bits of sample count, from the low half of byte 13 on.
    pInfo[13] = static_cast<uint8_t>((pInfo[13] & 0xF0) | ((llSamples >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i) {
        pInfo[14 + i] = static_cast<uint8_t>(llSamples >> (24 - 8 * i));
    }
    av_md5_final(m_pMd5.get(), pInfo + 18);
    if (std::fseek(pOut, kStreamInfoAt, SEEK_SET) != 0 ||
        std::fwrite(pInfo, 1, kStreamInfoBytes, pOut) != kStreamInfoBytes || std::fflush(pOut) != 0) {
        strError = kWriteFailed;
        return JoinOutcome::Failed;
    }
    return JoinOutcome::Joined;
}

}  // namespace

std::unique_ptr<PieceJoiner> MakeFlacJoiner(PieceSetup setup) {
    return std::make_unique<FlacJoiner>(std::move(setup));
}

}  // namespace klangor

// The join of an AAC or Opus file encoded in even pieces. A lossy packet leans on the ones
// before it (the transform's overlap, the encoder's choice of windows, its rate control), so pieces
// cannot simply be put end to end. Each piece's encoder starts where its reader opens, well before the
// piece, and settles on the same audio the undivided encoder had; a piece that another follows is fed a
// little past its end, so its last packets are whole, and is never drained. Every piece's frames lie on
// the whole file's frame grid (the first one's priming silence is the undivided file's), so its packets
// have the places an undivided encode gives them. The file takes the first piece's packets, as they
// come, up to where the second piece starts, and from the first place after it where a packet of the
// first piece ends and one of the second begins (at once, the frames being of one size), the second
// piece's; and so on. Its pre-skip, edit list and end are the undivided file's, and where the encoder
// has settled to the very bits, so is the whole file.
#include <cstdio>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "convert/batch/JobOutput.h"
#include "convert/divide/PieceJoiner.h"
#include "convert/outputs/CodecOutput.h"

namespace klangor {

namespace {

constexpr const char *kWriteFailed = "Error writing output file";
constexpr uint32_t kOpusRate = 48000;
// Fed past a piece's end, so that the packets up to its end, and a few after it to meet the next piece
// at, have all come out of its encoder.
constexpr uint64_t kTailFrames = 8192;

// How long before a piece its encoder starts, measured as a piece's first seconds against the
// undivided encode in half-second windows. AAC's rate control settles slowly: 3.7 dB worse with a
// 0.4 s start, 2.3 dB with 5 s, 1.0 dB with 10 s and 0.1 dB with 20 s. Opus was within 0.12 dB after
// 0.1 s and gave the undivided packets to the bit after 1 to 3 s.
uint64_t LeadSecondsOf(OutputFormat format) {
    return format == OutputFormat::Aac ? 10 : 5;
}

class SpliceJoiner : public CodecPieceJoiner {
public:
    explicit SpliceJoiner(PieceSetup setup)
        : CodecPieceJoiner(std::move(setup)),
          m_nEncoderRate(Setup().format == OutputFormat::Opus ? kOpusRate : Setup().nRate) {}

    bool FirstThroughContainer() const override { return false; }

    bool SetUpFirst(CodecOutput &first, std::string &strError) override {
        (void)strError;
        m_pFirst = &first;
        return true;
    }

    // The encoder's frames in the source's frames: none where they are no whole number of them.
    uint64_t PlanGrid(uint64_t llFrameSize) const override {
        const uint64_t llScaled = llFrameSize * Setup().nRate;
        return llScaled % m_nEncoderRate == 0 ? llScaled / m_nEncoderRate : 0;
    }

    uint64_t GridOrigin(uint64_t llGrid) const override {
        const auto llPriming = static_cast<uint64_t>(PrimingOf(llGrid));
        return (llGrid - llPriming % llGrid) % llGrid;
    }

    uint32_t LeadFrames(uint64_t llGrid) const override {
        const uint64_t llFrames = uint64_t{Setup().nRate} * LeadSecondsOf(Setup().format);
        return static_cast<uint32_t>((llFrames + llGrid - 1) / llGrid * llGrid);
    }

    EvenPiece FeedFor(size_t i, const EvenPiece &plan, bool bLast) const override {
        (void)i;
        EvenPiece feed = plan;
        const uint64_t llLead = plan.nInputStart - plan.nDecodeStart;
        feed.nInputStart = plan.nDecodeStart;
        if (plan.llInputFrames != UINT64_MAX) {
            feed.llInputFrames = llLead + plan.llInputFrames + (bLast ? 0 : kTailFrames);
        }
        return feed;
    }

    bool FlushesPiece(bool bLast) const override { return bLast; }

    bool OpenPiece(CodecOutput &piece, EncodedPiece &result, size_t i, const EvenPiece &plan,
                   uint64_t llGrid) override {
        const PieceSetup &setup = Setup();
        result.pFrames = CreateScratchFile(setup.strOutputPath);
        if (!result.pFrames) {
            result.strError = kCannotCreateText;
            return false;
        }
        result.llSpliceFrom = ToEncoder(plan.nInputStart - setup.nJobStart);
        // The encoder's frames on the whole file's grid, which begins with the priming silence: where the
        // reader opens off it (the job's start), the encoder is first fed silence up to it.
        const int64_t llOpenAt = ToEncoder(plan.nDecodeStart - setup.nJobStart);
        const int64_t nPad = (llOpenAt + PrimingOf(llGrid)) % ToEncoder(llGrid);
        // The first piece's packets go into the file as they come, up to where the second piece starts:
        // the file grows while it is encoded, as an undivided one does. The rest wait, as every later
        // piece's do, for the join to find where the pieces meet.
        const int64_t llLiveTo = i == 0 ? ToEncoder(plan.llInputFrames) : std::numeric_limits<int64_t>::min();
        FILE *pFrames = result.pFrames.get();
        const bool bOpen = piece.OpenTimedPackets(
            setup.format, setup.settings, setup.nRate, setup.nChannels, setup.nDepth, llOpenAt, nPad,
            [this, pFrames, &result, llLiveTo](const TimedPacket &packet) {
                if (packet.llPts < llLiveTo) {
                    return Append(packet.pData, packet.nBytes, packet.llPts, packet.llDuration);
                }
                result.frameSizes.push_back(static_cast<uint32_t>(packet.nBytes));
                result.packetTimes.push_back(packet.llPts);
                result.packetTimes.push_back(packet.llDuration);
                return std::fwrite(packet.pData, 1, packet.nBytes, pFrames) == packet.nBytes;
            });
        if (!bOpen) {
            result.strError = piece.GetError();
        }
        return bOpen;
    }

    JoinOutcome Join(CodecOutput &first, FILE *pOut, std::vector<EncodedPiece> &pieces, int nUsed,
                     uint64_t llGrid, std::string &strError) override {
        (void)pOut;
        (void)llGrid;
        for (int i = 0; i < nUsed; ++i) {
            EncodedPiece &piece = pieces[static_cast<size_t>(i)];
            int64_t llTo = std::numeric_limits<int64_t>::max();
            if (i + 1 < nUsed) {
                llTo = MeetingPlace(piece, pieces[static_cast<size_t>(i) + 1]);
                if (llTo == std::numeric_limits<int64_t>::min()) {
                    return JoinOutcome::EncodeWhole;  // the pieces never meet: the source was short
                }
            }
            const JoinOutcome outcome = AppendFrom(piece, llTo, strError);
            if (outcome != JoinOutcome::Joined) {
                return outcome;
            }
        }
        if (!first.Finish()) {
            strError = first.GetError();
            return JoinOutcome::Failed;
        }
        return JoinOutcome::Joined;
    }

private:
    int64_t ToEncoder(uint64_t llFrames) const {
        return static_cast<int64_t>(llFrames * m_nEncoderRate / Setup().nRate);
    }

    int64_t PrimingOf(uint64_t llGrid) const {
        return CodecOutput::PrimingOf(Setup().format, Setup().llExpectedFrames, static_cast<int>(llGrid));
    }

    bool Append(const uint8_t *pData, size_t nBytes, int64_t llPts, int64_t llDuration) {
        if (!m_pFirst->AppendPacket(pData, nBytes, llPts, llDuration)) {
            return false;
        }
        m_llNext = llPts + llDuration;
        return true;
    }

    // The first place from the next piece's start on where one of this piece's packets, following on
    // from the file's end without a gap, ends and one of the next piece's begins; the least int64_t for
    // none.
    int64_t MeetingPlace(const EncodedPiece &piece, const EncodedPiece &next) const {
        std::set<int64_t> starts;
        for (size_t n = 0; n < next.frameSizes.size(); ++n) {
            if (next.packetTimes[2 * n] >= next.llSpliceFrom) {
                starts.insert(next.packetTimes[2 * n]);
            }
        }
        int64_t llAt = m_llNext;
        for (size_t n = 0; n < piece.frameSizes.size(); ++n) {
            const int64_t llPts = piece.packetTimes[2 * n];
            if (llPts < llAt) {
                continue;
            }
            if (llPts != llAt) {
                break;
            }
            llAt += piece.packetTimes[2 * n + 1];
            if (llAt >= next.llSpliceFrom && starts.count(llAt) != 0) {
                return llAt;
            }
        }
        return std::numeric_limits<int64_t>::min();
    }

    // Puts the piece's packets from the file's end up to llTo into the file.
    JoinOutcome AppendFrom(EncodedPiece &piece, int64_t llTo, std::string &strError) {
        std::vector<uint8_t> packet;
        std::rewind(piece.pFrames.get());
        for (size_t n = 0; n < piece.frameSizes.size(); ++n) {
            const uint32_t nSize = piece.frameSizes[n];
            const int64_t llPts = piece.packetTimes[2 * n];
            packet.resize(nSize);
            if (std::fread(packet.data(), 1, nSize, piece.pFrames.get()) != nSize) {
                strError = kWriteFailed;
                return JoinOutcome::Failed;
            }
            if (llPts < m_llNext) {
                continue;  // before the piece's encoder had settled, or already in the file
            }
            if (llPts >= llTo) {
                break;
            }
            if (llPts != m_llNext) {
                return JoinOutcome::EncodeWhole;  // a gap: the source was short
            }
            if (!Append(packet.data(), nSize, llPts, piece.packetTimes[2 * n + 1])) {
                strError = m_pFirst->GetError();
                return JoinOutcome::Failed;
            }
        }
        piece.pFrames.reset();
        return JoinOutcome::Joined;
    }

    const uint32_t m_nEncoderRate;
    CodecOutput *m_pFirst = nullptr;
    int64_t m_llNext = std::numeric_limits<int64_t>::min();  // where the file's packets end so far
};

}  // namespace

std::unique_ptr<PieceJoiner> MakeSpliceJoiner(PieceSetup setup) {
    return std::make_unique<SpliceJoiner>(std::move(setup));
}

}  // namespace klangor

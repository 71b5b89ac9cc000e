// ALAC's join of a file encoded in even pieces. An ALAC packet stands alone and says nothing of where it
// lies: a piece that starts on a multiple of the packet's length makes exactly the packets an undivided
// encode makes there, so the later pieces' packets go into the first piece's container as they are, and
// the file is byte for byte the one a single encoder would have written from the same samples.
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "convert/divide/PieceJoiner.h"
#include "convert/outputs/CodecOutput.h"

namespace klangor {

namespace {

constexpr const char *kWriteFailed = "Error writing output file";

class AlacJoiner : public CodecPieceJoiner {
public:
    using CodecPieceJoiner::CodecPieceJoiner;

    JoinOutcome Join(CodecOutput &first, FILE *pOut, std::vector<EncodedPiece> &pieces, int nUsed,
                     uint64_t llGrid, std::string &strError) override {
        (void)pOut;
        std::vector<uint8_t> packet;
        int64_t llPts = first.GetNextPts();
        for (int i = 1; i < nUsed; ++i) {
            EncodedPiece &piece = pieces[static_cast<size_t>(i)];
            std::rewind(piece.pFrames.get());
            uint64_t llLeft = piece.llFramesIn;
            for (const uint32_t nSize : piece.frameSizes) {
                packet.resize(nSize);
                const uint64_t llFrames = std::min(llLeft, llGrid);
                llLeft -= llFrames;
                if (std::fread(packet.data(), 1, nSize, piece.pFrames.get()) != nSize || llFrames == 0) {
                    strError = kWriteFailed;
                    return JoinOutcome::Failed;
                }
                if (!first.AppendPacket(packet.data(), nSize, llPts, static_cast<int64_t>(llFrames))) {
                    strError = first.GetError();
                    return JoinOutcome::Failed;
                }
                llPts += static_cast<int64_t>(llFrames);
            }
            piece.pFrames.reset();
        }
        if (!first.Finish()) {
            strError = first.GetError();
            return JoinOutcome::Failed;
        }
        return JoinOutcome::Joined;
    }
};

}  // namespace

std::unique_ptr<PieceJoiner> MakeAlacJoiner(PieceSetup setup) {
    return std::make_unique<AlacJoiner>(std::move(setup));
}

}  // namespace klangor

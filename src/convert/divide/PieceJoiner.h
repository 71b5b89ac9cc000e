#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/divide/ScratchFile.h"

namespace klangor {

class CodecOutput;
class OutputFile;

// One piece of a file encoded in even pieces, as its task left it: written by the worker that ran the
// task, read by the job's worker once every task has ended.
struct EncodedPiece {
    bool bOk = false;       // encoded and flushed what it read; otherwise strError says why, if it ran
    bool bStopped = false;  // ended early on a stop request
    uint64_t llFramesIn = 0;
    std::string strError;
    FilePtr pFrames;  // a later piece's encoded frames, one after the other
    std::vector<uint32_t> frameSizes;
    FilePtr pSamples;  // where a joiner keeps what else it needs of a later piece
};

// What joining the pieces came to.
enum class JoinOutcome {
    Joined,       // the first piece's output holds the whole file, finished
    EncodeWhole,  // no join gives the undivided file's bytes: the file is to be encoded whole
    Failed,       // the reason is in strError
};

// How one format's pieces become its file. The first piece is encoded through the output's container
// (tags, cover); the later ones by encoders without a container, their frames into scratch files; the
// joiner adds what its format needs on the way and joins the later frames onto the first piece.
class PieceJoiner {
public:
    virtual ~PieceJoiner() = default;
    // Before any piece: the first piece's output is open. False, with strError, when it fails.
    virtual bool SetUpFirst(CodecOutput &first, std::string &strError) {
        (void)first;
        (void)strError;
        return true;
    }
    // For a later piece, its encoder open and its frames' scratch file made, before it is fed.
    virtual bool SetUpPiece(CodecOutput &piece, EncodedPiece &result, const std::string &strOutputPath) {
        (void)piece;
        (void)result;
        (void)strOutputPath;
        return true;
    }
    // Finishes the first piece's output with pieces 1 to nUsed - 1 joined on, each holding whole frames
    // of llGrid samples but for the last one's end; the output's file is pOut.
    virtual JoinOutcome Join(CodecOutput &first, FILE *pOut, std::vector<EncodedPiece> &pieces, int nUsed,
                             uint64_t llGrid, std::string &strError) = 0;
};

// FLAC: the later frames renumbered, the stream header given the whole file's length, frame sizes and
// checksum. nChannels and nDepth are the stream's.
std::unique_ptr<PieceJoiner> MakeFlacJoiner(int nChannels, int nDepth);
// ALAC: its packets stand alone and carry no position, so the later ones go into the container as
// they are.
std::unique_ptr<PieceJoiner> MakeAlacJoiner();

}  // namespace klangor

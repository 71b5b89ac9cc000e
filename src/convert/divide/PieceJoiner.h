#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "convert/divide/EvenPieces.h"
#include "convert/divide/ScratchFile.h"
#include "settings/EncoderSettings.h"
#include "settings/OutputFormat.h"

namespace klangor {

class AudioStreamReader;
class CodecOutput;
class OutputFile;
struct MediaTags;

// One piece of a file encoded in pieces, as its task left it: written by the worker that ran the task,
// read by the job's worker once every task has ended.
struct EncodedPiece {
    bool bOk = false;         // encoded and flushed what it read; otherwise strError says why, if it ran
    bool bStopped = false;    // ended early on a stop request
    uint64_t llFramesIn = 0;  // of the piece's own frames
    uint64_t llFedIn = 0;     // of all its encoder was fed, its own and those before and after them
    std::string strError;
    FilePtr pFrames;  // a later piece's encoded frames, one after the other
    std::vector<uint32_t> frameSizes;
    FilePtr pSamples;                  // where a joiner keeps what else it needs of a later piece
    std::vector<int64_t> packetTimes;  // per frame, its place and length, where the joiner keeps them
    int64_t llSpliceFrom = 0;          // where its packets begin to count in the file's timeline
};

// What every piece's encoder is opened with.
struct PieceSetup {
    OutputFormat format = OutputFormat::Flac;
    EncoderSettings settings;
    uint32_t nRate = 0;
    int nChannels = 0;
    int nDepth = 16;
    std::string strOutputPath;      // the scratch files go beside it
    uint64_t llExpectedFrames = 0;  // the job's length where it is known (AAC's priming)
    uint32_t nJobStart = 0;         // the job's first frame in the source
};

// What joining the pieces came to.
enum class JoinOutcome {
    Joined,       // the output holds the whole file, finished
    EncodeWhole,  // no join gives a sound file: the file is to be encoded whole
    Failed,       // the reason is in strError
};

// Where one piece of a file encoded in pieces ended, for deciding what a stop keeps.
struct PieceEnd {
    bool bWhole = false;      // encoded everything it was given, unstopped and without error
    bool bCarriesOn = false;  // stopped or not, the file can go on with it after a whole piece
};

// How many pieces, from the first, a stopped file keeps: the longest stretch from its start encoded
// without a gap. That is every piece that ended whole, and then the next piece too when the file can go
// on with it; the first piece is always kept.
int PiecesKeptAfterStop(const std::vector<PieceEnd> &pieces);

// What a piece's samples are fed to: its format's encoder.
class PieceEncoder {
public:
    virtual ~PieceEncoder() = default;
    // nFrames frames as the job's reader delivers them; false on a failure, which GetError tells.
    virtual bool Write(const uint8_t *pFrames, uint32_t nFrames) = 0;
    // Drains the encoder.
    virtual bool Finish() = 0;
    virtual std::string GetError() const = 0;
};

// How one format's pieces are planned, encoded and made into its file, for the driver that runs the
// pieces on the workers (JobOutput::ConvertInPieces). The driver plans, checks the seeks, opens the
// first piece's encoder, runs every piece on whichever worker is free, works out what a stop keeps and
// has the joiner join what was kept.
class PieceJoiner {
public:
    explicit PieceJoiner(PieceSetup setup) : m_setup(std::move(setup)) {}
    PieceJoiner(const PieceJoiner &) = delete;
    PieceJoiner &operator=(const PieceJoiner &) = delete;
    virtual ~PieceJoiner() = default;
    const PieceSetup &Setup() const { return m_setup; }

    // Before the output is made: false where the file cannot be divided with these settings.
    virtual bool Prepare() { return true; }
    // Opens the first piece's encoder on the output; false, with strError, when it fails.
    virtual bool StartFirst(OutputFile &file, const MediaTags &tags, std::string &strError) = 0;
    // The pieces, each with its own frames (which its progress counts), once the first encoder is open;
    // empty where the job cannot be divided into nPieces.
    virtual std::vector<EvenPiece> PlanPieces(const AudioStreamReader &whole, int nPieces) = 0;
    // Where the later pieces' readers seek and from where their samples count, for the check made
    // before any piece is encoded.
    virtual std::vector<SeekProbe> ProbesFor(const std::vector<EvenPiece> &plans) const {
        return ProbesOf(plans);
    }
    // What piece i's encoder is fed of what its reader reads: by default only the piece's own frames.
    virtual EvenPiece FeedFor(size_t i, const EvenPiece &plan, bool bLast) const {
        (void)i;
        (void)bLast;
        return plan;
    }
    // Piece i's encoder, for the first piece the one StartFirst opened; null, with the piece's strError,
    // when it cannot be opened.
    virtual std::unique_ptr<PieceEncoder> StartPiece(EncodedPiece &result, size_t i,
                                                     const EvenPiece &plan) = 0;
    // Whether piece i's encoder is drained at the end of its task.
    virtual bool EndsPiece(size_t i, bool bLast) const = 0;
    // Whether the file can go on with piece i, stopped or not, after a piece that ended whole.
    virtual bool CarriesOn(size_t i, const EncodedPiece &piece) const {
        (void)i;
        return piece.bOk;
    }
    // Whether a piece that failed fails the file; otherwise the file is encoded whole instead.
    virtual bool PieceFailureFailsFile() const { return true; }
    // Piece i's task has ended, well or not, its result in pieces[i]: called on the worker that ran it,
    // possibly while other pieces' tasks run or end, so that a joiner can do in order, as the pieces end,
    // what it would otherwise do for all of them in Join.
    virtual void PieceEnded(size_t i, std::vector<EncodedPiece> &pieces) {
        (void)i;
        (void)pieces;
    }
    // Finishes the output with pieces 0 to nUsed - 1, the first piece's encoder not yet drained where
    // EndsPiece said so.
    virtual JoinOutcome JoinPieces(OutputFile &file, std::vector<EncodedPiece> &pieces, int nUsed,
                                   std::string &strError) = 0;

private:
    const PieceSetup m_setup;
};

// A joiner of an FFmpeg encoder's pieces (CodecOutput), which come in even pieces on the encoder's frame
// grid. The first piece is encoded through the output's container (tags, cover); the later ones by
// encoders without a container, their frames into scratch files; the joiner adds what its format needs
// on the way and joins the later frames onto the first piece.
class CodecPieceJoiner : public PieceJoiner {
public:
    explicit CodecPieceJoiner(PieceSetup setup);
    ~CodecPieceJoiner() override;

    // Whether the first piece is encoded through the output's container (opened by Open); otherwise
    // every piece is a bare one and the joiner puts all their packets into the container (opened by
    // OpenForPackets).
    virtual bool FirstThroughContainer() const { return true; }
    // The grid the pieces start on, in the source's frames, from the encoder's frame size; 0 where the
    // file cannot be divided on it.
    virtual uint64_t PlanGrid(uint64_t llFrameSize) const { return llFrameSize; }
    // The later pieces start this many frames past a multiple of the grid from the job's start.
    virtual uint64_t GridOrigin(uint64_t llGrid) const {
        (void)llGrid;
        return 0;
    }
    // How far before a later piece its reader opens and, where the encoder is fed from there, its
    // encoder starts.
    virtual uint32_t LeadFrames(uint64_t llGrid) const {
        (void)llGrid;
        return kPieceLeadFrames;
    }
    // Opens bare piece i's encoder: by default its frames into a scratch file of the piece's, then
    // SetUpPiece. False, with the piece's strError, when it fails.
    virtual bool OpenPiece(CodecOutput &piece, EncodedPiece &result, size_t i, const EvenPiece &plan,
                           uint64_t llGrid);
    // Whether a bare piece's encoder is drained at its end; a piece whose last packets the next one
    // makes is not.
    virtual bool FlushesPiece(bool bLast) const {
        (void)bLast;
        return true;
    }
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

    bool StartFirst(OutputFile &file, const MediaTags &tags, std::string &strError) final;
    std::vector<EvenPiece> PlanPieces(const AudioStreamReader &whole, int nPieces) final;
    std::unique_ptr<PieceEncoder> StartPiece(EncodedPiece &result, size_t i, const EvenPiece &plan) final;
    bool EndsPiece(size_t i, bool bLast) const final {
        return (i > 0 || !FirstThroughContainer()) && FlushesPiece(bLast);
    }
    JoinOutcome JoinPieces(OutputFile &file, std::vector<EncodedPiece> &pieces, int nUsed,
                           std::string &strError) final;

private:
    const std::unique_ptr<CodecOutput> m_pFirst;
    uint64_t m_llGrid = 0;
};

// FLAC: the later frames renumbered, the stream header given the whole file's length, frame sizes and
// checksum.
std::unique_ptr<PieceJoiner> MakeFlacJoiner(PieceSetup setup);
// ALAC: its packets stand alone and carry no position, so the later ones go into the container as
// they are.
std::unique_ptr<PieceJoiner> MakeAlacJoiner(PieceSetup setup);
// AAC and Opus: each piece's encoder starts well before the piece and runs a little past it,
// so that it has settled where its packets are taken; the packets are spliced where one piece's packet
// ends and the next one's begins, on the frame grid of the whole file, whose priming and end are the
// undivided file's.
std::unique_ptr<PieceJoiner> MakeSpliceJoiner(PieceSetup setup);
// MP3: consecutive LAME streams, each started a little before where it may take over, joined on their
// frames (divide/Mp3Divide.cpp); bHeader for the stream's header frame.
std::unique_ptr<PieceJoiner> MakeMp3Joiner(PieceSetup setup, const AudioStreamReader &whole, bool bHeader);

}  // namespace klangor

#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "convert/divide/SeekCheck.h"

namespace klangor {

class AudioStreamReader;
class ConversionJob;

// How far before its first frame a later piece's decoder starts, so that one with pre-roll has settled.
constexpr uint32_t kPieceLeadFrames = 16384;

// One of the consecutive pieces of a job's frames, for an output whose pieces are joined end to end
// (FLAC's frames, ALAC's and AAC's packets).
struct EvenPiece {
    uint32_t nDecodeStart = 0;   // absolute input frame where its reader opens
    uint32_t nInputStart = 0;    // its first own frame
    uint64_t llInputFrames = 0;  // UINT64_MAX: to the end of the stream
};

// How many such pieces a job is divided into, from the job and the threshold alone: 1 when it is no
// longer than dDivideAfter seconds, is a part of a split source (which shares the workers with the
// others already), reads or writes a stream (the join goes back in the output; every piece opens the
// source again) or is a song the synthesiser renders from its start at every opening. Otherwise pieces
// of at least half the threshold, as many as a power of two, so that 2, 4 or 8 workers share them
// evenly, and at most nMost.
int EvenPieceCount(const ConversionJob &job, const AudioStreamReader &whole, double dDivideAfter, int nMost);

// nPieces pieces over the job's frames, the later ones starting llOrigin frames past a multiple of
// llGrid frames from the job's start and decoded from nLead frames before (as far as the job's start
// allows). Empty when the job has fewer grid steps than pieces.
std::vector<EvenPiece> PlanEvenPieces(const AudioStreamReader &whole, int nPieces, uint64_t llGrid,
                                      uint64_t llOrigin = 0, uint32_t nLead = kPieceLeadFrames);

// Where the later pieces' readers seek and from where their samples count, for the check made before
// any piece is encoded.
std::vector<SeekProbe> ProbesOf(const std::vector<EvenPiece> &pieces);

// What reading one piece came to.
struct PieceRead {
    uint64_t llFramesIn = 0;   // of its own frames handed on
    bool bStopped = false;     // fnStopped ended it early
    bool bTakeFailed = false;  // fnTake refused a run of frames
    std::string strReadError;  // the reader failed; empty when it did not
};

// Reads the piece's own frames from a reader opened at its decode start (the frames before them only
// settle the decoder), handing fnTake each run of them with its count; after each run, fnStopped may
// end it early.
PieceRead ReadPieceFrames(AudioStreamReader &reader, const EvenPiece &piece,
                          const std::function<bool(const uint8_t *, uint32_t)> &fnTake,
                          const std::function<bool()> &fnStopped);

}  // namespace klangor

// One long file to WAV on several workers. Its samples stand alone: each piece is decoded by a reader
// of its own, from a little before its start so that the decoder has settled, and written straight to
// its place in the one output file, so the file is byte for byte the one an undivided conversion writes
// from the same samples. Nothing waits in scratch files and nothing is joined afterwards but the sizes.
#include <new>
#include <string>
#include <vector>

#include "convert/batch/AudioStreamReader.h"
#include "convert/divide/EvenPieces.h"
#include "convert/outputs/WavWriterThread.h"

namespace klangor {

bool WavWriterThread::ConvertDivided(ConversionJob &job, AudioStreamReader &whole, const MediaTags &tags,
                                     int nPieces) {
    const std::vector<EvenPiece> pieces = PlanEvenPieces(whole, nPieces, 1);
    if (pieces.empty() || !SeeksLandExactly(whole, ProbesOf(pieces))) {
        return false;
    }
    WavFile file;
    const uint64_t nExpectedBytes =
        uint64_t{whole.m_nFramesToConvert} * std::max<uint16_t>(whole.m_wfx.nBlockAlign, 1);
    if (!file.WriteHeader(job.GetOutputPath(), whole.m_wfx, tags, nExpectedBytes, m_nRiffSizeLimit) ||
        !file.StartPieces()) {
        FailJob(job, kCannotCreateText);
        return true;
    }

    // Written by the worker that runs the piece's task, read here once every task has ended.
    std::vector<PieceRead> reads(pieces.size());
    std::vector<std::string> errors(pieces.size());
    RunTasks(nPieces, [&](int i) {
        const EvenPiece &piece = pieces[static_cast<size_t>(i)];
        PieceRead &read = reads[static_cast<size_t>(i)];
        std::string &strError = errors[static_cast<size_t>(i)];
        // The first piece always runs, so that a stop leaves what an undivided conversion would: its start.
        if (i > 0 && IsStopRequested()) {
            read.bStopped = true;
            return;
        }
        try {
            AudioStreamReader reader;
            if (!reader.OpenPart(whole, piece.nDecodeStart)) {
                strError = reader.m_strLastError.empty() ? "Cannot open the source" : reader.m_strLastError;
                return;
            }
            uint64_t llAt = piece.nInputStart - whole.m_nStartFrame;
            read = ReadPieceFrames(
                reader, piece,
                [&](const uint8_t *pFrames, uint32_t nFrames) {
                    if (!file.WriteFramesAt(llAt, nFrames, pFrames)) {
                        return false;
                    }
                    llAt += nFrames;
                    job.AddFrames(nFrames);
                    return true;
                },
                [this] { return IsStopRequested(); });
            if (read.bTakeFailed) {
                strError = kCannotWrite;
            } else if (!read.strReadError.empty()) {
                strError = read.strReadError;
            }
        } catch (const std::bad_alloc &) {
            strError = "Out of memory";
        } catch (const std::exception &e) {
            strError = e.what();
        }
    });

    // A piece that failed fails the file: no output that looks complete is left.
    for (const std::string &strError : errors) {
        if (!strError.empty()) {
            FailJob(job, strError);
            return true;
        }
    }
    // A stop shortens the file, as it would an undivided one, to as much of its start as the pieces
    // decoded without a gap: every piece up to and with the first that stopped.
    size_t nUsed = 1;
    while (nUsed < pieces.size() && !reads[nUsed - 1].bStopped) {
        ++nUsed;
    }
    uint64_t llFrames = 0;
    for (size_t i = 0; i < nUsed; ++i) {
        if (i + 1 < nUsed && reads[i].llFramesIn != pieces[i].llInputFrames) {
            return false;  // the source was shorter than its container said: the pieces are misplaced
        }
        llFrames += reads[i].llFramesIn;
    }
    if (llFrames == 0) {
        return false;  // no sample at all: the undivided conversion says so
    }
    if (!file.FinishPieces(llFrames)) {
        FailJob(job, kCannotWrite);
    }
    return true;
}

}  // namespace klangor

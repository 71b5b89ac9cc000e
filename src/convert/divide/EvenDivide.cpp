// One long file to FLAC, ALAC, AAC or Opus on several workers, in even pieces. The first piece goes
// into the output through the container, with the tags and the cover, where the format's pieces stand alone
// (FLAC, ALAC); the later pieces' bare frames wait in scratch files, and the format's joiner
// (PieceJoiner) puts them after the first piece's, so the file is byte for byte the one a single encoder
// would have written from the same samples. (A decoder that fills bands with noise gives other noise
// after a seek: the file then holds that noise instead.) The lossy formats' pieces are all bare, each
// encoded from well before its start to a little past its end, and spliced (divide/SpliceDivide.cpp).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

#include "common/OutputFile.h"
#include "convert/batch/WriterThread.h"
#include "convert/divide/EvenPieces.h"
#include "convert/divide/PieceJoiner.h"
#include "convert/divide/ScratchFile.h"
#include "convert/outputs/CodecJobOutput.h"
#include "convert/outputs/CodecOutput.h"

namespace klangor {

namespace {

constexpr const char *kWriteFailed = "Error writing output file";

}  // namespace

bool PieceJoiner::OpenPiece(CodecOutput &piece, EncodedPiece &result, size_t i, const EvenPiece &plan,
                            uint64_t llGrid) {
    (void)i;
    (void)plan;
    (void)llGrid;
    result.pFrames = CreateScratchFile(m_setup.strOutputPath);
    if (!result.pFrames) {
        result.strError = kCannotCreateText;
        return false;
    }
    FILE *pFrames = result.pFrames.get();
    if (!piece.OpenFrames(m_setup.format, m_setup.settings, m_setup.nRate, m_setup.nChannels, m_setup.nDepth,
                          [pFrames, &result](const uint8_t *pBytes, size_t nBytes) {
                              result.frameSizes.push_back(static_cast<uint32_t>(nBytes));
                              return std::fwrite(pBytes, 1, nBytes, pFrames) == nBytes;
                          })) {
        result.strError = piece.GetError();
        return false;
    }
    if (!SetUpPiece(piece, result, m_setup.strOutputPath)) {
        result.strError = kCannotCreateText;
        return false;
    }
    return true;
}

namespace {

// The joiner of a format whose pieces this driver encodes; none for the others.
std::unique_ptr<PieceJoiner> JoinerFor(PieceJoin join, PieceSetup setup) {
    switch (join) {
        case PieceJoin::FlacFrames:
            return MakeFlacJoiner(std::move(setup));
        case PieceJoin::AlacPackets:
            return MakeAlacJoiner(std::move(setup));
        case PieceJoin::SplicedPackets:
            return MakeSpliceJoiner(std::move(setup));
        case PieceJoin::None:
        case PieceJoin::Mp3Frames:
            break;
    }
    return nullptr;
}

bool EvenPiecesJoin(PieceJoin join) {
    return join == PieceJoin::FlacFrames || join == PieceJoin::AlacPackets ||
           join == PieceJoin::SplicedPackets;
}

}  // namespace

int CodecJobOutput::PiecesFor(const ConversionJob &job, const AudioStreamReader &whole) const {
    // (ReplayGain is no reason to keep a file whole: it was measured in a pass of its own, before any
    // piece.)
    if (!EvenPiecesJoin(Traits().join)) {
        return 1;
    }
    return EvenPieceCount(job, whole, DivideAfterSeconds(), WriterThread::kMostPieces);
}

bool CodecJobOutput::ConvertEvenDivided(ConversionJob &job, AudioStreamReader &whole,
                                        const EncoderSettings &settings, const MediaTags &tags, int nDepth,
                                        int nPieces, uint64_t llExpected) {
    const OutputFormat format = Traits().format;
    PieceSetup setup{
        format,     settings,           whole.m_nSampleRate, whole.m_nChannels, nDepth, job.GetOutputPath(),
        llExpected, whole.m_nStartFrame};
    const std::unique_ptr<PieceJoiner> pJoiner = JoinerFor(Traits().join, std::move(setup));
    if (!pJoiner) {
        return false;
    }
    OutputFile file;
    if (!file.Create(job.GetOutputPath(), true)) {
        FailJob(job, kCannotCreateText);
        return true;
    }
    CodecOutput first;
    const bool bFirstOpen = pJoiner->FirstThroughContainer()
                                ? first.Open(format, settings, whole.m_nSampleRate, whole.m_nChannels, nDepth,
                                             file.Get(), tags, 0)
                                : first.OpenForPackets(format, settings, whole.m_nSampleRate,
                                                       whole.m_nChannels, nDepth, file.Get(), tags);
    if (!bFirstOpen) {
        FailJob(job, first.GetError());
        return true;
    }
    std::string strError;
    if (!pJoiner->SetUpFirst(first, strError)) {
        FailJob(job, strError);
        return true;
    }

    // Every cut on the frame grid, so that each piece's frames are the whole file's frames there.
    const uint64_t llGrid = pJoiner->PlanGrid(static_cast<uint64_t>(first.GetFrameSize()));
    if (llGrid == 0) {
        return false;
    }
    const std::vector<EvenPiece> plans =
        PlanEvenPieces(whole, nPieces, llGrid, pJoiner->GridOrigin(llGrid), pJoiner->LeadFrames(llGrid));
    if (plans.empty()) {
        return false;
    }
    if (!SeeksLandExactly(whole, ProbesOf(plans))) {
        return false;
    }

    std::vector<EncodedPiece> results(static_cast<size_t>(nPieces));
    const bool bBareFirst = !pJoiner->FirstThroughContainer();
    const auto encodePiece = [&](size_t i) {
        const EvenPiece &plan = plans[i];
        const bool bLast = i + 1 == plans.size();
        const EvenPiece feed = pJoiner->FeedOf(plan, bLast);
        EncodedPiece &result = results[i];
        // The first piece always runs, so that a stop leaves what an undivided encode would: its start.
        if (i > 0 && IsStopRequested()) {
            result.bStopped = true;
            return;
        }
        AudioStreamReader reader;
        if (!reader.OpenPart(whole, feed.nDecodeStart)) {
            result.strError = reader.m_strLastError;
            return;
        }
        CodecOutput piece;
        const bool bBare = i > 0 || bBareFirst;
        CodecOutput &output = bBare ? piece : first;
        if (bBare && !pJoiner->OpenPiece(piece, result, i, plan, llGrid)) {
            return;
        }
        // What the encoder is fed before and after the piece's own frames only counts towards the
        // progress where it is the piece's own.
        const uint64_t llOwnFrom = plan.nInputStart - feed.nInputStart;
        const uint64_t llOwnTo =
            plan.llInputFrames == UINT64_MAX ? UINT64_MAX : llOwnFrom + plan.llInputFrames;
        uint64_t llFed = 0;
        const PieceRead read = ReadPieceFrames(
            reader, feed,
            [&](const uint8_t *pChunk, uint32_t nFrames) {
                if (!output.Write(reinterpret_cast<const float *>(pChunk), nFrames)) {
                    return false;
                }
                const uint64_t llFrom = std::max(llFed, llOwnFrom);
                llFed += nFrames;
                const uint64_t llTo = std::min(llFed, llOwnTo);
                if (llTo > llFrom) {
                    job.AddFrames(static_cast<uint32_t>(llTo - llFrom));
                }
                return true;
            },
            [this] { return IsStopRequested(); });
        result.llFramesIn =
            std::min(read.llFramesIn > llOwnFrom ? read.llFramesIn - llOwnFrom : 0, plan.llInputFrames);
        result.bStopped = read.bStopped;
        if (read.bTakeFailed || !read.strReadError.empty()) {
            result.strError = read.bTakeFailed ? output.GetError() : read.strReadError;
            return;
        }
        // The first piece's output is finished by the join, which may add the later pieces to it.
        if (bBare && pJoiner->FlushesPiece(bLast) && !output.Finish()) {
            result.strError = output.GetError();
            return;
        }
        if (bBare && ((result.pFrames && std::fflush(result.pFrames.get()) != 0) ||
                      (result.pSamples && std::fflush(result.pSamples.get()) != 0))) {
            result.strError = kWriteFailed;
            return;
        }
        result.bOk = true;
    };

    // Taken in order by this worker and any other that is free; with no other free they run one after
    // the other here, and the file is the same either way.
    RunTasks(nPieces, [&](int i) {
        const auto n = static_cast<size_t>(i);
        try {
            encodePiece(n);
        } catch (const std::bad_alloc &) {
            results[n] = EncodedPiece{};
            results[n].strError = "Out of memory";
        } catch (const std::exception &e) {
            results[n] = EncodedPiece{};
            results[n].strError = e.what();
        } catch (...) {
            results[n] = EncodedPiece{};
            results[n].strError = kWriteFailed;
        }
        pJoiner->PieceEnded(n, results);
    });

    // A piece that failed fails the file: no output that looks complete is left.
    for (const EncodedPiece &result : results) {
        if (!result.strError.empty()) {
            FailJob(job, result.strError);
            return true;
        }
    }
    // A stop shortens the file, as it would an undivided one, to as much of its start as the pieces
    // encoded without a gap: every piece whose predecessors all ended whole, up to the first that did not.
    size_t nUsed = 1;
    while (nUsed < results.size() && results[nUsed - 1].bOk && !results[nUsed - 1].bStopped &&
           results[nUsed].bOk) {
        ++nUsed;
    }
    for (size_t i = 0; i + 1 < nUsed; ++i) {
        if (results[i].llFramesIn != plans[i].llInputFrames) {
            return false;  // the source was shorter than its container said: the cuts are off the grid
        }
    }
    if (nUsed < results.size() && !IsStopRequested()) {
        return false;
    }
    switch (pJoiner->Join(first, file.Get(), results, static_cast<int>(nUsed), llGrid, strError)) {
        case JoinOutcome::EncodeWhole:
            return false;
        case JoinOutcome::Failed:
            FailJob(job, strError);
            return true;
        case JoinOutcome::Joined:
            break;
    }
    KeepFile(job, file, tags);
    return true;
}

}  // namespace klangor

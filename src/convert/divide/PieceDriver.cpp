// One long file on several workers, in pieces: the driver every format that divides shares, and the
// FFmpeg encoders' side of it. The plan, the check that the pieces' readers land where they seek, the
// pieces run on whichever workers are free, what a stop keeps and the join all go through the format's
// joiner (PieceJoiner). The FFmpeg encoders' pieces lie on their frame grid; the first piece goes into
// the output through the container, with the tags and the cover, where the format's pieces stand alone
// (FLAC, ALAC); the later pieces' bare frames wait in scratch files, and the joiner puts them after the
// first piece's, so the file is byte for byte the one a single encoder would have written from the
// same samples. (A decoder that fills bands with noise gives other noise after a seek: the file then
// holds that noise instead.) The lossy formats' pieces are all bare, each encoded from well before its
// start to a little past its end, and spliced (divide/SpliceDivide.cpp). MP3's pieces are LAME's
// (divide/Mp3Divide.cpp).
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

// A CodecOutput as a piece's encoder, fed the 32-bit float samples the codec formats' readers deliver;
// the piece's own output, or the first piece's, which the join finishes.
class CodecPieceEncoder : public PieceEncoder {
public:
    CodecPieceEncoder() : m_output(m_own) {}
    explicit CodecPieceEncoder(CodecOutput &first) : m_output(first) {}
    bool Write(const uint8_t *pFrames, uint32_t nFrames) override {
        return m_output.Write(reinterpret_cast<const float *>(pFrames), nFrames);
    }
    bool Finish() override { return m_output.Finish(); }
    std::string GetError() const override { return m_output.GetError(); }
    CodecOutput &Output() { return m_output; }

private:
    CodecOutput m_own;
    CodecOutput &m_output;
};

}  // namespace

int PiecesKeptAfterStop(const std::vector<PieceEnd> &pieces) {
    int nKept = 1;
    while (nKept < static_cast<int>(pieces.size()) && pieces[nKept - 1].bWhole) {
        if (!pieces[nKept].bWhole && !pieces[nKept].bCarriesOn) {
            break;
        }
        ++nKept;
    }
    return nKept;
}

CodecPieceJoiner::CodecPieceJoiner(PieceSetup setup)
    : PieceJoiner(std::move(setup)), m_pFirst(std::make_unique<CodecOutput>()) {}

CodecPieceJoiner::~CodecPieceJoiner() = default;

bool CodecPieceJoiner::OpenPiece(CodecOutput &piece, EncodedPiece &result, size_t i, const EvenPiece &plan,
                                 uint64_t llGrid) {
    (void)i;
    (void)plan;
    (void)llGrid;
    const PieceSetup &setup = Setup();
    result.pFrames = CreateScratchFile(setup.strOutputPath);
    if (!result.pFrames) {
        result.strError = kCannotCreateText;
        return false;
    }
    FILE *pFrames = result.pFrames.get();
    if (!piece.OpenFrames(setup.format, setup.settings, setup.nRate, setup.nChannels, setup.nDepth,
                          [pFrames, &result](const uint8_t *pBytes, size_t nBytes) {
                              result.frameSizes.push_back(static_cast<uint32_t>(nBytes));
                              return std::fwrite(pBytes, 1, nBytes, pFrames) == nBytes;
                          })) {
        result.strError = piece.GetError();
        return false;
    }
    if (!SetUpPiece(piece, result, setup.strOutputPath)) {
        result.strError = kCannotCreateText;
        return false;
    }
    return true;
}

bool CodecPieceJoiner::StartFirst(OutputFile &file, const MediaTags &tags, std::string &strError) {
    const PieceSetup &setup = Setup();
    CodecOutput &first = *m_pFirst;
    const bool bOpen = FirstThroughContainer()
                           ? first.Open(setup.format, setup.settings, setup.nRate, setup.nChannels,
                                        setup.nDepth, file.Get(), tags, 0)
                           : first.OpenForPackets(setup.format, setup.settings, setup.nRate, setup.nChannels,
                                                  setup.nDepth, file.Get(), tags);
    if (!bOpen) {
        strError = first.GetError();
        return false;
    }
    return SetUpFirst(first, strError);
}

std::vector<EvenPiece> CodecPieceJoiner::PlanPieces(const AudioStreamReader &whole, int nPieces) {
    // Every cut on the frame grid, so that each piece's frames are the whole file's frames there.
    m_llGrid = PlanGrid(static_cast<uint64_t>(m_pFirst->GetFrameSize()));
    if (m_llGrid == 0) {
        return {};
    }
    return PlanEvenPieces(whole, nPieces, m_llGrid, GridOrigin(m_llGrid), LeadFrames(m_llGrid));
}

std::unique_ptr<PieceEncoder> CodecPieceJoiner::StartPiece(EncodedPiece &result, size_t i,
                                                           const EvenPiece &plan) {
    if (i == 0 && FirstThroughContainer()) {
        return std::make_unique<CodecPieceEncoder>(*m_pFirst);
    }
    auto pPiece = std::make_unique<CodecPieceEncoder>();
    if (!OpenPiece(pPiece->Output(), result, i, plan, m_llGrid)) {
        return nullptr;
    }
    return pPiece;
}

JoinOutcome CodecPieceJoiner::JoinPieces(OutputFile &file, std::vector<EncodedPiece> &pieces, int nUsed,
                                         std::string &strError) {
    return Join(*m_pFirst, file.Get(), pieces, nUsed, m_llGrid, strError);
}

bool JobOutput::ConvertInPieces(ConversionJob &job, AudioStreamReader &whole, PieceJoiner &joiner,
                                int nPieces, const MediaTags &tags,
                                const std::function<void(OutputFile &)> &fnKeep) {
    if (!joiner.Prepare()) {
        return false;
    }
    OutputFile file;
    if (!file.Create(job.GetOutputPath(), true)) {
        FailJob(job, kCannotCreateText);
        return true;
    }
    std::string strError;
    if (!joiner.StartFirst(file, tags, strError)) {
        FailJob(job, strError);
        return true;
    }
    const std::vector<EvenPiece> plans = joiner.PlanPieces(whole, nPieces);
    if (plans.size() != static_cast<size_t>(nPieces)) {
        return false;
    }
    if (!SeeksLandExactly(whole, joiner.ProbesFor(plans))) {
        return false;
    }

    std::vector<EncodedPiece> results(static_cast<size_t>(nPieces));
    std::vector<EvenPiece> feeds;
    for (size_t i = 0; i < plans.size(); ++i) {
        feeds.push_back(joiner.FeedFor(i, plans[i], i + 1 == plans.size()));
    }
    const auto encodePiece = [&](size_t i) {
        const EvenPiece &plan = plans[i];
        const EvenPiece &feed = feeds[i];
        const bool bLast = i + 1 == plans.size();
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
        const std::unique_ptr<PieceEncoder> pEncoder = joiner.StartPiece(result, i, plan);
        if (!pEncoder) {
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
                if (!pEncoder->Write(pChunk, nFrames)) {
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
        result.llFedIn = read.llFramesIn;
        result.llFramesIn =
            std::min(read.llFramesIn > llOwnFrom ? read.llFramesIn - llOwnFrom : 0, plan.llInputFrames);
        result.bStopped = read.bStopped;
        if (read.bTakeFailed || !read.strReadError.empty()) {
            result.strError = read.bTakeFailed ? pEncoder->GetError() : read.strReadError;
            return;
        }
        if (joiner.EndsPiece(i, bLast) && !pEncoder->Finish()) {
            result.strError = pEncoder->GetError();
            return;
        }
        if ((result.pFrames && std::fflush(result.pFrames.get()) != 0) ||
            (result.pSamples && std::fflush(result.pSamples.get()) != 0)) {
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
        joiner.PieceEnded(n, results);
    });

    // A piece that failed fails the file, or sends it to be encoded whole: no output that looks
    // complete is left.
    for (const EncodedPiece &result : results) {
        if (!result.strError.empty()) {
            if (!joiner.PieceFailureFailsFile()) {
                return false;
            }
            FailJob(job, result.strError);
            return true;
        }
    }
    // A stop shortens the file, as it would an undivided one, to as much of its start as the pieces
    // encoded without a gap.
    std::vector<PieceEnd> ends(results.size());
    for (size_t i = 0; i < results.size(); ++i) {
        ends[i].bWhole = results[i].bOk && !results[i].bStopped;
        ends[i].bCarriesOn = i > 0 && results[i].bOk && joiner.CarriesOn(i, results[i]);
    }
    const int nUsed = PiecesKeptAfterStop(ends);
    for (size_t i = 0; i + 1 < static_cast<size_t>(nUsed); ++i) {
        if (results[i].llFramesIn != plans[i].llInputFrames || results[i].llFedIn != feeds[i].llInputFrames) {
            return false;  // the source was shorter than its container said: the cuts are off the grid
        }
    }
    if (static_cast<size_t>(nUsed) < results.size() && !IsStopRequested()) {
        return false;
    }
    switch (joiner.JoinPieces(file, results, nUsed, strError)) {
        case JoinOutcome::EncodeWhole:
            return false;
        case JoinOutcome::Failed:
            FailJob(job, strError);
            return true;
        case JoinOutcome::Joined:
            break;
    }
    fnKeep(file);
    return true;
}

namespace {

// The joiner of an FFmpeg encoder's format whose pieces this driver encodes; none for the others.
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
    PieceSetup setup{Traits().format,     settings,   whole.m_nSampleRate, whole.m_nChannels, nDepth,
                     job.GetOutputPath(), llExpected, whole.m_nStartFrame};
    const std::unique_ptr<PieceJoiner> pJoiner = JoinerFor(Traits().join, std::move(setup));
    if (!pJoiner) {
        return false;
    }
    return ConvertInPieces(job, whole, *pJoiner, nPieces, tags,
                           [&](OutputFile &file) { KeepFile(job, file, tags); });
}

}  // namespace klangor

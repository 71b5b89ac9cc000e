// One long file to MP3 on several workers: consecutive pieces, each decoded by its own reader from a
// little before its start and encoded by its own LAME encoder, joined into one stream.
//
// MP3 frame g of the whole file covers the same input, whichever encoder made it, when every piece's
// encoder starts a whole number of frames after the file's start: so each piece starts on that grid,
// kWarmUpFrames before the first frame where it may take over (its psychoacoustic model, filter bank
// and reservoir are then settled), and the encoder delay is the same for all. The join between two
// pieces is one of the frames within kJoinReach of the even cut: the first where the stream joined so
// far leaves at least as many free reservoir bytes as the next piece's own encoder had borrowed
// (its main_data_begin); from there Mp3StreamWriter fits every frame of that piece. When no such frame
// exists (or the stream turned out shorter than its container said), the file is encoded whole.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <optional>

#include "convert/batch/WriterThread.h"
#include "convert/outputs/Mp3Frame.h"
#include "convert/divide/Mp3StreamWriter.h"
#include "convert/outputs/Mp3JobOutput.h"
#include "convert/divide/ScratchFile.h"
#include "convert/divide/SeekCheck.h"

namespace klangor {

namespace {

constexpr int64_t kJoinReach = 24;
constexpr int64_t kWarmUpFrames = 32;
// Frames a piece runs past its last possible join: LAME's look-ahead, then the frames its flush pads.
constexpr int64_t kTailFrames = 4;
// What one join costs: the frames that both pieces beside it encode.
constexpr double kJoinCostFrames = 2 * kJoinReach + kWarmUpFrames + kTailFrames;
// More than two pieces only where the joins cost at most 1/64 of the file's frames.
constexpr double kJoinCostShare = 64;
// Not every decoder gives after a seek what it gives decoding on (pre-roll, timestamps in
// milliseconds): from kSettleFrames into a later piece its decoder must land where it seeks, or the
// file is encoded whole.
constexpr uint32_t kSettleFrames = 12288;

struct PiecePlan {
    int64_t llFirstFrame = 0;  // the whole file's frame that the piece encoder's first frame is
    uint32_t nInputStart = 0;  // absolute input frame
    uint64_t llInputFrames = 0;
    uint64_t llOwnStart = 0, llOwnEnd = 0;  // input frames whose progress this piece reports
    int64_t llJoinLo = 0, llJoinHi = 0;     // where it may take over from the piece before
};

struct PieceResult {
    Mp3EncodeOutcome outcome;
    FILE *pOut = nullptr;  // where the encoder writes: the output file itself for the first piece
    FilePtr pScratch;
    std::vector<uint8_t> headerFrame;
    int nDelay = 0;
};

}  // namespace

int Mp3PiecesKeptAfterStop(const std::vector<Mp3PieceEnd> &pieces) {
    int nKept = 1;
    while (nKept < static_cast<int>(pieces.size()) && pieces[nKept - 1].bWhole) {
        if (!pieces[nKept].bWhole && !pieces[nKept].bReachedJoin) {
            break;
        }
        ++nKept;
    }
    return nKept;
}

int Mp3JobOutput::PiecesFor(const ConversionJob &job, const AudioStreamReader &whole, int32_t nJob) const {
    const double dSplit = DivideAfterSeconds();
    const double dRate = whole.m_nSampleRate;
    const double dFrames = whole.m_nFramesToConvert;
    if (dSplit <= 0.0 || dRate <= 0.0 || dFrames <= dSplit * dRate) {
        return 1;
    }
    // A part of a source split at its chapters or pauses already shares the workers with the others.
    if (job.IsPart()) {
        return 1;
    }
    // ReplayGain meters the samples in the order they are encoded, which only an undivided encode has.
    if (SettingsOf(nJob).loudness.bReplayGain) {
        return 1;
    }
    // The join rewinds and trims the output; every piece opens the source again.
    if (IsStreamFile(job.GetOutputPath()) || IsStreamFile(job.GetSourcePath())) {
        return 1;
    }
    // The synthesiser renders a song from its start at every opening, its bank loaded again: each piece
    // would render all that comes before it once more.
    if (IsMidiFile(job.GetSourcePath())) {
        return 1;
    }
    // Pieces of at least half the threshold, and long enough for their warm-up and join reach (frames
    // of 576 samples below 32 kHz).
    const double dFrameSamples = whole.m_nSampleRate >= 32000 ? 1152.0 : 576.0;
    const double dMinPart = std::max(dSplit * dRate / 2, 2.0 * kJoinCostFrames * dFrameSamples);
    const double dByLength = std::min<double>(WriterThread::kMostPieces, dFrames / dMinPart);
    const double dMp3Frames = dFrames / dFrameSamples;
    // A power of two, so that 2, 4 or 8 workers share the pieces evenly. Beyond two, only as many as
    // keep the frames encoded twice at the joins within a share of the file: with one or two
    // processors the pieces only cost time.
    int nPieces = 1;
    while (nPieces * 2 <= dByLength &&
           (nPieces < 2 || (nPieces * 2 - 1) * kJoinCostFrames * kJoinCostShare <= dMp3Frames)) {
        nPieces *= 2;
    }
    return nPieces;
}

bool Mp3JobOutput::ConvertDivided(ConversionJob &job, AudioStreamReader &whole,
                                  const EncoderSettings &snapshot, int nPieces) {
    bool bHeader = snapshot.m_bWriteVbrHeader != 0;
    bool bProbeFailed = false;
    LamePtr pProbe = CreateLameEncoder(snapshot, whole.m_nSampleRate, false, bProbeFailed);
    // The pieces can line up only when LAME encodes at the input's own rate.
    if (!pProbe || lame_get_out_samplerate(pProbe.get()) != static_cast<int>(whole.m_nSampleRate)) {
        return false;
    }
    const int64_t llFrameSize = lame_get_framesize(pProbe.get());
    pProbe.reset();

    const uint64_t llStart = whole.m_nStartFrame;
    const bool bToStreamEnd = whole.RunsToStreamEnd();
    const uint64_t llJobEnd = bToStreamEnd ? UINT64_MAX : whole.m_nEndFrame;
    const auto llMp3Frames = static_cast<int64_t>(whole.m_nFramesToConvert) / llFrameSize;
    std::vector<PiecePlan> plans(static_cast<size_t>(nPieces));
    for (int i = 1; i < nPieces; ++i) {
        const int64_t llCut =
            std::llround(static_cast<double>(i) * static_cast<double>(llMp3Frames) / nPieces);
        plans[i].llJoinLo = llCut - kJoinReach;
        plans[i].llJoinHi = llCut + kJoinReach;
        plans[i].llFirstFrame = plans[i].llJoinLo - kWarmUpFrames;
        plans[i].llOwnStart = llStart + static_cast<uint64_t>(llCut * llFrameSize);
        plans[i - 1].llOwnEnd = plans[i].llOwnStart;
    }
    plans.back().llOwnEnd = llJobEnd;
    plans[0].llOwnStart = llStart;
    for (int i = 0; i < nPieces; ++i) {
        PiecePlan &plan = plans[i];
        plan.nInputStart =
            static_cast<uint32_t>(llStart + static_cast<uint64_t>(plan.llFirstFrame * llFrameSize));
        if (i + 1 < nPieces) {
            plan.llInputFrames = static_cast<uint64_t>(
                (plans[i + 1].llJoinHi + kTailFrames - plan.llFirstFrame) * llFrameSize);
        } else {
            plan.llInputFrames = bToStreamEnd ? UINT64_MAX : llJobEnd - plan.nInputStart;
        }
    }

    // A piece whose decoder landed elsewhere than it seeks would repeat or drop samples at its join.
    std::vector<SeekProbe> probes;
    for (int i = 1; i < nPieces; ++i) {
        probes.push_back(SeekProbe{plans[i].nInputStart, plans[i].nInputStart + kSettleFrames});
    }
    if (!SeeksLandExactly(whole, probes)) {
        return false;
    }

    // The first piece is written straight into the output's temporary file, so that it grows from the
    // start as an undivided file's does; the join then rewrites it in place (every frame keeps its size
    // and place, and is read before it is rewritten) and appends the other pieces.
    OutputFile file;
    if (!file.Create(job.GetOutputPath(), true)) {
        FailJob(job, kMp3CannotCreate);
        return true;
    }
    FilePtr pFirstPart(file.GetTempPath().empty() ? nullptr : std::fopen(file.GetTempPath().c_str(), "rbe"));
    std::vector<PieceResult> results(static_cast<size_t>(nPieces));
    const auto encodePiece = [&](int i) {
        const PiecePlan &plan = plans[i];
        PieceResult &result = results[i];
        if (IsStopRequested()) {
            result.outcome.bStopped = true;  // never started: nothing of it is kept
            return;
        }
        AudioStreamReader reader;
        if (!reader.OpenPart(whole, plan.nInputStart)) {
            result.outcome.strError = reader.m_strLastError;
            return;
        }
        bool bInitFailed = false;
        LamePtr pLame = CreateLameEncoder(snapshot, whole.m_nSampleRate, bHeader && i == 0, bInitFailed);
        if (i == 0 && pFirstPart) {
            result.pOut = file.Get();
        } else {
            result.pScratch = CreateScratchFile(job.GetOutputPath());
            result.pOut = result.pScratch.get();
        }
        if (!pLame || !result.pOut) {
            result.outcome.strError = pLame ? kMp3CannotCreate : kMp3InitFailed;
            return;
        }
        uint64_t llPos = plan.nInputStart;
        result.outcome = EncodeMp3Frames(
            pLame.get(), reader, plan.llInputFrames, result.pOut, snapshot, nullptr,
            [&](uint32_t nFrames) {
                // Only the piece's own span counts, so the pieces' notices add up to the file's frames.
                const uint64_t llFrom = std::max(llPos, plan.llOwnStart);
                const uint64_t llTo = std::min(llPos + nFrames, plan.llOwnEnd);
                llPos += nFrames;
                if (llTo > llFrom) {
                    job.AddFrames(static_cast<uint32_t>(llTo - llFrom));
                }
            },
            [this] { return IsStopRequested(); });
        result.nDelay = lame_get_encoder_delay(pLame.get());
        if (i == 0 && bHeader) {
            std::vector<uint8_t> frame(8192);
            const size_t nBytes = lame_get_lametag_frame(pLame.get(), frame.data(), frame.size());
            frame.resize(std::min(nBytes, frame.size()));
            result.headerFrame = std::move(frame);
        }
        if (result.pOut && std::fflush(result.pOut) != 0) {
            result.outcome.bOk = false;
            result.outcome.strError = kMp3WriteFailed;
        }
    };

    // Taken in order by this worker and any other that is free; with no other free they run one after
    // the other here, and the stream is the same either way. A piece that fails, out of memory even,
    // only sends the file to be encoded whole.
    RunTasks(nPieces, [&](int i) {
        try {
            encodePiece(i);
        } catch (const std::bad_alloc &) {
            results[i].outcome = Mp3EncodeOutcome{};
            results[i].outcome.strError = "Out of memory";
        } catch (const std::exception &e) {
            results[i].outcome = Mp3EncodeOutcome{};
            results[i].outcome.strError = e.what();
        } catch (...) {
            results[i].outcome = Mp3EncodeOutcome{};
            results[i].outcome.strError = kMp3WriteFailed;
        }
    });

    // A stop shortens the file, as it would an undivided one, to as much of its start as the pieces
    // encoded without a gap: pieces that finished before the stop are not thrown away.
    const bool bStopped = std::any_of(results.begin(), results.end(),
                                      [](const PieceResult &result) { return result.outcome.bStopped; });
    int nUsed = nPieces;
    if (bStopped) {
        std::vector<Mp3PieceEnd> ends(static_cast<size_t>(nPieces));
        for (int i = 0; i < nPieces; ++i) {
            const Mp3EncodeOutcome &outcome = results[i].outcome;
            const PiecePlan &plan = plans[i];
            ends[i].bWhole = outcome.bOk && !outcome.bStopped && outcome.nFramesIn == plan.llInputFrames;
            // After its flush an encoder has written at least one frame for every whole frame it took in.
            ends[i].bReachedJoin =
                outcome.bOk && i > 0 &&
                outcome.nFramesIn >=
                    static_cast<uint64_t>((plan.llJoinHi - plan.llFirstFrame + 1) * llFrameSize);
        }
        nUsed = Mp3PiecesKeptAfterStop(ends);
    }
    for (int i = 0; i < nUsed; ++i) {
        const Mp3EncodeOutcome &outcome = results[i].outcome;
        if (!outcome.bOk || (i + 1 < nUsed && outcome.nFramesIn != plans[i].llInputFrames)) {
            return false;
        }
    }
    // LAME writes no header frame where its frames are too small to hold one (low bitrates), nor
    // reserves a place for it.
    const std::vector<uint8_t> &header = results[0].headerFrame;
    bHeader = bHeader && !header.empty();

    // The header frame's place, filled in when the whole stream is known.
    const std::vector<uint8_t> zeros(header.size(), 0);
    if (std::fseek(file.Get(), 0, SEEK_SET) != 0 ||
        std::fwrite(zeros.data(), 1, zeros.size(), file.Get()) != zeros.size()) {
        FailJob(job, kMp3WriteFailed);
        return true;
    }
    Mp3StreamWriter writer(file.Get(), static_cast<uint32_t>(header.size()));
    std::vector<std::optional<Mp3FrameSource>> sources(static_cast<size_t>(nUsed));
    for (int i = 0; i < nUsed; ++i) {
        FILE *pRead = i == 0 && pFirstPart ? pFirstPart.get() : results[i].pScratch.get();
        std::rewind(pRead);
        sources[i].emplace(pRead);
    }
    FILE *pFirstRead = pFirstPart ? pFirstPart.get() : results[0].pScratch.get();
    if (bHeader && std::fseek(pFirstRead, static_cast<long>(header.size()), SEEK_SET) != 0) {
        return false;
    }

    Mp3StreamFrame frame;
    int64_t llFrame = 0;  // the whole file's frame to take next
    std::vector<Mp3StreamFrame> candidates;
    for (int i = 1; i < nUsed; ++i) {
        const PiecePlan &plan = plans[i];
        Mp3FrameSource &next = *sources[i];
        candidates.clear();
        for (int64_t g = plan.llFirstFrame; g <= plan.llJoinHi; ++g) {
            if (!next.Next(frame)) {
                return false;
            }
            if (g >= plan.llJoinLo) {
                candidates.push_back(frame);
            }
        }
        while (llFrame < plan.llJoinLo || !writer.CanContinueWith(candidates[llFrame - plan.llJoinLo])) {
            if (llFrame >= plan.llJoinHi || !sources[i - 1]->Next(frame) || !writer.Add(frame)) {
                return false;  // no frame within reach to join at
            }
            ++llFrame;
        }
        for (size_t k = static_cast<size_t>(llFrame - plan.llJoinLo); k < candidates.size(); ++k) {
            if (!writer.Add(candidates[k])) {
                return false;
            }
        }
        llFrame = plan.llJoinHi + 1;
    }
    Mp3FrameSource &last = *sources[nUsed - 1];
    while (last.Next(frame)) {
        if (!writer.Add(frame)) {
            return false;
        }
    }
    if (last.IsDamaged() || !writer.Finish()) {
        if (writer.HasFailed()) {
            FailJob(job, kMp3WriteFailed);
            return true;
        }
        return false;
    }

    // A stopped file may end before what its first piece had written.
    const long lEnd = std::ftell(file.Get());
    if (lEnd < 0 || std::fflush(file.Get()) != 0 || ::ftruncate(fileno(file.Get()), lEnd) != 0) {
        FailJob(job, kMp3WriteFailed);
        return true;
    }
    if (bHeader) {
        const uint64_t llFramesIn =
            plans[nUsed - 1].nInputStart - llStart + results[nUsed - 1].outcome.nFramesIn;
        const int64_t llPadding = static_cast<int64_t>(writer.GetFrameCount()) * llFrameSize -
                                  results[0].nDelay - static_cast<int64_t>(llFramesIn);
        const long lBytes = std::ftell(file.Get());
        const uint64_t llBytes = lBytes < 0 ? UINT64_MAX : static_cast<uint64_t>(lBytes);
        std::vector<uint8_t> patched = header;
        if (llPadding < 0 || llBytes > UINT32_MAX ||
            !PatchHeaderFrame(patched, writer.GetFrameCount(), static_cast<uint32_t>(llBytes),
                              writer.GetFrameOffsets(), results[0].nDelay, static_cast<int>(llPadding),
                              writer.GetCrc())) {
            return false;
        }
        if (std::fseek(file.Get(), 0, SEEK_SET) != 0 ||
            std::fwrite(patched.data(), 1, patched.size(), file.Get()) != patched.size()) {
            FailJob(job, kMp3WriteFailed);
            return true;
        }
    }
    KeepWithTags(file, job, whole, nullptr);
    return true;
}

}  // namespace klangor

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
// exists (or the stream turned out shorter than its container said), the file is encoded whole. The
// pieces run on the driver every format that divides shares (divide/PieceDriver.cpp).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "common/OutputFile.h"
#include "convert/batch/WriterThread.h"
#include "convert/divide/Mp3StreamWriter.h"
#include "convert/divide/PieceJoiner.h"
#include "convert/divide/ScratchFile.h"
#include "convert/divide/SeekCheck.h"
#include "convert/outputs/Mp3Frame.h"
#include "convert/outputs/Mp3JobOutput.h"
#include "convert/outputs/SampleSanitizer.h"
#include "media/MediaTags.h"

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

// Where one piece lies in the whole file's MP3 frames.
struct Mp3PiecePlan {
    int64_t llFirstFrame = 0;            // the whole file's frame that the piece encoder's first frame is
    int64_t llJoinLo = 0, llJoinHi = 0;  // where it may take over from the piece before
};

// One piece's LAME encoder, its frames into pOut.
class Mp3PieceEncoder : public PieceEncoder {
public:
    Mp3PieceEncoder(LamePtr pLame, FILE *pOut, const SampleLayout &layout, const EncoderSettings &settings,
                    bool bHeader)
        : m_pLame(std::move(pLame)),
          m_pOut(pOut),
          m_layout(layout),
          m_settings(settings),
          m_bHeader(bHeader) {}

    bool Write(const uint8_t *pFrames, uint32_t nFrames) override {
        const uint8_t *pIn = pFrames;
        if (m_layout.kind == SampleLayout::Kind::Float) {
            // Made safe in a copy of the chunk, as the undivided encode makes the reader's own safe.
            const size_t nSamples = static_cast<size_t>(nFrames) * static_cast<size_t>(m_layout.nChannels);
            m_floats.resize(nSamples);
            std::memcpy(m_floats.data(), pFrames, nSamples * sizeof(float));
            SanitizeSamples(m_floats.data(), nSamples);
            pIn = reinterpret_cast<const uint8_t *>(m_floats.data());
        }
        m_left.resize(nFrames);
        m_right.resize(nFrames);
        SplitChannels(pIn, static_cast<int>(nFrames), m_layout, m_settings, m_left.data(), m_right.data());
        return Put(lame_encode_buffer_ieee_float(m_pLame.get(), m_left.data(), m_right.data(),
                                                 static_cast<int>(nFrames), m_mp3, kMp3BufferBytes));
    }

    bool Finish() override {
        if (!Put(lame_encode_flush(m_pLame.get(), m_mp3, kMp3BufferBytes))) {
            return false;
        }
        m_nDelay = lame_get_encoder_delay(m_pLame.get());
        if (m_bHeader) {
            std::vector<uint8_t> frame(8192);
            const size_t nBytes = lame_get_lametag_frame(m_pLame.get(), frame.data(), frame.size());
            frame.resize(std::min(nBytes, frame.size()));
            m_header = std::move(frame);
        }
        if (std::fflush(m_pOut) != 0) {
            m_strError = kMp3WriteFailed;
            return false;
        }
        return true;
    }

    std::string GetError() const override { return m_strError; }
    int Delay() const { return m_nDelay; }
    const std::vector<uint8_t> &HeaderFrame() const { return m_header; }

private:
    bool Put(int nBytes) {
        if (nBytes < 0) {
            m_strError = Mp3EncodeFailureText(nBytes);
            return false;
        }
        if (std::fwrite(m_mp3, 1, static_cast<size_t>(nBytes), m_pOut) != static_cast<size_t>(nBytes)) {
            m_strError = kMp3WriteFailed;
            return false;
        }
        return true;
    }

    LamePtr m_pLame;
    FILE *m_pOut;
    const SampleLayout m_layout;
    const EncoderSettings &m_settings;
    const bool m_bHeader;
    std::vector<float> m_floats, m_left, m_right;
    unsigned char m_mp3[kMp3BufferBytes];
    std::string m_strError;
    int m_nDelay = 0;
    std::vector<uint8_t> m_header;
};

// The first piece's encoder, which the joiner keeps for its header frame and delay.
class FirstPiece : public PieceEncoder {
public:
    explicit FirstPiece(Mp3PieceEncoder &first) : m_first(first) {}
    bool Write(const uint8_t *pFrames, uint32_t nFrames) override { return m_first.Write(pFrames, nFrames); }
    bool Finish() override { return m_first.Finish(); }
    std::string GetError() const override { return m_first.GetError(); }

private:
    Mp3PieceEncoder &m_first;
};

class Mp3Joiner : public PieceJoiner {
public:
    Mp3Joiner(PieceSetup setup, const AudioStreamReader &whole, bool bHeader)
        : PieceJoiner(std::move(setup)), m_layout(LayoutOf(whole)), m_bHeader(bHeader) {}

    bool Prepare() override {
        bool bProbeFailed = false;
        const LamePtr pProbe = CreateLameEncoder(Setup().settings, Setup().nRate, false, bProbeFailed);
        // The pieces can line up only when LAME encodes at the input's own rate.
        if (!pProbe || lame_get_out_samplerate(pProbe.get()) != static_cast<int>(Setup().nRate)) {
            return false;
        }
        m_llFrameSize = lame_get_framesize(pProbe.get());
        return m_llFrameSize > 0;
    }

    // The first piece is written straight into the output's temporary file, so that it grows from the
    // start as an undivided file's does; the join then rewrites it in place (every frame keeps its size
    // and place, and is read before it is rewritten) and appends the other pieces.
    bool StartFirst(OutputFile &file, const MediaTags &tags, std::string &strError) override {
        (void)tags;
        if (!file.GetTempPath().empty()) {
            m_pFirstPart.reset(std::fopen(file.GetTempPath().c_str(), "rbe"));
        }
        FILE *pOut = file.Get();
        if (!m_pFirstPart) {
            m_pFirstScratch = CreateScratchFile(Setup().strOutputPath);
            pOut = m_pFirstScratch.get();
        }
        m_pFirst = Open(pOut, m_bHeader, strError);
        return m_pFirst != nullptr;
    }

    // Each later piece's encoder starts kWarmUpFrames before the first frame where it may take over,
    // kJoinReach before the even cut; every piece but the last runs on to kTailFrames past the next
    // one's last. A piece's own frames, which its progress counts, are those up to the next even cut.
    std::vector<EvenPiece> PlanPieces(const AudioStreamReader &whole, int nPieces) override {
        const uint64_t llStart = whole.m_nStartFrame;
        m_llStart = llStart;
        const bool bToStreamEnd = whole.RunsToStreamEnd();
        const uint64_t llJobEnd = bToStreamEnd ? UINT64_MAX : whole.m_nEndFrame;
        const auto llMp3Frames = static_cast<int64_t>(whole.m_nFramesToConvert) / m_llFrameSize;
        m_plans.assign(static_cast<size_t>(nPieces), Mp3PiecePlan{});
        std::vector<EvenPiece> pieces(static_cast<size_t>(nPieces));
        m_feeds.assign(static_cast<size_t>(nPieces), EvenPiece{});
        std::vector<uint64_t> ownStarts(static_cast<size_t>(nPieces) + 1, llJobEnd);
        ownStarts[0] = llStart;
        for (int i = 1; i < nPieces; ++i) {
            const int64_t llCut =
                std::llround(static_cast<double>(i) * static_cast<double>(llMp3Frames) / nPieces);
            m_plans[i].llJoinLo = llCut - kJoinReach;
            m_plans[i].llJoinHi = llCut + kJoinReach;
            m_plans[i].llFirstFrame = m_plans[i].llJoinLo - kWarmUpFrames;
            if (m_plans[i].llFirstFrame < 0) {
                return {};
            }
            ownStarts[static_cast<size_t>(i)] = llStart + static_cast<uint64_t>(llCut * m_llFrameSize);
        }
        for (int i = 0; i < nPieces; ++i) {
            const auto n = static_cast<size_t>(i);
            EvenPiece &feed = m_feeds[n];
            feed.nDecodeStart = static_cast<uint32_t>(
                llStart + static_cast<uint64_t>(m_plans[n].llFirstFrame * m_llFrameSize));
            feed.nInputStart = feed.nDecodeStart;
            if (i + 1 < nPieces) {
                feed.llInputFrames = static_cast<uint64_t>(
                    (m_plans[n + 1].llJoinHi + kTailFrames - m_plans[n].llFirstFrame) * m_llFrameSize);
            } else {
                feed.llInputFrames = bToStreamEnd ? UINT64_MAX : llJobEnd - feed.nInputStart;
            }
            EvenPiece &own = pieces[n];
            own.nDecodeStart = feed.nDecodeStart;
            own.nInputStart = static_cast<uint32_t>(ownStarts[n]);
            own.llInputFrames = ownStarts[n + 1] == UINT64_MAX ? UINT64_MAX : ownStarts[n + 1] - ownStarts[n];
        }
        return pieces;
    }

    // From kSettleFrames into a later piece its decoder must land where it seeks.
    std::vector<SeekProbe> ProbesFor(const std::vector<EvenPiece> &plans) const override {
        std::vector<SeekProbe> probes;
        for (size_t i = 1; i < plans.size(); ++i) {
            probes.push_back(SeekProbe{m_feeds[i].nInputStart, m_feeds[i].nInputStart + kSettleFrames});
        }
        return probes;
    }

    EvenPiece FeedFor(size_t i, const EvenPiece &plan, bool bLast) const override {
        (void)plan;
        (void)bLast;
        return m_feeds[i];
    }

    std::unique_ptr<PieceEncoder> StartPiece(EncodedPiece &result, size_t i, const EvenPiece &plan) override {
        (void)plan;
        if (i == 0) {
            return std::make_unique<FirstPiece>(*m_pFirst);
        }
        result.pFrames = CreateScratchFile(Setup().strOutputPath);
        return Open(result.pFrames.get(), false, result.strError);
    }

    bool EndsPiece(size_t i, bool bLast) const override {
        (void)i;
        (void)bLast;
        return true;
    }

    // A stopped piece carries the file on when it got past the last frame it may take over at: after
    // its flush an encoder has written at least one frame for every whole frame it took in.
    bool CarriesOn(size_t i, const EncodedPiece &piece) const override {
        const Mp3PiecePlan &plan = m_plans[i];
        return !piece.bStopped ||
               piece.llFedIn >=
                   static_cast<uint64_t>((plan.llJoinHi - plan.llFirstFrame + 1) * m_llFrameSize);
    }

    // A piece that fails, out of memory even, only sends the file to be encoded whole.
    bool PieceFailureFailsFile() const override { return false; }

    JoinOutcome JoinPieces(OutputFile &file, std::vector<EncodedPiece> &pieces, int nUsed,
                           std::string &strError) override;

private:
    std::unique_ptr<Mp3PieceEncoder> Open(FILE *pOut, bool bHeader, std::string &strError) const {
        bool bInitFailed = false;
        LamePtr pLame = CreateLameEncoder(Setup().settings, Setup().nRate, bHeader, bInitFailed);
        if (!pLame || !pOut) {
            strError = pLame ? kMp3CannotCreate : kMp3InitFailed;
            return nullptr;
        }
        return std::make_unique<Mp3PieceEncoder>(std::move(pLame), pOut, m_layout, Setup().settings, bHeader);
    }

    const SampleLayout m_layout;
    const bool m_bHeader;
    int64_t m_llFrameSize = 0;
    uint64_t m_llStart = 0;
    std::vector<Mp3PiecePlan> m_plans;
    std::vector<EvenPiece> m_feeds;
    FilePtr m_pFirstPart;     // the output's temporary file read back, where it has one
    FilePtr m_pFirstScratch;  // the first piece's frames otherwise
    std::unique_ptr<Mp3PieceEncoder> m_pFirst;
};

JoinOutcome Mp3Joiner::JoinPieces(OutputFile &file, std::vector<EncodedPiece> &pieces, int nUsed,
                                  std::string &strError) {
    // LAME writes no header frame where its frames are too small to hold one (low bitrates), nor
    // reserves a place for it.
    const std::vector<uint8_t> &header = m_pFirst->HeaderFrame();
    const bool bHeader = m_bHeader && !header.empty();

    // The header frame's place, filled in when the whole stream is known.
    const std::vector<uint8_t> zeros(header.size(), 0);
    if (std::fseek(file.Get(), 0, SEEK_SET) != 0 ||
        std::fwrite(zeros.data(), 1, zeros.size(), file.Get()) != zeros.size()) {
        strError = kMp3WriteFailed;
        return JoinOutcome::Failed;
    }
    Mp3StreamWriter writer(file.Get(), static_cast<uint32_t>(header.size()));
    FILE *pFirstRead = m_pFirstPart ? m_pFirstPart.get() : m_pFirstScratch.get();
    std::vector<std::optional<Mp3FrameSource>> sources(static_cast<size_t>(nUsed));
    for (int i = 0; i < nUsed; ++i) {
        FILE *pRead = i == 0 ? pFirstRead : pieces[static_cast<size_t>(i)].pFrames.get();
        std::rewind(pRead);
        sources[i].emplace(pRead);
    }
    if (bHeader && std::fseek(pFirstRead, static_cast<long>(header.size()), SEEK_SET) != 0) {
        return JoinOutcome::EncodeWhole;
    }

    // The join between two pieces is one of the frames within kJoinReach of the even cut: the first
    // where the stream joined so far leaves at least as many free reservoir bytes as the next piece's
    // own encoder had borrowed; from there Mp3StreamWriter fits every frame of that piece.
    Mp3StreamFrame frame;
    int64_t llFrame = 0;  // the whole file's frame to take next
    std::vector<Mp3StreamFrame> candidates;
    for (int i = 1; i < nUsed; ++i) {
        const Mp3PiecePlan &plan = m_plans[static_cast<size_t>(i)];
        Mp3FrameSource &next = *sources[i];
        candidates.clear();
        for (int64_t g = plan.llFirstFrame; g <= plan.llJoinHi; ++g) {
            if (!next.Next(frame)) {
                return JoinOutcome::EncodeWhole;
            }
            if (g >= plan.llJoinLo) {
                candidates.push_back(frame);
            }
        }
        while (llFrame < plan.llJoinLo || !writer.CanContinueWith(candidates[llFrame - plan.llJoinLo])) {
            if (llFrame >= plan.llJoinHi || !sources[i - 1]->Next(frame) || !writer.Add(frame)) {
                return JoinOutcome::EncodeWhole;  // no frame within reach to join at
            }
            ++llFrame;
        }
        for (size_t k = static_cast<size_t>(llFrame - plan.llJoinLo); k < candidates.size(); ++k) {
            if (!writer.Add(candidates[k])) {
                return JoinOutcome::EncodeWhole;
            }
        }
        llFrame = plan.llJoinHi + 1;
    }
    Mp3FrameSource &last = *sources[nUsed - 1];
    while (last.Next(frame)) {
        if (!writer.Add(frame)) {
            return JoinOutcome::EncodeWhole;
        }
    }
    if (last.IsDamaged() || !writer.Finish()) {
        if (writer.HasFailed()) {
            strError = kMp3WriteFailed;
            return JoinOutcome::Failed;
        }
        return JoinOutcome::EncodeWhole;
    }

    // A stopped file may end before what its first piece had written.
    const long lEnd = std::ftell(file.Get());
    if (lEnd < 0 || std::fflush(file.Get()) != 0 || ::ftruncate(fileno(file.Get()), lEnd) != 0) {
        strError = kMp3WriteFailed;
        return JoinOutcome::Failed;
    }
    if (bHeader) {
        const EvenPiece &lastFeed = m_feeds[static_cast<size_t>(nUsed) - 1];
        const uint64_t llFramesIn =
            lastFeed.nInputStart - m_llStart + pieces[static_cast<size_t>(nUsed) - 1].llFedIn;
        const int nDelay = m_pFirst->Delay();
        const int64_t llPadding = static_cast<int64_t>(writer.GetFrameCount()) * m_llFrameSize - nDelay -
                                  static_cast<int64_t>(llFramesIn);
        const long lBytes = std::ftell(file.Get());
        const uint64_t llBytes = lBytes < 0 ? UINT64_MAX : static_cast<uint64_t>(lBytes);
        std::vector<uint8_t> patched = header;
        if (llPadding < 0 || llBytes > UINT32_MAX ||
            !PatchHeaderFrame(patched, writer.GetFrameCount(), static_cast<uint32_t>(llBytes),
                              writer.GetFrameOffsets(), nDelay, static_cast<int>(llPadding),
                              writer.GetCrc())) {
            return JoinOutcome::EncodeWhole;
        }
        if (std::fseek(file.Get(), 0, SEEK_SET) != 0 ||
            std::fwrite(patched.data(), 1, patched.size(), file.Get()) != patched.size()) {
            strError = kMp3WriteFailed;
            return JoinOutcome::Failed;
        }
    }
    return JoinOutcome::Joined;
}

}  // namespace

std::unique_ptr<PieceJoiner> MakeMp3Joiner(PieceSetup setup, const AudioStreamReader &whole, bool bHeader) {
    return std::make_unique<Mp3Joiner>(std::move(setup), whole, bHeader);
}

int Mp3JobOutput::PiecesFor(const ConversionJob &job, const AudioStreamReader &whole, int32_t nJob) const {
    const double dSplit = DivideAfterSeconds();
    const double dRate = whole.m_nSampleRate;
    const double dFrames = whole.m_nFramesToConvert;
    if (dSplit <= 0.0 || dRate <= 0.0 || dFrames <= dSplit * dRate) {
        return 1;
    }
    // A part of a source split at its chapters or pauses already shares the workers with the others.
    if (job.SharesWorkersWithParts()) {
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
    PieceSetup setup{OutputFormat::Mp3,   snapshot, whole.m_nSampleRate, whole.m_nChannels, 16,
                     job.GetOutputPath(), 0,        whole.m_nStartFrame};
    const std::unique_ptr<PieceJoiner> pJoiner =
        MakeMp3Joiner(std::move(setup), whole, snapshot.m_bWriteVbrHeader != 0);
    return ConvertInPieces(job, whole, *pJoiner, nPieces, MediaTags{},
                           [&](OutputFile &file) { KeepWithTags(file, job, whole, nullptr); });
}

}  // namespace klangor

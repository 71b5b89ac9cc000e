#include "convert/divide/EvenPieces.h"

#include <algorithm>

#include "convert/batch/AudioStreamReader.h"
#include "convert/batch/ConversionJob.h"
#include "convert/divide/ScratchFile.h"
#include "media/AudioDecoder.h"

namespace klangor {

int EvenPieceCount(const ConversionJob &job, const AudioStreamReader &whole, double dDivideAfter, int nMost) {
    const double dRate = whole.m_nSampleRate;
    const double dFrames = whole.m_nFramesToConvert;
    if (dDivideAfter <= 0.0 || dRate <= 0.0 || dFrames <= dDivideAfter * dRate ||
        job.SharesWorkersWithParts() || IsStreamFile(job.GetOutputPath()) ||
        IsStreamFile(job.GetSourcePath()) || IsMidiFile(job.GetSourcePath())) {
        return 1;
    }
    const double dByLength = std::min<double>(nMost, dFrames / (dDivideAfter * dRate / 2));
    int nPieces = 1;
    while (nPieces * 2 <= dByLength) {
        nPieces *= 2;
    }
    return nPieces;
}

std::vector<EvenPiece> PlanEvenPieces(const AudioStreamReader &whole, int nPieces, uint64_t llGrid,
                                      uint64_t llOrigin, uint32_t nLead) {
    const uint64_t llFrames = whole.m_nFramesToConvert;
    const uint64_t llSteps = llFrames > llOrigin ? (llFrames - llOrigin) / std::max<uint64_t>(llGrid, 1) : 0;
    if (nPieces < 1 || llSteps < static_cast<uint64_t>(nPieces)) {
        return {};
    }
    std::vector<EvenPiece> pieces(static_cast<size_t>(nPieces));
    for (int i = 0; i < nPieces; ++i) {
        EvenPiece &piece = pieces[static_cast<size_t>(i)];
        const uint64_t llFromStart =
            i == 0 ? 0 : llOrigin + llSteps * static_cast<uint64_t>(i) / nPieces * llGrid;
        piece.nInputStart = static_cast<uint32_t>(whole.m_nStartFrame + llFromStart);
        piece.nDecodeStart =
            piece.nInputStart - (i == 0 ? 0 : std::min(nLead, piece.nInputStart - whole.m_nStartFrame));
        if (i > 0) {
            pieces[static_cast<size_t>(i) - 1].llInputFrames = piece.nInputStart - pieces[i - 1].nInputStart;
        }
    }
    pieces.back().llInputFrames =
        whole.RunsToStreamEnd() ? UINT64_MAX : uint64_t{whole.m_nEndFrame} - pieces.back().nInputStart;
    return pieces;
}

std::vector<SeekProbe> ProbesOf(const std::vector<EvenPiece> &pieces) {
    std::vector<SeekProbe> probes;
    for (size_t i = 1; i < pieces.size(); ++i) {
        probes.push_back(SeekProbe{pieces[i].nDecodeStart, pieces[i].nInputStart});
    }
    return probes;
}

PieceRead ReadPieceFrames(AudioStreamReader &reader, const EvenPiece &piece,
                          const std::function<bool(const uint8_t *, uint32_t)> &fnTake,
                          const std::function<bool()> &fnStopped) {
    PieceRead read;
    const auto nFrameBytes =
        static_cast<size_t>(reader.m_nBytesPerSample) * static_cast<size_t>(reader.m_nChannels);
    uint64_t llSkip = piece.nInputStart - piece.nDecodeStart;
    int n = piece.llInputFrames > 0 ? reader.ReadChunk() : 0;
    while (n > 0) {
        const uint8_t *pChunk = reader.m_pBuffer.get();
        auto nLeft = static_cast<uint32_t>(n);
        const auto nSkipped = static_cast<uint32_t>(std::min<uint64_t>(llSkip, nLeft));
        llSkip -= nSkipped;
        nLeft -= nSkipped;
        pChunk += nSkipped * nFrameBytes;
        if (nLeft == 0) {
            n = reader.ReadChunk();
            continue;
        }
        // A piece ends inside a chunk: only its own frames go on.
        const auto nTake =
            static_cast<uint32_t>(std::min<uint64_t>(nLeft, piece.llInputFrames - read.llFramesIn));
        if (!fnTake(pChunk, nTake)) {
            read.bTakeFailed = true;
            return read;
        }
        read.llFramesIn += nTake;
        if (fnStopped()) {
            read.bStopped = true;
            return read;
        }
        n = read.llFramesIn < piece.llInputFrames ? reader.ReadChunk() : 0;
    }
    if (n < 0) {
        read.strReadError =
            reader.m_strLastError.empty() ? "Cannot update audio sample" : reader.m_strLastError;
    }
    return read;
}

}  // namespace klangor

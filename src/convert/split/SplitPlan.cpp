#include "convert/split/SplitPlan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "clips/ClipList.h"
#include "clips/CueSheet.h"
#include "convert/batch/AudioStreamReader.h"
#include "convert/batch/ConversionJob.h"
#include "convert/divide/ScratchFile.h"
#include "convert/batch/WriterThread.h"
#include "media/MediaChapters.h"

namespace klangor {

namespace {

constexpr uint64_t kOpenEnd = std::numeric_limits<uint64_t>::max();

// A part as its source marks it: from its start to the next one's.
struct Marked {
    uint64_t nStart = 0;  // absolute frame
    std::string strTitle;
    std::string strPerformer;
};

// The range's parts from marked starts: the first runs from the range's start whatever its mark says,
// each ends where the next begins, so together they cover the range without a gap.
std::vector<OutputPart> PartsOf(const std::vector<Marked> &marks, const AudioStreamReader &reader) {
    const uint64_t nFrom = reader.m_nStartFrame;
    const uint64_t nTo = reader.RunsToStreamEnd() ? kOpenEnd : reader.m_nEndFrame;
    std::vector<OutputPart> parts;
    for (size_t i = 0; i < marks.size(); ++i) {
        const uint64_t nStart = std::max(i == 0 ? 0 : marks[i].nStart, nFrom);
        const uint64_t nEnd = std::min(i + 1 < marks.size() ? marks[i + 1].nStart : kOpenEnd, nTo);
        if (nStart >= nEnd || nStart >= UINT32_MAX) {
            continue;
        }
        OutputPart part;
        part.nStartFrame = static_cast<uint32_t>(nStart);
        part.bToStreamEnd = nEnd == kOpenEnd;
        part.nEndFrame = part.bToStreamEnd ? std::max(reader.m_nEndFrame, part.nStartFrame)
                                           : static_cast<uint32_t>(std::min<uint64_t>(nEnd, UINT32_MAX));
        part.strTitle = marks[i].strTitle;
        part.strPerformer = marks[i].strPerformer;
        parts.push_back(std::move(part));
    }
    return parts;
}

// One sample of the reader's buffer, full scale 1.0, in whichever format the decoder delivers.
double SampleAt(const AudioStreamReader &reader, const uint8_t *pBytes, size_t nIndex) {
    const int nBytes = reader.m_nBytesPerSample;
    const uint8_t *p = pBytes + nIndex * static_cast<size_t>(nBytes);
    if (reader.m_wfx.wFormatTag == kWaveFormatFloat && nBytes == 4) {
        float f = 0.0f;
        std::memcpy(&f, p, sizeof f);
        return f;
    }
    switch (nBytes) {
        case 1:
            return (p[0] - 128) / 128.0;
        case 2: {
            int16_t i = 0;
            std::memcpy(&i, p, sizeof i);
            return i / 32768.0;
        }
        case 3:
            return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                                        static_cast<uint32_t>(p[2]) << 24) /
                   2147483648.0;
        default: {
            int32_t i = 0;
            std::memcpy(&i, p, sizeof i);
            return i / 2147483648.0;
        }
    }
}

// The mean square of every window of the range's audio, in order; false when the read failed or stopped.
bool ReadLevels(const ConversionJob &job, uint32_t nWindow, const std::function<bool()> &fnStopped,
                std::vector<float> &levels, std::string &strError) {
    AudioStreamReader reader(job.GetDecoderFactory());
    reader.UseJob(job);
    if (!reader.Open(job.GetSourcePath(), PcmSampleFormat::Float)) {
        strError = reader.m_strLastError;
        return false;
    }
    double dSum = 0.0;
    uint32_t nInWindow = 0;
    const int nChannels = std::max(1, reader.m_nChannels);
    for (;;) {
        if (fnStopped()) {
            strError = kStoppedBeforeConvertedText;
            return false;
        }
        const int nFrames = reader.ReadChunk();
        if (nFrames < 0) {
            strError = reader.m_strLastError.empty() ? "Cannot read the source" : reader.m_strLastError;
            return false;
        }
        if (nFrames == 0) {
            break;
        }
        const uint8_t *pBytes = reader.m_pBuffer.get();
        for (int i = 0; i < nFrames; ++i) {
            for (int c = 0; c < nChannels; ++c) {
                const double d = SampleAt(reader, pBytes, static_cast<size_t>(i * nChannels + c));
                dSum += d * d;
            }
            if (++nInWindow == nWindow) {
                levels.push_back(static_cast<float>(dSum / (nWindow * nChannels)));
                dSum = 0.0;
                nInWindow = 0;
            }
        }
    }
    if (nInWindow > 0) {
        levels.push_back(static_cast<float>(dSum / (nInWindow * nChannels)));
    }
    return true;
}

// The split points (windows from the range's start) at the middle of every quiet stretch of at least
// nLeast windows that neither begins nor ends the range.
std::vector<size_t> SilenceSplits(const std::vector<float> &levels, double dThreshold, size_t nLeast) {
    std::vector<size_t> splits;
    size_t nRun = 0;
    for (size_t i = 0; i <= levels.size(); ++i) {
        if (i < levels.size() && levels[i] < dThreshold) {
            ++nRun;
            continue;
        }
        const size_t nRunStart = i - nRun;
        if (nRun >= nLeast && nRunStart > 0 && i < levels.size()) {
            splits.push_back(nRunStart + nRun / 2);
        }
        nRun = 0;
    }
    return splits;
}

// Joins every part shorter than nLeast to its shorter neighbour, the shortest first.
void JoinShortParts(std::vector<size_t> &splits, size_t nTotal, size_t nLeast) {
    while (!splits.empty()) {
        size_t nShortest = 0;
        size_t nShortestLength = SIZE_MAX;
        for (size_t i = 0; i <= splits.size(); ++i) {
            const size_t nLength = (i < splits.size() ? splits[i] : nTotal) - (i == 0 ? 0 : splits[i - 1]);
            if (nLength < nShortestLength) {
                nShortestLength = nLength;
                nShortest = i;
            }
        }
        if (nShortestLength >= nLeast) {
            return;
        }
        // Part i lies between splits i-1 and i: drop the split on the side of its shorter neighbour.
        const auto lengthOf = [&](size_t i) {
            return (i < splits.size() ? splits[i] : nTotal) - (i == 0 ? 0 : splits[i - 1]);
        };
        const bool bHasLeft = nShortest > 0;
        const bool bHasRight = nShortest < splits.size();
        const bool bLeft = bHasLeft && (!bHasRight || lengthOf(nShortest - 1) <= lengthOf(nShortest + 1));
        splits.erase(splits.begin() + static_cast<std::ptrdiff_t>(bLeft ? nShortest - 1 : nShortest));
    }
}

// Every nEvery windows, each moved to the quietest window within nSnap of it (the nearest of equals),
// never back past the split before.
std::vector<size_t> EverySplits(const std::vector<float> &levels, size_t nTotal, size_t nEvery,
                                size_t nSnap) {
    std::vector<size_t> splits;
    for (size_t nAt = nEvery; nAt < nTotal; nAt += nEvery) {
        size_t nBest = nAt;
        if (nSnap > 0 && !levels.empty()) {
            const size_t nLow =
                std::max(nAt > nSnap ? nAt - nSnap : 0, splits.empty() ? 1 : splits.back() + 1);
            const size_t nHigh = std::min(nAt + nSnap, levels.size() - 1);
            float fBest = std::numeric_limits<float>::infinity();
            for (size_t i = nLow; i <= nHigh; ++i) {
                const size_t nDistance = i > nAt ? i - nAt : nAt - i;
                const size_t nBestDistance = nBest > nAt ? nBest - nAt : nAt - nBest;
                if (levels[i] < fBest || (levels[i] == fBest && nDistance < nBestDistance)) {
                    fBest = levels[i];
                    nBest = i;
                }
            }
        }
        if (nBest > 0 && nBest < nTotal && (splits.empty() || nBest > splits.back())) {
            splits.push_back(nBest);
        }
    }
    return splits;
}

bool PlanFromAudio(const ConversionJob &job, const AudioStreamReader &reader, const SplitSettings &split,
                   const std::function<bool()> &fnStopped, SourceParts &plan, std::string &strError) {
    const uint32_t nRate = reader.m_nSampleRate;
    const uint32_t nWindow = std::max<uint32_t>(1, nRate / 100);  // 10 ms
    std::vector<float> levels;
    const bool bNeedsLevels = split.mode == SplitMode::Silence || split.dSnapSeconds > 0.0;
    if (bNeedsLevels && !ReadLevels(job, nWindow, fnStopped, levels, strError)) {
        return false;
    }
    const double dWindowsPerSecond = static_cast<double>(nRate) / nWindow;
    const size_t nTotal = levels.size();
    std::vector<size_t> splits;
    if (split.mode == SplitMode::Silence) {
        const double dThreshold = std::pow(10.0, split.dThresholdDb / 10.0);
        splits = SilenceSplits(levels, dThreshold,
                               static_cast<size_t>(std::ceil(split.dSilenceSeconds * dWindowsPerSecond)));
        JoinShortParts(splits, nTotal,
                       static_cast<size_t>(std::ceil(split.dLeastPartSeconds * dWindowsPerSecond)));
    } else if (bNeedsLevels) {
        const auto nEvery = static_cast<size_t>(std::llround(split.dEverySeconds * dWindowsPerSecond));
        const auto nSnap = static_cast<size_t>(std::llround(split.dSnapSeconds * dWindowsPerSecond));
        splits = EverySplits(levels, nTotal, std::max<size_t>(1, nEvery), nSnap);
    }
    std::vector<Marked> marks(1);
    if (split.mode == SplitMode::Every && split.dSnapSeconds <= 0.0) {
        // Unsnapped points need no audio, and fall on their exact frames rather than on windows.
        const double dEvery = split.dEverySeconds * nRate;
        const double dLength = reader.m_nEndFrame - reader.m_nStartFrame;
        for (int64_t k = 1; k * dEvery < dLength; ++k) {
            marks.push_back({reader.m_nStartFrame + static_cast<uint64_t>(std::llround(k * dEvery)), {}, {}});
        }
    }
    for (const size_t nSplit : splits) {
        // A window's middle, in the source's frames.
        const uint64_t nFrame = reader.m_nStartFrame + static_cast<uint64_t>(nSplit) * nWindow + nWindow / 2;
        marks.push_back({nFrame, {}, {}});
    }
    plan.parts = PartsOf(marks, reader);
    return true;
}

}  // namespace

uint64_t FramesAt(int64_t llNs, uint32_t nRate) {
    if (llNs <= 0) {
        return 0;
    }
    // Whole seconds and the rest apart, so that no product overflows.
    const auto nNs = static_cast<uint64_t>(llNs);
    return nNs / 1000000000 * nRate + (nNs % 1000000000 * nRate + 500000000) / 1000000000;
}

bool PlanParts(const ConversionJob &job, const AudioStreamReader &reader, const SplitSettings &split,
               const std::function<bool()> &fnStopped, SourceParts &plan, std::string &strError) {
    plan = SourceParts{};
    if (split.mode != SplitMode::None && IsStreamFile(job.GetSourcePath())) {
        // Finding the parts reads the source again, which a pipe or a device cannot give twice.
        plan.strNote = "a pipe or a device is converted whole";
        return true;
    }
    const uint32_t nRate = reader.m_nSampleRate;
    std::vector<Marked> marks;
    switch (split.mode) {
        case SplitMode::None:
            return true;
        case SplitMode::Silence:
        case SplitMode::Every:
            return PlanFromAudio(job, reader, split, fnStopped, plan, strError);
        case SplitMode::Chapters:
            for (const MediaChapter &chapter : ReadMediaChapters(job.GetSourcePath())) {
                marks.push_back({FramesAt(chapter.llStartNs, nRate), chapter.strTitle, {}});
            }
            if (marks.empty()) {
                plan.strNote = "no chapters, converted whole";
            }
            break;
        case SplitMode::Cue: {
            const std::string strSheet =
                split.strCuePath.empty() ? FindCueSheetFor(job.GetSourcePath()) : split.strCuePath;
            if (strSheet.empty()) {
                plan.strNote = "no cue sheet, converted whole";
                break;
            }
            CueSheet sheet;
            std::string strWhy;
            if (!ReadCueSheet(strSheet, ClipDisplayName(job.GetSourcePath()), sheet, strWhy,
                              split.strCueEncoding)) {
                if (strWhy.rfind("cannot read", 0) == 0 || strWhy.find("too large") != std::string::npos) {
                    strError = strWhy;
                    return false;
                }
                // A sheet of other files (one given for the whole batch) says nothing about this one.
                plan.strNote = strWhy + ", converted whole";
                break;
            }
            plan.strAlbum = sheet.strTitle;
            plan.strAlbumArtist = sheet.strPerformer;
            plan.bNamed = true;
            // A track that starts where the audio has already ended (a sheet of a longer rip, or a wrong
            // one) has nothing to hold: it is left out, with a note, and the one before it runs to the
            // end. The source's length is the container's until it is read.
            std::string strPastEnd;
            int nPastEnd = 0;
            for (size_t i = 0; i < sheet.tracks.size(); ++i) {
                const CueTrack &track = sheet.tracks[i];
                const uint64_t nStart = FramesAt(track.llStartNs, nRate);
                if (i > 0 && reader.m_nTotalFrames > 0 && nStart >= reader.m_nTotalFrames) {
                    strPastEnd += (nPastEnd++ == 0 ? "" : ", ") + std::to_string(i + 1);
                    continue;
                }
                marks.push_back({nStart, track.strTitle,
                                 track.strPerformer.empty() ? sheet.strPerformer : track.strPerformer});
            }
            if (nPastEnd > 0) {
                plan.strNote = (nPastEnd == 1 ? "track " : "tracks ") + strPastEnd + " of the cue sheet " +
                               (nPastEnd == 1 ? "starts" : "start") + " past the end of the audio, left out";
            }
            break;
        }
    }
    plan.parts = PartsOf(marks, reader);
    return true;
}

std::vector<double> SplitPointsOf(const std::string &strPath, const ClipInfo &selection,
                                  const SplitSettings &split, const std::function<bool()> &fnStopped) {
    // A pipe or a device is converted whole, and is not to be read ahead of its conversion.
    if (split.mode == SplitMode::None || strPath.empty() || IsStreamFile(strPath)) {
        return {};
    }
    ConversionJob job(strPath, "");
    job.UseSelection(selection);
    AudioStreamReader reader(job.GetDecoderFactory());
    reader.UseJob(job);
    SourceParts plan;
    std::string strError;
    if (!reader.Open(strPath) || !PlanParts(job, reader, split, fnStopped, plan, strError) || fnStopped()) {
        return {};
    }
    std::vector<double> points;
    for (size_t i = 1; i < plan.parts.size(); ++i) {
        points.push_back(static_cast<double>(plan.parts[i].nStartFrame) / reader.m_nSampleRate);
    }
    return points;
}

}  // namespace klangor

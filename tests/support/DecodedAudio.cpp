#include "support/DecodedAudio.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

#include "support/MediaFactory.h"

namespace klangor {

std::vector<float> DecodeFirstChannel(const std::string &strPath, const std::string &strFilters) {
    const std::string strChain = (strFilters.empty() ? "" : strFilters + ",") + "pan=mono|c0=c0";
    const std::string strBytes =
        RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", strPath, "-map", "0:a:0", "-af", strChain,
                    "-c:a", "pcm_f32le", "-f", "f32le", "-"})
            .strStdout;
    std::vector<float> samples(strBytes.size() / sizeof(float));
    std::memcpy(samples.data(), strBytes.data(), samples.size() * sizeof(float));
    return samples;
}

long BestOffset(const std::vector<float> &source, const std::vector<float> &cut, size_t nExpected,
                size_t nFrom, size_t nCount, long nWindow) {
    long nBest = std::numeric_limits<long>::max();
    double dBest = std::numeric_limits<double>::max();
    for (long nOffset = -nWindow; nOffset <= nWindow; ++nOffset) {
        const long nAt = static_cast<long>(nExpected + nFrom) + nOffset;
        if (nAt < 0 || static_cast<size_t>(nAt) + nCount > source.size() || nFrom + nCount > cut.size()) {
            continue;
        }
        double dSum = 0.0;
        for (size_t i = 0; i < nCount && dSum < dBest; ++i) {
            const double d = source[static_cast<size_t>(nAt) + i] - cut[nFrom + i];
            dSum += d * d;
        }
        if (dSum < dBest) {
            dBest = dSum;
            nBest = nOffset;
        }
    }
    return nBest;
}

namespace {

// The pairs compared: the cut from nFrom to its end, as far as the source reaches.
size_t ComparedCount(const std::vector<float> &source, const std::vector<float> &cut, size_t nExpected,
                     size_t nFrom) {
    if (nFrom >= cut.size() || nExpected + nFrom >= source.size()) {
        return 0;
    }
    return std::min(cut.size() - nFrom, source.size() - nExpected - nFrom);
}

}  // namespace

float MaxDifference(const std::vector<float> &source, const std::vector<float> &cut, size_t nExpected,
                    size_t nFrom) {
    float fMax = 0.0f;
    for (size_t i = 0, n = ComparedCount(source, cut, nExpected, nFrom); i < n; ++i) {
        fMax = std::max(fMax, std::fabs(source[nExpected + nFrom + i] - cut[nFrom + i]));
    }
    return fMax;
}

double SignalToDifferenceDb(const std::vector<float> &source, const std::vector<float> &cut, size_t nExpected,
                            size_t nFrom) {
    double dSignal = 0.0;
    double dDifference = 0.0;
    for (size_t i = 0, n = ComparedCount(source, cut, nExpected, nFrom); i < n; ++i) {
        const double dSource = source[nExpected + nFrom + i];
        dSignal += dSource * dSource;
        dDifference += (dSource - cut[nFrom + i]) * (dSource - cut[nFrom + i]);
    }
    return dDifference > 0.0 ? 10.0 * std::log10(dSignal / dDifference)
                             : std::numeric_limits<double>::infinity();
}

std::vector<std::string> PacketChecksums(const std::string &strPath) {
    std::istringstream sums(RunCommand({"ffmpeg", "-v", "error", "-i", strPath, "-map", "0:a:0", "-c", "copy",
                                        "-f", "framemd5", "-"})
                                .strStdout);
    std::vector<std::string> checksums;
    for (std::string strLine; std::getline(sums, strLine);) {
        // "stream, dts, pts, duration, size, checksum[, S=side data]"
        std::istringstream fields(strLine);
        std::string strField;
        for (int i = 0; i < 6 && std::getline(fields, strField, ','); ++i) {
        }
        if (!strLine.empty() && strLine[0] != '#' && !strField.empty()) {
            checksums.push_back(strField.substr(strField.find_first_not_of(' ')));
        }
    }
    return checksums;
}

}  // namespace klangor

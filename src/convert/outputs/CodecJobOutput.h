#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "common/OutputFile.h"
#include "convert/batch/JobOutput.h"
#include "convert/batch/Loudness.h"
#include "media/MediaTags.h"
#include "settings/EncoderSettings.h"
#include "settings/OutputFormat.h"

namespace klangor {

// The sample depth a lossless output of the source keeps: 16 for 8- and 16-bit sources, 24 for
// deeper, floating-point and lossy ones (and for sources that cannot be looked at twice).
int LosslessDepthOf(const std::string &strPath, int nTrack);

// Writes each job of a batch as FLAC, Opus, AAC, ALAC or Vorbis (CodecOutput), fed 32-bit float
// samples; one for each of these formats. A long file is cut into consecutive pieces, as many as its
// length and the threshold give (never as the workers' timing would), encoded by whichever workers are
// free and joined into one stream (divide/PieceDriver.cpp); a short one is encoded whole by the worker
// that took it, one CodecOutput per running job or piece.
class CodecJobOutput : public JobOutput {
public:
    using JobOutput::JobOutput;

    void ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) override;

private:
    // Reads the whole source once before it is encoded, counting its frames into nFrames and feeding
    // the meter when one is given, and opens it again. False when the job is not to be converted
    // (the job says why). A pipe or a device cannot be read twice: its frames are the container's
    // estimate, and it cannot be metered.
    bool PrePass(ConversionJob &job, AudioStreamReader &reader, LoudnessMeter *pMeter, uint64_t &nFrames);
    // How many pieces the job is encoded in, from the job and the settings alone: 1 unless it is long.
    int PiecesFor(const ConversionJob &job, const AudioStreamReader &reader) const;
    // Encodes the job in nPieces pieces and joins them into its output
    // (divide/PieceDriver.cpp); llExpected is its length where known. False when the pieces cannot be
    // joined as the undivided file (the source turned out shorter than its container said, or a FLAC
    // frame the undivided encode would have written verbatim) and the file must be encoded whole; true
    // when the job is done (converted, stopped short, or failed with its reason recorded).
    bool ConvertEvenDivided(ConversionJob &job, AudioStreamReader &whole, const EncoderSettings &settings,
                            const MediaTags &tags, int nDepth, int nPieces, uint64_t llExpected);
    // Gives the finished file its final name, with what its container's muxer has no place for; the
    // job fails when that cannot be done.
    void KeepFile(ConversionJob &job, OutputFile &file, const MediaTags &tags);
};

}  // namespace klangor

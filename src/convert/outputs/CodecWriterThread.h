#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "convert/batch/WriterThread.h"
#include "media/MediaTags.h"
#include "settings/EncoderSettings.h"
#include "settings/OutputFormat.h"

namespace klangor {

// The sample depth a lossless output of the source keeps: 16 for 8- and 16-bit sources, 24 for
// deeper, floating-point and lossy ones (and for sources that cannot be looked at twice).
int LosslessDepthOf(const std::string &strPath, int nTrack);

// Writes each job of a batch as FLAC, Opus, AAC, ALAC or Vorbis (CodecOutput), fed 32-bit float
// samples. A long FLAC file is cut into consecutive pieces, as many as its length and the threshold give
// (never as the workers' timing would), encoded by whichever workers are free and joined into the
// stream one encoder would have made (divide/FlacDivide.cpp); every other file is encoded whole by the
// worker that took it. Start, Stop, IsRunning and the setters on the owner's thread; the encoding on
// the workers, one CodecOutput per running job or piece.
class CodecWriterThread : public WriterThread {
public:
    static constexpr double kDefaultSplitSeconds = 30.0;
    static constexpr int kMostPieces = 8;

    CodecWriterThread();
    ~CodecWriterThread() override;

    // Publishes the settings and starts the batch writing the format, which is no MP3 or WAV.
    int Start(const std::vector<ConversionJob *> &jobs, OutputFormat format, const EncoderSettings &settings);
    // FLAC files longer than this are encoded in pieces; 0 never divides a file.
    void SetDivideAfterSeconds(double dSeconds) { m_dDivideAfterSeconds = dSeconds < 0.0 ? 0.0 : dSeconds; }

private:
    PcmSampleFormat JobFormat() const override { return PcmSampleFormat::Float; }
    void ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) override;
    // Reads the whole source once before it is encoded, counting its frames into nFrames and feeding
    // the meter when one is given, and opens it again. False when the job is not to be converted
    // (the job says why). A pipe or a device cannot be read twice: its frames are the container's
    // estimate, and it cannot be metered.
    bool PrePass(ConversionJob &job, AudioStreamReader &reader, LoudnessMeter *pMeter, uint64_t &nFrames);
    int MostTasksPerJob() const override {
        return m_format.load() == OutputFormat::Flac && m_dDivideAfterSeconds.load() > 0.0 ? kMostPieces : 1;
    }
    // How many pieces the job is encoded in, from the job and the settings alone: 1 unless it is a long
    // FLAC file.
    int PiecesFor(const ConversionJob &job, const AudioStreamReader &reader) const;
    // Encodes the job as FLAC in nPieces pieces and joins them into its output. False when the pieces
    // cannot give the bytes of the undivided file (the source turned out shorter than its container
    // said, or a frame the undivided encode would have written verbatim) and the file must be encoded
    // whole; true when the job is done (converted, stopped short, or failed with its reason
    // recorded).
    bool ConvertFlacDivided(ConversionJob &job, AudioStreamReader &whole, const EncoderSettings &settings,
                            const MediaTags &tags, int nDepth, int nPieces);

    // Set by Start before the workers exist, read by them.
    std::atomic<OutputFormat> m_format{OutputFormat::Flac};
    std::atomic<double> m_dDivideAfterSeconds{kDefaultSplitSeconds};
};

}  // namespace klangor

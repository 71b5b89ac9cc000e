#include "convert/outputs/JobOutputs.h"

#include <array>

#include "convert/outputs/CodecJobOutput.h"
#include "convert/outputs/CopyJobOutput.h"
#include "convert/outputs/Mp3JobOutput.h"
#include "convert/outputs/WavJobOutput.h"

namespace klangor {

namespace {

constexpr const char *kStartFailure = "Cannot start the conversion thread!";

// Indexed by OutputFormat.
constexpr std::array<OutputTraits, kOutputFormatCount> kTraits{{
    {OutputFormat::Mp3, PcmSampleFormat::Float, false, PieceJoin::Mp3Frames,
     "Cannot start Save MP3 to file thread!"},
    {OutputFormat::Wav, PcmSampleFormat::S16, true, PieceJoin::None, "Cannot start Save WAV to file thread!"},
    {OutputFormat::Flac, PcmSampleFormat::Float, true, PieceJoin::FlacFrames, kStartFailure},
    {OutputFormat::Opus, PcmSampleFormat::Float, false, PieceJoin::SplicedPackets, kStartFailure},
    {OutputFormat::Aac, PcmSampleFormat::Float, false, PieceJoin::SplicedPackets, kStartFailure},
    {OutputFormat::Alac, PcmSampleFormat::Float, true, PieceJoin::AlacPackets, kStartFailure},
    // Vorbis's block grid drifts after its short blocks: a piece's encoder, started on the long blocks'
    // step, met the undivided stream in a 40 s file but not in a ten-minute one, which was then encoded
    // twice. It is encoded whole.
    {OutputFormat::Vorbis, PcmSampleFormat::Float, false, PieceJoin::None, kStartFailure},
    // Nothing is encoded again: the source's own packets are the output.
    {OutputFormat::Copy, PcmSampleFormat::Float, true, PieceJoin::None, kStartFailure},
}};

constexpr bool IndexedByFormat() {
    for (size_t i = 0; i < kTraits.size(); ++i) {
        if (static_cast<size_t>(kTraits[i].format) != i) {
            return false;
        }
    }
    return true;
}
static_assert(IndexedByFormat(), "the traits are looked up by the format's number");

}  // namespace

const OutputTraits &TraitsOf(OutputFormat format) {
    const auto i = static_cast<size_t>(format);
    return kTraits[i < kTraits.size() ? i : 0];
}

std::unique_ptr<JobOutput> MakeJobOutput(OutputFormat format, WriterThread &writer,
                                         uint64_t nWavRiffSizeLimit) {
    const OutputTraits &traits = TraitsOf(format);
    switch (format) {
        case OutputFormat::Mp3:
            return std::make_unique<Mp3JobOutput>(writer, traits);
        case OutputFormat::Wav:
            return std::make_unique<WavJobOutput>(writer, traits, nWavRiffSizeLimit);
        case OutputFormat::Copy:
            return std::make_unique<CopyJobOutput>(writer, traits);
        case OutputFormat::Flac:
        case OutputFormat::Opus:
        case OutputFormat::Aac:
        case OutputFormat::Alac:
        case OutputFormat::Vorbis:
            break;
    }
    return std::make_unique<CodecJobOutput>(writer, traits);
}

}  // namespace klangor

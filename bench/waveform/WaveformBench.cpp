// Summarises a file's audio for the timeline as the window does, and prints the time, the speed as a
// multiple of real time, and the time a later session takes to show the same waveform from the disk
// cache (in milliseconds): waveform_bench FILE CACHE_FOLDER
#include <chrono>
#include <cstdio>

#include "waveform/WaveformLoader.h"

namespace klangor {

namespace {

// Seconds until the loader's summary of strPath is complete; negative when it does not complete.
double TimeSummary(klangor::WaveformLoader &loader, const char *szPath) {
    const auto start = std::chrono::steady_clock::now();
    loader.Load(szPath);
    if (!loader.WaitUntilSettled(std::chrono::minutes(30)) ||
        loader.GetState() != klangor::WaveformLoader::State::Complete) {
        return -1.0;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

}  // namespace klangor

using namespace klangor;

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: waveform_bench FILE CACHE_FOLDER\n");
        return 2;
    }
    SilenceDecoderLog();
    // The first session decodes (and keeps the result in the given folder, as the window does).
    klangor::WaveformLoader first(CreateFfmpegAudioDecoder, argv[2]);
    const double dSeconds = TimeSummary(first, argv[1]);
    const klangor::WaveformSummary summary = first.Snapshot();
    klangor::WaveformLoader later(CreateFfmpegAudioDecoder, argv[2]);
    const double dKept = TimeSummary(later, argv[1]);
    if (dSeconds < 0.0 || dKept < 0.0) {
        std::fprintf(stderr, "the summary did not complete\n");
        return 1;
    }
    const double dAudio = static_cast<double>(summary.GetFramesAdded()) / summary.GetSampleRate();
    std::printf("%.3f %.1f %.0f %.1f\n", dSeconds, dAudio, dAudio / dSeconds, dKept * 1000.0);
    return 0;
}

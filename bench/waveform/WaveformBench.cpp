// Summarises a file's audio for the timeline as the window does, and prints the time and the speed as
// a multiple of real time: waveform_bench FILE
#include <chrono>
#include <cstdio>

#include "skin/WaveformLoader.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: waveform_bench FILE\n");
        return 2;
    }
    SilenceDecoderLog();
    klangor::WaveformLoader loader;
    const auto start = std::chrono::steady_clock::now();
    loader.Load(argv[1]);
    if (!loader.WaitUntilSettled(std::chrono::minutes(30)) ||
        loader.GetState() != klangor::WaveformLoader::State::Complete) {
        std::fprintf(stderr, "the summary did not complete\n");
        return 1;
    }
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const klangor::WaveformSummary summary = loader.Snapshot();
    const double dAudio = static_cast<double>(summary.GetFramesAdded()) / summary.GetSampleRate();
    std::printf("%.3f %.1f %.0f\n", dSeconds, dAudio, dAudio / dSeconds);
    return 0;
}

// Times the MIDI synthesiser on a dense song: eight channels (strings, piano, bass, brass, drums on
// channel 10, ...) playing sixteenth notes with chords for MINUTES minutes (3 by default), rendered
// through the conversion's own decoder with the default bank. Prints the song's length, the render time
// and how many times faster than real time that is.
//
//   build/bench/midi/midi_render_bench [MINUTES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "media/AudioDecoder.h"

namespace klangor {

namespace {

std::string VarLen(uint32_t n) {
    std::string s(1, static_cast<char>(n & 0x7F));
    while ((n >>= 7) != 0) {
        s.insert(s.begin(), static_cast<char>((n & 0x7F) | 0x80));
    }
    return s;
}

std::string Be32(uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
            static_cast<char>(n)};
}

// One track per channel; 480 ticks per quarter at 120 bpm, so a sixteenth note is 120 ticks (0.125 s).
std::string DenseSong(int nMinutes) {
    const int kPrograms[8] = {48, 0, 33, 61, 0, 73, 24, 89};
    const int nSixteenths = nMinutes * 60 * 8;
    std::string strFile = "MThd" + Be32(6) + std::string{0, 1, 0, 8, 0x01, static_cast<char>(0xE0)};
    for (int nTrack = 0; nTrack < 8; ++nTrack) {
        const int nChannel = nTrack == 4 ? 9 : nTrack;
        std::string strBody =
            VarLen(0) + std::string{static_cast<char>(0xC0 | nChannel), static_cast<char>(kPrograms[nTrack])};
        for (int i = 0; i < nSixteenths; ++i) {
            const int nNote = nChannel == 9 ? 35 + (i * 7 + nTrack) % 12 : 40 + nTrack * 5 + (i * 5) % 14;
            const char cOn = static_cast<char>(0x90 | nChannel);
            const char cOff = static_cast<char>(0x80 | nChannel);
            strBody += VarLen(0) + std::string{cOn, static_cast<char>(nNote), 96};
            strBody += VarLen(0) + std::string{cOn, static_cast<char>(nNote + 4), 80};
            strBody += VarLen(120) + std::string{cOff, static_cast<char>(nNote), 0};
            strBody += VarLen(0) + std::string{cOff, static_cast<char>(nNote + 4), 0};
        }
        strBody += VarLen(0) + std::string{static_cast<char>(0xFF), 0x2F, 0};
        strFile += "MTrk" + Be32(static_cast<uint32_t>(strBody.size())) + strBody;
    }
    return strFile;
}

}  // namespace

}  // namespace klangor

using namespace klangor;

int main(int argc, char **argv) {
    const int nMinutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    char szPath[] = "/tmp/klangor-midi-bench-XXXXXX";
    const int fd = ::mkstemp(szPath);
    if (fd < 0) {
        return 1;
    }
    ::close(fd);
    std::ofstream(szPath, std::ios::binary) << DenseSong(nMinutes);

    const auto start = std::chrono::steady_clock::now();
    auto pDecoder = CreateMediaAudioDecoder();
    if (pDecoder->OpenFile(szPath) < 0) {
        std::fprintf(stderr, "cannot open the song: %s\n", pDecoder->GetFailureText().c_str());
        ::unlink(szPath);
        return 1;
    }
    const auto opened = std::chrono::steady_clock::now();
    static uint8_t buffer[4 * 1000];
    uint64_t nFrames = 0;
    uint32_t nFilled = 0;
    do {
        if (pDecoder->Fill(buffer, 1000, nFilled) < 0) {
            break;
        }
        nFrames += nFilled;
    } while (nFilled == 1000);
    const auto done = std::chrono::steady_clock::now();
    ::unlink(szPath);

    const double dSong = static_cast<double>(nFrames) / 44100.0;
    const double dOpen = std::chrono::duration<double>(opened - start).count();
    const double dRender = std::chrono::duration<double>(done - opened).count();
    std::printf("song %.1f s (8 channels, 16 notes a second each)\n", dSong);
    std::printf("open (parse + load bank) %.3f s, render %.2f s: %.0fx real time (%.0fx with the open)\n",
                dOpen, dRender, dSong / dRender, dSong / (dRender + dOpen));
    return 0;
}

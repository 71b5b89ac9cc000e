// Any bytes as a MIDI file. The parser's promises to the synthesiser: events in time order, each a
// channel message or a system exclusive body that lies inside the song's store, nothing after the
// song's end, and positions no later than the twelve hours a song may last.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "media/MidiFile.h"

using namespace klangor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
    constexpr uint32_t kRate = 44100;
    constexpr uint64_t kMaxSample = uint64_t{12} * 3600 * kRate;
    MidiSong song;
    std::string strError;
    if (!ParseMidiFile(pData, nSize, kRate, song, strError)) {
        FUZZ_CHECK(!strError.empty());
        return 0;
    }
    FUZZ_CHECK(song.nFormat >= 0 && song.nFormat <= 2 && song.nTracks >= 1);
    FUZZ_CHECK(song.nEndSample <= kMaxSample + kRate);
    uint64_t nPrevious = 0;
    unsigned uSum = 0;
    for (const MidiEvent &event : song.events) {
        FUZZ_CHECK(event.nSample >= nPrevious && event.nSample <= song.nEndSample);
        nPrevious = event.nSample;
        if (event.nStatus == 0xF0) {
            FUZZ_CHECK(event.nSysexOffset <= song.sysex.size() &&
                       event.nSysexLength <= song.sysex.size() - event.nSysexOffset);
        } else {
            FUZZ_CHECK(event.nStatus >= 0x80 && event.nStatus <= 0xEF);
            FUZZ_CHECK(event.nData1 < 0x80 && event.nData2 < 0x80);
        }
        uSum += event.nStatus + event.nData1 + event.nData2;
    }
    FuzzKeep(uSum);
    return 0;
}

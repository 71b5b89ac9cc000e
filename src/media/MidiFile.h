#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace klangor {

// A Standard MIDI File turned into one time-ordered list of the events a synthesiser plays, each at its
// sample position at a fixed render rate. Pure parsing, no synthesiser: any bytes may come in, so every
// length is checked against what is really there, and a damaged track keeps what was valid before the
// damage.
struct MidiEvent {
    uint64_t nSample = 0;  // position at the render rate
    uint8_t nStatus = 0;   // channel message status (0x80..0xEF) or 0xF0 for a system exclusive message
    uint8_t nData1 = 0;
    uint8_t nData2 = 0;
    uint32_t nSysexOffset = 0;  // into MidiSong::sysex, for 0xF0
    uint32_t nSysexLength = 0;
};

struct MidiSong {
    int nFormat = 0;  // 0, 1 or 2
    int nTracks = 0;  // tracks actually read
    std::vector<MidiEvent> events;
    std::vector<uint8_t> sysex;  // bodies of the system exclusive messages, without F0 and F7
    // Position just after the last event of any track (end-of-track meta events count): where the notes
    // still sounding begin to be released.
    uint64_t nEndSample = 0;
    // True when some part of the file could not be read (a truncated track, a chunk longer than the
    // file, running status with no status byte before it); what was valid before it is kept.
    bool bDamaged = false;
};

// Parses the file; false (with strError set) when it holds no playable MIDI data at all.
bool ParseMidiFile(const uint8_t *pData, size_t nBytes, uint32_t nSampleRate, MidiSong &song,
                   std::string &strError);

// Reads a MIDI file whole; false when it cannot be read or is far larger than any real song (a few
// hundred kilobytes), so that no claimed size is ever taken into memory.
bool ReadMidiFileBytes(const std::string &strPath, std::vector<uint8_t> &bytes);

}  // namespace klangor

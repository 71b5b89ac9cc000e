#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace klangor {

// Standard MIDI Files written byte by byte, so each test knows exactly what its file holds.
namespace midi {

inline std::string VarLen(uint32_t n) {
    std::string strBytes(1, static_cast<char>(n & 0x7F));
    while ((n >>= 7) != 0) {
        strBytes.insert(strBytes.begin(), static_cast<char>((n & 0x7F) | 0x80));
    }
    return strBytes;
}

inline std::string Be(uint32_t n, int nBytes) {
    std::string strBytes;
    for (int i = nBytes - 1; i >= 0; --i) {
        strBytes += static_cast<char>((n >> (8 * i)) & 0xFF);
    }
    return strBytes;
}

inline std::string Bytes(std::initializer_list<int> values) {
    std::string strBytes;
    for (int n : values) {
        strBytes += static_cast<char>(n);
    }
    return strBytes;
}

// A track of (delta ticks, event bytes); the end-of-track event is added unless bEnd is false.
inline std::string Track(const std::vector<std::pair<uint32_t, std::string>> &events, bool bEnd = true) {
    std::string strBody;
    for (const auto &[nDelta, strEvent] : events) {
        strBody += VarLen(nDelta) + strEvent;
    }
    if (bEnd) {
        strBody += Bytes({0x00, 0xFF, 0x2F, 0x00});
    }
    return "MTrk" + Be(static_cast<uint32_t>(strBody.size()), 4) + strBody;
}

inline std::string Header(int nFormat, int nTracks, int nDivision) {
    return "MThd" + Be(6, 4) + Be(static_cast<uint32_t>(nFormat), 2) + Be(static_cast<uint32_t>(nTracks), 2) +
           Be(static_cast<uint32_t>(nDivision), 2);
}

inline std::string Tempo(uint32_t nMicrosPerQuarter) {
    return Bytes({0xFF, 0x51, 0x03}) + Be(nMicrosPerQuarter, 3);
}

// Type 1 at 480 ticks per quarter: a tempo track (120 bpm, 240 bpm from tick 960), a piano-then-strings
// melody on channel 1 and a drum pattern on channel 10. Its last event is at tick 1440: 1.25 s.
inline std::string TwoChannelSongWithDrums() {
    const std::string strTempo = Track({{0, Tempo(500000)}, {960, Tempo(250000)}});
    const std::string strMelody = Track({{0, Bytes({0xC0, 0})},
                                         {0, Bytes({0x90, 60, 100})},
                                         {480, Bytes({0x80, 60, 64})},
                                         {0, Bytes({0xC0, 48})},
                                         {0, Bytes({0x90, 64, 100})},
                                         {960, Bytes({0x80, 64, 64})}});
    const std::string strDrums = Track({{0, Bytes({0x99, 36, 110})},
                                        {240, Bytes({0x89, 36, 0})},
                                        {240, Bytes({0x99, 38, 110})},
                                        {240, Bytes({0x89, 38, 0})}});
    return Header(1, 3, 480) + strTempo + strMelody + strDrums;
}

// Type 0, 96 ticks per quarter at the default tempo, running status throughout: four quarter notes on
// channel 3 with a program change, then a tempo change that makes the last note half as long. Ends at
// 4 × 0.5 s + 0.25 s = 2.25 s.
inline std::string RunningStatusSong() {
    return Header(0, 1, 96) + Track({{0, Bytes({0xC2, 73})},
                                     {0, Bytes({0x92, 67, 90})},
                                     {96, Bytes({67, 0})},
                                     {0, Bytes({69, 90})},
                                     {96, Bytes({69, 0})},
                                     {0, Bytes({71, 90})},
                                     {96, Bytes({71, 0})},
                                     {0, Bytes({72, 90})},
                                     {96, Bytes({72, 0})},
                                     {0, Tempo(250000)},
                                     {0, Bytes({0x92, 74, 90})},
                                     {96, Bytes({74, 0})}});
}

// The same SMF inside a RIFF "RMID" file, as .rmi files carry it.
inline std::string Rmid(const std::string &strSmf) {
    auto le32 = [](uint32_t n) {
        std::string s;
        for (int i = 0; i < 4; ++i) {
            s += static_cast<char>((n >> (8 * i)) & 0xFF);
        }
        return s;
    };
    std::string strData = "data" + le32(static_cast<uint32_t>(strSmf.size())) + strSmf;
    if (strSmf.size() % 2 != 0) {
        strData += '\0';
    }
    const std::string strInfo = "LIST" + le32(4) + "INFO";
    return "RIFF" + le32(static_cast<uint32_t>(4 + strInfo.size() + strData.size())) + "RMID" + strInfo +
           strData;
}

}  // namespace midi

}  // namespace klangor

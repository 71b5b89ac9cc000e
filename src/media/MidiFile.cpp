#include "media/MidiFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace klangor {

namespace {

__extension__ typedef unsigned __int128 Wide;

constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note: 120 beats per minute
// Bounds that no real song reaches; a hostile file cannot make the parser allocate or count past them.
constexpr size_t kMaxEvents = 2000000;
constexpr uint64_t kMaxTicks = uint64_t{1} << 40;
constexpr uint64_t kMaxMicroseconds = uint64_t{12} * 3600 * 1000000;

uint32_t Be32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t Le32(const uint8_t *p) {
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

// The SMF inside a RIFF "RMID" file is its "data" chunk; a plain SMF is the whole file.
bool FindSmf(const uint8_t *pData, size_t nBytes, const uint8_t *&pSmf, size_t &nSmf) {
    if (nBytes >= 4 && std::memcmp(pData, "MThd", 4) == 0) {
        pSmf = pData;
        nSmf = nBytes;
        return true;
    }
    if (nBytes < 12 || std::memcmp(pData, "RIFF", 4) != 0 || std::memcmp(pData + 8, "RMID", 4) != 0) {
        return false;
    }
    size_t nPos = 12;
    while (nBytes - nPos >= 8) {
        const uint32_t nChunk = Le32(pData + nPos + 4);
        const size_t nBody = std::min<size_t>(nChunk, nBytes - nPos - 8);
        if (std::memcmp(pData + nPos, "data", 4) == 0) {
            pSmf = pData + nPos + 8;
            nSmf = nBody;
            return nSmf >= 4 && std::memcmp(pSmf, "MThd", 4) == 0;
        }
        nPos += 8 + nBody + (nBody & 1);
        if (nPos > nBytes) {
            break;
        }
    }
    return false;
}

// An event of one track before the tracks are merged and timed.
struct TrackEvent {
    uint64_t nTick;
    uint32_t nTempo;  // for tempo changes (nStatus 0xFF), else 0
    MidiEvent event;
};

class TrackReader {
public:
    TrackReader(const uint8_t *pData, size_t nBytes) : m_p(pData), m_nLeft(nBytes) {}

    // Reads the whole track into events; false when it stopped at damage.
    bool Read(uint64_t nTickOffset, std::vector<TrackEvent> &events, std::vector<uint8_t> &sysex,
              uint64_t &nEndTick) {
        uint64_t nTick = nTickOffset;
        uint8_t nRunning = 0;
        nEndTick = nTick;
        while (m_nLeft > 0) {
            uint32_t nDelta = 0;
            if (!ReadVarLen(nDelta)) {
                return false;
            }
            nTick += nDelta;
            if (nTick > kMaxTicks || m_nLeft == 0) {
                return false;
            }
            nEndTick = nTick;
            uint8_t nStatus = *m_p;
            if (nStatus >= 0x80) {
                Skip(1);
            } else if (nRunning == 0) {
                return false;  // a data byte where a status byte must come
            } else {
                nStatus = nRunning;
            }
            if (nStatus == 0xFF) {
                if (m_nLeft == 0) {
                    return false;
                }
                const uint8_t nType = *m_p;
                Skip(1);
                uint32_t nLength = 0;
                if (!ReadVarLen(nLength) || nLength > m_nLeft) {
                    return false;
                }
                if (nType == 0x2F) {
                    return true;  // end of track
                }
                if (nType == 0x51 && nLength == 3) {
                    const uint32_t nTempo = (uint32_t{m_p[0]} << 16) | (uint32_t{m_p[1]} << 8) | m_p[2];
                    if (nTempo > 0 && !Push(events, {nTick, nTempo, MidiEvent{0, 0xFF, 0, 0, 0, 0}})) {
                        return false;
                    }
                }
                Skip(nLength);
                continue;
            }
            if (nStatus == 0xF0 || nStatus == 0xF7) {
                nRunning = 0;
                uint32_t nLength = 0;
                if (!ReadVarLen(nLength) || nLength > m_nLeft) {
                    return false;
                }
                // Only complete messages are played; F7 packets continue a message in pieces.
                uint32_t nBody = nLength;
                if (nBody > 0 && m_p[nBody - 1] == 0xF7) {
                    --nBody;
                }
                if (nStatus == 0xF0 && nBody > 0) {
                    MidiEvent event{0, 0xF0, 0, 0, static_cast<uint32_t>(sysex.size()), nBody};
                    sysex.insert(sysex.end(), m_p, m_p + nBody);
                    if (!Push(events, {nTick, 0, event})) {
                        return false;
                    }
                }
                Skip(nLength);
                continue;
            }
            if (nStatus >= 0xF0) {
                return false;  // system common and real-time bytes have no place in a file
            }
            nRunning = nStatus;
            const int nDataBytes = (nStatus & 0xF0) == 0xC0 || (nStatus & 0xF0) == 0xD0 ? 1 : 2;
            if (m_nLeft < static_cast<size_t>(nDataBytes) || m_p[0] >= 0x80 ||
                (nDataBytes == 2 && m_p[1] >= 0x80)) {
                return false;
            }
            MidiEvent event{0, nStatus, m_p[0], nDataBytes == 2 ? m_p[1] : uint8_t{0}, 0, 0};
            Skip(static_cast<size_t>(nDataBytes));
            if (!Push(events, {nTick, 0, event})) {
                return false;
            }
        }
        return true;  // a track that ends without its end-of-track event is still whole
    }

private:
    bool ReadVarLen(uint32_t &nValue) {
        nValue = 0;
        for (int i = 0; i < 4; ++i) {
            if (m_nLeft == 0) {
                return false;
            }
            const uint8_t nByte = *m_p;
            Skip(1);
            nValue = (nValue << 7) | (nByte & 0x7F);
            if ((nByte & 0x80) == 0) {
                return true;
            }
        }
        return false;  // longer than the four bytes a quantity may take
    }
    void Skip(size_t n) {
        m_p += n;
        m_nLeft -= n;
    }
    static bool Push(std::vector<TrackEvent> &events, const TrackEvent &event) {
        if (events.size() >= kMaxEvents) {
            return false;
        }
        events.push_back(event);
        return true;
    }

    const uint8_t *m_p;
    size_t m_nLeft;
};

// Turns ticks into sample positions through the tempo map (ticks per quarter note), or at a fixed rate
// for SMPTE time division.
class TickClock {
public:
    TickClock(uint16_t nDivision, uint32_t nSampleRate) : m_nSampleRate(nSampleRate) {
        if (nDivision & 0x8000) {
            const int nFps = -static_cast<int8_t>(nDivision >> 8);
            const uint32_t nTicksPerFrame = nDivision & 0xFF;
            // 29 stands for the 29.97 frames of drop-frame time code.
            m_nNum = nFps == 29 ? 1001 : 1;
            m_nDen = uint64_t{nTicksPerFrame} * (nFps == 29 ? 30000 : static_cast<uint64_t>(nFps));
            m_bSmpte = true;
        } else {
            m_nDen = nDivision;
        }
    }
    bool IsValid() const { return m_nDen > 0; }

    void SetTempo(uint32_t nTempo) { m_nTempo = nTempo; }
    // Advances to nTick (never backwards); false once the song is longer than any real one.
    bool AdvanceTo(uint64_t nTick) {
        const uint64_t nTicks = nTick - m_nTick;
        m_nTick = nTick;
        // Microseconds × m_nDen, kept whole so that long songs do not drift.
        m_nScaledMicros += Wide{nTicks} * (m_bSmpte ? 1000000 * m_nNum : m_nTempo);
        return m_nScaledMicros / m_nDen <= kMaxMicroseconds;
    }
    uint64_t Sample() const {
        return static_cast<uint64_t>(m_nScaledMicros * m_nSampleRate / (Wide{m_nDen} * 1000000));
    }

private:
    uint32_t m_nSampleRate;
    bool m_bSmpte = false;
    uint64_t m_nNum = 1;
    uint64_t m_nDen = 0;
    uint32_t m_nTempo = kDefaultTempo;
    uint64_t m_nTick = 0;
    Wide m_nScaledMicros = 0;
};

}  // namespace

bool ParseMidiFile(const uint8_t *pData, size_t nBytes, uint32_t nSampleRate, MidiSong &song,
                   std::string &strError) {
    song = MidiSong{};
    const uint8_t *pSmf = nullptr;
    size_t nSmf = 0;
    if (!FindSmf(pData, nBytes, pSmf, nSmf) || nSmf < 14) {
        strError = "not a MIDI file";
        return false;
    }
    const uint32_t nHeader = Be32(pSmf + 4);
    if (nHeader < 6 || nHeader > nSmf - 8) {
        strError = "damaged MIDI header";
        return false;
    }
    song.nFormat = (pSmf[8] << 8) | pSmf[9];
    const uint16_t nDivision = static_cast<uint16_t>((pSmf[12] << 8) | pSmf[13]);
    TickClock clock(nDivision, nSampleRate);
    if (song.nFormat > 2 || !clock.IsValid() || nSampleRate == 0) {
        strError = "unsupported MIDI header";
        return false;
    }

    std::vector<TrackEvent> events;
    uint64_t nEndTick = 0;
    size_t nPos = 8 + nHeader;
    while (nSmf - nPos >= 8) {
        const uint32_t nChunk = Be32(pSmf + nPos + 4);
        size_t nBody = nChunk;
        if (nBody > nSmf - nPos - 8) {
            nBody = nSmf - nPos - 8;  // a chunk that claims more than the file holds
            song.bDamaged = true;
        }
        if (std::memcmp(pSmf + nPos, "MTrk", 4) == 0) {
            // Tracks of format 2 are independent songs, played one after the other.
            const uint64_t nOffset = song.nFormat == 2 ? nEndTick : 0;
            uint64_t nTrackEnd = 0;
            TrackReader reader(pSmf + nPos + 8, nBody);
            if (!reader.Read(nOffset, events, song.sysex, nTrackEnd)) {
                song.bDamaged = true;
            }
            nEndTick = std::max(nEndTick, nTrackEnd);
            ++song.nTracks;
        }
        nPos += 8 + nBody;
    }
    if (song.nTracks == 0) {
        strError = "no MIDI track";
        return false;
    }

    // Tracks play at once; events of one tick keep their track order.
    std::stable_sort(events.begin(), events.end(),
                     [](const TrackEvent &a, const TrackEvent &b) { return a.nTick < b.nTick; });
    song.events.reserve(events.size());
    for (const TrackEvent &item : events) {
        if (!clock.AdvanceTo(item.nTick)) {
            song.bDamaged = true;
            nEndTick = item.nTick;
            break;
        }
        if (item.event.nStatus == 0xFF) {
            clock.SetTempo(item.nTempo);
            continue;
        }
        MidiEvent event = item.event;
        event.nSample = clock.Sample();
        song.events.push_back(event);
    }
    const bool bInRange = clock.AdvanceTo(std::max(nEndTick, events.empty() ? 0 : events.back().nTick));
    song.nEndSample = bInRange ? clock.Sample() : (song.events.empty() ? 0 : song.events.back().nSample);
    if (song.events.empty()) {
        strError = "no MIDI events";
        return false;
    }
    return true;
}

bool ReadMidiFileBytes(const std::string &strPath, std::vector<uint8_t> &bytes) {
    constexpr std::streamsize kMaxMidiBytes = 16 << 20;
    std::ifstream file(strPath, std::ios::binary | std::ios::ate);
    if (!file) {
        return false;
    }
    const std::streamsize nSize = file.tellg();
    if (nSize < 0 || nSize > kMaxMidiBytes) {
        return false;
    }
    bytes.resize(static_cast<size_t>(nSize));
    file.seekg(0);
    return nSize == 0 || static_cast<bool>(file.read(reinterpret_cast<char *>(bytes.data()), nSize));
}

}  // namespace klangor

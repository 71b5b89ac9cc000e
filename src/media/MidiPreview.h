#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/MidiFile.h"

namespace klangor {

class MidiSynth;

// The preview player cannot play notes, so a MIDI clip is played from a WAV file of the song that exists
// only as it is read: the synthesiser renders the piece each read asks for and no more, on the thread
// that reads (the player's own). An hours-long song opens at once and costs neither memory nor disk of
// its length. The file lasts as long as the song can (MidiSynth::MaxLength, the converter's length too),
// silent after the synthesiser ends. Open on any thread; reads from any thread, one at a time.
class MidiPreview {
public:
    MidiPreview();
    MidiPreview(const MidiPreview &) = delete;
    MidiPreview &operator=(const MidiPreview &) = delete;
    ~MidiPreview();

    // Reads the song and loads the bank; false with strError set when the song cannot be played.
    bool Open(const std::string &strMidiPath, std::string &strError);
    // The length of the whole file in bytes: a WAV header, or an RF64 one past 4 GiB, then 16-bit
    // stereo at MidiSynth::kSampleRate.
    uint64_t Size() const { return m_header.size() + m_nFrames * kFrameBytes; }
    // Up to nBytes of the file from nOffset; fewer at the end of a piece, 0 at the end of the file, -1
    // once bCancel is set. A read far from the last one jumps the synthesiser (MidiSynth::SkipTo)
    // instead of rendering the way there.
    int64_t ReadAt(uint64_t nOffset, uint8_t *pBuffer, uint64_t nBytes, const std::atomic<bool> &bCancel);

private:
    static constexpr uint32_t kFrameBytes = 4;

    bool RenderPieceAt(uint64_t nFrame, const std::atomic<bool> &bCancel);
    void BuildHeader();

    MidiSong m_song;
    std::string m_strSoundFont;
    std::unique_ptr<MidiSynth> m_pSynth;
    std::vector<uint8_t> m_header;
    uint64_t m_nFrames = 0;
    std::mutex m_mutex;            // one read at a time: they share the synthesiser and the piece
    std::vector<int16_t> m_piece;  // the frames last rendered, from m_nPieceStart
    std::vector<float> m_render;
    uint64_t m_nPieceStart = 0;
};

}  // namespace klangor

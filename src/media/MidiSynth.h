#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "media/MidiFile.h"

namespace klangor {

// Where the General MIDI instrument bank comes from: the one chosen (klangor-convert --soundfont), else
// $KLANGOR_SOUNDFONT, else the larger bank of the system when it is installed, else the small default
// one. Empty when none exists.
std::string FindSoundFont();
// The bank klangor-convert's --soundfont chose, for every MIDI job after it; set before any job starts.
void SetChosenSoundFont(const std::string &strPath);

inline constexpr const char *kNoSoundFontText =
    "no SoundFont found: install timgm6mb-soundfont or pass --soundfont";

// Plays a parsed song through FluidSynth, offline and as fast as the machine allows, into 44.1 kHz
// stereo float frames. The same song and bank give the same samples on every run: events are applied
// at their sample positions, and nothing depends on a clock or a second thread. One thread at a time.
class MidiSynth {
public:
    static constexpr uint32_t kSampleRate = 44100;
    // Notes still sounding after the last event ring out for at most this long, and less when the
    // output falls silent first.
    static constexpr uint32_t kMaxTailFrames = 2 * kSampleRate;

    MidiSynth();
    MidiSynth(const MidiSynth &) = delete;
    MidiSynth &operator=(const MidiSynth &) = delete;
    ~MidiSynth();

    // A synthesiser with the bank loaded, playing the song from its start; null with strError set when
    // the bank cannot be loaded. A song is played over by a new one: one merely started again keeps
    // some of what it played, and the song would not give the same samples twice.
    static std::unique_ptr<MidiSynth> Playing(const std::string &strSoundFont, const MidiSong &song,
                                              std::string &strError);
    // Loads the bank; false with strError set when it cannot be loaded.
    bool Open(const std::string &strSoundFont, std::string &strError);
    // Starts over from the beginning of the song, which must outlive the synth.
    void Start(const MidiSong &song);
    // Renders up to nFrames interleaved stereo frames; fewer only at the end of the song.
    uint32_t Render(float *pInterleaved, uint32_t nFrames);
    // Moves ahead to nFrame without rendering what lies between: every event up to there is applied
    // silently except the notes, and the notes held at nFrame are struck there afresh. Costs the events
    // skipped, not the frames, so a preview can jump anywhere in an hours-long song at once; the samples
    // after a jump are not those of a rendering from the start. Never moves back.
    void SkipTo(uint64_t nFrame);
    // Frames rendered (or skipped) since Start.
    uint64_t Position() const { return m_nPosition; }
    // The longest the song can last: its last event plus the longest tail.
    uint64_t MaxLength() const;

private:
    void SendEvent(const MidiEvent &event);
    uint32_t RenderTail(float *pInterleaved, uint32_t nFrames);

    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
    const MidiSong *m_pSong = nullptr;
    size_t m_nNextEvent = 0;
    uint64_t m_nPosition = 0;
    bool m_bEnded = false;
};

}  // namespace klangor

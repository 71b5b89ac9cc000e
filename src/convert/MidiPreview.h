#pragma once

#include <string>

// The preview player cannot play notes, so a MIDI clip is played from a WAV rendering of it, kept in the
// user's private runtime folder while the clip is loaded and removed with this object. Window thread.
class MidiPreview {
public:
    MidiPreview() = default;
    MidiPreview(const MidiPreview &) = delete;
    MidiPreview &operator=(const MidiPreview &) = delete;
    ~MidiPreview();

    // Renders the whole song into a new file in strFolder (which only this user may enter). Renderings
    // left there by runs of this program that have ended are removed first. False with strError set
    // when the song cannot be played; nothing is left behind then.
    bool Render(const std::string &strMidiPath, const std::string &strFolder, std::string &strError);
    // The rendering to play; empty until Render succeeded.
    const std::string &Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

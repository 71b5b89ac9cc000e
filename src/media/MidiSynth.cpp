#include "media/MidiSynth.h"

#include <fluidsynth.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace klangor {

namespace {

// The larger bank when the system has it, then the small one the project installs, then whatever the
// system names as its General MIDI bank.
constexpr const char *kSystemSoundFonts[] = {
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf3/default-GM.sf3",
};

// Below half of the last bit of 16-bit audio: what is left of a tail here cannot be heard or stored.
constexpr float kSilence = 1.0f / 65536.0f;
constexpr uint32_t kSilentRunFrames = MidiSynth::kSampleRate / 100;  // 10 ms of it ends the song

std::mutex g_chosenMutex;
std::string g_strChosenSoundFont;

bool IsReadableFile(const std::string &strPath) {
    struct stat info {};
    return !strPath.empty() && ::stat(strPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

struct SettingsDeleter {
    void operator()(fluid_settings_t *p) const { delete_fluid_settings(p); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t *p) const { delete_fluid_synth(p); }
};

void SilenceFluidSynthLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int iLevel = FLUID_PANIC; iLevel < LAST_LOG_LEVEL; ++iLevel) {
            fluid_set_log_function(iLevel, nullptr, nullptr);
        }
    });
}

}  // namespace

void SetChosenSoundFont(const std::string &strPath) {
    std::lock_guard lock(g_chosenMutex);
    g_strChosenSoundFont = strPath;
}

std::string FindSoundFont() {
    {
        std::lock_guard lock(g_chosenMutex);
        if (!g_strChosenSoundFont.empty()) {
            return g_strChosenSoundFont;  // chosen by name: a wrong name is reported, not replaced
        }
    }
    if (const char *szEnv = std::getenv("KLANGOR_SOUNDFONT"); szEnv && *szEnv) {
        return szEnv;
    }
    for (const char *szPath : kSystemSoundFonts) {
        if (IsReadableFile(szPath)) {
            return szPath;
        }
    }
    return {};
}

struct MidiSynth::Impl {
    std::unique_ptr<fluid_settings_t, SettingsDeleter> pSettings;
    std::unique_ptr<fluid_synth_t, SynthDeleter> pSynth;
    int nSoundFont = -1;
    uint32_t nSilentRun = 0;
};

MidiSynth::MidiSynth() : m_pImpl(std::make_unique<Impl>()) {}

MidiSynth::~MidiSynth() = default;

bool MidiSynth::Open(const std::string &strSoundFont, std::string &strError) {
    SilenceFluidSynthLog();
    if (strSoundFont.empty()) {
        strError = kNoSoundFontText;
        return false;
    }
    if (!IsReadableFile(strSoundFont)) {
        strError = "Cannot open SoundFont " + strSoundFont;
        return false;
    }
    m_pImpl->pSettings.reset(new_fluid_settings());
    if (!m_pImpl->pSettings) {
        strError = "Cannot start the MIDI synthesiser";
        return false;
    }
    fluid_settings_t *pSettings = m_pImpl->pSettings.get();
    fluid_settings_setnum(pSettings, "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(pSettings, "synth.gain", 0.4);
    // One rendering thread and no locking: the song is played by whoever calls Render.
    fluid_settings_setint(pSettings, "synth.cpu-cores", 1);
    fluid_settings_setint(pSettings, "synth.threadsafe-api", 0);
    // The samples of a preset are read when a channel takes it, not the whole bank at load: a system's
    // large bank costs the song's few instruments, not its 140 MiB, and each synthesiser (the preview's,
    // the waveform's, every converting job's) loads its own.
    fluid_settings_setint(pSettings, "synth.dynamic-sample-loading", 1);
    m_pImpl->pSynth.reset(new_fluid_synth(pSettings));
    if (!m_pImpl->pSynth) {
        strError = "Cannot start the MIDI synthesiser";
        return false;
    }
    m_pImpl->nSoundFont = fluid_synth_sfload(m_pImpl->pSynth.get(), strSoundFont.c_str(), 1);
    if (m_pImpl->nSoundFont == FLUID_FAILED) {
        strError = "Cannot load SoundFont " + strSoundFont;
        m_pImpl->pSynth.reset();
        return false;
    }
    return true;
}

void MidiSynth::Start(const MidiSong &song) {
    m_pSong = &song;
    m_nNextEvent = 0;
    m_nPosition = 0;
    m_bEnded = false;
    m_pImpl->nSilentRun = 0;
    if (m_pImpl->pSynth) {
        fluid_synth_system_reset(m_pImpl->pSynth.get());
        // The reset gives every channel its instrument, and with it the instrument's samples; a channel
        // the song strikes no note on sounds nothing, so it need not hold them.
        bool bStruck[16] = {};
        for (const MidiEvent &event : song.events) {
            if ((event.nStatus & 0xF0) == 0x90 && event.nData2 != 0) {
                bStruck[event.nStatus & 0x0F] = true;
            }
        }
        for (int nChannel = 0; nChannel < 16; ++nChannel) {
            if (!bStruck[nChannel]) {
                fluid_synth_unset_program(m_pImpl->pSynth.get(), nChannel);
            }
        }
    }
}

uint64_t MidiSynth::MaxLength() const {
    return m_pSong ? m_pSong->nEndSample + kMaxTailFrames : 0;
}

void MidiSynth::SendEvent(const MidiEvent &event) {
    fluid_synth_t *pSynth = m_pImpl->pSynth.get();
    const int nChannel = event.nStatus & 0x0F;
    switch (event.nStatus & 0xF0) {
        case 0x80:
            fluid_synth_noteoff(pSynth, nChannel, event.nData1);
            break;
        case 0x90:
            // A note-on of velocity 0 is how most files end a note.
            if (event.nData2 == 0) {
                fluid_synth_noteoff(pSynth, nChannel, event.nData1);
            } else {
                fluid_synth_noteon(pSynth, nChannel, event.nData1, event.nData2);
            }
            break;
        case 0xA0:
            fluid_synth_key_pressure(pSynth, nChannel, event.nData1, event.nData2);
            break;
        case 0xB0:
            fluid_synth_cc(pSynth, nChannel, event.nData1, event.nData2);
            break;
        case 0xC0:
            fluid_synth_program_change(pSynth, nChannel, event.nData1);
            break;
        case 0xD0:
            fluid_synth_channel_pressure(pSynth, nChannel, event.nData1);
            break;
        case 0xE0:
            fluid_synth_pitch_bend(pSynth, nChannel, event.nData1 | (event.nData2 << 7));
            break;
        case 0xF0:
            fluid_synth_sysex(pSynth,
                              reinterpret_cast<const char *>(m_pSong->sysex.data() + event.nSysexOffset),
                              static_cast<int>(event.nSysexLength), nullptr, nullptr, nullptr, 0);
            break;
        default:
            break;
    }
}

void MidiSynth::SkipTo(uint64_t nFrame) {
    if (!m_pSong || !m_pImpl->pSynth || m_bEnded || nFrame <= m_nPosition) {
        return;
    }
    fluid_synth_t *pSynth = m_pImpl->pSynth.get();
    // What sounds now is cut, and struck again below where it is still held, so nothing rings twice.
    for (int nChannel = 0; nChannel < 16; ++nChannel) {
        fluid_synth_all_sounds_off(pSynth, nChannel);
    }
    uint8_t held[16][128] = {};  // the velocity of each note held, 0 when released
    const auto noteOf = [&held](const MidiEvent &event) -> uint8_t * {
        const uint8_t nKind = event.nStatus & 0xF0;
        return nKind == 0x80 || nKind == 0x90 ? &held[event.nStatus & 0x0F][event.nData1 & 0x7F] : nullptr;
    };
    const auto hold = [](uint8_t *pNote, const MidiEvent &event) {
        *pNote = (event.nStatus & 0xF0) == 0x90 ? event.nData2 : 0;  // velocity 0 releases too
    };
    for (size_t n = 0; n < m_nNextEvent; ++n) {
        if (uint8_t *pNote = noteOf(m_pSong->events[n])) {
            hold(pNote, m_pSong->events[n]);
        }
    }
    // Events at nFrame itself are left to Render, which sends them before the frame is played.
    while (m_nNextEvent < m_pSong->events.size() && m_pSong->events[m_nNextEvent].nSample < nFrame) {
        const MidiEvent &event = m_pSong->events[m_nNextEvent++];
        if (uint8_t *pNote = noteOf(event)) {
            hold(pNote, event);
        } else {
            SendEvent(event);
        }
    }
    // In the tail the notes never released ring out from their start: how far they had died away
    // is only known by playing them.
    for (int nChannel = 0; nChannel < 16; ++nChannel) {
        for (int nKey = 0; nKey < 128; ++nKey) {
            if (held[nChannel][nKey] != 0) {
                fluid_synth_noteon(pSynth, nChannel, nKey, held[nChannel][nKey]);
            }
        }
    }
    m_nPosition = std::min(nFrame, MaxLength());
    m_pImpl->nSilentRun = 0;
}

uint32_t MidiSynth::Render(float *pInterleaved, uint32_t nFrames) {
    if (!m_pSong || !m_pImpl->pSynth || m_bEnded) {
        return 0;
    }
    fluid_synth_t *pSynth = m_pImpl->pSynth.get();
    uint32_t nDone = 0;
    while (nDone < nFrames && m_nPosition < m_pSong->nEndSample) {
        while (m_nNextEvent < m_pSong->events.size() &&
               m_pSong->events[m_nNextEvent].nSample <= m_nPosition) {
            SendEvent(m_pSong->events[m_nNextEvent++]);
        }
        uint64_t nUntil = m_pSong->nEndSample;
        if (m_nNextEvent < m_pSong->events.size()) {
            nUntil = std::min(nUntil, m_pSong->events[m_nNextEvent].nSample);
        }
        const uint32_t nRun =
            static_cast<uint32_t>(std::min<uint64_t>(nUntil - m_nPosition, nFrames - nDone));
        float *pOut = pInterleaved + size_t{nDone} * 2;
        fluid_synth_write_float(pSynth, static_cast<int>(nRun), pOut, 0, 2, pOut, 1, 2);
        nDone += nRun;
        m_nPosition += nRun;
    }
    if (nDone < nFrames && m_nPosition >= m_pSong->nEndSample) {
        // Events at the very end (note-offs of the last chord) are sent before the tail rings out.
        while (m_nNextEvent < m_pSong->events.size()) {
            SendEvent(m_pSong->events[m_nNextEvent++]);
        }
        nDone += RenderTail(pInterleaved + size_t{nDone} * 2, nFrames - nDone);
    }
    return nDone;
}

uint32_t MidiSynth::RenderTail(float *pInterleaved, uint32_t nFrames) {
    uint32_t nDone = 0;
    while (nDone < nFrames && !m_bEnded) {
        const uint64_t nTailLeft = MaxLength() - m_nPosition;
        const uint32_t nRun = static_cast<uint32_t>(std::min<uint64_t>({nTailLeft, nFrames - nDone, 64}));
        if (nRun == 0) {
            m_bEnded = true;
            break;
        }
        float *pOut = pInterleaved + size_t{nDone} * 2;
        fluid_synth_write_float(m_pImpl->pSynth.get(), static_cast<int>(nRun), pOut, 0, 2, pOut, 1, 2);
        // Judged frame by frame, so the end falls on the same sample however the caller cuts its reads.
        for (uint32_t i = 0; i < nRun; ++i) {
            const bool bSilent = std::fabs(pOut[2 * i]) < kSilence && std::fabs(pOut[2 * i + 1]) < kSilence;
            m_pImpl->nSilentRun = bSilent ? m_pImpl->nSilentRun + 1 : 0;
            if (m_pImpl->nSilentRun >= kSilentRunFrames) {
                m_bEnded = true;
                nDone += i + 1;
                m_nPosition += i + 1;
                return nDone;
            }
        }
        nDone += nRun;
        m_nPosition += nRun;
    }
    return nDone;
}

std::unique_ptr<MidiSynth> MidiSynth::Playing(const std::string &strSoundFont, const MidiSong &song,
                                              std::string &strError) {
    auto pSynth = std::make_unique<MidiSynth>();
    if (!pSynth->Open(strSoundFont, strError)) {
        return nullptr;
    }
    pSynth->Start(song);
    return pSynth;
}

}  // namespace klangor

// MIDI files hold notes, not sound: this decoder plays them through the synthesiser and hands out the
// result like any other decoded track. The media decoder in front of it picks it by the file's content.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "media/AudioDecoder.h"
#include "media/MidiFile.h"
#include "media/MidiSynth.h"

namespace klangor {

namespace {

constexpr int64_t kUnitsPerSecond = 10000000;
constexpr uint32_t kRenderFrames = 1024;
constexpr int kFailed = -EINVAL;

int16_t ToSample16(float fSample) {
    const float fScaled = std::round(std::clamp(fSample, -1.0f, 1.0f) * 32767.0f);
    return static_cast<int16_t>(fScaled);
}

class MidiAudioDecoder final : public IAudioDecoder {
public:
    explicit MidiAudioDecoder(PcmSampleFormat format) : m_bFloat(format == PcmSampleFormat::Float) {}

    int OpenFile(const std::string &strPath) override {
        m_strFailure.clear();
        std::vector<uint8_t> bytes;
        std::string strError;
        if (!ReadMidiFileBytes(strPath, bytes) ||
            !ParseMidiFile(bytes.data(), bytes.size(), MidiSynth::kSampleRate, m_song, strError)) {
            return kFailed;  // the reader's own text: no audio in this file
        }
        m_strSoundFont = FindSoundFont();
        m_pSynth = MidiSynth::Playing(m_strSoundFont, m_song, strError);
        if (!m_pSynth) {
            m_strFailure = strError;
            return kFailed;
        }
        return 0;
    }

    std::string GetFailureText() const override { return m_strFailure; }

    // An upper bound: the tail after the last event ends early when the notes have died away.
    int GetDuration(int64_t &llDuration) override {
        if (!m_pSynth) {
            return kFailed;
        }
        llDuration = static_cast<int64_t>(m_pSynth->MaxLength() * kUnitsPerSecond / MidiSynth::kSampleRate);
        return 0;
    }

    int GetFormat(WaveFormat &wfx) override {
        if (!m_pSynth) {
            return kFailed;
        }
        wfx.wFormatTag = m_bFloat ? kWaveFormatFloat : kWaveFormatPcm;
        wfx.nChannels = 2;
        wfx.nSamplesPerSec = MidiSynth::kSampleRate;
        wfx.wBitsPerSample = m_bFloat ? 32 : 16;
        wfx.nBlockAlign = static_cast<uint16_t>(FrameBytes());
        wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
        wfx.cbSize = 0;
        return 0;
    }

    int Run() override { return m_pSynth ? 0 : kFailed; }

    // Forward by rendering and dropping, which keeps every sample the same as a rendering from the
    // start; backward by starting the synthesiser over.
    int Seek(int64_t llTime) override {
        if (!m_pSynth || llTime < 0) {
            return kFailed;
        }
        const uint64_t nTarget = static_cast<uint64_t>(llTime) * MidiSynth::kSampleRate / kUnitsPerSecond;
        if (nTarget < m_pSynth->Position()) {
            std::string strError;
            auto pSynth = MidiSynth::Playing(m_strSoundFont, m_song, strError);
            if (!pSynth) {
                return kFailed;
            }
            m_pSynth = std::move(pSynth);
        }
        while (m_pSynth->Position() < nTarget) {
            const uint32_t nRun =
                static_cast<uint32_t>(std::min<uint64_t>(nTarget - m_pSynth->Position(), kRenderFrames));
            if (m_pSynth->Render(m_render, nRun) < nRun) {
                break;  // past the end: nothing is left to hand out
            }
        }
        return 0;
    }

    int Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) override {
        nFilled = 0;
        if (!m_pSynth) {
            return kFailed;
        }
        while (nFilled < nFrames) {
            const uint32_t nWant = std::min(nFrames - nFilled, kRenderFrames);
            const uint32_t nGot = m_pSynth->Render(m_render, nWant);
            uint8_t *pOut = pBuffer + size_t{nFilled} * FrameBytes();
            if (m_bFloat) {
                std::memcpy(pOut, m_render, size_t{nGot} * FrameBytes());
            } else {
                int16_t samples[2 * kRenderFrames];
                for (uint32_t i = 0; i < nGot * 2; ++i) {
                    samples[i] = ToSample16(m_render[i]);
                }
                std::memcpy(pOut, samples, size_t{nGot} * FrameBytes());
            }
            nFilled += nGot;
            if (nGot < nWant) {
                break;
            }
        }
        return 0;
    }

private:
    size_t FrameBytes() const { return m_bFloat ? 8 : 4; }

    const bool m_bFloat;
    MidiSong m_song;
    std::unique_ptr<MidiSynth> m_pSynth;
    std::string m_strSoundFont;
    std::string m_strFailure;
    float m_render[2 * kRenderFrames];
};

// Opens MIDI files with the synthesiser and everything else with FFmpeg, by the file's first bytes
// rather than its name: a ".mid" that is really an MP3 still converts, and an ".rmi" is found too.
class MediaAudioDecoder final : public IAudioDecoder {
public:
    explicit MediaAudioDecoder(PcmSampleFormat format) : m_format(format) {}

    int OpenFile(const std::string &strPath) override {
        m_pDecoder =
            IsMidiFile(strPath) ? CreateMidiAudioDecoder(m_format) : CreateFfmpegAudioDecoder(m_format);
        m_pDecoder->SetAudioTrack(m_nTrack, m_bTrackStrict);
        return m_pDecoder->OpenFile(strPath);
    }
    void SetAudioTrack(int nTrack, bool bStrict) override {
        m_nTrack = nTrack;
        m_bTrackStrict = bStrict;
    }
    std::string GetFailureText() const override { return m_pDecoder ? m_pDecoder->GetFailureText() : ""; }
    int GetDuration(int64_t &llDuration) override {
        return m_pDecoder ? m_pDecoder->GetDuration(llDuration) : kFailed;
    }
    int GetFormat(WaveFormat &wfx) override { return m_pDecoder ? m_pDecoder->GetFormat(wfx) : kFailed; }
    int Run() override { return m_pDecoder ? m_pDecoder->Run() : kFailed; }
    int Seek(int64_t llTime) override { return m_pDecoder ? m_pDecoder->Seek(llTime) : kFailed; }
    int Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) override {
        nFilled = 0;
        return m_pDecoder ? m_pDecoder->Fill(pBuffer, nFrames, nFilled) : kFailed;
    }
    double GetReadFraction() const override { return m_pDecoder ? m_pDecoder->GetReadFraction() : -1.0; }

private:
    const PcmSampleFormat m_format;
    int m_nTrack = 0;
    bool m_bTrackStrict = false;
    std::unique_ptr<IAudioDecoder> m_pDecoder;
};

}  // namespace

bool IsMidiFile(const std::string &strPath) {
    // A named pipe or a device is read once, by the decoder that plays it: bytes read here would be
    // gone for it, and opening a pipe waits for its writer. Such a source goes to FFmpeg unread.
    struct stat info {};
    if (::stat(strPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    // Without blocking, in case the file was replaced by a pipe since.
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    uint8_t header[12] = {};
    size_t nRead = 0;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        while (nRead < sizeof header) {
            const ssize_t nGot = ::read(fd, header + nRead, sizeof header - nRead);
            if (nGot < 0 && errno == EINTR) {
                continue;
            }
            if (nGot <= 0) {
                break;
            }
            nRead += static_cast<size_t>(nGot);
        }
    }
    ::close(fd);
    // A RIFF MIDI file names its form at once; its data chunk is looked for when it is parsed.
    return (nRead >= 4 && std::memcmp(header, "MThd", 4) == 0) ||
           (nRead == 12 && std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "RMID", 4) == 0);
}

std::unique_ptr<IAudioDecoder> CreateMidiAudioDecoder(PcmSampleFormat format) {
    return std::make_unique<MidiAudioDecoder>(format);
}

std::unique_ptr<IAudioDecoder> CreateMediaAudioDecoder(PcmSampleFormat format) {
    return std::make_unique<MediaAudioDecoder>(format);
}

}  // namespace klangor

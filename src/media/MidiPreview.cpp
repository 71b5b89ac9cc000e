#include "media/MidiPreview.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/MidiFile.h"
#include "media/MidiSynth.h"

namespace klangor {

namespace {

constexpr const char *kNoAudioText = "Can not find audio in you Media file!";
// 46 ms of sound per piece: a read never waits long for its piece, nor asks for many of them.
constexpr uint32_t kPieceFrames = 2048;
// A read this far ahead of the synthesiser (or behind it, counted from the start) is reached by rendering
// the way there, which keeps the sound exactly that of the song played through: at well over a hundred
// times real time that is a few tens of milliseconds. Farther reads jump.
constexpr uint64_t kRenderThroughFrames = 4 * MidiSynth::kSampleRate;
constexpr uint64_t kRiffLimit = 0xFFFFFFFFull;

void PutLe(std::vector<uint8_t> &out, uint64_t n, int nBytes) {
    for (int i = 0; i < nBytes; ++i) {
        out.push_back(static_cast<uint8_t>(n >> (8 * i)));
    }
}

void PutTag(std::vector<uint8_t> &out, const char *pszTag) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(pszTag[i]));
    }
}

int16_t ToSample16(float fSample) {
    return static_cast<int16_t>(std::round(std::clamp(fSample, -1.0f, 1.0f) * 32767.0f));
}

}  // namespace

MidiPreview::MidiPreview() = default;

MidiPreview::~MidiPreview() = default;

bool MidiPreview::Open(const std::string &strMidiPath, std::string &strError) {
    std::vector<uint8_t> bytes;
    std::string strWhy;
    m_song = MidiSong{};
    if (!ReadMidiFileBytes(strMidiPath, bytes) ||
        !ParseMidiFile(bytes.data(), bytes.size(), MidiSynth::kSampleRate, m_song, strWhy)) {
        strError = kNoAudioText;
        return false;
    }
    const std::string strSoundFont = FindSoundFont();
    auto pSynth = MidiSynth::Playing(strSoundFont, m_song, strError);
    if (!pSynth) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_strSoundFont = strSoundFont;
    m_pSynth = std::move(pSynth);
    m_nFrames = m_pSynth->MaxLength();
    m_piece.clear();
    m_nPieceStart = 0;
    BuildHeader();
    return true;
}

void MidiPreview::BuildHeader() {
    const uint64_t nDataBytes = m_nFrames * kFrameBytes;
    // Past what 32-bit sizes hold the file is RF64, whose sizes live in its "ds64" chunk.
    const bool bRf64 = nDataBytes > kRiffLimit - 36;
    m_header.clear();
    PutTag(m_header, bRf64 ? "RF64" : "RIFF");
    PutLe(m_header, bRf64 ? kRiffLimit : 36 + nDataBytes, 4);
    PutTag(m_header, "WAVE");
    if (bRf64) {
        PutTag(m_header, "ds64");
        PutLe(m_header, 28, 4);
        PutLe(m_header, 72 + nDataBytes, 8);  // the RIFF size: what follows its own field
        PutLe(m_header, nDataBytes, 8);
        PutLe(m_header, m_nFrames, 8);
        PutLe(m_header, 0, 4);  // no table of other chunk sizes
    }
    PutTag(m_header, "fmt ");
    PutLe(m_header, 16, 4);
    PutLe(m_header, 1, 2);  // integer PCM
    PutLe(m_header, 2, 2);
    PutLe(m_header, MidiSynth::kSampleRate, 4);
    PutLe(m_header, MidiSynth::kSampleRate * kFrameBytes, 4);
    PutLe(m_header, kFrameBytes, 2);
    PutLe(m_header, 16, 2);
    PutTag(m_header, "data");
    PutLe(m_header, bRf64 ? kRiffLimit : nDataBytes, 4);
}

int64_t MidiPreview::ReadAt(uint64_t nOffset, uint8_t *pBuffer, uint64_t nBytes,
                            const std::atomic<bool> &bCancel) {
    std::lock_guard lock(m_mutex);
    if (bCancel) {
        return -1;
    }
    if (!m_pSynth || nOffset >= Size() || nBytes == 0) {
        return 0;
    }
    if (nOffset < m_header.size()) {
        const uint64_t nCopy = std::min<uint64_t>(nBytes, m_header.size() - nOffset);
        std::memcpy(pBuffer, m_header.data() + nOffset, nCopy);
        return static_cast<int64_t>(nCopy);
    }
    const uint64_t nDataOffset = nOffset - m_header.size();
    const uint64_t nFrame = nDataOffset / kFrameBytes;
    const uint64_t nPieceFrames = m_piece.size() / 2;
    if (nFrame < m_nPieceStart || nFrame >= m_nPieceStart + nPieceFrames) {
        if (!RenderPieceAt(nFrame, bCancel)) {
            return -1;
        }
    }
    const uint64_t nPieceBytes = m_piece.size() / 2 * kFrameBytes;
    const uint64_t nInPiece = nDataOffset - m_nPieceStart * kFrameBytes;
    const uint64_t nCopy = std::min(nBytes, nPieceBytes - nInPiece);
    std::memcpy(pBuffer, reinterpret_cast<const uint8_t *>(m_piece.data()) + nInPiece, nCopy);
    return static_cast<int64_t>(nCopy);
}

bool MidiPreview::RenderPieceAt(uint64_t nFrame, const std::atomic<bool> &bCancel) {
    m_render.resize(size_t{kPieceFrames} * 2);
    if (nFrame < m_pSynth->Position()) {
        // A synthesiser started afresh, as the converter's is.
        std::string strError;
        auto pSynth = MidiSynth::Playing(m_strSoundFont, m_song, strError);
        if (!pSynth) {
            return false;
        }
        m_pSynth = std::move(pSynth);
    }
    if (nFrame - m_pSynth->Position() > kRenderThroughFrames) {
        m_pSynth->SkipTo(nFrame);
    }
    while (m_pSynth->Position() < nFrame) {
        if (bCancel) {
            return false;
        }
        const auto nRun =
            static_cast<uint32_t>(std::min<uint64_t>(nFrame - m_pSynth->Position(), kPieceFrames));
        if (m_pSynth->Render(m_render.data(), nRun) < nRun) {
            break;  // the synthesiser has ended: silence from here on
        }
    }
    const auto nWant = static_cast<uint32_t>(std::min<uint64_t>(kPieceFrames, m_nFrames - nFrame));
    // Once the synthesiser has ended before nFrame, what is left of the file is silence.
    const uint32_t nGot = m_pSynth->Position() == nFrame ? m_pSynth->Render(m_render.data(), nWant) : 0;
    std::fill(m_render.begin() + size_t{nGot} * 2, m_render.begin() + size_t{nWant} * 2, 0.0f);
    m_piece.resize(size_t{nWant} * 2);
    std::transform(m_render.begin(), m_render.begin() + size_t{nWant} * 2, m_piece.begin(), ToSample16);
    m_nPieceStart = nFrame;
    return true;
}

}  // namespace klangor

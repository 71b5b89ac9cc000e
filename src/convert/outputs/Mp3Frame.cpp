#include "convert/outputs/Mp3Frame.h"

#include <algorithm>

namespace klangor {

namespace {

constexpr int kBitratesMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kBitratesMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kRatesMpeg1[3] = {44100, 48000, 32000};
constexpr size_t kMaxFrameBytes = 4096;
// The payload history kept: main data reaches back at most 511 bytes, so a little more is plenty.
constexpr size_t kHistoryBytes = 2048;

// Big-endian bit fields of the side information.
uint32_t ReadBits(const uint8_t *p, int nBitPos, int nBits) {
    uint32_t value = 0;
    for (int i = 0; i < nBits; ++i) {
        const int nBit = nBitPos + i;
        value = (value << 1) | ((p[nBit >> 3] >> (7 - (nBit & 7))) & 1u);
    }
    return value;
}

void WriteBits(uint8_t *p, int nBitPos, int nBits, uint32_t value) {
    for (int i = 0; i < nBits; ++i) {
        const int nBit = nBitPos + i;
        const uint8_t mask = static_cast<uint8_t>(1u << (7 - (nBit & 7)));
        if ((value >> (nBits - 1 - i)) & 1u) {
            p[nBit >> 3] |= mask;
        } else {
            p[nBit >> 3] &= static_cast<uint8_t>(~mask);
        }
    }
}

uint16_t UpdateFrameCrc(uint16_t crc, const uint8_t *pData, size_t nBytes) {
    for (size_t i = 0; i < nBytes; ++i) {
        crc ^= static_cast<uint16_t>(pData[i] << 8);
        for (int b = 0; b < 8; ++b) {
            crc =
                (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x8005) : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

}  // namespace

bool ParseMp3Header(const uint8_t *p, Mp3FrameInfo &info) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) {
        return false;
    }
    const int nVersion = (p[1] >> 3) & 3;  // 0: 2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
    const int nLayer = (p[1] >> 1) & 3;    // 1: layer III
    const int nBitrateIndex = (p[2] >> 4) & 15;
    const int nRateIndex = (p[2] >> 2) & 3;
    if (nVersion == 1 || nLayer != 1 || nBitrateIndex == 0 || nBitrateIndex == 15 || nRateIndex == 3) {
        return false;
    }
    info.bMpeg1 = nVersion == 3;
    info.nSampleRate = kRatesMpeg1[nRateIndex] >> (nVersion == 3 ? 0 : nVersion == 2 ? 1 : 2);
    info.nBitrateKbps = info.bMpeg1 ? kBitratesMpeg1[nBitrateIndex] : kBitratesMpeg2[nBitrateIndex];
    info.nChannels = ((p[3] >> 6) & 3) == 3 ? 1 : 2;
    const int nPadding = (p[2] >> 1) & 1;
    info.nBytes = (info.bMpeg1 ? 144000 : 72000) * info.nBitrateKbps / info.nSampleRate + nPadding;
    info.bCrc = (p[1] & 1) == 0;
    info.nSideInfoPos = info.bCrc ? 6 : 4;
    info.nSideInfoBytes = info.bMpeg1 ? (info.nChannels == 1 ? 17 : 32) : (info.nChannels == 1 ? 9 : 17);
    info.nSamples = info.bMpeg1 ? 1152 : 576;
    return info.nBytes > info.PayloadPos();
}

int GetMainDataBegin(const uint8_t *pFrame, const Mp3FrameInfo &info) {
    return static_cast<int>(ReadBits(pFrame + info.nSideInfoPos, 0, info.bMpeg1 ? 9 : 8));
}

int GetMainDataBytes(const uint8_t *pFrame, const Mp3FrameInfo &info) {
    const uint8_t *pSide = pFrame + info.nSideInfoPos;
    const bool bMono = info.nChannels == 1;
    // main_data_begin, the private bits and (MPEG-1) the scale factor selection come first; then one
    // entry per granule and channel, each starting with its part2_3_length.
    const int nFirst = info.bMpeg1 ? 9 + (bMono ? 5 : 3) + 4 * info.nChannels : 8 + (bMono ? 1 : 2);
    const int nEntryBits = info.bMpeg1 ? 59 : 63;
    const int nEntries = (info.bMpeg1 ? 2 : 1) * info.nChannels;
    int nBits = 0;
    for (int i = 0; i < nEntries; ++i) {
        nBits += static_cast<int>(ReadBits(pSide, nFirst + i * nEntryBits, 12));
    }
    return (nBits + 7) / 8;
}

uint16_t ComputeFrameCrc(const uint8_t *pFrame, const Mp3FrameInfo &info) {
    uint16_t crc = UpdateFrameCrc(0xFFFF, pFrame + 2, 2);
    return UpdateFrameCrc(crc, pFrame + info.nSideInfoPos, static_cast<size_t>(info.nSideInfoBytes));
}

void SetMainDataBegin(uint8_t *pFrame, const Mp3FrameInfo &info, int nBack) {
    WriteBits(pFrame + info.nSideInfoPos, 0, info.bMpeg1 ? 9 : 8, static_cast<uint32_t>(nBack));
    if (info.bCrc) {
        const uint16_t crc = ComputeFrameCrc(pFrame, info);
        pFrame[4] = static_cast<uint8_t>(crc >> 8);
        pFrame[5] = static_cast<uint8_t>(crc & 0xFF);
    }
}

uint16_t UpdateTagCrc(uint16_t crc, const uint8_t *pData, size_t nBytes) {
    for (size_t i = 0; i < nBytes; ++i) {
        crc ^= pData[i];
        for (int b = 0; b < 8; ++b) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

bool Mp3FrameSource::Next(Mp3StreamFrame &frame) {
    uint8_t bytes[kMaxFrameBytes];
    if (m_bDamaged || std::fread(bytes, 1, 4, m_pFile) != 4) {
        return false;
    }
    if (!ParseMp3Header(bytes, frame.info)) {
        m_bDamaged = true;
        return false;
    }
    const Mp3FrameInfo &info = frame.info;
    const size_t nRest = static_cast<size_t>(info.nBytes) - 4;
    if (std::fread(bytes + 4, 1, nRest, m_pFile) != nRest) {
        m_bDamaged = true;
        return false;
    }
    frame.head.assign(bytes, bytes + info.PayloadPos());
    frame.nOriginalBegin = GetMainDataBegin(bytes, info);
    const size_t nLength = static_cast<size_t>(GetMainDataBytes(bytes, info));
    const size_t nBack = static_cast<size_t>(frame.nOriginalBegin);
    const size_t nPayload = static_cast<size_t>(info.PayloadBytes());
    // The frame's data starts nBack bytes before its payload and must end inside it.
    if (nBack > m_payloads.size() || nLength > nBack + nPayload) {
        m_bDamaged = true;
        return false;
    }
    m_payloads.insert(m_payloads.end(), bytes + info.PayloadPos(), bytes + info.nBytes);
    const size_t nStart = m_payloads.size() - nPayload - nBack;
    frame.mainData.assign(m_payloads.begin() + static_cast<std::ptrdiff_t>(nStart),
                          m_payloads.begin() + static_cast<std::ptrdiff_t>(nStart + nLength));
    if (m_payloads.size() > 2 * kHistoryBytes) {
        m_payloads.erase(m_payloads.begin(), m_payloads.end() - static_cast<std::ptrdiff_t>(kHistoryBytes));
    }
    return true;
}

}  // namespace klangor

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace klangor {

// What the joining of separately encoded MP3 parts needs to know of one layer III frame: where its
// header, CRC, side information and payload lie, where its main data begins (main_data_begin, bytes
// back from the payload into earlier frames: the bit reservoir) and how long that main data is (the
// sum of its part2_3_length bits). Pure functions, used by whichever thread joins a file.
struct Mp3FrameInfo {
    bool bMpeg1 = true;  // MPEG-1; otherwise MPEG-2 or 2.5 (half the samples, one granule)
    int nSampleRate = 0;
    int nBitrateKbps = 0;
    int nChannels = 0;
    int nBytes = 0;        // whole frame, header to the next header
    int nSideInfoPos = 0;  // 4, or 6 after a CRC
    int nSideInfoBytes = 0;
    bool bCrc = false;
    int nSamples = 0;  // per channel: 1152 or 576

    int PayloadPos() const { return nSideInfoPos + nSideInfoBytes; }
    int PayloadBytes() const { return nBytes - PayloadPos(); }
    // The farthest main_data_begin may point back: its field has 9 bits in MPEG-1, 8 otherwise.
    int MaxBackBytes() const { return bMpeg1 ? 511 : 255; }
};

// Reads a layer III header; false for anything else (other layers, free format, reserved values).
bool ParseMp3Header(const uint8_t *pHeader, Mp3FrameInfo &info);
int GetMainDataBegin(const uint8_t *pFrame, const Mp3FrameInfo &info);
// Bytes of main data the frame's granules use (part2_3_length summed, rounded up to whole bytes).
int GetMainDataBytes(const uint8_t *pFrame, const Mp3FrameInfo &info);
// Rewrites main_data_begin, and the frame's CRC when it has one (the CRC covers the side information).
void SetMainDataBegin(uint8_t *pFrame, const Mp3FrameInfo &info, int nBack);
// The CRC a protected frame carries, over the header's last two bytes and the side information.
uint16_t ComputeFrameCrc(const uint8_t *pFrame, const Mp3FrameInfo &info);
// CRC-16 with the polynomial 0x8005, reflected, as the encoder's own tag uses (for its music and tag CRCs).
uint16_t UpdateTagCrc(uint16_t crc, const uint8_t *pData, size_t nBytes);

// One frame read from an encoder's stream, with its own main data taken out of the reservoir.
struct Mp3StreamFrame {
    Mp3FrameInfo info;
    std::vector<uint8_t> head;      // header, CRC and side information
    std::vector<uint8_t> mainData;  // exactly the frame's main data
    int nOriginalBegin = 0;         // main_data_begin as its encoder wrote it
};

// Reads the frames of one encoder's output, following each frame's main_data_begin back into the
// payloads of the frames before it. Not owning the file.
class Mp3FrameSource {
public:
    explicit Mp3FrameSource(FILE *pFile) : m_pFile(pFile) {}
    // The next frame; false at the end of the stream or on bytes that are not a frame (m_bDamaged).
    bool Next(Mp3StreamFrame &frame);
    bool IsDamaged() const { return m_bDamaged; }

private:
    FILE *m_pFile;
    std::vector<uint8_t> m_payloads;  // the latest payload bytes, newest last
    bool m_bDamaged = false;
};

}  // namespace klangor

#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <vector>

#include "convert/outputs/Mp3Frame.h"

namespace klangor {

// Writes layer III frames taken from several encoders' outputs as one stream, rebuilding the bit
// reservoir as it goes: each frame's main data is placed as early as the frames before it allow (right
// after the previous frame's data, at most main_data_begin's reach back) and its main_data_begin (and
// CRC) rewritten to say so. Placed as early as possible, a frame never lies later than its own encoder
// put it, provided the stream it joins leaves at least that encoder's main_data_begin free
// (CanContinueWith): from there on every later frame of that encoder fits too. Keeps the frame
// offsets for a seek table and the CRC of everything written. Runs on the thread that joins the file.
class Mp3StreamWriter {
public:
    // nFirstOffset: where in the file the first frame lands (after a header frame written later).
    Mp3StreamWriter(FILE *pFile, uint32_t nFirstOffset) : m_pFile(pFile), m_nNextOffset(nFirstOffset) {}

    // Bytes of the frames written so far that the next frame's main data may still use.
    int64_t FreeBytes() const { return m_llPayloadEnd - m_llDataEnd; }
    // True when a frame its encoder placed main_data_begin bytes back fits here, and so do all the
    // frames its encoder made after it.
    bool CanContinueWith(const Mp3StreamFrame &frame) const { return frame.nOriginalBegin <= FreeBytes(); }
    // Appends a frame; false when its main data cannot be placed (the stream is then unchanged).
    bool Add(const Mp3StreamFrame &frame);
    // Writes what is still held; false when a write failed.
    bool Finish();

    uint32_t GetFrameCount() const { return m_nFrames; }
    const std::vector<uint32_t> &GetFrameOffsets() const { return m_offsets; }
    uint16_t GetCrc() const { return m_crc; }
    bool HasFailed() const { return m_bWriteFailed; }

private:
    struct Pending {
        std::vector<uint8_t> bytes;
        int64_t llPayloadStart;  // in the stream of payload bytes
        int nPayloadPos;         // where the payload begins in bytes
    };
    void WriteOut(const Pending &frame);

    FILE *m_pFile;
    std::deque<Pending> m_pending;  // frames that later main data may still reach
    int64_t m_llPayloadEnd = 0;
    int64_t m_llDataEnd = 0;
    uint32_t m_nFrames = 0;
    uint32_t m_nNextOffset;
    std::vector<uint32_t> m_offsets;
    uint16_t m_crc = 0;
    bool m_bWriteFailed = false;
};

// Fills in the encoder's header frame (Xing or Info, with its LAME extension) for the whole joined
// stream: frame and byte counts, the seek table, the encoder delay and padding, the music length, the
// music CRC and the tag's own CRC. False when the frame is not such a header.
bool PatchHeaderFrame(std::vector<uint8_t> &tag, uint32_t nFrames, uint32_t nFileBytes,
                      const std::vector<uint32_t> &offsets, int nDelay, int nPadding, uint16_t musicCrc);

}  // namespace klangor

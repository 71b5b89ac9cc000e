#include "convert/divide/Mp3StreamWriter.h"

#include <algorithm>
#include <cstring>

namespace klangor {

namespace {
void PutBigEndian32(uint8_t *p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}
uint32_t GetBigEndian32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
}  // namespace

bool Mp3StreamWriter::Add(const Mp3StreamFrame &frame) {
    const Mp3FrameInfo &info = frame.info;
    const int64_t llSlot = info.PayloadBytes();
    const int64_t llStart = std::max(m_llDataEnd, m_llPayloadEnd - info.MaxBackBytes());
    const auto llLength = static_cast<int64_t>(frame.mainData.size());
    if (llStart + llLength > m_llPayloadEnd + llSlot ||
        frame.head.size() != static_cast<size_t>(info.PayloadPos())) {
        return false;
    }
    Pending pending{frame.head, m_llPayloadEnd, info.PayloadPos()};
    pending.bytes.resize(static_cast<size_t>(info.nBytes), 0);
    SetMainDataBegin(pending.bytes.data(), info, static_cast<int>(m_llPayloadEnd - llStart));
    m_pending.push_back(std::move(pending));
    m_llPayloadEnd += llSlot;

    // The data may run through the payloads of several frames still held.
    int64_t llPos = llStart;
    size_t nDone = 0;
    for (Pending &target : m_pending) {
        const int64_t llSlotStart = target.llPayloadStart;
        const int64_t llSlotEnd =
            llSlotStart + static_cast<int64_t>(target.bytes.size()) - target.nPayloadPos;
        if (nDone == frame.mainData.size() || llPos >= llSlotEnd) {
            continue;
        }
        const auto nCount =
            static_cast<size_t>(std::min<int64_t>(llSlotEnd - llPos, llLength - static_cast<int64_t>(nDone)));
        std::memcpy(target.bytes.data() + target.nPayloadPos + (llPos - llSlotStart),
                    frame.mainData.data() + nDone, nCount);
        nDone += nCount;
        llPos += static_cast<int64_t>(nCount);
    }
    m_llDataEnd = llStart + llLength;

    // A frame whose payload ends before the data written so far, or beyond any frame's reach back, is final.
    while (m_pending.size() > 1) {
        const Pending &front = m_pending.front();
        const int64_t llFrontEnd =
            front.llPayloadStart + static_cast<int64_t>(front.bytes.size()) - front.nPayloadPos;
        if (llFrontEnd > m_llDataEnd && llFrontEnd > m_llPayloadEnd - 511) {
            break;
        }
        WriteOut(front);
        m_pending.pop_front();
    }
    return !m_bWriteFailed;
}

void Mp3StreamWriter::WriteOut(const Pending &frame) {
    if (std::fwrite(frame.bytes.data(), 1, frame.bytes.size(), m_pFile) != frame.bytes.size()) {
        m_bWriteFailed = true;
    }
    m_crc = UpdateTagCrc(m_crc, frame.bytes.data(), frame.bytes.size());
    m_offsets.push_back(m_nNextOffset);
    m_nNextOffset += static_cast<uint32_t>(frame.bytes.size());
    ++m_nFrames;
}

bool Mp3StreamWriter::Finish() {
    for (const Pending &frame : m_pending) {
        WriteOut(frame);
    }
    m_pending.clear();
    return !m_bWriteFailed;
}

bool PatchHeaderFrame(std::vector<uint8_t> &tag, uint32_t nFrames, uint32_t nFileBytes,
                      const std::vector<uint32_t> &offsets, int nDelay, int nPadding, uint16_t musicCrc) {
    Mp3FrameInfo info;
    if (tag.size() < 4 || !ParseMp3Header(tag.data(), info) ||
        tag.size() != static_cast<size_t>(info.nBytes)) {
        return false;
    }
    // The encoder puts its tag right after the side information as if the frame had no CRC, as readers
    // look for it there.
    const size_t nXing = 4 + static_cast<size_t>(info.nSideInfoBytes);
    // "Xing"/"Info", flags, frames, bytes, 100 seek entries, quality; then the 36 bytes of the extension.
    constexpr size_t kExtension = 120;
    constexpr size_t kTagBytes = kExtension + 36;
    if (nXing + kTagBytes > tag.size() ||
        (std::memcmp(&tag[nXing], "Xing", 4) != 0 && std::memcmp(&tag[nXing], "Info", 4) != 0) ||
        (GetBigEndian32(&tag[nXing + 4]) & 7) != 7 || offsets.size() != nFrames) {
        return false;
    }
    PutBigEndian32(&tag[nXing + 8], nFrames);
    PutBigEndian32(&tag[nXing + 12], nFileBytes);
    for (uint32_t i = 0; i < 100; ++i) {
        const size_t nFrame = static_cast<size_t>(uint64_t{i} * nFrames / 100);
        const uint64_t llPos = nFrame < offsets.size() ? offsets[nFrame] : nFileBytes;
        tag[nXing + 16 + i] =
            static_cast<uint8_t>(std::min<uint64_t>(255, llPos * 256 / std::max(1u, nFileBytes)));
    }
    uint8_t *pExt = &tag[nXing + kExtension];
    const auto nDelayField = static_cast<uint32_t>(std::clamp(nDelay, 0, 4095));
    const auto nPaddingField = static_cast<uint32_t>(std::clamp(nPadding, 0, 4095));
    pExt[21] = static_cast<uint8_t>(nDelayField >> 4);
    pExt[22] = static_cast<uint8_t>(((nDelayField & 15) << 4) | (nPaddingField >> 8));
    pExt[23] = static_cast<uint8_t>(nPaddingField & 0xFF);
    PutBigEndian32(pExt + 28, nFileBytes);
    pExt[32] = static_cast<uint8_t>(musicCrc >> 8);
    pExt[33] = static_cast<uint8_t>(musicCrc & 0xFF);
    const uint16_t tagCrc = UpdateTagCrc(0, tag.data(), nXing + kExtension + 34);
    pExt[34] = static_cast<uint8_t>(tagCrc >> 8);
    pExt[35] = static_cast<uint8_t>(tagCrc & 0xFF);
    return true;
}

}  // namespace klangor

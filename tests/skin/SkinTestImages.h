#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace klangor {

// Small pictures for the skin tests, written with giflib's own encoder, so the decoder under test
// never checks itself.
struct TestGif {
    int nWidth = 0;
    int nHeight = 0;
    std::vector<uint8_t> indices;   // nWidth * nHeight palette indices, rows top-down
    std::vector<uint32_t> palette;  // 0xRRGGBB, a power of two entries (2 to 256)
    int nTransparent = -1;          // transparent index, or -1
    bool bInterlace = false;
};

// The GIF89a file's bytes. Throws std::runtime_error when giflib refuses.
std::string EncodeGif(const TestGif &gif);

// Offsets of fields in a file written by EncodeGif, for patching damaged variants.
size_t GifImageDescriptorOffset(const TestGif &gif);  // the 0x2C byte

void PutLittleEndian16(std::string &bytes, size_t nOffset, int nValue);

// A CMYK JPEG written with libjpeg's compressor, every pixel the given inks (0 = no ink, 255 = full).
// With bAdobeInverted the inks are stored inverted, as design programs write them beside an Adobe
// marker; otherwise they are stored plain and no Adobe marker is written.
std::string EncodeCmykJpeg(int nWidth, int nHeight, const uint8_t aInk[4], bool bAdobeInverted);

}  // namespace klangor

#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <array>
#include <optional>
#include <vector>

#include "skin/SkinRect.h"

namespace klangor {

enum class SkinImageFormat {
    Unknown,  // no preferred decoder: recognise the format from the content
    Jpeg,
    Gif,
};

// Red, green and blue of one pixel.
struct SkinRgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    friend bool operator==(const SkinRgb &, const SkinRgb &) = default;
};

// The one picture type of the skin: window backgrounds, button face strips and the timeline cursor.
//
// Pixel store: Width() x Height() pixels, rows top-down, each pixel one uint32_t 0xAARRGGBB (the layout
// of QImage::Format_ARGB32, so the widget layer wraps Pixels() without converting). Pixels are kept in
// true colour from the moment they are decoded; alpha is 0xFF except where a GIF's transparent colour
// index was used (alpha 0) or the picture carries an alpha channel. BitsPerPixel() tells how the file
// stored them (8 for a palette picture, 24 for colour JPEG, 32 with alpha).
//
// Decoding never trusts the file: any damaged, truncated or absurd input (a side over kMaxSide, more
// than kMaxPixels in all, zero size, a GIF frame outside its screen) leaves an invalid image.
class SkinImage {
public:
    static constexpr int kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = int64_t{16384} * 4096;

    SkinImage() = default;
    // A picture of the given size filled with one colour (0xAARRGGBB); invalid for a size of 0 or one
    // past the limits.
    SkinImage(int nWidth, int nHeight, uint32_t uFill = 0xFF000000u);

    // Decodes the file. The preferred decoder is tried first; if it fails the format is recognised from
    // the content (never from the name) and decoded with that. Returns HasPixels(); on failure the
    // image is left empty.
    bool Open(const std::filesystem::path &pathFile, SkinImageFormat preferred = SkinImageFormat::Unknown);
    // The same from bytes already in memory.
    bool OpenMemory(const uint8_t *pData, size_t nSize, SkinImageFormat preferred = SkinImageFormat::Unknown);

    int PixelWidth() const { return m_nWidth; }
    int PixelHeight() const { return m_nHeight; }
    bool HasPixels() const { return !m_pixels.empty(); }
    int BitsPerPixel() const { return m_nBitsPerPixel; }

    // Palette pictures become 24-bit pictures. The store is already true colour, so pixel reads are
    // unaffected; transparent pixels stay transparent.
    void ExpandTo24Bits();

    // Colour of one pixel; black outside the picture.
    SkinRgb ReadRgb(int x, int y) const;
    // The stored word of one pixel; x and y must lie inside the picture.
    uint32_t ReadArgb(int x, int y) const { return m_pixels[static_cast<size_t>(y) * m_nWidth + x]; }

    // Copies columns left..right and rows top..bottom (right and bottom excluded, clipped to the
    // picture) into pDest, or replaces this image by that part when pDest is null. The transparent
    // colour and alpha go along. Returns whether the part holds any pixel; an empty part empties the
    // destination.
    bool CutOut(int left, int top, int right, int bottom, SkinImage *pDest = nullptr);

    // The transparent colour of a GIF picture (the palette colour at its transparent index), if any.
    const std::optional<SkinRgb> &TransparentColour() const { return m_transparent; }
    // Whether any pixel is not fully opaque (a transparent colour or an alpha channel).
    bool HasAlpha() const { return m_bHasAlpha; }

    // The picture resampled to cx by cy (nearest pixel, so the transparent colour stays exact); a
    // negative size keeps the picture's own width or height. Invalid for a zero size.
    SkinImage Resampled(int cx, int cy) const;

    const uint32_t *Pixels() const { return m_pixels.data(); }
    uint32_t *Pixels() { return m_pixels.data(); }
    size_t StrideBytes() const { return static_cast<size_t>(m_nWidth) * 4; }

    void Clear();

    // For decoders: takes a decoded picture; the pixels must hold nWidth * nHeight entries.
    void Assign(int nWidth, int nHeight, std::vector<uint32_t> pixels, int nBitsPerPixel,
                std::optional<SkinRgb> transparent, bool bHasAlpha);

    // Whether a picture of that size may be decoded at all (checked before any allocation).
    static bool IsAcceptableSize(int64_t nWidth, int64_t nHeight);
    // Recognises JPEG and GIF from their first bytes.
    static SkinImageFormat SniffFormat(const uint8_t *pData, size_t nSize);

private:
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nBitsPerPixel = 0;
    std::vector<uint32_t> m_pixels;
    std::optional<SkinRgb> m_transparent;
    bool m_bHasAlpha = false;
};

// The four faces of a button strip: one picture of width W holds them side by side, each W / 4 wide
// (the W mod 4 right-hand columns are unused).
enum ButtonFace : int { kFaceNormal = 0, kFacePressed = 1, kFaceFocused = 2, kFaceDisabled = 3 };

// Column range of face k in a strip of the given width.
SkinRect ButtonFaceRect(int nStripWidth, int nStripHeight, int nFace);

// Cuts faces 1, 2 and 3 out of the strip into new pictures and face 0 in place, and hands back all four
// (the strip is consumed). All four are empty when the strip is narrower than four pixels or invalid.
std::array<SkinImage, 4> CutButtonFaces(SkinImage strip);

}  // namespace klangor

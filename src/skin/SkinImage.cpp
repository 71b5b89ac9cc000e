#include "skin/SkinImage.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <new>

#include "skin/SkinDecoders.h"

namespace klangor {

namespace {

// Skin pictures are small; a file this large is not a skin picture and is not read into memory.
constexpr std::uintmax_t kMaxFileBytes = 256u * 1024u * 1024u;

bool Decode(SkinImageFormat format, const uint8_t *pData, size_t nSize, SkinImage &image) {
    switch (format) {
        case SkinImageFormat::Jpeg:
            return DecodeJpeg(pData, nSize, image);
        case SkinImageFormat::Gif:
            return DecodeGif(pData, nSize, image);
        case SkinImageFormat::Unknown:
            break;
    }
    return false;
}

}  // namespace

SkinImage::SkinImage(int nWidth, int nHeight, uint32_t uFill) {
    if (nWidth > 0 && nHeight > 0 && IsAcceptableSize(nWidth, nHeight)) {
        std::vector<uint32_t> pixels(static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight), uFill);
        const bool bAlpha = (uFill >> 24) != 0xFFu;
        Assign(nWidth, nHeight, std::move(pixels), bAlpha ? 32 : 24, std::nullopt, bAlpha);
    }
}

bool SkinImage::IsAcceptableSize(int64_t nWidth, int64_t nHeight) {
    return nWidth > 0 && nHeight > 0 && nWidth <= kMaxSide && nHeight <= kMaxSide &&
           nWidth * nHeight <= kMaxPixels;
}

SkinImageFormat SkinImage::SniffFormat(const uint8_t *pData, size_t nSize) {
    if (nSize >= 3 && pData[0] == 0xFF && pData[1] == 0xD8 && pData[2] == 0xFF) {
        return SkinImageFormat::Jpeg;
    }
    if (nSize >= 6 && std::equal(pData, pData + 3, "GIF") &&
        (std::equal(pData + 3, pData + 6, "87a") || std::equal(pData + 3, pData + 6, "89a"))) {
        return SkinImageFormat::Gif;
    }
    return SkinImageFormat::Unknown;
}

bool SkinImage::Open(const std::filesystem::path &pathFile, SkinImageFormat preferred) {
    Clear();
    std::error_code ec;
    const std::uintmax_t nFileSize = std::filesystem::file_size(pathFile, ec);
    if (ec || nFileSize == 0 || nFileSize > kMaxFileBytes) {
        return false;
    }
    std::ifstream file(pathFile, std::ios::binary);
    if (!file) {
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        return false;
    }
    return OpenMemory(bytes.data(), bytes.size(), preferred);
}

bool SkinImage::OpenMemory(const uint8_t *pData, size_t nSize, SkinImageFormat preferred) {
    Clear();
    if (pData == nullptr || nSize == 0) {
        return false;
    }
    try {
        if (preferred != SkinImageFormat::Unknown && Decode(preferred, pData, nSize, *this)) {
            return true;
        }
        const SkinImageFormat recognised = SniffFormat(pData, nSize);
        if (recognised == preferred) {
            return false;  // that decoder has already refused this content
        }
        return Decode(recognised, pData, nSize, *this);
    } catch (const std::bad_alloc &) {
        Clear();
        return false;
    }
}

void SkinImage::Assign(int nWidth, int nHeight, std::vector<uint32_t> pixels, int nBitsPerPixel,
                       std::optional<SkinRgb> transparent, bool bHasAlpha) {
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    m_pixels = std::move(pixels);
    m_nBitsPerPixel = nBitsPerPixel;
    m_transparent = transparent;
    m_bHasAlpha = bHasAlpha;
}

void SkinImage::Clear() {
    m_nWidth = 0;
    m_nHeight = 0;
    m_nBitsPerPixel = 0;
    m_pixels.clear();
    m_pixels.shrink_to_fit();
    m_transparent.reset();
    m_bHasAlpha = false;
}

void SkinImage::ExpandTo24Bits() {
    if (HasPixels() && m_nBitsPerPixel < 24) {
        m_nBitsPerPixel = 24;
    }
}

SkinRgb SkinImage::ReadRgb(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight) {
        return {};
    }
    const uint32_t uPixel = ReadArgb(x, y);
    return {static_cast<uint8_t>(uPixel >> 16), static_cast<uint8_t>(uPixel >> 8),
            static_cast<uint8_t>(uPixel)};
}

bool SkinImage::CutOut(int left, int top, int right, int bottom, SkinImage *pDest) {
    left = std::clamp(left, 0, m_nWidth);
    right = std::clamp(right, 0, m_nWidth);
    top = std::clamp(top, 0, m_nHeight);
    bottom = std::clamp(bottom, 0, m_nHeight);
    SkinImage &dest = pDest ? *pDest : *this;
    if (right <= left || bottom <= top) {
        dest.Clear();
        return false;
    }
    const int nWidth = right - left;
    const int nHeight = bottom - top;
    std::vector<uint32_t> part(static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight));
    for (int y = 0; y < nHeight; ++y) {
        const uint32_t *pRow = m_pixels.data() + static_cast<size_t>(top + y) * m_nWidth + left;
        std::copy(pRow, pRow + nWidth, part.begin() + static_cast<ptrdiff_t>(y) * nWidth);
    }
    // Assign last: dest may be this image, whose pixels were the source.
    dest.Assign(nWidth, nHeight, std::move(part), m_nBitsPerPixel, m_transparent, m_bHasAlpha);
    return true;
}

SkinImage SkinImage::Resampled(int cx, int cy) const {
    SkinImage result;
    if (!HasPixels()) {
        return result;
    }
    const int nWidth = cx < 0 ? m_nWidth : cx;
    const int nHeight = cy < 0 ? m_nHeight : cy;
    if (!IsAcceptableSize(nWidth, nHeight)) {
        return result;
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight));
    for (int y = 0; y < nHeight; ++y) {
        // Sample at the centre of each target pixel.
        const int sy =
            static_cast<int>((static_cast<int64_t>(2 * y + 1) * m_nHeight) / (2 * int64_t{nHeight}));
        for (int x = 0; x < nWidth; ++x) {
            const int sx =
                static_cast<int>((static_cast<int64_t>(2 * x + 1) * m_nWidth) / (2 * int64_t{nWidth}));
            pixels[static_cast<size_t>(y) * nWidth + x] = ReadArgb(sx, sy);
        }
    }
    result.Assign(nWidth, nHeight, std::move(pixels), m_nBitsPerPixel, m_transparent, m_bHasAlpha);
    return result;
}

SkinRect ButtonFaceRect(int nStripWidth, int nStripHeight, int nFace) {
    const int q = nStripWidth / 4;
    return {nFace * q, 0, (nFace + 1) * q, nStripHeight};
}

std::array<SkinImage, 4> CutButtonFaces(SkinImage strip) {
    std::array<SkinImage, 4> faces;
    const int nWidth = strip.PixelWidth();
    const int nHeight = strip.PixelHeight();
    if (!strip.HasPixels() || nWidth / 4 == 0) {
        return faces;
    }
    for (int nFace : {kFacePressed, kFaceFocused, kFaceDisabled}) {
        const SkinRect rc = ButtonFaceRect(nWidth, nHeight, nFace);
        strip.CutOut(rc.left, rc.top, rc.right, rc.bottom, &faces[static_cast<size_t>(nFace)]);
    }
    const SkinRect rcNormal = ButtonFaceRect(nWidth, nHeight, kFaceNormal);
    strip.CutOut(rcNormal.left, rcNormal.top, rcNormal.right, rcNormal.bottom);
    faces[kFaceNormal] = std::move(strip);
    return faces;
}

}  // namespace klangor

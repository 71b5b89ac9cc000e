#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <gif_lib.h>

#include "skin/SkinDecoders.h"

namespace klangor {

namespace {

struct GifSource {
    const uint8_t *pData;
    size_t nSize;
    size_t nOffset;
};

int ReadGifBytes(GifFileType *pGif, GifByteType *pBuffer, int nWanted) {
    auto *pSource = static_cast<GifSource *>(pGif->UserData);
    const size_t nLeft = pSource->nSize - pSource->nOffset;
    const size_t nCount = std::min(nLeft, static_cast<size_t>(std::max(nWanted, 0)));
    std::memcpy(pBuffer, pSource->pData + pSource->nOffset, nCount);
    pSource->nOffset += nCount;
    return static_cast<int>(nCount);
}

struct GifCloser {
    void operator()(GifFileType *pGif) const {
        int nError = 0;
        DGifCloseFile(pGif, &nError);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

uint32_t PaletteWord(const ColorMapObject &map, int nIndex, uint32_t uAlpha) {
    if (nIndex < 0 || nIndex >= map.ColorCount) {
        return uAlpha << 24;  // an index past the palette reads as black
    }
    const GifColorType &c = map.Colors[nIndex];
    return (uAlpha << 24) | (uint32_t{c.Red} << 16) | (uint32_t{c.Green} << 8) | uint32_t{c.Blue};
}

// Reads records up to the first image, keeping the transparent index of a graphics control block.
// Returns false on damage or when the file holds no image.
bool SkipToFirstImage(GifFileType *pGif, int &nTransparent) {
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(pGif, &record) != GIF_OK) {
            return false;
        }
        if (record == IMAGE_DESC_RECORD_TYPE) {
            return DGifGetImageDesc(pGif) == GIF_OK;
        }
        if (record != EXTENSION_RECORD_TYPE) {
            return false;  // the trailer, or anything unknown, before any image
        }
        int nCode = 0;
        GifByteType *pBlock = nullptr;
        if (DGifGetExtension(pGif, &nCode, &pBlock) != GIF_OK) {
            return false;
        }
        if (nCode == GRAPHICS_EXT_FUNC_CODE && pBlock != nullptr) {
            GraphicsControlBlock gcb{};
            if (DGifExtensionToGCB(pBlock[0], pBlock + 1, &gcb) == GIF_OK) {
                nTransparent = gcb.TransparentColor;
            }
        }
        while (pBlock != nullptr) {
            if (DGifGetExtensionNext(pGif, &pBlock) != GIF_OK) {
                return false;
            }
        }
    }
}

}  // namespace

bool DecodeGif(const uint8_t *pData, size_t nSize, SkinImage &image) {
    GifSource source{pData, nSize, 0};
    int nError = 0;
    GifHandle gif(DGifOpen(&source, ReadGifBytes, &nError));
    if (!gif) {
        return false;
    }
    const int nWidth = gif->SWidth;
    const int nHeight = gif->SHeight;
    if (!SkinImage::IsAcceptableSize(nWidth, nHeight)) {
        return false;
    }
    int nTransparent = NO_TRANSPARENT_COLOR;
    if (!SkipToFirstImage(gif.get(), nTransparent)) {
        return false;
    }
    const GifImageDesc &desc = gif->Image;
    // A frame must lie wholly on its screen; giflib reads its size from the file unchecked.
    if (desc.Width <= 0 || desc.Height <= 0 || desc.Left < 0 || desc.Top < 0 ||
        desc.Left > nWidth - desc.Width || desc.Top > nHeight - desc.Height) {
        return false;
    }
    const ColorMapObject *pMap = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (pMap == nullptr || pMap->Colors == nullptr) {
        return false;
    }
    const bool bTransparent = nTransparent != NO_TRANSPARENT_COLOR;

    // The screen outside the frame shows its background colour, or nothing when the picture has a
    // transparent colour.
    uint32_t uScreen = 0;
    if (!bTransparent && gif->SColorMap != nullptr) {
        uScreen = PaletteWord(*gif->SColorMap, gif->SBackGroundColor, 0xFF);
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight), uScreen);
    std::vector<GifPixelType> line(static_cast<size_t>(desc.Width));

    // Interlaced pictures arrive in four passes of rows.
    static constexpr int kPassStart[] = {0, 4, 2, 1};
    static constexpr int kPassStep[] = {8, 8, 4, 2};
    const int nPasses = desc.Interlace ? 4 : 1;
    for (int nPass = 0; nPass < nPasses; ++nPass) {
        const int nStart = desc.Interlace ? kPassStart[nPass] : 0;
        const int nStep = desc.Interlace ? kPassStep[nPass] : 1;
        for (int y = nStart; y < desc.Height; y += nStep) {
            if (DGifGetLine(gif.get(), line.data(), desc.Width) != GIF_OK) {
                return false;
            }
            uint32_t *pRow = pixels.data() + static_cast<size_t>(desc.Top + y) * nWidth + desc.Left;
            for (int x = 0; x < desc.Width; ++x) {
                const int nIndex = line[static_cast<size_t>(x)];
                pRow[x] = PaletteWord(*pMap, nIndex, bTransparent && nIndex == nTransparent ? 0x00 : 0xFF);
            }
        }
    }

    std::optional<SkinRgb> transparent;
    if (bTransparent) {
        const uint32_t uKey = PaletteWord(*pMap, nTransparent, 0);
        transparent = SkinRgb{static_cast<uint8_t>(uKey >> 16), static_cast<uint8_t>(uKey >> 8),
                              static_cast<uint8_t>(uKey)};
    }
    image.Assign(nWidth, nHeight, std::move(pixels), 8, transparent, bTransparent);
    return true;
}

}  // namespace klangor

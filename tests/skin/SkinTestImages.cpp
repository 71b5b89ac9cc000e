#include "skin/SkinTestImages.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <cstdio>

#include <gif_lib.h>
#include <jpeglib.h>

namespace klangor {

namespace {

int AppendBytes(GifFileType *pGif, const GifByteType *pData, int nCount) {
    static_cast<std::string *>(pGif->UserData)->append(reinterpret_cast<const char *>(pData), nCount);
    return nCount;
}

struct GifWriterCloser {
    void operator()(GifFileType *pGif) const {
        int nError = 0;
        EGifCloseFile(pGif, &nError);
    }
};

struct ColourMapFree {
    void operator()(ColorMapObject *pMap) const { GifFreeMapObject(pMap); }
};

int ColourBits(size_t nEntries) {
    int nBits = 1;
    while ((size_t{1} << nBits) < nEntries) {
        ++nBits;
    }
    return nBits;
}

}  // namespace

std::string EncodeGif(const TestGif &gif) {
    std::string bytes;
    int nError = 0;
    std::unique_ptr<GifFileType, GifWriterCloser> writer(EGifOpen(&bytes, AppendBytes, &nError));
    if (!writer) {
        throw std::runtime_error("EGifOpen failed");
    }
    std::unique_ptr<ColorMapObject, ColourMapFree> map(
        GifMakeMapObject(static_cast<int>(gif.palette.size()), nullptr));
    if (!map) {
        throw std::runtime_error("GifMakeMapObject failed");
    }
    for (size_t i = 0; i < gif.palette.size(); ++i) {
        map->Colors[i].Red = static_cast<GifByteType>(gif.palette[i] >> 16);
        map->Colors[i].Green = static_cast<GifByteType>(gif.palette[i] >> 8);
        map->Colors[i].Blue = static_cast<GifByteType>(gif.palette[i]);
    }
    EGifSetGifVersion(writer.get(), true);
    if (EGifPutScreenDesc(writer.get(), gif.nWidth, gif.nHeight, ColourBits(gif.palette.size()), 0,
                          map.get()) != GIF_OK) {
        throw std::runtime_error("EGifPutScreenDesc failed");
    }
    if (gif.nTransparent >= 0) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.TransparentColor = gif.nTransparent;
        GifByteType ext[4];
        const size_t nLen = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(writer.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(nLen), ext);
    }
    if (EGifPutImageDesc(writer.get(), 0, 0, gif.nWidth, gif.nHeight, gif.bInterlace, nullptr) != GIF_OK) {
        throw std::runtime_error("EGifPutImageDesc failed");
    }
    // giflib writes rows as given; an interlaced picture wants them in its four passes.
    std::vector<int> rows;
    if (gif.bInterlace) {
        const int aStart[] = {0, 4, 2, 1};
        const int aStep[] = {8, 8, 4, 2};
        for (int nPass = 0; nPass < 4; ++nPass) {
            for (int y = aStart[nPass]; y < gif.nHeight; y += aStep[nPass]) {
                rows.push_back(y);
            }
        }
    } else {
        for (int y = 0; y < gif.nHeight; ++y) {
            rows.push_back(y);
        }
    }
    std::vector<GifPixelType> line(static_cast<size_t>(gif.nWidth));
    for (int y : rows) {
        for (int x = 0; x < gif.nWidth; ++x) {
            line[static_cast<size_t>(x)] = gif.indices[static_cast<size_t>(y) * gif.nWidth + x];
        }
        if (EGifPutLine(writer.get(), line.data(), gif.nWidth) != GIF_OK) {
            throw std::runtime_error("EGifPutLine failed");
        }
    }
    writer.reset();
    return bytes;
}

size_t GifImageDescriptorOffset(const TestGif &gif) {
    const size_t nPalette = size_t{3} << ColourBits(gif.palette.size());
    return 13 + nPalette + (gif.nTransparent >= 0 ? 8 : 0);
}

void PutLittleEndian16(std::string &bytes, size_t nOffset, int nValue) {
    bytes[nOffset] = static_cast<char>(nValue & 0xFF);
    bytes[nOffset + 1] = static_cast<char>((nValue >> 8) & 0xFF);
}

std::string EncodeCmykJpeg(int nWidth, int nHeight, const uint8_t aInk[4], bool bAdobeInverted) {
    // libjpeg's default error handler ends the process; the input here is always valid.
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char *pBuffer = nullptr;
    unsigned long nSize = 0;
    jpeg_mem_dest(&info, &pBuffer, &nSize);
    info.image_width = static_cast<JDIMENSION>(nWidth);
    info.image_height = static_cast<JDIMENSION>(nHeight);
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, JCS_CMYK);
    info.write_Adobe_marker = bAdobeInverted ? TRUE : FALSE;
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(nWidth) * 4);
    for (int x = 0; x < nWidth; ++x) {
        for (int c = 0; c < 4; ++c) {
            row[static_cast<size_t>(x) * 4 + c] =
                bAdobeInverted ? static_cast<JSAMPLE>(255 - aInk[c]) : aInk[c];
        }
    }
    while (info.next_scanline < info.image_height) {
        JSAMPROW pRow = row.data();
        jpeg_write_scanlines(&info, &pRow, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<const char *>(pBuffer), nSize);
    std::free(pBuffer);
    return bytes;
}

}  // namespace klangor

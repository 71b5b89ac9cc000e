#include "ImageWriters.h"

#include <csetjmp>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>

namespace klangor {

namespace {

struct FileCloser {
    void operator()(std::FILE *pFile) const { std::fclose(pFile); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle OpenForWriting(const std::filesystem::path &pathFile) {
    FileHandle file(std::fopen(pathFile.c_str(), "wb"));
    if (!file) {
        throw std::runtime_error("cannot create " + pathFile.string());
    }
    return file;
}

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr pInfo) {
    std::longjmp(reinterpret_cast<JpegErrorManager *>(pInfo->err)->jump, 1);
}

struct JpegCompressState {
    jpeg_compress_struct info{};
    JpegErrorManager err{};
    bool bCreated = false;
    JpegCompressState() {
        info.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = OnJpegError;
    }
    ~JpegCompressState() {
        if (bCreated) {
            jpeg_destroy_compress(&info);
        }
    }
    JpegCompressState(const JpegCompressState &) = delete;
    JpegCompressState &operator=(const JpegCompressState &) = delete;
};

// All libjpeg calls below the setjmp; only trivially destructible locals in this frame.
bool RunCompress(JpegCompressState &state, const QImage &rgb, std::FILE *pFile, int nQuality) {
    if (setjmp(state.err.jump)) {
        return false;
    }
    jpeg_create_compress(&state.info);
    state.bCreated = true;
    jpeg_stdio_dest(&state.info, pFile);
    state.info.image_width = static_cast<JDIMENSION>(rgb.width());
    state.info.image_height = static_cast<JDIMENSION>(rgb.height());
    state.info.input_components = 3;
    state.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&state.info);
    jpeg_set_quality(&state.info, nQuality, TRUE);
    for (int c = 0; c < 3; ++c) {
        state.info.comp_info[c].h_samp_factor = 1;
        state.info.comp_info[c].v_samp_factor = 1;
    }
    state.info.optimize_coding = TRUE;
    jpeg_start_compress(&state.info, TRUE);
    while (state.info.next_scanline < state.info.image_height) {
        JSAMPROW pRow = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(state.info.next_scanline)));
        jpeg_write_scanlines(&state.info, &pRow, 1);
    }
    jpeg_finish_compress(&state.info);
    return true;
}

int WriteGifBytes(GifFileType *pGif, const GifByteType *pData, int nCount) {
    return static_cast<int>(
        std::fwrite(pData, 1, static_cast<size_t>(nCount), static_cast<std::FILE *>(pGif->UserData)));
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

}  // namespace

void WriteJpeg(const QImage &image, const std::filesystem::path &pathFile, int nQuality) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    FileHandle file = OpenForWriting(pathFile);
    JpegCompressState state;
    if (!RunCompress(state, rgb, file.get(), nQuality) || std::fflush(file.get()) != 0) {
        throw std::runtime_error("JPEG compression failed for " + pathFile.string());
    }
}

void WriteGifWithTransparency(const QImage &image, const QColor &matte,
                              const std::filesystem::path &pathFile) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const int nWidth = argb.width();
    const int nHeight = argb.height();
    constexpr int kTransparentIndex = 0;

    // Opaque colours after compositing; quantised more coarsely until they fit the palette.
    std::vector<QRgb> opaque(static_cast<size_t>(nWidth) * nHeight);
    std::vector<bool> clear(opaque.size());
    for (int y = 0; y < nHeight; ++y) {
        const QRgb *pRow = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < nWidth; ++x) {
            const QRgb px = pRow[x];
            const int a = qAlpha(px);
            const size_t i = static_cast<size_t>(y) * nWidth + x;
            clear[i] = a < 128;
            auto mix = [a](int c, int m) { return (c * a + m * (255 - a) + 127) / 255; };
            opaque[i] = qRgb(mix(qRed(px), matte.red()), mix(qGreen(px), matte.green()),
                             mix(qBlue(px), matte.blue()));
        }
    }
    std::map<QRgb, int> indexOf;
    for (int nShift = 0; nShift <= 5; ++nShift) {
        indexOf.clear();
        const int nMask = 0xFF & ~((1 << nShift) - 1);
        for (size_t i = 0; i < opaque.size(); ++i) {
            if (!clear[i]) {
                indexOf.emplace(
                    qRgb(qRed(opaque[i]) & nMask, qGreen(opaque[i]) & nMask, qBlue(opaque[i]) & nMask), 0);
            }
        }
        if (indexOf.size() <= 255) {
            for (size_t i = 0; i < opaque.size(); ++i) {
                opaque[i] =
                    qRgb(qRed(opaque[i]) & nMask, qGreen(opaque[i]) & nMask, qBlue(opaque[i]) & nMask);
            }
            break;
        }
    }
    if (indexOf.size() > 255) {
        throw std::runtime_error("too many colours for a GIF: " + pathFile.string());
    }
    std::unique_ptr<ColorMapObject, ColourMapFree> map(GifMakeMapObject(256, nullptr));
    if (!map) {
        throw std::runtime_error("GifMakeMapObject failed");
    }
    // The transparent entry's own colour is never shown; a loud key colour makes mistakes visible.
    map->Colors[kTransparentIndex] = GifColorType{255, 0, 255};
    int nNext = 1;
    for (auto &[rgb, nIndex] : indexOf) {
        nIndex = nNext++;
        map->Colors[nIndex] =
            GifColorType{static_cast<GifByteType>(qRed(rgb)), static_cast<GifByteType>(qGreen(rgb)),
                         static_cast<GifByteType>(qBlue(rgb))};
    }
    for (int i = nNext; i < 256; ++i) {
        map->Colors[i] = GifColorType{0, 0, 0};
    }

    FileHandle file = OpenForWriting(pathFile);
    int nError = 0;
    std::unique_ptr<GifFileType, GifWriterCloser> gif(EGifOpen(file.get(), WriteGifBytes, &nError));
    if (!gif) {
        throw std::runtime_error("EGifOpen failed for " + pathFile.string());
    }
    EGifSetGifVersion(gif.get(), true);
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.TransparentColor = kTransparentIndex;
    GifByteType ext[4];
    const size_t nExt = EGifGCBToExtension(&gcb, ext);
    std::vector<GifPixelType> line(static_cast<size_t>(nWidth));
    bool bOk = EGifPutScreenDesc(gif.get(), nWidth, nHeight, 8, kTransparentIndex, map.get()) == GIF_OK &&
               EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(nExt), ext) == GIF_OK &&
               EGifPutImageDesc(gif.get(), 0, 0, nWidth, nHeight, false, nullptr) == GIF_OK;
    for (int y = 0; bOk && y < nHeight; ++y) {
        for (int x = 0; x < nWidth; ++x) {
            const size_t i = static_cast<size_t>(y) * nWidth + x;
            line[static_cast<size_t>(x)] =
                clear[i] ? kTransparentIndex : static_cast<GifPixelType>(indexOf.at(opaque[i]));
        }
        bOk = EGifPutLine(gif.get(), line.data(), nWidth) == GIF_OK;
    }
    GifFileType *pGif = gif.release();
    bOk = EGifCloseFile(pGif, &nError) == GIF_OK && bOk;
    if (!bOk || std::fflush(file.get()) != 0) {
        throw std::runtime_error("GIF encoding failed for " + pathFile.string());
    }
}

}  // namespace klangor

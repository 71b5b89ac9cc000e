#include <bit>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "skin/SkinDecoders.h"

namespace klangor {

namespace {

// Decoded straight into the image's 0xAARRGGBB words: on a little-endian machine those bytes run
// B, G, R, A.
constexpr J_COLOR_SPACE kArgbWordSpace =
    std::endian::native == std::endian::little ? JCS_EXT_BGRA : JCS_EXT_ARGB;

// libjpeg's own error handler ends the process; this one jumps back to the decode instead, and counts
// warnings, which libjpeg gives for truncated or corrupt data it then papers over with grey.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    int nWarnings = 0;
};

[[noreturn]] void OnJpegError(j_common_ptr pInfo) {
    std::longjmp(reinterpret_cast<JpegErrorManager *>(pInfo->err)->jump, 1);
}

void OnJpegMessage(j_common_ptr pInfo, int nLevel) {
    if (nLevel < 0) {
        ++reinterpret_cast<JpegErrorManager *>(pInfo->err)->nWarnings;
    }
}

// Owns the decompressor; lives in the caller's frame so that nothing with a destructor is skipped
// when an error jumps back into RunDecompress.
struct JpegState {
    jpeg_decompress_struct info{};
    JpegErrorManager err{};
    bool bCreated = false;

    JpegState() {
        info.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = OnJpegError;
        err.pub.emit_message = OnJpegMessage;
    }
    ~JpegState() {
        if (bCreated) {
            jpeg_destroy_decompress(&info);
        }
    }
    JpegState(const JpegState &) = delete;
    JpegState &operator=(const JpegState &) = delete;
};

struct JpegOutput {
    int nWidth = 0;
    int nHeight = 0;
    int nBitsPerPixel = 0;
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> row;  // one CMYK row
};

uint8_t InkToLight(unsigned uInk, unsigned uBlack, bool bInverted) {
    // Adobe writes CMYK inverted (0 = full ink); others write it plain.
    if (!bInverted) {
        uInk = 255u - uInk;
        uBlack = 255u - uBlack;
    }
    return static_cast<uint8_t>((uInk * uBlack + 127u) / 255u);
}

// Every libjpeg call happens here, below the setjmp; only trivially destructible locals live in
// this frame.
bool RunDecompress(JpegState &state, const uint8_t *pData, size_t nSize, JpegOutput &out) {
    if (setjmp(state.err.jump)) {
        return false;
    }
    jpeg_create_decompress(&state.info);
    state.bCreated = true;
    // Bound libjpeg's own working memory (progressive pictures buffer every coefficient).
    state.info.mem->max_memory_to_use = 512L * 1024L * 1024L;
    jpeg_mem_src(&state.info, pData, static_cast<unsigned long>(nSize));
    if (jpeg_read_header(&state.info, TRUE) != JPEG_HEADER_OK) {
        return false;
    }
    if (!SkinImage::IsAcceptableSize(state.info.image_width, state.info.image_height)) {
        return false;
    }
    const bool bCmyk = state.info.jpeg_color_space == JCS_CMYK || state.info.jpeg_color_space == JCS_YCCK;
    state.info.out_color_space = bCmyk ? JCS_CMYK : kArgbWordSpace;
    jpeg_start_decompress(&state.info);

    out.nWidth = static_cast<int>(state.info.output_width);
    out.nHeight = static_cast<int>(state.info.output_height);
    out.nBitsPerPixel = state.info.jpeg_color_space == JCS_GRAYSCALE ? 8 : 24;
    out.pixels.resize(static_cast<size_t>(out.nWidth) * static_cast<size_t>(out.nHeight));
    if (bCmyk) {
        out.row.resize(static_cast<size_t>(out.nWidth) * 4);
    }
    const bool bInverted = state.info.saw_Adobe_marker;
    while (state.info.output_scanline < state.info.output_height) {
        const size_t y = state.info.output_scanline;
        uint32_t *pTarget = out.pixels.data() + y * static_cast<size_t>(out.nWidth);
        JSAMPROW pRow = bCmyk ? out.row.data() : reinterpret_cast<JSAMPROW>(pTarget);
        if (jpeg_read_scanlines(&state.info, &pRow, 1) != 1) {
            return false;
        }
        if (bCmyk) {
            for (int x = 0; x < out.nWidth; ++x) {
                const uint8_t *pInk = out.row.data() + static_cast<size_t>(x) * 4;
                const uint32_t r = InkToLight(pInk[0], pInk[3], bInverted);
                const uint32_t g = InkToLight(pInk[1], pInk[3], bInverted);
                const uint32_t b = InkToLight(pInk[2], pInk[3], bInverted);
                pTarget[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
            }
        }
    }
    jpeg_finish_decompress(&state.info);
    return state.err.nWarnings == 0;
}

}  // namespace

bool DecodeJpeg(const uint8_t *pData, size_t nSize, SkinImage &image) {
    JpegState state;
    JpegOutput out;
    if (!RunDecompress(state, pData, nSize, out)) {
        return false;
    }
    image.Assign(out.nWidth, out.nHeight, std::move(out.pixels), out.nBitsPerPixel, std::nullopt, false);
    return true;
}

}  // namespace klangor

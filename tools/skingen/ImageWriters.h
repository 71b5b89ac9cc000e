#pragma once

#include <QColor>
#include <QImage>
#include <filesystem>
#include <string>

namespace klangor {

// Writers for the skin's two file formats, on libjpeg's compressor and giflib's encoder. Each throws
// std::runtime_error naming the file when it fails.

// A baseline JPEG without chroma subsampling, so thin icon strokes and text keep their colour.
void WriteJpeg(const QImage &image, const std::filesystem::path &pathFile, int nQuality);

// A GIF89a with one transparent palette index. Pixels with alpha below one half become that index;
// the rest are composited over matte (so soft edges suit the colour they are drawn on) and quantised
// to the remaining 255 palette entries.
void WriteGifWithTransparency(const QImage &image, const QColor &matte,
                              const std::filesystem::path &pathFile);

}  // namespace klangor

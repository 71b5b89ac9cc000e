#pragma once

#include <cstdio>

struct AVFormatContext;
struct AVIOContext;

namespace klangor {

// libavformat's output into one of our files (the temporary OutputFile): every byte goes through a
// 256 KiB buffer and a checked write, so a failed write fails the muxer's call instead of being
// dropped. Seekable only when the file is a regular one, as a container that patches its header
// needs; a pipe or a device is written straight on.
bool IsSeekableFile(FILE *pFile);
// nullptr when out of memory. The file must outlive the context.
AVIOContext *OpenFileAvio(FILE *pFile);
// Frees the context and its buffer; *ppContext becomes nullptr.
void CloseFileAvio(AVIOContext **ppContext);
// Writes the container's trailer and every byte still buffered: libavformat's status, negative when
// the trailer or any earlier write failed.
int FinishFileOutput(AVFormatContext *pFormat);

}  // namespace klangor

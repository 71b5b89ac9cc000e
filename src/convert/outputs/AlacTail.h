#pragma once

struct AVCodecParameters;
struct AVPacket;

namespace klangor {

// Re-encodes the first nKeep frames of one ALAC packet, losslessly, as a frame that says its own length,
// in place of the packet: an MP4 reader that ends a track only on whole packets then ends it on the
// selection's last sample. The new frame is decoded with the source's own settings and compared with
// what it replaces; false, with the packet unchanged, when anything differs or fails.
bool ShortenAlacPacket(const AVCodecParameters &params, AVPacket &packet, int nKeep);

}  // namespace klangor

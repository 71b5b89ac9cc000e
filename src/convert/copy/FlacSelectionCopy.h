#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "media/MediaTags.h"
#include "settings/EncoderSettings.h"

namespace klangor {

class AudioStreamReader;

// The block size a FLAC track's frames all have, 0 when they vary or it is no FLAC.
int FlacBlockSizeOf(const std::string &strSourcePath, int nTrack);

// A selection of a FLAC source, encoded again losslessly into FLAC (CodecOutput): the same samples at
// the source's depth, in blocks of the source's size where it has one. FLAC's frames cannot be cut,
// and a FLAC file has no way to say that part of a frame is not to be played. Owned by the one worker
// that converts the job.
class FlacSelectionCopy {
public:
    // Reads the reader's range (opened for 32-bit float samples) to its end or until fnStopped, and
    // tells fnChunk of each chunk taken. nBits is the depth kept (16 or 24). False on a failure;
    // GetError says what failed.
    bool Copy(const std::string &strSourcePath, AudioStreamReader &reader, int nBits,
              const EncoderSettings &settings, const MediaTags &tags, FILE *pFile,
              const std::function<bool()> &fnStopped, const std::function<void(uint32_t)> &fnChunk);
    const std::string &GetError() const { return m_strError; }

private:
    std::string m_strError;
};

}  // namespace klangor

#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "media/MediaTags.h"
#include "settings/EncoderSettings.h"

namespace klangor {

class AudioStreamReader;
class ConversionJob;

// A selection of a track whose packets cannot simply be cut, copied as near to exactly as its codec and
// container allow: MP3 frames with an Info frame that trims them (Mp3FrameCopy), FLAC encoded again
// losslessly (FlacSelectionCopy), AC-3, E-AC-3 and DTS on whole frames, the job noting how far they lie
// from the selection (RawFrameCopy). Owned by the one worker that converts the job.
class SelectionCopy {
public:
    enum class Kind { None, Mp3Frames, Flac, WholeFrames };
    // How the source's track is cut; None for a codec this does not cut.
    static Kind KindOf(const std::string &strSourcePath, int nTrack);

    // Copies the reader's range (the job's selection, opened for 32-bit float samples) of a Kind other
    // than None into pFile; fnStopped true ends it early with a shorter file; fnProgress gets the
    // frames copied so far. False on a failure; GetError says what failed.
    bool Copy(Kind kind, ConversionJob &job, AudioStreamReader &reader, const EncoderSettings &settings,
              FILE *pFile, const std::function<bool()> &fnStopped,
              const std::function<void(uint64_t)> &fnProgress);
    // What the written file gets before its final name (the MP3's tags); false when that failed.
    bool Complete(const std::string &strTempPath) const;
    const std::string &GetError() const { return m_strError; }

private:
    Kind m_kind = Kind::None;
    MediaTags m_tags;
    std::string m_strError;
};

}  // namespace klangor

#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "clips/ClipInfo.h"
#include "settings/SplitSettings.h"

namespace klangor {

class AudioStreamReader;
class ConversionJob;

// One output of a divided source: a range of the source's frames and what the source calls it.
struct OutputPart {
    uint32_t nStartFrame = 0;
    uint32_t nEndFrame = 0;     // past the last frame; for a part that runs to the end, the estimate
    bool bToStreamEnd = false;  // the part runs to the real end of the stream
    std::string strTitle;       // the chapter's or the cue sheet's; empty for none
    std::string strPerformer;   // the cue sheet's track PERFORMER
};

// Where a source divides, within the range its job converts.
struct SourceParts {
    std::vector<OutputPart> parts;  // in order, each starting where the one before ends; fewer than two:
                                    // the source is converted whole
    bool bNamed = false;            // the parts are a sheet's tracks: even one alone is a part, named
                                    // and tagged as the sheet has it
    std::string strNote;            // why a source asked to be divided is not, or what of it is left
                                    // out, for the file's line
    std::string strAlbum;           // the cue sheet's TITLE and PERFORMER; empty without one
    std::string strAlbumArtist;
};

// Whether the source is written as parts (named, numbered and tagged as such) rather than whole.
inline bool WritesParts(const SourceParts &plan) {
    return plan.parts.size() >= 2 || (plan.bNamed && plan.parts.size() == 1);
}

// The parts of the opened reader's range (the job's selection, or the whole source) under split. Silence
// and snapping read the audio once more; fnStopped ends that early. False, with the reason in strError,
// when the source cannot be divided as asked (a cue sheet that cannot be read, a read that failed).
bool PlanParts(const ConversionJob &job, const AudioStreamReader &reader, const SplitSettings &split,
               const std::function<bool()> &fnStopped, SourceParts &plan, std::string &strError);

// Where the clip divides under split, as a batch would divide it: the seconds from the source's start
// at which each part after the first begins. Empty when the clip stays whole, cannot be read, or
// fnStopped ends the look early.
std::vector<double> SplitPointsOf(const std::string &strPath, const ClipInfo &selection,
                                  const SplitSettings &split, const std::function<bool()> &fnStopped);

// The frames of a time at a sample rate, rounded to the nearest.
uint64_t FramesAt(int64_t llNs, uint32_t nRate);

}  // namespace klangor

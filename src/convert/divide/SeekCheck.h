#pragma once

#include <cstdint>
#include <vector>

namespace klangor {

class AudioStreamReader;

// Where one later piece of a divided encode reads its source: its reader opens (seeks) at nOpenAt, and
// from nCheckFrom on its samples go into the output, so from there they must be the ones an undivided
// decode gives. Frames are absolute.
struct SeekProbe {
    uint32_t nOpenAt = 0;
    uint32_t nCheckFrom = 0;
};

// What the check found at one probe: the offset at which the probe's samples best match a decode
// that reached them from further back, and how well they match there (1: the same samples).
struct SeekLanding {
    bool bRead = false;   // both decodes gave the whole window
    int nOffset = 0;      // frames the probe's decode is late by (negative: early)
    double dMatch = 0.0;  // normalised correlation at that offset
};

// Frames compared at each probe, and how far either way a slipped decoder is looked for.
constexpr uint32_t kSeekWindowFrames = 4096;
constexpr int kSeekReachFrames = 2048;

// Decodes the window at one probe twice, as the piece will (opened at nOpenAt) and as a reader opened
// at nReferenceAt, before it, decodes on to it, and finds the best-matching offset between them.
// Decoders that fill bands with noise or dither never decode the same twice, so equality is not asked:
// only where the match is best.
SeekLanding MeasureSeekLanding(const AudioStreamReader &job, const SeekProbe &probe, uint32_t nReferenceAt);

// True when the decoder lands where it seeks: at every probe, against a decode from a little earlier
// (which catches a decoder that settles late or lands by where it sought), and once, seconds into the
// job, against the decode from the job's start (which catches one that lands alike but wrongly at
// every seek). Landing is the best match at offset 0, and a match rather than two unrelated signals;
// a window of silence in both decodes lands anywhere. Reads only a few seconds around the probes, so
// it is made before any piece is encoded; a file that fails it is encoded whole, once.
bool SeeksLandExactly(const AudioStreamReader &job, const std::vector<SeekProbe> &probes);

}  // namespace klangor

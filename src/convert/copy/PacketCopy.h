#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "media/MediaTags.h"

extern "C" {
#include <libavutil/rational.h>
}

struct AVFormatContext;
struct AVPacket;

namespace klangor {

// The source's nTrack-th audio stream (1-based, 0 the main one), or -1 when there is none.
int AudioStreamOf(AVFormatContext *pFormat, int nTrack);
// Opens the source into pFormat (closed by the caller) and finds its track: the stream's index, -1
// when it cannot be opened or has no such track. bFullProbe reads every stream's parameters.
int OpenSource(const std::string &strPath, int nTrack, bool bFullProbe, AVFormatContext *&pFormat);

// The extension a copy of the source's audio track gets (".m4a", ".wav", ...; ".mka" for a codec
// without a container of its own). nTrack is 1-based, 0 the source's main audio track.
std::string CopyExtensionOf(const std::string &strSourcePath, int nTrack);

// Copies one audio track's packets, unchanged, into the container that suits its codec; big-endian PCM
// becomes little-endian (WAV's) of the same depth. A selection keeps PCM's frames in it and the other
// codecs' packets that cover it, the container told where it starts and ends. The container's bytes go
// through our own checked writes to the caller's (temporary) file. Owned by the one worker that converts
// the job.
class PacketCopy {
public:
    PacketCopy() = default;
    ~PacketCopy();
    PacketCopy(const PacketCopy &) = delete;
    PacketCopy &operator=(const PacketCopy &) = delete;

    // The frames of a selection, the end past the last frame for one that runs to the end.
    struct Range {
        uint64_t nStart = 0;
        uint64_t nEnd = UINT64_MAX;
    };
    // Copies the whole track, or exactly the frames of the range, counted from the first frame a reader
    // presents: PCM's packets are cut at any frame, and AAC's, ALAC's, Opus's and Vorbis's are kept whole
    // with the decoder's pre-roll and the container told where the selection starts and ends; fnStopped true
    // ends it early with a well-formed, shorter file. fnProgress gets the samples copied so far. False on a
    // failure; GetError says what failed.
    bool Copy(const std::string &strSourcePath, int nTrack, const Range &range, const MediaTags &tags,
              FILE *pFile, const std::function<bool()> &fnStopped,
              const std::function<void(uint64_t)> &fnProgress);
    const std::string &GetError() const { return m_strError; }
    // The last Copy failed before writing a byte because its codec's packets cannot be cut: the
    // selection is for another way of cutting to copy.
    bool CouldNotCut() const { return m_bCouldNotCut; }

private:
    bool Fail(const std::string &strText, int iError = 0);
    // llPreSkip: for a cut, the frames the first kept packet holds ahead of the range's start, which
    // the container is told to skip; -1 for a whole copy.
    bool OpenOutput(int iSource, const MediaTags &tags, FILE *pFile, int64_t llPreSkip);
    // Cuts a PCM packet that begins at frame nAt to the range; false when nothing of it is in it.
    bool CutToRange(AVPacket &packet, uint64_t nAt, const Range &range, int nFrameBytes) const;
    // Writes a kept packet of a cut, which covers the frames from llAt for llFrames; its timestamps
    // become the range's, its duration ends at the range's end.
    bool WriteCutPacket(AVPacket &packet, int64_t llAt, int64_t llFrames, const Range &range);
    bool WritePacket(AVPacket &packet);

    AVFormatContext *m_pSource = nullptr;
    int m_iSourceStream = -1;  // the copied track's stream in m_pSource
    AVFormatContext *m_pOutput = nullptr;
    AVRational m_sourceBase{1, 1};
    AVRational m_sampleBase{1, 1};
    int m_nFirstPagePackets = 0;  // an Ogg cut: the packets still to go on its first page, alone
    int64_t m_llCopied = 0;       // frames of the selection written
    int m_nSwapBytes = 0;         // a big-endian PCM sample's size, 0 when the samples are kept as they are
    std::string m_strError;
    bool m_bCouldNotCut = false;
};

}  // namespace klangor

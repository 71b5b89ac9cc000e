#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

struct AVFormatContext;
struct AVPacket;

namespace klangor {

// The extension a copy of the source's audio track gets (".m4a", ".wav", ...; ".mka" for a codec
// without a container of its own). nTrack is 1-based, 0 the source's main audio track.
std::string CopyExtensionOf(const std::string &strSourcePath, int nTrack);

// Copies one audio track's packets, unchanged, into the container that suits its codec; big-endian PCM
// becomes little-endian (WAV's) of the same depth. The container's bytes go through our own checked
// writes to the caller's (temporary) file. Owned by the one worker that converts the job.
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
    // Whether a selection of the source can be copied exactly: only PCM, whose packets can be cut at
    // any frame.
    static bool CanCut(const std::string &strSourcePath, int nTrack);

    // Copies the whole track, or for PCM (CanCut) exactly the frames of the range; fnStopped true ends it
    // early with a well-formed, shorter file. fnProgress gets the samples copied so far. False on a failure;
    // GetError says what failed.
    bool Copy(const std::string &strSourcePath, int nTrack, const Range &range, bool bWithTags, FILE *pFile,
              const std::function<bool()> &fnStopped, const std::function<void(uint64_t)> &fnProgress);
    const std::string &GetError() const { return m_strError; }

private:
    bool Fail(const std::string &strText, int iError = 0);
    bool OpenOutput(int iSource, bool bWithTags, FILE *pFile);
    // Cuts a PCM packet that begins at frame nAt to the range; false when nothing of it is in it.
    bool CutToRange(AVPacket &packet, uint64_t nAt, const Range &range, int nFrameBytes) const;

    AVFormatContext *m_pSource = nullptr;
    AVFormatContext *m_pOutput = nullptr;
    int m_iCoverSource = -1;  // the source's attached picture copied along, -1 none
    int m_nSwapBytes = 0;     // a big-endian PCM sample's size, 0 when the samples are kept as they are
    std::string m_strError;
};

}  // namespace klangor

#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

struct AVFormatContext;

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

    // Copies the whole track; fnStopped true ends it early with a well-formed, shorter file. fnProgress gets
    // the samples copied so far. False on a failure; GetError says what failed.
    bool Copy(const std::string &strSourcePath, int nTrack, bool bWithTags, FILE *pFile,
              const std::function<bool()> &fnStopped, const std::function<void(uint64_t)> &fnProgress);
    const std::string &GetError() const { return m_strError; }

private:
    bool Fail(const std::string &strText, int iError = 0);
    bool OpenOutput(int iSource, bool bWithTags, FILE *pFile);

    AVFormatContext *m_pSource = nullptr;
    AVFormatContext *m_pOutput = nullptr;
    int m_iCoverSource = -1;  // the source's attached picture copied along, -1 none
    int m_nSwapBytes = 0;     // a big-endian PCM sample's size, 0 when the samples are kept as they are
    std::string m_strError;
};

}  // namespace klangor

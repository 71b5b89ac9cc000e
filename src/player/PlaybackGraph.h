#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace klangor {

class VideoSurface;

// Status codes of the playback engine: 0 success, negative failure. libmpv's own error numbers (-1 .. -20)
// pass through unchanged; the player's own answers lie well outside that range.
inline constexpr int kPlaybackOk = 0;
inline constexpr int kPlaybackFalse = 1;                  // success, but the answer is "no"
inline constexpr int kPlaybackNotImplemented = -0x4001;   // e.g. volume of a clip without audio
inline constexpr int kPlaybackNoInterface = -0x4002;      // e.g. video window of a clip without video
inline constexpr int kPlaybackInvalidPointer = -0x4003;   // no path given
inline constexpr int kPlaybackFailed = -0x4005;           // unspecified failure
inline constexpr int kPlaybackInvalidArgument = -0x4057;  // a value outside its range
inline constexpr int kPlaybackPending = 2;                // success so far; the outcome follows later

inline bool PlaybackFailed(int iStatus) {
    return iStatus < 0;
}

// Times are media time: signed 64-bit counts of 100-nanosecond units.
inline constexpr int64_t kMediaTimePerSecond = 10000000;

// One event taken from a playback: a code and two parameters.
inline constexpr long kEventComplete = 1;  // playback reached the stop position or the end of the file
// Playback was ended from outside (a command through the inspection socket stopped it, loaded another
// file or shut the engine down): not a completion, and the playback is of no further use.
inline constexpr long kEventEndedElsewhere = 2;
inline constexpr long kEventErrorAbort = 3;  // playback ended on an error; lParam1 holds the status
// The file given to RenderFile or RenderSource is open (its duration, tracks and video size are known)
// or could not be opened (lParam1 holds the status).
inline constexpr long kEventOpened = 4;
inline constexpr long kEventOpenFailed = 5;
inline constexpr long kEventEngine = 0x1000;  // other engine notices: kEventEngine + the engine's own id

struct GraphEvent {
    long lCode = 0;
    intptr_t lParam1 = 0;
    intptr_t lParam2 = 0;
};

// Bytes that a playback reads as the file it plays, made as they are asked for. Called on the playback's
// own threads; Cancel from any thread, once the playback wants no more of a read under way.
class IPlaybackSource {
public:
    virtual ~IPlaybackSource() = default;
    virtual uint64_t Size() const = 0;
    // Up to nBytes from nOffset (fewer is fine); 0 at the end, negative on failure or once bCancel is set.
    virtual int64_t ReadAt(uint64_t nOffset, uint8_t *pBuffer, uint64_t nBytes,
                           const std::atomic<bool> &bCancel) = 0;
};

// One playback of one file: what the media player needs of its playback engine. Window thread only,
// except the notify callback, which the engine calls from its own threads.
class IPlaybackGraph {
public:
    virtual ~IPlaybackGraph() = default;

    // Starts building the playback for the file, held paused before its first frame is shown, and
    // returns at once: kEventOpened or kEventOpenFailed follows among the events. A file with neither
    // audio nor video fails. Nothing but the events, the notify hook, the audio track and the video
    // window's visibility may be used until the open has ended.
    virtual int RenderFile(const std::string &strPath) = 0;
    // The same for a file made by the source as it is read; the playback keeps the source while open.
    virtual int RenderSource(std::shared_ptr<IPlaybackSource> pSource) {
        (void)pSource;
        return kPlaybackNotImplemented;
    }
    virtual int Run() = 0;
    virtual int Pause() = 0;
    // Stops playing and keeps the current frame on show.
    virtual int Stop() = 0;

    // fnNotify is called, on any thread, whenever events are pending; it must only post. An empty
    // function unhooks it; once SetNotify returns, the old function is no longer running or called.
    virtual int SetNotify(std::function<void()> fnNotify) = 0;
    // Takes the next pending event without waiting; false when there is none.
    virtual bool GetEvent(GraphEvent &event) = 0;

    virtual int GetDuration(int64_t &llDuration) = 0;
    virtual int GetPositions(int64_t &llCurrent, int64_t &llStop) = 0;
    // Both absolute. Playback ends ("complete") when it reaches llStop; a stop at or past the duration
    // plays to the end of the file.
    virtual int SetPositions(int64_t llCurrent, int64_t llStop) = 0;

    virtual int SetRate(double dRate) = 0;
    // Plays the n-th audio track (n >= 1) of the file, or its best one for 0; before or after RenderFile.
    virtual int SetAudioTrack(int nTrack) {
        (void)nTrack;
        return kPlaybackOk;
    }
    virtual int GetRate(double &dRate) = 0;

    // Hundredths of a decibel, -10000 (silence) .. 0 (full); kPlaybackNotImplemented without audio.
    virtual int GetVolume(long &lVolume) = 0;
    virtual int PutVolume(long lVolume) = 0;

    // The video window: kPlaybackNoInterface from GetVisible when the file has no video.
    virtual int GetVisible(bool &bVisible) = 0;
    virtual int SetVisible(bool bVisible) = 0;
    virtual int GetNativeVideoSize(int &iWidth, int &iHeight) = 0;
    // Position and size inside the video host, in the host's client coordinates.
    virtual int SetWindowPosition(int iLeft, int iTop, int iWidth, int iHeight) = 0;
    virtual int GetFullScreenMode(bool &bFullScreen) = 0;
    virtual int PutFullScreenMode(bool bFullScreen) = 0;

    // kPlaybackOk when one frame can be stepped, kPlaybackFalse when not.
    virtual int CanStep() = 0;
    // Shows the next frame and pauses there.
    virtual int Step() = 0;

    // A value that identifies this playback within the process, for its registration name.
    virtual uintptr_t GetReference() const = 0;
    // Opens the inspection socket at the given path (the caller has cleared the way), or closes it with
    // an empty path.
    virtual int SetRegistration(const std::string &strSocketPath) = 0;
};

// Creates playbacks. The engine draws video into the surface it is given.
class IPlaybackEngine {
public:
    virtual ~IPlaybackEngine() = default;
    // Checks once that the engine can run in this process at all.
    virtual int Startup() = 0;
    virtual std::unique_ptr<IPlaybackGraph> CreateGraph(VideoSurface &surface, int &iStatus) = 0;
};

}  // namespace klangor

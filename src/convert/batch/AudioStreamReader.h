#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "clips/ClipInfo.h"
#include "media/AudioDecoder.h"
#include "media/WaveFormat.h"

namespace klangor {

class ConversionJob;

// The decoded PCM stream of one source and the range of its frames to convert, handed out in chunks of
// at most kChunkFrames. Made, opened, read and closed by the one worker that converts its job (or one
// part of it); nothing of it is seen by another thread.
class AudioStreamReader {
public:
    static constexpr uint32_t kChunkFrames = 1000;

    // Where a reader is in its life. A reader is read through once: Open starts it over.
    enum class State {
        Closed,              // never opened, or closed since
        Failed,              // the last Open failed; m_strLastError says why
        ReadingRange,        // open, handing out [m_nStartFrame, m_nEndFrame)
        ReadingToStreamEnd,  // open, handing out every frame from m_nStartFrame to the real end
        Ended,               // the range or the stream is done; ReadChunk returns 0
    };

    explicit AudioStreamReader(AudioDecoderFactory decoderFactory = CreateMediaAudioDecoder);
    AudioStreamReader(const AudioStreamReader &) = delete;
    AudioStreamReader &operator=(const AudioStreamReader &) = delete;
    virtual ~AudioStreamReader();

    // Reads the clip's saved selection now and keeps it for Open, so that later edits of the
    // cut-info file do not reach a batch that has already started.
    void FixSelection(const std::string &strSourcePath);
    // Reads the job's source as the job describes it: the selection it fixed and its track.
    void UseJob(const ConversionJob &job);
    // Decodes the n-th audio track (n >= 1) whatever the cut-info record chose, and fails when the file
    // has fewer; 0 leaves the choice to the record.
    void SetTrackOverride(int nTrack);
    // The audio track the job decodes as it was asked for: 0 the best one, n the n-th.
    int GetTrack() const;
    // Opens the file's primary audio track in the given sample format and fixes the range from its
    // saved selection (the fixed one, if any). False when a step failed; m_strLastError names it.
    bool Open(const std::string &strPath, PcmSampleFormat format = PcmSampleFormat::S16);
    // Opens the same source as an open job, in its sample format, to hand out its frames from nStart
    // (an absolute frame) to nEnd, or to the end of the stream for UINT32_MAX, whatever its saved
    // selection: one part of the job.
    bool OpenPart(const AudioStreamReader &job, uint32_t nStart, uint32_t nEnd = UINT32_MAX);
    // The same part described only: the job's format, track and length and the part's range, with no
    // decoder of its own, so ReadChunk hands out nothing. For a writer that reads the source itself.
    void DescribePart(const AudioStreamReader &job, uint32_t nStart, uint32_t nEnd = UINT32_MAX);
    // The next chunk in m_pBuffer: its frame count (1..1000), 0 when the range is done, -1 on a failure.
    // The samples come multiplied by the gain.
    int ReadChunk();
    // One gain for every sample from the next chunk on (1.0 after Open); 16-bit samples are rounded
    // and held inside their range.
    void SetGain(double dGain) { m_dGain = dGain; }
    double GetGain() const { return m_dGain; }
    // Limits the conversion to [nStart, nEnd); an invalid range changes nothing.
    void SetRange(uint32_t nStart, uint32_t nEnd);
    void Close();

    bool IsOpen() const { return m_state != State::Closed && m_state != State::Failed; }
    bool RunsToStreamEnd() const { return m_state == State::ReadingToStreamEnd; }
    // How much of the input the decoder has read, 0..100, for streams whose length is not known.
    double EstimateReadPercent() const;

    std::string m_strSourcePath;
    WaveFormat m_wfx;
    bool m_bSeekDone = false;
    int m_nBytesPerSample = 0;
    int m_nChannels = 0;
    uint32_t m_nTotalFrames = 0;  // from the container's duration unless counted: range checks, progress
    uint32_t m_nStartFrame = 0;
    uint32_t m_nEndFrame = 0;
    uint32_t m_nFramesToConvert = 0;
    uint32_t m_nFramesRead = 0;
    int64_t m_llDuration = 0;  // 100-nanosecond units
    double m_dUnitsPerFrame = 0.0;
    uint32_t m_nSampleRate = 0;
    std::unique_ptr<uint8_t[]> m_pBuffer;
    int m_nBufferBytes = 0;
    std::string m_strLastError;

private:
    bool Fail(const char *szText);
    void SetPartRange(uint32_t nStart, uint32_t nEnd);
    // A part's source and track: the whole job's.
    void TakeSourceOf(const AudioStreamReader &job);
    void ApplySavedSelection();
    uint32_t CountRealFrames(PcmSampleFormat format);
    std::unique_ptr<IAudioDecoder> MakeDecoder(PcmSampleFormat format);
    bool UpdateSample(uint32_t nFrames, uint32_t &nFilled);
    void ApplyGain(uint32_t nFrames);

    AudioDecoderFactory m_decoderFactory;
    std::unique_ptr<IAudioDecoder> m_pDecoder;
    State m_state = State::Closed;
    PcmSampleFormat m_format = PcmSampleFormat::S16;
    double m_dGain = 1.0;
    // The saved selection taken by FixSelection; bHasSelection false when there was none of ours.
    bool m_bSelectionFixed = false;
    bool m_bHasSelection = false;
    ClipInfo m_selection{};
    int m_nTrackOverride = 0;
    int m_nInheritedTrack = -1;  // a part's: the track its whole job decodes; -1 for a whole job
};

}  // namespace klangor

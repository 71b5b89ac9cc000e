#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "convert/AudioDecoder.h"
#include "convert/WaveFormat.h"

// One conversion job: the source, the output path, the decoded PCM stream and the range of frames to
// convert, handed out in chunks of at most kChunkFrames. Opened on the window thread, then read on the
// writer's thread; one thread at a time.
class AudioStreamReader {
public:
    static constexpr uint32_t kChunkFrames = 1000;

    explicit AudioStreamReader(AudioDecoderFactory decoderFactory = CreateFfmpegAudioDecoder);
    AudioStreamReader(const AudioStreamReader &) = delete;
    AudioStreamReader &operator=(const AudioStreamReader &) = delete;
    virtual ~AudioStreamReader();

    // Opens the file's primary audio track and fixes the range from its saved selection. False when a
    // step failed; m_strLastError names it.
    bool Open(const std::string &strPath);
    // The next chunk in m_pBuffer: its frame count (1..1000), 0 when the range is done, -1 on a failure.
    int ReadChunk();
    // Limits the conversion to [nStart, nEnd); an invalid range changes nothing.
    void SetRange(uint32_t nStart, uint32_t nEnd);
    void Close();

    bool IsOpen() const { return m_bOpen; }
    // True when the last Open succeeded, also after Close: the job can be opened again for its turn.
    bool WasOpened() const { return m_bOpened; }
    // True when the job runs to the real end of the stream rather than to m_nEndFrame.
    bool RunsToStreamEnd() const { return m_bToStreamEnd; }

    std::string m_strSourcePath;
    std::string m_strOutputPath;
    WaveFormat m_wfx;
    bool m_bSeekDone = false;
    int m_nBytesPerSample = 0;
    int m_nChannels = 0;
    uint32_t m_nTotalFrames = 0;  // from the container's duration: for range checks and progress only
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
    // Why the job produced no complete output; empty when it converted. Written by the writer thread
    // while it runs the job, read by the window thread after the batch.
    std::string m_strJobError;

private:
    bool Fail(const char *szText);
    void ApplySavedSelection();
    bool UpdateSample(uint32_t nFrames, uint32_t &nFilled);

    AudioDecoderFactory m_decoderFactory;
    std::unique_ptr<IAudioDecoder> m_pDecoder;
    bool m_bOpen = false;
    bool m_bOpened = false;
    bool m_bToStreamEnd = false;
    bool m_bStreamEnded = false;
};

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/WaveFormat.h"

namespace klangor {

// The sample format a decoder is asked to deliver: 16-bit signed for WAV output, 32-bit float for the
// MP3 encoder, which takes float directly and would otherwise pay for rounding.
enum class PcmSampleFormat { S16, Float };

// What the conversion needs of a decoder: open a file's primary audio track, report its duration and the
// PCM format it delivers, run, seek once to a time, and fill a caller-owned buffer with the next
// consecutive frames. Status results are 0 on success and the decoder's own negative error number on
// failure. Used by one thread at a time.
class IAudioDecoder {
public:
    virtual ~IAudioDecoder() = default;

    virtual int OpenFile(const std::string &strPath) = 0;
    // In 100-nanosecond units; 0 when the container does not know it.
    virtual int GetDuration(int64_t &llDuration) = 0;
    virtual int GetFormat(WaveFormat &wfx) = 0;
    virtual int Run() = 0;
    // The next Fill starts exactly at this time (100-nanosecond units from the first decoded sample).
    virtual int Seek(int64_t llTime) = 0;
    // Fills up to nFrames frames; fewer only when the stream has ended.
    virtual int Fill(uint8_t *pBuffer, uint32_t nFrames, uint32_t &nFilled) = 0;
    // How far into its input the decoder has read, 0..1, or a negative value when it cannot tell. The
    // progress of a stream whose length is unknown is estimated from it.
    virtual double GetReadFraction() const { return -1.0; }
    // Why OpenFile failed, when the decoder can tell better than "no audio" (a missing instrument bank).
    virtual std::string GetFailureText() const { return {}; }
    // Which audio track the next OpenFile decodes: 0 the file's best one, n >= 1 its n-th audio track.
    // A track the file does not have means the best one, unless bStrict, when OpenFile fails instead.
    // Decoders of files with one track only ignore it.
    virtual void SetAudioTrack(int nTrack, bool bStrict) {
        (void)nTrack;
        (void)bStrict;
    }
};

// Makes a fresh decoder for each job, delivering the given format; a null result means no decoder could
// be created.
using AudioDecoderFactory = std::function<std::unique_ptr<IAudioDecoder>(PcmSampleFormat)>;

// The FFmpeg-backed decoder: interleaved PCM of the asked format (16-bit, format tag 1, or 32-bit float,
// format tag 3) at the source's rate, one or two channels, sources with more channels downmixed to stereo.
std::unique_ptr<IAudioDecoder> CreateFfmpegAudioDecoder(PcmSampleFormat format = PcmSampleFormat::S16);

// MIDI files played through the synthesiser: stereo at 44.1 kHz in the asked format.
std::unique_ptr<IAudioDecoder> CreateMidiAudioDecoder(PcmSampleFormat format = PcmSampleFormat::S16);
// The decoder for any media file: the MIDI decoder for MIDI content ("MThd", RIFF "RMID"), else FFmpeg.
std::unique_ptr<IAudioDecoder> CreateMediaAudioDecoder(PcmSampleFormat format = PcmSampleFormat::S16);
// Whether a regular file holds MIDI; a pipe or a device is never opened to look (it could be read once).
bool IsMidiFile(const std::string &strPath);

// Keeps FFmpeg's own diagnostics off the terminal; failures reach the user as the job's failure text.
void SilenceDecoderLog();
// Refuses any single FFmpeg allocation beyond a bound, for the whole process (the player's demuxer
// included). Headers size some buffers from the file's own claims: a few kilobytes of WAV claiming a
// gigabyte of tag text would otherwise have a gigabyte zeroed for it, once per job reading the file.
// Every opening of media through FFmpeg calls this; the window's program also calls it first thing,
// because its player demuxes through FFmpeg without any such opening.
void LimitFfmpegBlockSize();

}  // namespace klangor

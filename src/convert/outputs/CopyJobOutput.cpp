#include "convert/outputs/CopyJobOutput.h"

#include <algorithm>

#include "common/OutputFile.h"
#include "convert/tags/OutputTags.h"
#include "convert/copy/PacketCopy.h"
#include "convert/divide/ScratchFile.h"
#include "convert/copy/SelectionCopy.h"

namespace klangor {

namespace {

constexpr const char *kNotLevelled =
    "The original audio is copied as it is and cannot be levelled or given ReplayGain; turn loudness off "
    "or choose another format";

constexpr const char *kStreamNotCopied =
    "The original audio of a pipe or a device cannot be copied, as it can be read only once; choose another "
    "format";
constexpr const char *kCannotWrite = "Error writing output file";
constexpr const char *kWholeOnly =
    "The original audio of this file can only be copied whole; clear the selection or choose another format";

}  // namespace

void CopyJobOutput::ConvertJob(ConversionJob &job, AudioStreamReader &reader, int32_t nJob) {
    // The packets are read by a reader of their own, after the job's: a pipe or a device has nothing
    // left to give by then.
    if (IsStreamFile(job.GetSourcePath())) {
        FailJob(job, kStreamNotCopied);
        return;
    }
    // Copied packets keep their samples: a copy that ignored the level asked for would look like it had
    // been given it.
    const LoudnessTarget &loudness = SettingsOf(nJob).loudness;
    if (loudness.bNormalize || loudness.bReplayGain) {
        FailJob(job, kNotLevelled);
        return;
    }
    // The reader has applied the saved selection: anything short of the whole track is a cut, made by
    // PacketCopy where packets can be cut, else by SelectionCopy as its codec allows.
    const int nTrack = reader.GetTrack();
    PacketCopy::Range range;
    if (!reader.RunsToStreamEnd() || reader.m_nStartFrame > 0) {
        range.nStart = reader.m_nStartFrame;
        if (!reader.RunsToStreamEnd()) {
            range.nEnd = reader.m_nEndFrame;
        }
    }
    job.SetFramesToConvert(reader.RunsToStreamEnd() ? reader.m_nTotalFrames : reader.m_nFramesToConvert);
    OutputFile file;
    if (!file.Create(job.GetOutputPath())) {
        FailJob(job, kCannotCreateText);
        return;
    }
    uint64_t nShown = 0;
    const auto fnStopped = [this] { return IsStopRequested(); };
    const auto fnProgress = [&job, &nShown](uint64_t nFrames) {
        if (nFrames > nShown) {
            job.AddFrames(static_cast<uint32_t>(std::min<uint64_t>(nFrames - nShown, UINT32_MAX)));
            nShown = nFrames;
        }
    };
    // PacketCopy tells, before it writes anything, when its codec's packets cannot be cut: the source
    // is opened once for that and for the copy.
    PacketCopy copy;
    if (copy.Copy(job.GetSourcePath(), nTrack, range, TagsForJob(job, nTrack), file.Get(), fnStopped,
                  fnProgress)) {
        if (!file.Keep()) {
            FailJob(job, kCannotWrite);
        }
        return;
    }
    const SelectionCopy::Kind cut =
        copy.CouldNotCut() ? SelectionCopy::KindOf(job.GetSourcePath(), nTrack) : SelectionCopy::Kind::None;
    if (!copy.CouldNotCut() || cut == SelectionCopy::Kind::None) {
        FailJob(job, copy.CouldNotCut() ? kWholeOnly : copy.GetError());
        return;
    }
    SelectionCopy selection;
    if (!selection.Copy(cut, job, reader, SettingsOf(nJob).encoder, file.Get(), fnStopped, fnProgress)) {
        FailJob(job, selection.GetError());
    } else if (!file.Keep([&selection](const std::string &strTemp) { return selection.Complete(strTemp); })) {
        FailJob(job, kCannotWrite);
    }
}

bool CopyJobOutput::PartsReadSamples(const ConversionJob &job, const AudioStreamReader &reader) {
    // Only a FLAC source, whose selection is encoded again, reads the parts' samples; every other copy
    // reads the source's packets itself.
    return SelectionCopy::KindOf(job.GetSourcePath(), reader.GetTrack()) == SelectionCopy::Kind::Flac;
}

}  // namespace klangor

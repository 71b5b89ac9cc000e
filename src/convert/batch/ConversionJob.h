#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clips/ClipInfo.h"
#include "convert/batch/OutputNames.h"
#include "media/MediaTags.h"
#include "media/AudioDecoder.h"

namespace klangor {

// One file of a batch: what is to be converted, and how far it has got. The description (source,
// output, the selection taken at Start, track, tags, decoder) is set on the window's thread before the
// batch starts and only read after; the progress is written by the one worker that converts the job
// (and the parts it shares out) and read from any thread, without a lock; the failure text is written
// by that worker before it ends the job and read only once the job has ended, and so is its note.
class ConversionJob {
public:
    // What a part of a divided source is tagged with over the source's own tags; empty fields keep them.
    struct PartTags {
        std::string strTitle;
        std::string strTrack;  // "3/12"
        std::string strAlbum;
        std::string strArtist;
    };

    enum class State : uint8_t { Waiting, Converting, Ended };

    // Where the job stands, read in one go: the pass and its frames come from one atomic word, so a
    // reader never pairs a new pass with the frames of the old one.
    struct Progress {
        State state = State::Waiting;
        int nPass = 0;  // 0-based; a job read twice (loudness measured first) has passes 0 and 1
        int nPasses = 1;
        uint32_t nFramesDone = 0;       // in the current pass
        uint32_t nFramesToConvert = 0;  // 0 while not known, or for a stream that tells no length
        double dReadPercent = 0.0;      // how far a stream without a length has been read
    };

    ConversionJob(std::string strSourcePath, std::string strOutputPath,
                  AudioDecoderFactory decoderFactory = CreateMediaAudioDecoder);
    ConversionJob(const ConversionJob &) = delete;
    ConversionJob &operator=(const ConversionJob &) = delete;

    // --- The description: set before the batch starts ---
    // Reads the clip's saved selection now, so that later edits of the cut-info file do not reach a
    // batch that has already started.
    void FixSelection();
    // Takes this selection instead of the saved one (the window's, before its record is written).
    void UseSelection(const ClipInfo &selection) {
        m_selection = selection;
        m_bHasSelection = true;
        m_bSelectionFixed = true;
    }
    // Decodes the n-th audio track (n >= 1) whatever the cut-info record chose; 0 leaves it to the record.
    void SetTrackOverride(int nTrack) { m_nTrackOverride = nTrack; }
    void SetWriteTags(bool bWrite) { m_bWriteTags = bWrite; }
    // Makes this job one part of pWhole's source: its frames count towards pWhole's progress too, and
    // its output gets the tags given over the source's, which were read once for all the parts.
    void SetPartOf(ConversionJob *pWhole, PartTags tags, std::shared_ptr<const MediaTags> pSourceTags) {
        m_pWhole = pWhole;
        m_partTags = std::move(tags);
        m_pSourceTags = std::move(pSourceTags);
    }
    // The source's tags as read for a divided source; nullptr for a whole job, which reads its own.
    const MediaTags *GetSourceTags() const { return m_pSourceTags.get(); }
    bool IsPart() const { return m_pWhole != nullptr; }
    // A part that is its source's only one (a file a cue sheet gives one track) shares the workers with
    // no other part.
    void SetOnlyPart(bool bOnly) { m_bOnlyPart = bOnly; }
    bool SharesWorkersWithParts() const { return IsPart() && !m_bOnlyPart; }
    // The output was named by a template: the parts of a divided source are named by it too.
    void SetNaming(std::string strFolder, std::string strTemplate, NameFields fields) {
        m_strNamingFolder = std::move(strFolder);
        m_strNameTemplate = std::move(strTemplate);
        m_nameFields = std::move(fields);
    }
    // The output of part n of nCount, titled strTitle (empty for none).
    std::string PartOutputPathOf(int n, int nCount, const std::string &strTitle) const;
    const PartTags &GetPartTags() const { return m_partTags; }

    const std::string &GetSourcePath() const { return m_strSourcePath; }
    const std::string &GetOutputPath() const { return m_strOutputPath; }
    const AudioDecoderFactory &GetDecoderFactory() const { return m_decoderFactory; }
    int GetTrackOverride() const { return m_nTrackOverride; }
    // Whether the output gets the source's tags and cover (klangor-convert --no-tags clears it).
    bool WritesTags() const { return m_bWriteTags; }
    bool IsSelectionFixed() const { return m_bSelectionFixed; }
    // The selection FixSelection read; HasSelection false when the file had none of ours.
    bool HasSelection() const { return m_bHasSelection; }
    const ClipInfo &GetSelection() const { return m_selection; }

    // How long the job took, from its first Begin to its End, in seconds; 0 for one never begun. Only
    // once Ended.
    double GetSeconds() const;

    // --- The progress: any thread ---
    Progress GetProgress() const;
    State GetState() const { return m_state.load(std::memory_order_acquire); }
    // Why the job gave no complete output; empty when it converted. Only once GetState() is Ended.
    const std::string &GetError() const { return m_strError; }
    // What the user should know about an output that did convert (a cut that could not fall where
    // asked, ...); empty for none. Only once GetState() is Ended.
    const std::string &GetNote() const { return m_strNote; }
    // The outputs a divided source was written as, in order; empty for a whole one. Only once Ended.
    const std::vector<std::string> &GetPartOutputs() const { return m_partOutputs; }
    // Each of those outputs' own note, in the same order; empty for none.
    const std::vector<std::string> &GetPartNotes() const { return m_partNotes; }

    // --- On the job's worker ---
    // The job is taken: its progress starts over, read nPasses times.
    void Begin(int nPasses);
    void SetFramesToConvert(uint32_t nFrames) {
        m_nFramesToConvert.store(nFrames, std::memory_order_relaxed);
    }
    // The frames of a pass start over at 0 (also when a pass is redone from its start).
    void StartPass(int nPass);
    // Adds frames just converted to the current pass; safe from several workers at once (the parts of
    // a divided file).
    void AddFrames(uint32_t nFrames);
    void SetReadPercent(double dPercent) { m_dReadPercent.store(dPercent, std::memory_order_relaxed); }
    // Records why the job gives no complete output; the last reason given stands.
    void Fail(const std::string &strText) { m_strError = strText; }
    // Adds a remark on the output to the job's note, after any given before.
    void AddNote(const std::string &strText) { m_strNote += (m_strNote.empty() ? "" : "; ") + strText; }
    // An output of the job's parts that was written, and its part's note.
    void AddPartOutput(const std::string &strPath, const std::string &strNote) {
        m_partOutputs.push_back(strPath);
        m_partNotes.push_back(strNote);
    }
    // The job is done with: its failure text, written before, becomes readable.
    void End();

private:
    const std::string m_strSourcePath;
    const std::string m_strOutputPath;
    const AudioDecoderFactory m_decoderFactory;
    int m_nTrackOverride = 0;
    bool m_bWriteTags = true;
    bool m_bSelectionFixed = false;
    bool m_bHasSelection = false;
    ClipInfo m_selection{};
    ConversionJob *m_pWhole = nullptr;  // the divided job this one is a part of; nullptr for a whole job
    PartTags m_partTags;
    bool m_bOnlyPart = false;
    std::shared_ptr<const MediaTags> m_pSourceTags;
    std::string m_strNamingFolder;
    std::string m_strNameTemplate;  // empty: the program's own naming
    NameFields m_nameFields;

    std::atomic<State> m_state{State::Waiting};
    std::atomic<uint64_t> m_llPassAndFrames{0};  // the pass in the upper half, its frames in the lower
    std::atomic<int> m_nPasses{1};
    std::atomic<uint32_t> m_nFramesToConvert{0};
    std::atomic<double> m_dReadPercent{0.0};
    std::string m_strError;
    std::string m_strNote;
    std::vector<std::string> m_partOutputs;
    std::vector<std::string> m_partNotes;
    std::chrono::steady_clock::time_point m_begun{};  // the first Begin's; epoch while never begun
    std::chrono::steady_clock::time_point m_ended{};
};

}  // namespace klangor

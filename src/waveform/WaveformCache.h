#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/SidecarFile.h"
#include "waveform/WaveformSummary.h"

namespace klangor {

// Finished waveform summaries kept on disk between sessions, so a long film opened again draws its
// waveform at once instead of being decoded afresh. A summary is found by its key (the loader's: path,
// size, modification time and track), which is stored in the file too, so two keys whose names collide
// never hand out each other's summaries. Every file is written under a temporary name and renamed, so a
// reader sees a whole file or none; a file that is short, damaged or of another format is ignored and
// replaced. The folder is kept small by removing the files used longest ago. Nothing here is an error
// a user needs to see: a cache that cannot be read or written just means decoding again. A folder that is
// not this user's, or that others may write, is not used at all; files are opened only within the
// checked folder and never through a link.
// Safe to use from several threads and processes at once; it holds no state but its folder.
class WaveformCache {
public:
    // Bounds on the folder, checked after each store.
    static constexpr uint64_t kMaxFolderBytes = 32ull << 20;
    static constexpr size_t kMaxFiles = 500;
    // A summary larger than this (hours of audio whose length was unknown, so sliced by 10 ms) is not
    // kept: reading it would cost about what decoding costs.
    static constexpr uint64_t kMaxFileBytes = 4ull << 20;

    // An empty folder keeps nothing.
    explicit WaveformCache(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    // $XDG_CACHE_HOME/klangor/waveforms, or ~/.cache/klangor/waveforms when that is unset or relative;
    // empty when neither can be told.
    static std::filesystem::path DefaultFolder();

    // The file that holds strKey's summary.
    std::filesystem::path FileFor(const std::string &strKey) const;

    // True, with the summary filled, when a whole and valid one is kept for strKey; it then counts as
    // just used, so the folder's trimming spares it.
    bool Find(const std::string &strKey, WaveformSummary &summary) const;
    // Keeps the summary of strKey, replacing any kept before, then trims the folder. False when it could
    // not be written (nothing is left behind then).
    bool Store(const std::string &strKey, const WaveformSummary &summary) const;

private:
    // The folder, open, when it is this user's and no one else may write it (made first when bCreate).
    FileDescriptor OpenFolder(bool bCreate) const;
    void Trim(int folderFd) const;

    std::filesystem::path m_folder;
};

}  // namespace klangor

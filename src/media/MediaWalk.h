#pragma once

#include <functional>
#include <string>
#include <vector>

namespace klangor {

// A media file found under a folder, with its folder relative to the one walked ("" at its top).
struct WalkedFile {
    std::string strPath;
    std::string strSubfolder;
};

// What a walk found: the media files in byte-wise order of their paths, and one note for each file or
// folder passed over ("notes.txt: not a media file", "a loop back to ...").
struct FolderWalk {
    std::vector<WalkedFile> files;
    std::vector<std::string> notes;
};

// Walks strFolder and every folder below it for media files: those with a media extension, and others
// whose first bytes are media's. Links to files are taken; links to folders only with bFollowLinks, a
// folder reached twice (a loop, or two links to one folder) being walked once. fnStopped, asked before
// each entry, ends the walk early with what it has found so far.
FolderWalk WalkMediaFolder(const std::string &strFolder, bool bFollowLinks,
                           const std::function<bool()> &fnStopped = {});

}  // namespace klangor

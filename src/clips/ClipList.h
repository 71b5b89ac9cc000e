#pragma once

#include <string>
#include <vector>

namespace klangor {

// The ordered list of media files to convert, with the entry the player works on. Duplicates are allowed
// and paths are kept whole: a path cut short would name another file. The window owns it; the preview
// commands and the conversion read and change it. Window thread only.
class ClipList {
public:
    // Appends the path; the first entry of an empty list becomes current. Returns the new entry's index.
    int AddClip(const std::string &strPath);
    // Removes the entry and clamps the current index to the new last entry (-1 when empty).
    void RemoveClip(int nIndex);
    // Moves the entry one place and makes it current; nothing at the list's ends.
    void MoveClipUp(int nIndex);
    void MoveClipDown(int nIndex);

    int GetCount() const { return static_cast<int>(m_entries.size()); }
    // An index outside the list gives an empty path.
    const std::string &GetClip(int nIndex) const;
    int GetCurrentIndex() const { return m_nCurrentIndex; }
    void SetCurrentIndex(int nIndex) { m_nCurrentIndex = nIndex; }

private:
    bool IsValidIndex(int nIndex) const { return nIndex >= 0 && nIndex < GetCount(); }

    std::vector<std::string> m_entries;
    int m_nCurrentIndex = -1;
};

// The file name shown for a path: what follows its last "/" or "\", or the whole path without either.
std::string ClipDisplayName(const std::string &strPath);

}  // namespace klangor

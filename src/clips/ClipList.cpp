#include "clips/ClipList.h"

#include <utility>

namespace klangor {

int ClipList::AddClip(const std::string &strPath) {
    m_entries.push_back(strPath);
    if (m_entries.size() == 1) {
        m_nCurrentIndex = 0;
    }
    return GetCount() - 1;
}

void ClipList::RemoveClip(int nIndex) {
    if (!IsValidIndex(nIndex)) {
        return;
    }
    m_entries.erase(m_entries.begin() + nIndex);
    if (m_entries.empty()) {
        m_nCurrentIndex = -1;
    } else if (m_nCurrentIndex >= GetCount() - 1) {
        m_nCurrentIndex = GetCount() - 1;
    }
}

void ClipList::MoveClipUp(int nIndex) {
    if (nIndex <= 0 || !IsValidIndex(nIndex)) {
        return;
    }
    std::swap(m_entries[nIndex], m_entries[nIndex - 1]);
    m_nCurrentIndex = nIndex - 1;
}

void ClipList::MoveClipDown(int nIndex) {
    if (nIndex < 0 || nIndex >= GetCount() - 1) {
        return;
    }
    std::swap(m_entries[nIndex], m_entries[nIndex + 1]);
    m_nCurrentIndex = nIndex + 1;
}

const std::string &ClipList::GetClip(int nIndex) const {
    static const std::string strNone;
    return IsValidIndex(nIndex) ? m_entries[nIndex] : strNone;
}

std::string ClipDisplayName(const std::string &strPath) {
    const size_t nSlash = strPath.find_last_of("/\\");
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

}  // namespace klangor

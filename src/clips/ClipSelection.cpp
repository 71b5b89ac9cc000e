#include "clips/ClipSelection.h"

#include <cstdint>
#include <utility>

#include "clips/CutInfo.h"

namespace klangor {

ClipSelection::ClipSelection(BackgroundTasks::Poster post,
                             std::function<void(const std::string &)> fnWriteFailed)
    : m_fnWriteFailed(std::move(fnWriteFailed)), m_tasks(std::move(post)) {}

void ClipSelection::Begin(const std::string &strPath) {
    m_strPath = strPath;
    ++m_nClip;
}

void ClipSelection::Set(long lStart, long lEnd) {
    auto iStart = static_cast<int32_t>(m_info.nStart);
    auto iEnd = static_cast<int32_t>(m_info.nEnd);
    if (lStart != -1 && lEnd != -1) {
        if (lStart <= lEnd) {
            iStart = static_cast<int32_t>(lStart);
            iEnd = static_cast<int32_t>(lEnd);
        }
    } else if (lStart != -1) {
        if (lStart <= iEnd) {
            iStart = static_cast<int32_t>(lStart);
        } else {
            iStart = iEnd = static_cast<int32_t>(lStart);
        }
    } else if (lEnd != -1) {
        if (lEnd >= iStart) {
            iEnd = static_cast<int32_t>(lEnd);
        } else {
            iStart = iEnd = static_cast<int32_t>(lEnd);
        }
    }
    m_info.nStart = static_cast<uint32_t>(iStart);
    m_info.nEnd = static_cast<uint32_t>(iEnd);
}

void ClipSelection::ReadRecord(std::function<void(bool, const ClipInfo &)> fnDone) {
    struct Stored {
        bool bFound = false;
        ClipInfo info;
    };
    m_tasks.Run(
        [strPath = m_strPath, info = m_info] {
            Stored stored{false, info};
            stored.bFound = ReadCutInfo(strPath, stored.info.nDuration, stored.info.nStart, stored.info.nEnd,
                                        &stored.info.nTrack);
            return stored;
        },
        [this, nClip = m_nClip, fnDone = std::move(fnDone)](Stored stored) {
            if (nClip == m_nClip) {
                fnDone(stored.bFound, stored.info);
            }
        });
}

bool ClipSelection::WriteRecord() {
    // No clip, no record.
    if (m_strPath.empty()) {
        return false;
    }
    // A failure is told whatever clip is loaded by then: the user changed that clip's selection.
    m_tasks.Run(
        [strPath = m_strPath, info = m_info] {
            std::string strError;
            klangor::WriteCutInfo(strPath, info, &strError);
            return strError;
        },
        [this](std::string strError) {
            if (!strError.empty() && m_fnWriteFailed) {
                m_fnWriteFailed(strError);
            }
        });
    return true;
}

}  // namespace klangor

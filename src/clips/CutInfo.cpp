#include "clips/CutInfo.h"

#include "common/SidecarFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace klangor {

namespace {

constexpr size_t kMaxReadBytes = 1024;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void SkipSpace(const std::string &strText, size_t &nPos) {
    while (nPos < strText.size() && IsSpace(strText[nPos])) {
        ++nPos;
    }
}

bool MatchLiteral(const std::string &strText, size_t &nPos, const char *szLiteral) {
    const size_t nLength = std::strlen(szLiteral);
    if (strText.compare(nPos, nLength, szLiteral) != 0) {
        return false;
    }
    nPos += nLength;
    return true;
}

// An unsigned decimal number after optional white space; fails on anything else and on overflow rather
// than wrapping, so a damaged record never turns into a wild selection.
bool ParseUnsigned(const std::string &strText, size_t &nPos, uint32_t &nValue) {
    SkipSpace(strText, nPos);
    size_t nDigits = 0;
    uint64_t llValue = 0;
    while (nPos < strText.size() && strText[nPos] >= '0' && strText[nPos] <= '9') {
        llValue = llValue * 10 + static_cast<uint64_t>(strText[nPos] - '0');
        if (llValue > UINT32_MAX) {
            return false;
        }
        ++nPos;
        ++nDigits;
    }
    if (nDigits == 0) {
        return false;
    }
    nValue = static_cast<uint32_t>(llValue);
    return true;
}

bool Fail(std::string *pstrError, int iErrno, const std::string &strPath) {
    if (pstrError) {
        *pstrError = FileErrorText(iErrno, strPath);
    }
    return false;
}

}  // namespace

std::string CutInfoPath(const std::string &mediaPath) {
    return mediaPath + ".clipinfo";
}

std::string FileErrorText(int iErrno, const std::string &strPath) {
    const char *szPattern = "An unknown error occurred while accessing %1.";
    switch (iErrno) {
        case 0:
            szPattern = "No error occurred.";
            break;
        case ENOENT:
            szPattern = "%1 was not found.";
            break;
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL:
        case ELOOP:
        case EISDIR:
            szPattern = "%1 contains an invalid path.";
            break;
        case EMFILE:
        case ENFILE:
            szPattern = "%1 could not be opened because there are too many open files.";
            break;
        case EACCES:
        case EPERM:
        case EROFS:
            szPattern = "Access to %1 was denied.";
            break;
        case EBADF:
            szPattern = "An invalid file handle was associated with %1.";
            break;
        case EMLINK:
            szPattern = "%1 could not be created because the directory is full.";
            break;
        case ESPIPE:
            szPattern = "Seek failed on %1";
            break;
        case EIO:
            szPattern = "A hardware I/O error was reported while accessing %1.";
            break;
        case EBUSY:
        case ETXTBSY:
            szPattern = "A sharing violation occurred while accessing %1.";
            break;
        case ENOLCK:
        case EDEADLK:
            szPattern = "A locking violation occurred while accessing %1.";
            break;
        case ENOSPC:
        case EDQUOT:
            szPattern = "Disk full while accessing %1.";
            break;
        case EFBIG:
            szPattern = "An attempt was made to access %1 past its end.";
            break;
        default:
            break;
    }
    std::string strText = szPattern;
    const size_t nMark = strText.find("%1");
    if (nMark != std::string::npos) {
        strText.replace(nMark, 2, strPath);
    }
    return strText;
}

bool ReadCutInfo(const std::string &mediaPath, uint32_t &nDuration, uint32_t &nStart, uint32_t &nEnd,
                 uint32_t *pnTrack) {
    if (mediaPath.empty()) {
        return false;
    }
    // A record is a regular file: a pipe or a device under its name (planted, or left by another tool)
    // is no record, and is never waited on.
    FileDescriptor file(::open(CutInfoPath(mediaPath).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!file.IsOpen() || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    std::string strText(kMaxReadBytes, '\0');
    size_t nRead = 0;
    while (nRead < kMaxReadBytes) {
        const ssize_t n = ::read(file.Get(), strText.data() + nRead, kMaxReadBytes - nRead);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        nRead += static_cast<size_t>(n);
    }
    file.Close();
    strText.resize(nRead);

    size_t nPos = 0;
    if (!MatchLiteral(strText, nPos, "Owner=")) {
        return false;
    }
    SkipSpace(strText, nPos);
    const size_t nOwnerStart = nPos;
    while (nPos < strText.size() && !IsSpace(strText[nPos])) {
        ++nPos;
    }
    if (strText.compare(nOwnerStart, nPos - nOwnerStart, CutInfoOwner) != 0) {
        return false;
    }

    SkipSpace(strText, nPos);
    uint32_t nTrack = 0;
    uint32_t *pnFields[] = {&nDuration, &nStart, &nEnd, &nTrack};
    if (!MatchLiteral(strText, nPos, "CutInfo=")) {
        return true;
    }
    // The fourth number is the chosen audio track; records that stop before it choose none (0).
    for (size_t i = 0; i < 4; ++i) {
        if (i > 0 && !MatchLiteral(strText, nPos, ",")) {
            break;
        }
        uint32_t nValue = 0;
        if (!ParseUnsigned(strText, nPos, nValue)) {
            break;
        }
        *pnFields[i] = nValue;
    }
    if (pnTrack) {
        *pnTrack = nTrack;
    }
    return true;
}

bool WriteCutInfo(const std::string &mediaPath, const ClipInfo &info, std::string *pstrError) {
    if (mediaPath.empty()) {
        return false;
    }
    char szText[96];
    const int nLength = std::snprintf(szText, sizeof szText, "Owner=%s\r\nCutInfo=%u,%u,%u,%u;", CutInfoOwner,
                                      info.nDuration, info.nStart, info.nEnd, info.nTrack);
    const std::string strText(szText, static_cast<size_t>(nLength));
    const std::string strPath = CutInfoPath(mediaPath);
    const int iError = ReplaceFileContents(strPath, strText);
    if (iError != 0) {
        return Fail(pstrError, iError, strPath);
    }
    return true;
}

}  // namespace klangor

#include "common/SidecarFile.h"

#include "common/CheckedFileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>

struct stat;

namespace klangor {

namespace {

// A temporary older than this belongs to no write in progress: a write takes milliseconds.
constexpr auto kStaleTempAge = std::chrono::minutes(10);
constexpr int kMaxLinkDepth = 40;

struct DirCloser {
    void operator()(DIR *pDir) const { ::closedir(pDir); }
};

std::string FolderOf(const std::string &strPath) {
    const size_t nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos) {
        return ".";
    }
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

std::string NameOf(const std::string &strPath) {
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string RandomSuffix() {
    unsigned char aBytes[8] = {};
    if (::getrandom(aBytes, sizeof aBytes, 0) != static_cast<ssize_t>(sizeof aBytes)) {
        // No entropy source: the clock still makes a name nobody else picks at the same moment.
        const auto llNow = std::chrono::steady_clock::now().time_since_epoch().count();
        for (size_t i = 0; i < sizeof aBytes; ++i) {
            aBytes[i] = static_cast<unsigned char>(llNow >> (8 * i));
        }
    }
    char szHex[2 * sizeof aBytes + 1];
    for (size_t i = 0; i < sizeof aBytes; ++i) {
        std::snprintf(szHex + 2 * i, 3, "%02x", aBytes[i]);
    }
    return szHex;
}

// Room for the longest process id a temporary name may carry, whatever this run's own id is: the
// prefix of a target's temporaries then is the same in every run, so any run finds a dead one's.
constexpr size_t kPidDigits = 10;
constexpr size_t kRandomChars = 16;

// Cut where a character starts, so a shortened name stays readable text.
std::string CutAtCharacter(const std::string &strName, size_t nBytes) {
    if (strName.size() <= nBytes) {
        return strName;
    }
    while (nBytes > 0 && (static_cast<unsigned char>(strName[nBytes]) & 0xC0) == 0x80) {
        --nBytes;
    }
    return strName.substr(0, nBytes);
}

bool WriterIsGone(const std::string &strPid) {
    char *pEnd = nullptr;
    const long lPid = std::strtol(strPid.c_str(), &pEnd, 10);
    if (pEnd == strPid.c_str() || lPid <= 0) {
        return true;
    }
    return ::kill(static_cast<pid_t>(lPid), 0) != 0 && errno == ESRCH;
}

// Removes temporaries of this target left by writers that died before renaming them. Looked for once
// per target and process: the folder is scanned, which costs too much for every selection change.
void RemoveLeftovers(const std::string &strTarget, size_t nNameMax) {
    static std::mutex mutex;
    static std::set<std::string> cleaned;
    {
        std::lock_guard lock(mutex);
        if (!cleaned.insert(strTarget).second) {
            return;
        }
    }
    const std::string strFolder = FolderOf(strTarget);
    const std::string strPrefix = SidecarTempPrefix(NameOf(strTarget), nNameMax);
    std::unique_ptr<DIR, DirCloser> pDir(::opendir(strFolder.c_str()));
    if (!pDir) {
        return;
    }
    while (const dirent *pEntry = ::readdir(pDir.get())) {
        const std::string strName = pEntry->d_name;
        if (strName.compare(0, strPrefix.size(), strPrefix) != 0) {
            continue;
        }
        const std::string strLeftover = strFolder + "/" + strName;
        struct stat st {};
        if (::lstat(strLeftover.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        if (IsDeadSidecarTemp(strName, strPrefix.size(), st.st_mtime)) {
            ::unlink(strLeftover.c_str());
        }
    }
}

int WriteInPlace(const std::string &strTarget, const std::string &strText) {
    FileDescriptor file(::open(strTarget.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file.IsOpen()) {
        return errno;
    }
    // Content first, then the length: a failed write leaves the old record's tail, never an empty file.
    if (!WriteAll(file.Get(), strText.data(), strText.size()) ||
        ::ftruncate(file.Get(), static_cast<off_t>(strText.size())) != 0 || ::fsync(file.Get()) != 0 ||
        file.Close() != 0) {
        return errno;
    }
    return 0;
}

// 0 on success; otherwise the errno, with the temporary removed.
int WriteTempAndRename(const std::string &strTarget, size_t nNameMax, const std::string &strText,
                       const struct stat *pOld, bool &bFolderRefused, bool &bOwnerLost) {
    std::string strTemp;
    int fd = -1;
    for (int iAttempt = 0; iAttempt < 8 && fd < 0; ++iAttempt) {
        strTemp = FolderOf(strTarget) + "/" + SidecarTempName(NameOf(strTarget), nNameMax);
        fd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        const int iError = errno;
        bFolderRefused = iError == EACCES || iError == EPERM;
        return iError;
    }
    FileDescriptor file(fd);
    const auto fail = [&strTemp](int iError) {
        ::unlink(strTemp.c_str());
        return iError;
    };
    if (pOld != nullptr) {
        if ((pOld->st_uid != ::geteuid() || pOld->st_gid != ::getegid()) &&
            ::fchown(file.Get(), pOld->st_uid, pOld->st_gid) != 0) {
            bOwnerLost = true;
            return fail(errno);
        }
        if (::fchmod(file.Get(), pOld->st_mode & 07777) != 0) {
            return fail(errno);
        }
    }
    if (!WriteAll(file.Get(), strText.data(), strText.size()) || ::fsync(file.Get()) != 0 ||
        file.Close() != 0) {
        return fail(errno);
    }
    if (::rename(strTemp.c_str(), strTarget.c_str()) != 0) {
        return fail(errno);
    }
    return 0;
}

}  // namespace

int FileDescriptor::Close() {
    int iResult = 0;
    if (m_fd >= 0) {
        iResult = ::close(m_fd);
        m_fd = -1;
    }
    return iResult;
}

bool MayFollowLink(uid_t uidLink, uid_t uidFolder, mode_t folderMode, uid_t uidFollower) {
    const bool bShared = (folderMode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return uidLink == uidFollower || !bShared || uidLink == uidFolder;
}

bool MayReplaceEntry(const struct stat &entry, const struct stat &folderInfo) {
    const uid_t uidSelf = ::geteuid();
    return (folderInfo.st_mode & S_ISVTX) == 0 || uidSelf == 0 || entry.st_uid == uidSelf ||
           folderInfo.st_uid == uidSelf;
}

int ResolveTrustedLinks(const std::string &strPath, std::string &strTarget, bool &bUnfollowedLink) {
    strTarget = strPath;
    bUnfollowedLink = false;
    for (int i = 0; i < kMaxLinkDepth; ++i) {
        struct stat st {};
        if (::lstat(strTarget.c_str(), &st) != 0) {
            return errno == ENOENT ? 0 : errno;
        }
        if (!S_ISLNK(st.st_mode)) {
            return 0;
        }
        struct stat folder {};
        if (::stat(FolderOf(strTarget).c_str(), &folder) != 0) {
            return errno;
        }
        if (!MayFollowLink(st.st_uid, folder.st_uid, folder.st_mode, ::geteuid())) {
            bUnfollowedLink = true;
            return 0;
        }
        std::string strLink(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t nLength = ::readlink(strTarget.c_str(), strLink.data(), strLink.size());
        if (nLength <= 0) {
            return nLength == 0 ? ENOENT : errno;
        }
        strLink.resize(static_cast<size_t>(nLength));
        std::string strNext = strLink.front() == '/' ? strLink : FolderOf(strTarget) + "/" + strLink;
        // "pipe:[123]" and the like: only the kernel reaches what such a link stands for.
        struct stat next {};
        if (::lstat(strNext.c_str(), &next) != 0 && errno == ENOENT &&
            ::stat(strTarget.c_str(), &next) == 0) {
            return 0;
        }
        strTarget = std::move(strNext);
    }
    return ELOOP;
}

std::string SidecarTempPrefix(const std::string &strName, size_t nNameMax) {
    const size_t nMarker = std::char_traits<char>::length(kSidecarTempMarker);
    const size_t nTail = nMarker + kPidDigits + 1 + kRandomChars;
    const size_t nRoom = nNameMax > nTail + 1 ? nNameMax - nTail : 1;
    return CutAtCharacter(strName, nRoom) + kSidecarTempMarker;
}

// "<name>.klangor-tmp-<pid>-<random>": the process id tells whether the writer still runs, the random
// part keeps a reused process id from meeting a dead run's leftover.
std::string SidecarTempName(const std::string &strName, size_t nNameMax) {
    return SidecarTempPrefix(strName, nNameMax) + std::to_string(::getpid()) + "-" + RandomSuffix();
}

bool IsDeadSidecarTemp(const std::string &strName, size_t nPrefix, std::time_t modified) {
    const auto age = std::chrono::system_clock::now() - std::chrono::system_clock::from_time_t(modified);
    return WriterIsGone(strName.substr(nPrefix)) || age > kStaleTempAge;
}

size_t NameMaxOf(const std::string &strFolder) {
    const long lMax = ::pathconf(strFolder.empty() ? "." : strFolder.c_str(), _PC_NAME_MAX);
    return lMax > 0 && lMax < 255 ? static_cast<size_t>(lMax) : 255;
}

int ReplaceFileContents(const std::string &strPath, const std::string &strText) {
    std::string strTarget;
    bool bUnfollowedLink = false;
    if (const int iError = ResolveTrustedLinks(strPath, strTarget, bUnfollowedLink); iError != 0) {
        return iError;
    }
    const size_t nNameMax = NameMaxOf(FolderOf(strTarget));
    if (bUnfollowedLink) {
        // Another user's link in a shared folder: what it names is not ours to write. The link itself
        // is replaced where this process may replace it.
        struct stat link {};
        struct stat folder {};
        if (::lstat(strTarget.c_str(), &link) != 0 || ::stat(FolderOf(strTarget).c_str(), &folder) != 0) {
            return errno;
        }
        if (!MayReplaceEntry(link, folder)) {
            return EACCES;
        }
        RemoveLeftovers(strTarget, nNameMax);
        bool bFolderRefused = false;
        bool bOwnerLost = false;
        return WriteTempAndRename(strTarget, nNameMax, strText, nullptr, bFolderRefused, bOwnerLost);
    }
    struct stat st {};
    const bool bExists = ::stat(strTarget.c_str(), &st) == 0;
    if (!bExists && errno != ENOENT) {
        return errno;
    }
    if (bExists) {
        if (!S_ISREG(st.st_mode)) {
            return EISDIR;
        }
        // Permission to write the folder is no permission to replace a file the user made read-only.
        if (::faccessat(AT_FDCWD, strTarget.c_str(), W_OK, AT_EACCESS) != 0) {
            return errno;
        }
        if (st.st_nlink > 1) {
            // A rename would cut the other names off the new content.
            return WriteInPlace(strTarget, strText);
        }
    }
    RemoveLeftovers(strTarget, nNameMax);
    bool bFolderRefused = false;
    bool bOwnerLost = false;
    const int iError =
        WriteTempAndRename(strTarget, nNameMax, strText, bExists ? &st : nullptr, bFolderRefused, bOwnerLost);
    if (iError != 0 && bExists && (bFolderRefused || bOwnerLost)) {
        return WriteInPlace(strTarget, strText);
    }
    return iError;
}

}  // namespace klangor

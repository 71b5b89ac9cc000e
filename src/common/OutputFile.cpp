#include "common/OutputFile.h"

#include "common/SidecarFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

namespace klangor {

namespace fs = std::filesystem;

namespace {
constexpr const char *kPartMarker = ".part-";
constexpr int kNameAttempts = 100;

std::string RandomSuffix() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
    std::string strSuffix(6, 'x');
    for (char &c : strSuffix) {
        c = kAlphabet[pick(generator)];
    }
    return strSuffix;
}

// Syncs a folder, so a rename inside it survives a power loss too.
void SyncFolder(const fs::path &folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

constexpr size_t kRandomChars = 6;

// ".NAME.part-PID-": a name too long for the whole of it in a temporary's name (the final name may take
// all the bytes the folder allows) gives only its start, cut where a character starts. The marker, the
// pid and the random part stay whole, so the cleanup of dead runs finds such a temporary as any other.
std::string TemporaryPrefix(const std::string &strName, size_t nNameMax) {
    const std::string strTail = kPartMarker + std::to_string(::getpid()) + "-";
    const size_t nFixed = 1 + strTail.size() + kRandomChars;
    size_t nRoom = nNameMax > nFixed + 1 ? nNameMax - nFixed : 1;
    if (strName.size() > nRoom) {
        while (nRoom > 1 && (static_cast<unsigned char>(strName[nRoom]) & 0xC0) == 0x80) {
            --nRoom;
        }
        return "." + strName.substr(0, nRoom) + strTail;
    }
    return "." + strName + strTail;
}

std::string FolderOf(const std::string &strPath) {
    const size_t nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos) {
        return ".";
    }
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

// The pid in ".NAME.part-PID-XXXXXX", or 0 when the name is not one of ours.
pid_t OwnerOfTemporary(const std::string &strName) {
    if (strName.size() < 2 || strName[0] != '.') {
        return 0;
    }
    const size_t nMarker = strName.rfind(kPartMarker);
    if (nMarker == std::string::npos) {
        return 0;
    }
    const std::string strRest = strName.substr(nMarker + std::char_traits<char>::length(kPartMarker));
    const size_t nDash = strRest.find('-');
    if (nDash == std::string::npos || nDash == 0 || strRest.size() - nDash - 1 != kRandomChars) {
        return 0;
    }
    pid_t pid = 0;
    for (size_t i = 0; i < nDash; ++i) {
        if (strRest[i] < '0' || strRest[i] > '9' || pid > 100000000) {
            return 0;
        }
        pid = pid * 10 + (strRest[i] - '0');
    }
    return pid;
}
}  // namespace

bool OutputFile::Create(const std::string &strPath, bool bReadBack) {
    Discard();
    const char *szMode = bReadBack ? "wb+" : "wb";
    // A link of the user's is followed, so it keeps pointing at the new file. One that another user
    // planted in a shared folder is not: the new file replaces the link where this process may do so,
    // and the job fails where it may not; what the link names is never written.
    std::string strTarget;
    bool bUnfollowedLink = false;
    if (const int iError = ResolveTrustedLinks(strPath, strTarget, bUnfollowedLink); iError != 0) {
        errno = iError;
        return false;
    }
    struct stat info {};
    if (!bUnfollowedLink && ::stat(strTarget.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        // A device or a pipe, perhaps behind a process's descriptor link (/dev/stdout).
        struct stat link {};
        const bool bMagicLink = ::lstat(strTarget.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        // Write-only even where the caller would read back: nothing is read back from a pipe, and a
        // process holding a pipe for reading too is its own reader, so it would block for ever once
        // the real reader had gone instead of getting EPIPE.
        const int fd =
            ::open(strTarget.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | (bMagicLink ? 0 : O_NOFOLLOW));
        if (fd < 0) {
            return false;
        }
        if (::fstat(fd, &info) == 0 && !S_ISREG(info.st_mode)) {
            m_pFile.reset(::fdopen(fd, "wb"));
            if (!m_pFile) {
                const int iError = errno;
                ::close(fd);
                errno = iError;
                return false;
            }
            m_strFinalPath = strTarget;
            m_strTempPath.clear();
            UseWriteBuffer();
            return true;
        }
        // A file took its place since it was looked at: that goes through a temporary as any file.
        ::close(fd);
    }

    const std::string strFolder = FolderOf(strTarget);
    struct stat entry {};
    struct stat folderInfo {};
    // Known now rather than at the rename, after the whole file was written: an entry of another user's
    // in a sticky folder cannot be replaced.
    if (::lstat(strTarget.c_str(), &entry) == 0 && ::stat(strFolder.c_str(), &folderInfo) == 0 &&
        !MayReplaceEntry(entry, folderInfo)) {
        errno = EACCES;
        return false;
    }
    const std::string strName = strTarget.substr(strTarget.rfind('/') + 1);
    const std::string strPrefix = strFolder + "/" + TemporaryPrefix(strName, NameMaxOf(strFolder));
    int fd = -1;
    std::string strTemp;
    for (int i = 0; i < kNameAttempts && fd < 0; ++i) {
        strTemp = strPrefix + RandomSuffix();
        fd = ::open(strTemp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    m_pFile.reset(::fdopen(fd, szMode));
    if (!m_pFile) {
        const int iError = errno;
        ::close(fd);
        ::unlink(strTemp.c_str());
        errno = iError;
        return false;
    }
    m_strFinalPath = strTarget;
    m_strTempPath = strTemp;
    UseWriteBuffer();
    return true;
}

void OutputFile::UseWriteBuffer() {
    if (!m_pBuffer) {
        m_pBuffer = std::make_unique_for_overwrite<char[]>(kWriteBufferBytes);
    }
    // Where it fails, the stream keeps the library's own buffer: slower, but every write still counts.
    std::setvbuf(m_pFile.get(), m_pBuffer.get(), _IOFBF, kWriteBufferBytes);
}

bool OutputFile::Keep(const std::function<bool(const std::string &strTempPath)> &finishTemp) {
    if (!m_pFile) {
        return false;
    }
    if (std::fflush(m_pFile.get()) != 0 || std::ferror(m_pFile.get())) {
        Discard();
        return false;
    }
    if (finishTemp && !m_strTempPath.empty() && !finishTemp(m_strTempPath)) {
        Discard();
        return false;
    }
    if (m_strTempPath.empty()) {
        const bool bClosed = std::fclose(m_pFile.release()) == 0;
        m_strFinalPath.clear();
        return bClosed;
    }
    // Late failures (quota, network file systems) show at sync or close; such a file is not trusted.
    const bool bSynced = ::fsync(fileno(m_pFile.get())) == 0;
    const bool bClosed = std::fclose(m_pFile.release()) == 0;
    bool bKept = bSynced && bClosed && std::rename(m_strTempPath.c_str(), m_strFinalPath.c_str()) == 0;
    if (bKept) {
        SyncFolder(FolderOf(m_strFinalPath));
    } else {
        ::unlink(m_strTempPath.c_str());
    }
    m_strTempPath.clear();
    m_strFinalPath.clear();
    return bKept;
}

void OutputFile::Discard() {
    if (m_pFile) {
        m_pFile.reset();
        if (!m_strTempPath.empty()) {
            ::unlink(m_strTempPath.c_str());
        }
    }
    m_strTempPath.clear();
    m_strFinalPath.clear();
}

void OutputFile::RemoveStaleTemporaries(const std::string &strFolder) {
    std::error_code error;
    for (fs::directory_iterator it(strFolder.empty() ? "." : strFolder, error), end; !error && it != end;
         it.increment(error)) {
        const pid_t pid = OwnerOfTemporary(it->path().filename().string());
        if (pid <= 0 || pid == ::getpid() || !it->is_regular_file(error)) {
            continue;
        }
        // A process that still runs (or a pid reused since) may be writing it: it stays.
        if (::kill(pid, 0) == 0 || errno != ESRCH) {
            continue;
        }
        ::unlink(it->path().c_str());
    }
}

}  // namespace klangor

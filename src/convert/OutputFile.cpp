#include "convert/OutputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace {
// Large writes mean few system calls per file; one buffer per open file, not per chunk.
constexpr size_t kWriteBufferBytes = 1 << 18;
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
    if (nDash == std::string::npos || nDash == 0 || strRest.size() - nDash - 1 != 6) {
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
    // A link is followed, so the user's link keeps pointing at the new file.
    std::error_code error;
    fs::path target = fs::path(strPath);
    if (fs::is_symlink(target, error)) {
        const fs::path resolved = fs::canonical(target, error);
        if (!error) {
            target = resolved;
        }
    }
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        m_pFile.reset(std::fopen(target.c_str(), bReadBack ? "wb+e" : "wbe"));
        if (!m_pFile) {
            return false;
        }
        m_strFinalPath = target.string();
        m_strTempPath.clear();
        return true;
    }

    const fs::path folder = target.parent_path();
    const std::string strPrefix = "." + target.filename().string() + kPartMarker + std::to_string(::getpid()) + "-";
    int fd = -1;
    std::string strTemp;
    for (int i = 0; i < kNameAttempts && fd < 0; ++i) {
        strTemp = (folder / (strPrefix + RandomSuffix())).string();
        fd = ::open(strTemp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
    m_strFinalPath = target.string();
    m_strTempPath = strTemp;
    std::setvbuf(m_pFile.get(), nullptr, _IOFBF, kWriteBufferBytes);
    return true;
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
        SyncFolder(fs::path(m_strFinalPath).parent_path());
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

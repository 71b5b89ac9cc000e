#include "app/WindowHandover.h"

#include "common/SidecarFile.h"
#include "app/ConverterApp.h"

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace klangor {

namespace {

constexpr std::string_view kMessageHeader = "klangor-open 1\n";
constexpr std::string_view kAnswer = "ok\n";
constexpr const char *kFolderName = "klangor";
constexpr const char *kSocketName = "window";

bool FillAddress(const std::string &strPath, sockaddr_un &address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (strPath.empty() || strPath.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, strPath.data(), strPath.size());
    return true;
}

// A socket file that this user's window may have made: a socket, not a link, owned by this user.
bool IsOwnSocketFile(const struct stat &status) {
    return S_ISSOCK(status.st_mode) && status.st_uid == ::geteuid();
}

bool PeerIsThisUser(int fd) {
    ucred credentials{};
    socklen_t nLength = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &nLength) == 0 &&
           nLength == sizeof credentials && credentials.uid == ::geteuid();
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t nSent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (nSent < 0 && errno == EINTR) {
            continue;
        }
        if (nSent <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(nSent));
    }
    return true;
}

// Connects to strPath as a blocking socket whose every step gives up after nTimeoutMs. Returns the
// descriptor, or -1 with errno telling why.
int ConnectTo(const std::string &strPath, int nTimeoutMs) {
    sockaddr_un address;
    if (!FillAddress(strPath, address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0) {
        return -1;
    }
    const timeval timeout{nTimeoutMs / 1000, (nTimeoutMs % 1000) * 1000};
    if (::setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0 ||
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        return -1;
    }
    int nResult;
    do {
        nResult = ::connect(socket.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    } while (nResult != 0 && errno == EINTR);
    if (nResult != 0) {
        return -1;
    }
    return socket.Release();
}

}  // namespace

std::vector<std::string> FilesToHandOver(int argc, const char *const *argv,
                                         const std::string &strCurrentFolder) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view strArgument(argv[i]);
        // The toolkit takes its options with one dash or two ("--style fusion"), and their values
        // would pass for files: a start with any option opens its own window.
        if (strArgument.starts_with('-')) {
            return {};
        }
    }
    std::vector<std::string> files = CommandLineFiles(argc, argv);
    for (std::string &strFile : files) {
        if (strFile.front() == '/') {
            continue;
        }
        if (strCurrentFolder.empty()) {
            return {};
        }
        strFile.insert(0, strCurrentFolder.back() == '/' ? strCurrentFolder : strCurrentFolder + '/');
    }
    return files;
}

std::string EncodeHandoverMessage(const std::vector<std::string> &paths) {
    std::string strMessage(kMessageHeader);
    for (const std::string &strPath : paths) {
        strMessage += strPath;
        strMessage += '\0';
    }
    return strMessage;
}

std::optional<std::vector<std::string>> DecodeHandoverMessage(std::string_view message) {
    if (message.size() > kMaxHandoverMessage || !message.starts_with(kMessageHeader)) {
        return std::nullopt;
    }
    message.remove_prefix(kMessageHeader.size());
    if (message.empty() || message.back() != '\0') {
        return std::nullopt;
    }
    std::vector<std::string> paths;
    while (!message.empty()) {
        const std::size_t nEnd = message.find('\0');
        const std::string_view strPath = message.substr(0, nEnd);
        if (!strPath.starts_with('/')) {
            return std::nullopt;
        }
        paths.emplace_back(strPath);
        message.remove_prefix(nEnd + 1);
    }
    return paths;
}

std::optional<std::string> HandoverSocketPath(const std::string &strRuntimeDir, bool bCreate) {
    if (strRuntimeDir.empty() || strRuntimeDir.front() != '/') {
        return std::nullopt;
    }
    std::string strFolder = strRuntimeDir;
    if (strFolder.back() != '/') {
        strFolder += '/';
    }
    strFolder += kFolderName;
    struct stat status {};
    if (::lstat(strFolder.c_str(), &status) != 0) {
        if (errno != ENOENT || !bCreate) {
            return std::nullopt;
        }
        // A folder made here by another at the same moment fails this, and is checked like any other.
        if (::mkdir(strFolder.c_str(), 0700) == 0) {
            // The umask may have taken bits away; the folder is of no use without them.
            ::chmod(strFolder.c_str(), 0700);
        }
        if (::lstat(strFolder.c_str(), &status) != 0) {
            return std::nullopt;
        }
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 07777) != 0700) {
        return std::nullopt;
    }
    std::string strSocket = strFolder + '/' + kSocketName;
    sockaddr_un address;
    if (!FillAddress(strSocket, address)) {
        return std::nullopt;
    }
    return strSocket;
}

std::optional<std::string> HandoverSocketPathFromEnvironment(bool bCreate) {
    const char *pszRuntimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (pszRuntimeDir == nullptr) {
        return std::nullopt;
    }
    return HandoverSocketPath(pszRuntimeDir, bCreate);
}

bool HandOverToRunningWindow(const std::string &strSocketPath, const std::vector<std::string> &paths,
                             int nTimeoutMs) {
    const std::string strMessage = EncodeHandoverMessage(paths);
    if (paths.empty() || strMessage.size() > kMaxHandoverMessage) {
        return false;
    }
    struct stat status {};
    if (::lstat(strSocketPath.c_str(), &status) != 0 || !IsOwnSocketFile(status)) {
        return false;
    }
    FileDescriptor socket(ConnectTo(strSocketPath, nTimeoutMs));
    if (socket.Get() < 0 || !PeerIsThisUser(socket.Get()) || !SendAll(socket.Get(), strMessage) ||
        ::shutdown(socket.Get(), SHUT_WR) != 0) {
        return false;
    }
    std::string strAnswer;
    char buffer[16];
    while (strAnswer.size() < kAnswer.size()) {
        const ssize_t nRead = ::recv(socket.Get(), buffer, sizeof buffer, 0);
        if (nRead < 0 && errno == EINTR) {
            continue;
        }
        // The end, an error or the timeout: no answer, so the files were not taken.
        if (nRead <= 0) {
            return false;
        }
        strAnswer.append(buffer, static_cast<std::size_t>(nRead));
    }
    return strAnswer == kAnswer;
}

bool HandOverCommandLine(int argc, const char *const *argv) {
    std::string strCurrentFolder;
    if (char *pszFolder = ::getcwd(nullptr, 0)) {
        strCurrentFolder = pszFolder;
        std::free(pszFolder);
    }
    const std::vector<std::string> files = FilesToHandOver(argc, argv, strCurrentFolder);
    if (files.empty()) {
        return false;
    }
    const std::optional<std::string> strSocketPath = HandoverSocketPathFromEnvironment(false);
    return strSocketPath && HandOverToRunningWindow(*strSocketPath, files);
}

WindowHandoverListener::WindowHandoverListener(std::string strSocketPath, Receiver fnReceive,
                                               QObject *pParent)
    : QObject(pParent), m_strSocketPath(std::move(strSocketPath)), m_fnReceive(std::move(fnReceive)) {
    if (!Listen()) {
        return;
    }
    m_pAcceptNotifier = std::make_unique<QSocketNotifier>(m_fdListen, QSocketNotifier::Read);
    connect(m_pAcceptNotifier.get(), &QSocketNotifier::activated, this, [this] { OnAcceptable(); });
}

WindowHandoverListener::~WindowHandoverListener() {
    for (auto &[fd, pConnection] : m_connections) {
        pConnection->pNotifier.reset();
        ::close(fd);
    }
    m_connections.clear();
    if (m_fdListen < 0) {
        return;
    }
    m_pAcceptNotifier.reset();
    ::close(m_fdListen);
    // Only the file this window made: a later window may have replaced it with its own.
    struct stat status {};
    if (::lstat(m_strSocketPath.c_str(), &status) == 0 && status.st_dev == m_nDevice &&
        status.st_ino == m_nInode) {
        ::unlink(m_strSocketPath.c_str());
    }
}

bool WindowHandoverListener::Listen() {
    sockaddr_un address;
    if (!FillAddress(m_strSocketPath, address)) {
        return false;
    }
    struct stat status {};
    if (::lstat(m_strSocketPath.c_str(), &status) == 0) {
        if (!IsOwnSocketFile(status)) {
            return false;
        }
        const int fdProbe = ConnectTo(m_strSocketPath, kHandoverTimeoutMs);
        if (fdProbe >= 0) {
            ::close(fdProbe);
            return false;
        }
        // Nobody listens there any more: the window that made it has gone.
        if (errno != ECONNREFUSED || ::unlink(m_strSocketPath.c_str()) != 0) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0 ||
        ::bind(socket.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        return false;
    }
    if (::listen(socket.Get(), static_cast<int>(kMaxConnections)) != 0 ||
        ::lstat(m_strSocketPath.c_str(), &status) != 0) {
        ::unlink(m_strSocketPath.c_str());
        return false;
    }
    m_nDevice = status.st_dev;
    m_nInode = status.st_ino;
    m_fdListen = socket.Release();
    return true;
}

void WindowHandoverListener::OnAcceptable() {
    for (;;) {
        const int fd = ::accept4(m_fdListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        if (m_connections.size() >= kMaxConnections || !PeerIsThisUser(fd)) {
            ::close(fd);
            continue;
        }
        auto pConnection = std::make_unique<Connection>();
        pConnection->fd = fd;
        pConnection->pNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(pConnection->pNotifier.get(), &QSocketNotifier::activated, this,
                [this, fd] { OnReadable(fd); });
        pConnection->pDeadline = std::make_unique<QTimer>();
        pConnection->pDeadline->setSingleShot(true);
        connect(pConnection->pDeadline.get(), &QTimer::timeout, this, [this, fd] { Drop(fd); });
        pConnection->pDeadline->start(kConnectionTimeoutMs);
        m_connections.emplace(fd, std::move(pConnection));
    }
}

void WindowHandoverListener::OnReadable(int fd) {
    const auto it = m_connections.find(fd);
    if (it == m_connections.end()) {
        return;
    }
    std::string &strBuffer = it->second->strBuffer;
    char buffer[16384];
    for (;;) {
        const ssize_t nRead = ::recv(fd, buffer, sizeof buffer, 0);
        if (nRead > 0) {
            strBuffer.append(buffer, static_cast<std::size_t>(nRead));
            if (strBuffer.size() > kMaxHandoverMessage) {
                Drop(fd);
                return;
            }
            continue;
        }
        if (nRead < 0 && errno == EINTR) {
            continue;
        }
        if (nRead < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        Finish(fd, nRead == 0);
        return;
    }
}

void WindowHandoverListener::Finish(int fd, bool bMessageComplete) {
    const auto it = m_connections.find(fd);
    std::optional<std::vector<std::string>> paths;
    if (bMessageComplete) {
        paths = DecodeHandoverMessage(it->second->strBuffer);
    }
    // The sender opens a window of its own unless it has read the answer, so the files are taken only
    // once the answer has gone out.
    const bool bAnswered = paths && SendAll(fd, kAnswer);
    Drop(fd);
    if (bAnswered) {
        // From the event loop, so that whatever the receiver opens (an error box with its own loop) does
        // not run inside this notifier's call.
        QTimer::singleShot(0, this, [this, taken = std::move(*paths)] { m_fnReceive(taken); });
    }
}

void WindowHandoverListener::Drop(int fd) {
    const auto it = m_connections.find(fd);
    if (it == m_connections.end()) {
        return;
    }
    std::unique_ptr<Connection> pConnection = std::move(it->second);
    m_connections.erase(it);
    // The notifier or the timer may be the caller: they go once control is back in the event loop.
    pConnection->pNotifier->setEnabled(false);
    pConnection->pDeadline->stop();
    pConnection->pNotifier.release()->deleteLater();
    pConnection->pDeadline.release()->deleteLater();
    ::close(pConnection->fd);
}

}  // namespace klangor

#pragma once

#include <QObject>

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace klangor {

// "klangor FILE..." while a window of the same user runs: the files go to that window, which lists them
// and comes to the front, and the new start ends without a window. The window listens on a local socket
// in a folder of the user's own under $XDG_RUNTIME_DIR; the starting program connects, sends the
// absolute paths as bytes and waits for the window's short answer, so that a file is either in the
// running window's list or opened in a window of its own, never lost on the way. Without a usable
// runtime folder nothing is handed over and every start opens its window.

// The option that opens a window of its own whatever window runs already.
inline constexpr std::string_view kNewWindowOption = "--new-window";

// The longest message a window reads; a longer one is refused, and a start with more files than fit
// opens its own window.
inline constexpr std::size_t kMaxHandoverMessage = 1024 * 1024;

// How long a start waits for the running window's answer before it opens its own window.
inline constexpr int kHandoverTimeoutMs = 2000;

// The files a start hands to a running window: the command line's files (see CommandLineFiles), each
// made absolute against strCurrentFolder by bytes, in order. Empty when this start opens its own window
// instead: no file was named, the current folder is unknown (empty) while a path is relative, or an
// argument begins with "-" (--new-window, or a toolkit option such as "-platform" or "--style" whose
// value would otherwise pass for a file).
std::vector<std::string> FilesToHandOver(int argc, const char *const *argv,
                                         const std::string &strCurrentFolder);

// The message: a first line naming the format and its version, then each path followed by one NUL.
std::string EncodeHandoverMessage(const std::vector<std::string> &paths);
// The paths of a message, or nothing for anything else: a message that is too long, another first
// line, no path, an empty or relative path, or bytes after the last NUL.
std::optional<std::vector<std::string>> DecodeHandoverMessage(std::string_view message);

// The socket's path, <strRuntimeDir>/klangor/window, when its folder can be trusted: a real directory
// (no link), owned by this user, with mode exactly 0700. bCreate makes the folder when it is missing.
// Nothing when the runtime folder is empty or not absolute, when the folder is another's, open to
// others or a link, or when the path is too long for a socket address.
std::optional<std::string> HandoverSocketPath(const std::string &strRuntimeDir, bool bCreate);
// The same for $XDG_RUNTIME_DIR; nothing when it is unset.
std::optional<std::string> HandoverSocketPathFromEnvironment(bool bCreate);

// The sending side, plain POSIX with no toolkit: connects to the window at strSocketPath (a socket file
// owned by this user, answered by a process of this user), sends the paths and waits up to nTimeoutMs
// for each step. True only when the window has answered that it took them.
bool HandOverToRunningWindow(const std::string &strSocketPath, const std::vector<std::string> &paths,
                             int nTimeoutMs = kHandoverTimeoutMs);

// The whole sending side of a start, before any toolkit is built: true when a running window has taken
// this command line's files, and the start ends there.
bool HandOverCommandLine(int argc, const char *const *argv);

// The listening side, on the window's thread. It listens at strSocketPath unless that path is not to be
// used: the socket file there is not a socket owned by this user, or a live window answers there already
// (a window started with --new-window, or while the first one starts). A socket file left by a window
// that has gone (nobody answers) is replaced. Connections from other users are dropped; each message is
// read without blocking, bounded in size and time, answered, and its paths are passed to fnReceive from
// the event loop, after the answer has gone out.
class WindowHandoverListener : public QObject {
public:
    using Receiver = std::function<void(const std::vector<std::string> &paths)>;

    WindowHandoverListener(std::string strSocketPath, Receiver fnReceive, QObject *pParent = nullptr);
    ~WindowHandoverListener() override;

    bool IsListening() const { return m_fdListen >= 0; }

    // Connections open at once; more are refused until one ends.
    static constexpr std::size_t kMaxConnections = 8;
    // A connection that has not sent its whole message by then is dropped.
    static constexpr int kConnectionTimeoutMs = 5000;

private:
    struct Connection {
        int fd = -1;
        std::string strBuffer;
        std::unique_ptr<QSocketNotifier> pNotifier;
        std::unique_ptr<QTimer> pDeadline;
    };

    bool Listen();
    void OnAcceptable();
    void OnReadable(int fd);
    void Finish(int fd, bool bMessageComplete);
    void Drop(int fd);

    std::string m_strSocketPath;
    Receiver m_fnReceive;
    int m_fdListen = -1;
    // The socket file this listener made, so that the destructor removes its own file only.
    dev_t m_nDevice = 0;
    ino_t m_nInode = 0;
    std::unique_ptr<QSocketNotifier> m_pAcceptNotifier;
    std::map<int, std::unique_ptr<Connection>> m_connections;
};

}  // namespace klangor

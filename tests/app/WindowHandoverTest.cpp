// A second start handing its files to the running window: the message read from outside, the rules for
// the folder and the socket, and which starts hand over at all.
#include "app/WindowHandover.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace klangor {

namespace {

using namespace std::string_literals;
using Paths = std::vector<std::string>;

constexpr std::string_view kHeader = "klangor-open 1\n";

std::string Message(std::string_view body) {
    return std::string(kHeader) + std::string(body);
}

TEST(HandoverMessage, OnlyWholeListsOfAbsolutePathsAreReadAndAnythingElseIsRefused) {
    const std::string strFiller(kMaxHandoverMessage - kHeader.size() - 2, 'a');
    const struct {
        const char *pszWhat;
        std::string strMessage;
        std::optional<Paths> expected;
    } cases[] = {
        {"two paths, bytes kept", Message("/a b.wav\0/caf\xE9\n.mp3\0"s),
         Paths{"/a b.wav", "/caf\xE9\n.mp3"}},
        {"exactly the longest message", Message("/" + strFiller + '\0'), Paths{"/" + strFiller}},
        {"one byte too long", Message("/a" + strFiller + '\0'), std::nullopt},
        {"nothing", "", std::nullopt},
        {"header cut short", "klangor-op", std::nullopt},
        {"header without paths", Message(""), std::nullopt},
        {"another version", "klangor-open 2\n/a\0"s, std::nullopt},
        {"no header", "/a\0"s, std::nullopt},
        {"last path without its NUL", Message("/a\0/b"s), std::nullopt},
        {"empty path", Message("/a\0\0"s), std::nullopt},
        {"relative path", Message("/a\0b.wav\0"s), std::nullopt},
        {"binary noise",
         "\x7f"
         "ELF\0\x01\x02\xff\0"s,
         std::nullopt},
    };
    for (const auto &testCase : cases) {
        EXPECT_EQ(DecodeHandoverMessage(testCase.strMessage), testCase.expected) << testCase.pszWhat;
    }
    const Paths odd = {"/\xff\xfe/\x01 x", "/a\nb", "/"};
    EXPECT_EQ(DecodeHandoverMessage(EncodeHandoverMessage(odd)), odd);
}

TEST(HandoverCommandLine, OnlyFilesWithoutOptionsAreHandedOverAndMadeAbsoluteByBytes) {
    const struct {
        std::vector<const char *> argv;
        std::string strFolder;
        Paths expected;
    } cases[] = {
        {{"klangor", "a.wav", "/m/b.mp4", "sub/c d.avi", "\xff.wav"},
         "/home/u",
         {"/home/u/a.wav", "/m/b.mp4", "/home/u/sub/c d.avi", "/home/u/\xff.wav"}},
        {{"klangor", "--style", "fusion", "a.wav"}, "/", {}},
        {{"klangor", "--new-window", "a.wav"}, "/home/u", {}},
        {{"klangor", "a.wav", "--new-window"}, "/home/u", {}},
        {{"klangor", "a.wav", "-platform", "offscreen"}, "/home/u", {}},
        {{"klangor"}, "/home/u", {}},
        {{"klangor", "/m/a.wav"}, "", {"/m/a.wav"}},
        {{"klangor", "/m/a.wav", "b.wav"}, "", {}},
    };
    for (const auto &testCase : cases) {
        EXPECT_EQ(
            FilesToHandOver(static_cast<int>(testCase.argv.size()), testCase.argv.data(), testCase.strFolder),
            testCase.expected)
            << testCase.argv.back();
    }
}

// A socket file with nobody behind it, as a window that was killed leaves it.
void LeaveDeadSocket(const std::string &strPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, strPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
}

// Sends from a thread of its own, as another process would, while this thread runs the window's loop.
bool HandOverWhileTheLoopRuns(const std::string &strPath, const Paths &paths) {
    std::atomic<bool> bDone = false;
    bool bTaken = false;
    std::thread sender([&] {
        bTaken = HandOverToRunningWindow(strPath, paths);
        bDone = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return bDone.load(); }, 10000));
    sender.join();
    return bTaken;
}

TEST(HandoverSocket, OnlyAPrivateRealFolderOfThisUserIsUsedAndMadeWhenMissing) {
    namespace fs = std::filesystem;
    TempDir runtime;
    const std::string strRuntime = runtime.Path().string();
    EXPECT_EQ(HandoverSocketPath(strRuntime, false), std::nullopt);
    EXPECT_FALSE(fs::exists(runtime.Path() / "klangor")) << "only a window makes the folder";

    // A umask that would take the owner's own bits away still leaves a folder the window can use.
    const mode_t nOldMask = ::umask(0277);
    const std::optional<std::string> strSocket = HandoverSocketPath(strRuntime, true);
    ::umask(nOldMask);
    EXPECT_EQ(strSocket, strRuntime + "/klangor/window");
    struct stat status {};
    ASSERT_EQ(::lstat((runtime.Path() / "klangor").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);

    // A file in the socket's place that is no socket: nobody listens there, and it is left alone.
    std::ofstream(*strSocket) << "mine";
    {
        WindowHandoverListener listener(*strSocket, [](const Paths &) {});
        EXPECT_FALSE(listener.IsListening());
    }
    EXPECT_TRUE(fs::is_regular_file(*strSocket));
    EXPECT_FALSE(HandOverToRunningWindow(*strSocket, {"/a.wav"}));

    fs::permissions(runtime.Path() / "klangor", fs::perms(0755));
    EXPECT_EQ(HandoverSocketPath(strRuntime, true), std::nullopt) << "open to others";
    fs::permissions(runtime.Path() / "klangor", fs::perms(0700));
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((runtime.Path() / "klangor").c_str(), 4321, 4321), 0);
        EXPECT_EQ(HandoverSocketPath(strRuntime, true), std::nullopt) << "another user's";
    }

    TempDir linked;
    fs::create_directory(linked.Path() / "real");
    fs::permissions(linked.Path() / "real", fs::perms(0700));
    fs::create_directory_symlink(linked.Path() / "real", linked.Path() / "klangor");
    EXPECT_EQ(HandoverSocketPath(linked.Path().string(), true), std::nullopt) << "a link";

    EXPECT_EQ(HandoverSocketPath("", true), std::nullopt);
    EXPECT_EQ(HandoverSocketPath("run/user", true), std::nullopt);
    TempDir deep;
    const fs::path pathDeep = deep.Path() / std::string(120, 'd');
    fs::create_directory(pathDeep);
    EXPECT_EQ(HandoverSocketPath(pathDeep.string(), true), std::nullopt) << "too long for a socket";
}

TEST(HandoverSocket, AStaleSocketIsReplacedAndTheLiveWindowGetsThePathsInOrder) {
    TempDir runtime;
    const std::string strSocket = HandoverSocketPath(runtime.Path().string(), true).value();
    LeaveDeadSocket(strSocket);
    EXPECT_FALSE(HandOverToRunningWindow(strSocket, {"/a.wav"})) << "nobody answers a dead socket";

    std::vector<Paths> received;
    auto pFirst = std::make_unique<WindowHandoverListener>(
        strSocket, [&](const Paths &paths) { received.push_back(paths); });
    ASSERT_TRUE(pFirst->IsListening());
    const Paths paths = {"/z/last.wav", "/a/first \xe9.mp4", "/m/folder"};
    EXPECT_TRUE(HandOverWhileTheLoopRuns(strSocket, paths));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !received.empty(); }, 5000));
    EXPECT_EQ(received, std::vector<Paths>{paths});

    // A second window (--new-window) leaves the socket to the first.
    {
        WindowHandoverListener second(strSocket, [](const Paths &) { ADD_FAILURE() << "second window"; });
        EXPECT_FALSE(second.IsListening());
    }
    EXPECT_TRUE(HandOverWhileTheLoopRuns(strSocket, {"/b.wav"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 5000));

    // A window that closes takes its socket with it, and the next start opens its own.
    pFirst.reset();
    EXPECT_FALSE(std::filesystem::exists(strSocket));
    EXPECT_FALSE(HandOverToRunningWindow(strSocket, {"/a.wav"}));
}

TEST(HandoverSocket, GarbageGetsNoAnswerAndTheWindowListensOn) {
    TempDir runtime;
    const std::string strSocket = HandoverSocketPath(runtime.Path().string(), true).value();
    int nReceived = 0;
    WindowHandoverListener listener(strSocket, [&](const Paths &) { ++nReceived; });
    ASSERT_TRUE(listener.IsListening());

    std::atomic<bool> bDone = false;
    std::string strAnswer = "unread";
    std::thread sender([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, strSocket.c_str(), sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
            const std::string strGarbage = "klangor-open 1\nrelative\0"s + std::string(100000, '\xff');
            ::send(fd, strGarbage.data(), strGarbage.size(), MSG_NOSIGNAL);
            ::shutdown(fd, SHUT_WR);
            char buffer[8];
            const ssize_t nRead = ::recv(fd, buffer, sizeof buffer, 0);
            strAnswer.assign(buffer, static_cast<std::size_t>(std::max<ssize_t>(nRead, 0)));
        }
        ::close(fd);
        bDone = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return bDone.load(); }, 10000));
    sender.join();
    EXPECT_EQ(strAnswer, "");
    EXPECT_TRUE(HandOverWhileTheLoopRuns(strSocket, {"/a.wav"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return nReceived == 1; }, 5000));
}

// Connects, sends a good message and prints the answer; run as this user and as another.
constexpr const char *kClientScript = R"(import socket, sys
s = socket.socket(socket.AF_UNIX)
s.settimeout(5)
s.connect(sys.argv[1])
try:
    s.sendall(b"klangor-open 1\n/a.wav\0")
    s.shutdown(socket.SHUT_WR)
    print(repr(s.recv(8)))
except OSError:
    print("reset")
)";

TEST(HandoverSocket, AnotherUsersConnectionIsDropped) {
    const QString strSetpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    // A system interpreter, which another user can run.
    const QString strPython = QStandardPaths::findExecutable(QStringLiteral("python3"), {"/usr/bin", "/bin"});
    if (::geteuid() != 0 || strSetpriv.isEmpty() || strPython.isEmpty()) {
        GTEST_SKIP() << "connecting as another user needs root, setpriv and python3";
    }
    // A socket that others may reach, so that only the window's own check stands in their way.
    TempDir open;
    std::filesystem::permissions(open.Path(), std::filesystem::perms(0711));
    const std::string strSocket = (open.Path() / "window").string();
    int nReceived = 0;
    WindowHandoverListener listener(strSocket, [&](const Paths &) { ++nReceived; });
    ASSERT_TRUE(listener.IsListening());
    ASSERT_EQ(::chmod(strSocket.c_str(), 0777), 0);
    auto answerTo = [&](const QStringList &prefix) {
        QProcess client;
        QStringList command =
            prefix + QStringList{strPython, "-c", kClientScript, QString::fromStdString(strSocket)};
        const QString strProgram = command.takeFirst();
        client.start(strProgram, command);
        EXPECT_TRUE(QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 10000));
        return client.readAllStandardOutput().trimmed().toStdString();
    };
    // Dropped at once: the end, or a reset when the message was still on its way.
    const std::string strOther = answerTo({strSetpriv, "--reuid=4321", "--regid=4321", "--clear-groups"});
    EXPECT_TRUE(strOther == "b''" || strOther == "reset") << strOther;
    EXPECT_EQ(answerTo({}), "b'ok\\n'") << "the same client as this user is answered";
    EXPECT_TRUE(QTest::qWaitFor([&] { return nReceived == 1; }, 5000));
    EXPECT_EQ(nReceived, 1);
}

}  // namespace

}  // namespace klangor

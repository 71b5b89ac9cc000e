#include "player/GraphRegistration.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "player/PlaybackGraph.h"
#include "common/SidecarFile.h"

namespace klangor {

namespace {

bool IsSocket(const std::string &strPath) {
    struct stat info {};
    return lstat(strPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

std::string GraphItemName(uintptr_t nReference, pid_t pid) {
    char sz[64];
    std::snprintf(sz, sizeof(sz), "FilterGraph %08x pid %08x", static_cast<unsigned>(nReference),
                  static_cast<unsigned>(pid));
    return sz;
}

int PrepareRegistrationFolder(std::string &strFolder) {
    const char *pszRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (pszRuntime != nullptr && *pszRuntime != '\0') {
        strFolder = std::string(pszRuntime) + "/klangor";
    } else {
        strFolder = "/tmp/klangor-" + std::to_string(getuid());
    }
    if (mkdir(strFolder.c_str(), 0700) != 0 && errno != EEXIST) {
        return kPlaybackFailed;
    }
    // In a shared folder such as /tmp someone else may have made the name first: use it only when it is
    // truly ours and closed to others.
    struct stat info {};
    if (lstat(strFolder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        return kPlaybackFailed;
    }
    if ((info.st_mode & 0777) != 0700 && chmod(strFolder.c_str(), 0700) != 0) {
        return kPlaybackFailed;
    }
    return kPlaybackOk;
}

int ClearSocketPath(const std::string &strPath) {
    sockaddr_un address{};
    if (strPath.size() >= sizeof(address.sun_path)) {
        return kPlaybackInvalidArgument;
    }
    struct stat info {};
    if (lstat(strPath.c_str(), &info) != 0) {
        return errno == ENOENT ? kPlaybackOk : kPlaybackFailed;
    }
    if (!S_ISSOCK(info.st_mode)) {
        return kPlaybackFailed;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, strPath.c_str(), strPath.size() + 1);
    FileDescriptor probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (probe.Get() < 0) {
        return kPlaybackFailed;
    }
    if (connect(probe.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0) {
        return kPlaybackFailed;  // someone still listens there
    }
    if (errno != ECONNREFUSED) {
        return kPlaybackFailed;
    }
    return unlink(strPath.c_str()) == 0 ? kPlaybackOk : kPlaybackFailed;
}

void RemoveSocket(const std::string &strPath) {
    if (!strPath.empty() && IsSocket(strPath)) {
        unlink(strPath.c_str());
    }
}

int RegisterPlayback(IPlaybackGraph &graph, pid_t pid, std::string &strPath) {
    std::string strFolder;
    int hr = PrepareRegistrationFolder(strFolder);
    if (PlaybackFailed(hr)) {
        return hr;
    }
    const std::string strSocket = strFolder + "/" + GraphItemName(graph.GetReference(), pid);
    hr = ClearSocketPath(strSocket);
    if (PlaybackFailed(hr)) {
        return hr;
    }
    hr = graph.SetRegistration(strSocket);
    if (PlaybackFailed(hr)) {
        return hr;
    }
    strPath = strSocket;
    return kPlaybackOk;
}

void UnregisterPlayback(IPlaybackGraph *pGraph, const std::string &strPath) {
    if (pGraph != nullptr) {
        pGraph->SetRegistration("");
    }
    RemoveSocket(strPath);
}

}  // namespace klangor

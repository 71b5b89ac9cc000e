#include "media/MediaWalk.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <cctype>
#include <filesystem>
#include <set>
#include <utility>

#include "media/MediaProbe.h"

namespace klangor {

namespace fs = std::filesystem;

namespace {

// The open dialog's video, audio and MIDI patterns, and the containers and streams of today's files.
constexpr const char *kMediaExtensions[] = {
    "avi", "rm",  "asf",  "rmvb", "qt",  "mov",  "mpg",  "mpeg", "m1v", "mp3",  "wav", "mpa",
    "mp2", "au",  "aif",  "aiff", "snd", "mid",  "midi", "rmi",  "mp4", "m4a",  "m4b", "m4v",
    "mkv", "mka", "webm", "flac", "ogg", "oga",  "opus", "aac",  "ac3", "eac3", "dts", "wma",
    "wmv", "flv", "3gp",  "ts",   "mts", "m2ts", "vob",  "ape",  "wv",  "caf",  "amr", "alac",
};

// What is never media, and need not be looked into: what lies beside media in a library.
constexpr const char *kOtherExtensions[] = {"jpg",  "jpeg", "png", "gif",      "bmp", "tga",
                                            "webp", "txt",  "nfo", "log",      "cue", "m3u",
                                            "m3u8", "pls",  "pdf", "clipinfo", "db",  "ini"};

std::string ExtensionOf(const std::string &strName) {
    const size_t nDot = strName.rfind('.');
    std::string strExtension = nDot == std::string::npos || nDot == 0 ? "" : strName.substr(nDot + 1);
    std::transform(strExtension.begin(), strExtension.end(), strExtension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strExtension;
}

bool IsOneOf(const std::string &strExtension, const auto &list) {
    return std::any_of(std::begin(list), std::end(list), [&](const char *sz) { return strExtension == sz; });
}

class Walker {
public:
    Walker(bool bFollowLinks, const std::function<bool()> &fnStopped, FolderWalk &walk)
        : m_bFollowLinks(bFollowLinks), m_fnStopped(fnStopped), m_walk(walk) {}

    void Walk(const fs::path &folder, const std::string &strSubfolder) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0) {
            m_walk.notes.push_back(folder.string() + ": cannot be read");
            return;
        }
        if (!m_visited.insert({info.st_dev, info.st_ino}).second) {
            m_walk.notes.push_back(folder.string() +
                                   ": a folder already walked (a loop of links), passed over");
            return;
        }
        std::vector<std::string> names;
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            names.push_back(it->path().filename().string());
        }
        if (error) {
            m_walk.notes.push_back(folder.string() + ": cannot be read (" + error.message() + ")");
        }
        // In a steady order, so the notes come the same way every time.
        std::sort(names.begin(), names.end());
        for (const std::string &strName : names) {
            if (m_fnStopped && m_fnStopped()) {
                return;
            }
            const fs::path path = folder / strName;
            struct stat link {};
            struct stat target {};
            if (::lstat(path.c_str(), &link) != 0) {
                continue;
            }
            const bool bLink = S_ISLNK(link.st_mode);
            if (::stat(path.c_str(), &target) != 0) {
                m_walk.notes.push_back(path.string() + ": a link to nothing, passed over");
                continue;
            }
            if (S_ISDIR(target.st_mode)) {
                if (bLink && !m_bFollowLinks) {
                    m_walk.notes.push_back(path.string() + ": a link to a folder, not followed");
                    continue;
                }
                Walk(path, strSubfolder.empty() ? strName : strSubfolder + "/" + strName);
            } else if (S_ISREG(target.st_mode)) {
                Take(path, strName, strSubfolder);
            }
        }
    }

private:
    void Take(const fs::path &path, const std::string &strName, const std::string &strSubfolder) {
        const std::string strExtension = ExtensionOf(strName);
        if (IsOneOf(strExtension, kMediaExtensions) ||
            (!IsOneOf(strExtension, kOtherExtensions) && LooksLikeMedia(path.string()))) {
            m_walk.files.push_back({path.string(), strSubfolder});
        } else {
            m_walk.notes.push_back(path.string() + ": not a media file, passed over");
        }
    }

    bool m_bFollowLinks;
    const std::function<bool()> &m_fnStopped;
    FolderWalk &m_walk;
    std::set<std::pair<dev_t, ino_t>> m_visited;
};

}  // namespace

FolderWalk WalkMediaFolder(const std::string &strFolder, bool bFollowLinks,
                           const std::function<bool()> &fnStopped) {
    FolderWalk walk;
    Walker(bFollowLinks, fnStopped, walk).Walk(strFolder, "");
    // By the whole path, byte-wise: "a-c/x" comes before "a/b/x", as a sorted list of paths has it.
    std::sort(walk.files.begin(), walk.files.end(),
              [](const WalkedFile &a, const WalkedFile &b) { return a.strPath < b.strPath; });
    return walk;
}

}  // namespace klangor

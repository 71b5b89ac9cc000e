#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <string>
#include <utility>

struct stat;

namespace klangor {

// Closes a POSIX descriptor on every path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    FileDescriptor(FileDescriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    ~FileDescriptor() { Close(); }
    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    // Hands the descriptor over; it is no longer closed here.
    int Release() { return std::exchange(m_fd, -1); }
    // Closing can report a late write failure (NFS, full disk), so writers check it.
    int Close();

private:
    int m_fd;
};

// Whether a process running as uidFollower may follow a symbolic link owned by uidLink that lies in a
// folder owned by uidFolder with folderMode: the rule the kernel applies in shared folders
// (fs.protected_symlinks). Its own links are followed anywhere; in a folder that is both sticky and
// world-writable (the system's temporary folder) another user's link only when that user owns the folder.
bool MayFollowLink(uid_t uidLink, uid_t uidFolder, mode_t folderMode, uid_t uidFollower);

// Follows the symbolic links that strPath's last name leads through, each only where MayFollowLink
// allows it for this process, and sets strTarget to where they end: a name that is no link (it may not
// exist yet), or a link not to be followed (bUnfollowedLink), which a writer replaces and never writes
// through. A link that leads to no name (a process's descriptor under /proc) ends the walk at that link,
// for opening through the kernel. 0 or the errno (ELOOP for a circle of links).
int ResolveTrustedLinks(const std::string &strPath, std::string &strTarget, bool &bUnfollowedLink);

// Whether this process may rename a file over entry in a folder with folderInfo: in a sticky folder only
// the entry's or the folder's owner may (root aside).
bool MayReplaceEntry(const struct stat &entry, const struct stat &folderInfo);

// Replaces the whole content of a small file the user may rely on (a sidecar beside a media file), and
// returns 0 or the errno of the failure. On failure the old content is kept.
//
// - A symbolic link is written through where ResolveTrustedLinks follows it: its target gets the new
//   content, the link stays. A link it does not follow is replaced where this process may replace it,
//   and refused with EACCES where it may not; its target is never written.
// - Normally the text goes to a temporary file beside the target, which is synced and renamed over it,
//   so a crash never leaves half a record. The temporary takes the old file's mode and owner, and is
//   created exclusively under a random name; leftovers of runs that died are removed.
// - When the folder refuses a new file (no write access to it) but the file itself is writable, when the
//   owner cannot be kept, or when the file has further hard links, the file is rewritten in place.
// - A file the user may not write is refused with EACCES, even where the folder would allow a rename.
int ReplaceFileContents(const std::string &strPath, const std::string &strText);

// The marker in the temporary names, after the target's own name.
inline constexpr const char *kSidecarTempMarker = ".klangor-tmp-";

// The start of every temporary name for a file named strName in a folder whose names hold up to
// nNameMax bytes: the name, cut short where a temporary of the whole name would not fit (the cut keeps
// room for any process id), then the marker.
std::string SidecarTempPrefix(const std::string &strName, size_t nNameMax);
// A fresh temporary name for strName: the prefix, this process's id and a random part.
std::string SidecarTempName(const std::string &strName, size_t nNameMax);
// Whether strName, which starts with a temporary prefix of nPrefix bytes and was last written at
// modified, is what a writer that no longer runs left behind.
bool IsDeadSidecarTemp(const std::string &strName, size_t nPrefix, std::time_t modified);

// The longest name strFolder takes (its file system's NAME_MAX, at most 255), 255 when not told.
size_t NameMaxOf(const std::string &strFolder);

}  // namespace klangor

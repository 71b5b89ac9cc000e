#pragma once

#include <string>

// Closes a POSIX descriptor on every path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor() { Close(); }
    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    // Closing can report a late write failure (NFS, full disk), so writers check it.
    int Close();

private:
    int m_fd;
};

// Replaces the whole content of a small file the user may rely on (a sidecar beside a media file), and
// returns 0 or the errno of the failure. On failure the old content is kept.
//
// - A symbolic link is written through: its target gets the new content, the link stays.
// - Normally the text goes to a temporary file beside the target, which is synced and renamed over it,
//   so a crash never leaves half a record. The temporary takes the old file's mode and owner, and is
//   created exclusively under a random name; leftovers of runs that died are removed.
// - When the folder refuses a new file (no write access to it) but the file itself is writable, when the
//   owner cannot be kept, or when the file has further hard links, the file is rewritten in place.
// - A file the user may not write is refused with EACCES, even where the folder would allow a rename.
int ReplaceFileContents(const std::string &strPath, const std::string &strText);

// The marker in the temporary names, after the target's own name.
inline constexpr const char *kSidecarTempMarker = ".klangor-tmp-";

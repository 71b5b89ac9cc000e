#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace klangor {

// An output file of the writers. It is written under a hidden name in the output's own folder
// (".NAME.part-PID-XXXXXX", created exclusively) and renamed onto its final name only by Keep, after
// it was flushed and synced: whenever the process dies, the final name holds the earlier file or the
// complete new one. An output path that names a device or a pipe (/dev/null, a FIFO) is written in
// place, since a rename would replace it. A symbolic link is followed only where the kernel would let
// this process follow it (see ResolveTrustedLinks): another user's link in a shared sticky folder is
// replaced, or the output refused where it cannot be, and what it names is never written. A final name
// as long as the folder allows gets a temporary named after the start of it. Runs on the one thread that
// converts the job.
class OutputFile {
public:
    // What stdio holds before it writes: large writes mean few system calls per file.
    static constexpr size_t kWriteBufferBytes = size_t{1} << 18;

    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() { Discard(); }

    // Opens a fresh temporary file for writing, also readable when bReadBack (LAME rewrites the start
    // of its files). False when it cannot be made; errno tells why.
    bool Create(const std::string &strPath, bool bReadBack = false);
    FILE *Get() const { return m_pFile.get(); }
    // Flushes, syncs, closes and renames onto the final name. False when anything written failed to
    // reach the disk; nothing is then left behind and an earlier file of that name stays as it was.
    // finishTemp, when given, runs on the flushed temporary file before it is synced (tags are added
    // there); its false result fails the file the same way. It is not run for outputs written in place.
    bool Keep(const std::function<bool(const std::string &strTempPath)> &finishTemp = {});
    // Closes and removes the temporary file; the final name is not touched.
    void Discard();

    // The temporary name in use, empty when none (for tests).
    const std::string &GetTempPath() const { return m_strTempPath; }

    // Removes the temporary files that processes of ours which no longer run left in strFolder.
    static void RemoveStaleTemporaries(const std::string &strFolder);

private:
    struct Closer {
        void operator()(FILE *pFile) const { std::fclose(pFile); }
    };
    // Gives the stream its write buffer, before anything is written.
    void UseWriteBuffer();

    // Our own: the C library ignores the size asked for when it is to allocate the buffer itself, and
    // gives a file system block (4 KiB). Declared before the stream, which uses it until it is closed.
    std::unique_ptr<char[]> m_pBuffer;
    std::unique_ptr<FILE, Closer> m_pFile;
    std::string m_strFinalPath;
    std::string m_strTempPath;  // empty when writing in place
};

}  // namespace klangor

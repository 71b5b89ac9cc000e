#include "common/CheckedFileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace klangor {

namespace {

constexpr size_t kMoveBlockBytes = 1 << 20;

// Runs fnTransfer(p, n) until all nBytes have gone, fnTransfer returning what read(2) or write(2) would.
template <typename Byte, typename Transfer>
bool TransferAll(Byte *p, size_t nBytes, Transfer fnTransfer) {
    while (nBytes > 0) {
        const ssize_t n = fnTransfer(p, nBytes);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;  // a full disk, or a file shorter than it was a moment ago
        }
        p += n;
        nBytes -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool WriteAllAt(int fd, uint64_t nAt, const void *pBytes, size_t nBytes) {
    return TransferAll(static_cast<const char *>(pBytes), nBytes, [&](const char *p, size_t n) {
        const ssize_t nDone = ::pwrite(fd, p, n, static_cast<off_t>(nAt));
        nAt += nDone > 0 ? static_cast<uint64_t>(nDone) : 0;
        return nDone;
    });
}

bool ReadAllAt(int fd, uint64_t nAt, void *pBytes, size_t nBytes) {
    return TransferAll(static_cast<char *>(pBytes), nBytes, [&](char *p, size_t n) {
        const ssize_t nDone = ::pread(fd, p, n, static_cast<off_t>(nAt));
        nAt += nDone > 0 ? static_cast<uint64_t>(nDone) : 0;
        return nDone;
    });
}

bool WriteAll(int fd, const void *pBytes, size_t nBytes) {
    return TransferAll(static_cast<const char *>(pBytes), nBytes,
                       [fd](const char *p, size_t n) { return ::write(fd, p, n); });
}

bool ReadAll(int fd, void *pBytes, size_t nBytes) {
    return TransferAll(static_cast<char *>(pBytes), nBytes,
                       [fd](char *p, size_t n) { return ::read(fd, p, n); });
}

bool InsertIntoFile(int fd, uint64_t nAt, const void *pBytes, size_t nBytes) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) < nAt) {
        return false;
    }
    const auto nLength = static_cast<uint64_t>(info.st_size);
    if (nBytes == 0) {
        return true;
    }
    if (::posix_fallocate(fd, static_cast<off_t>(nLength), static_cast<off_t>(nBytes)) != 0) {
        return false;
    }
    // From the end backwards, so that no byte is overwritten before it has been moved.
    std::vector<char> block(static_cast<size_t>(std::min<uint64_t>(kMoveBlockBytes, nLength - nAt)));
    for (uint64_t nEnd = nLength; nEnd > nAt;) {
        const size_t nMove = static_cast<size_t>(std::min<uint64_t>(block.size(), nEnd - nAt));
        const uint64_t nFrom = nEnd - nMove;
        if (!ReadAllAt(fd, nFrom, block.data(), nMove) ||
            !WriteAllAt(fd, nFrom + nBytes, block.data(), nMove)) {
            return false;
        }
        nEnd = nFrom;
    }
    if (!WriteAllAt(fd, nAt, pBytes, nBytes)) {
        return false;
    }
    return ::fstat(fd, &info) == 0 && static_cast<uint64_t>(info.st_size) == nLength + nBytes;
}

}  // namespace klangor

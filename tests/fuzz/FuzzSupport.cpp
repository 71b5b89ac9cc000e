#include "FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace klangor {

namespace {

struct Folder {
    std::string strPath;
    Folder() {
        std::string strPattern = (std::filesystem::temp_directory_path() / "klangor-fuzz-XXXXXX").string();
        if (::mkdtemp(strPattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        strPath = strPattern;
    }
    ~Folder() {
        std::error_code error;
        std::filesystem::remove_all(strPath, error);
    }
};

}  // namespace

const std::string &FuzzFolder() {
    static Folder folder;
    return folder.strPath;
}

void WriteFuzzFile(const std::string &strPath, const uint8_t *pData, size_t nSize) {
    const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(strPath.c_str());
        std::abort();
    }
    size_t nDone = 0;
    while (nDone < nSize) {
        const ssize_t n = ::write(fd, pData + nDone, nSize - nDone);
        if (n <= 0) {
            std::perror(strPath.c_str());
            std::abort();
        }
        nDone += static_cast<size_t>(n);
    }
    ::close(fd);
}

volatile unsigned g_uFuzzKept = 0;

void FuzzKeep(unsigned uValue) {
    g_uFuzzKept = uValue;
}

}  // namespace klangor

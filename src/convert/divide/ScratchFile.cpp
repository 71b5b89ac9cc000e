#include "convert/divide/ScratchFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/OutputFile.h"

namespace klangor {

FilePtr CreateScratchFile(const std::string &strOutputPath) {
    std::filesystem::path folder = std::filesystem::path(strOutputPath).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string strTemplate = (folder / ".klangor-part-XXXXXX").string();
        fd = ::mkostemp(strTemplate.data(), O_CLOEXEC);
        if (fd >= 0) {
            ::unlink(strTemplate.c_str());
        }
    }
    // As large a buffer as the output's: each part is written once and read back once. The C library
    // would allocate only a file system block (4 KiB) whatever size it were asked for.
    FilePtr pFile(fd >= 0 ? ::fdopen(fd, "w+b") : std::tmpfile(),
                  FileCloser{std::make_unique_for_overwrite<char[]>(OutputFile::kWriteBufferBytes)});
    if (fd >= 0 && !pFile) {
        ::close(fd);
    }
    if (pFile) {
        std::setvbuf(pFile.get(), pFile.get_deleter().pBuffer.get(), _IOFBF, OutputFile::kWriteBufferBytes);
    }
    return pFile;
}

bool IsStreamFile(const std::string &strPath) {
    struct stat info {};
    return ::stat(strPath.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

}  // namespace klangor

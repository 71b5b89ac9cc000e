#include "waveform/WaveformCache.h"

#include "common/CheckedFileIo.h"
#include "common/SidecarFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

namespace klangor {

namespace {

// The format's name and version: a file of another version is simply not found.
constexpr char kMagic[8] = {'K', 'L', 'W', 'A', 'V', 'E', '1', '\n'};
constexpr uint32_t kMaxKeyBytes = 8192;
constexpr size_t kSliceBytes = 9;  // lowest and highest as 32-bit floats, then whether it has samples
constexpr size_t kHeaderBytes = sizeof(kMagic) + 4 + 4 + 4 + 8 + 8;  // before the key: see Encode

// Little-endian whatever the machine, so a cache copied between machines is read or ignored, never
// misread.
void PutLe(std::string &bytes, uint64_t nValue, int nBytes) {
    for (int i = 0; i < nBytes; ++i) {
        bytes.push_back(static_cast<char>(nValue >> (8 * i)));
    }
}

uint64_t GetLe(const uint8_t *p, int nBytes) {
    uint64_t nValue = 0;
    for (int i = 0; i < nBytes; ++i) {
        nValue |= static_cast<uint64_t>(p[i]) << (8 * i);
    }
    return nValue;
}

uint32_t FloatBits(float f) {
    uint32_t n = 0;
    std::memcpy(&n, &f, sizeof(n));
    return n;
}

float BitsFloat(uint64_t n) {
    const auto n32 = static_cast<uint32_t>(n);
    float f = 0.0f;
    std::memcpy(&f, &n32, sizeof(f));
    return f;
}

// magic, key length, sample rate, frames per slice, frames added, slice count, key, slices.
std::string Encode(const std::string &strKey, const WaveformSummary &summary) {
    std::string bytes(std::begin(kMagic), std::end(kMagic));
    bytes.reserve(kHeaderBytes + strKey.size() + summary.GetSliceCount() * kSliceBytes);
    PutLe(bytes, strKey.size(), 4);
    PutLe(bytes, summary.GetSampleRate(), 4);
    PutLe(bytes, summary.GetFramesPerSlice(), 4);
    PutLe(bytes, summary.GetFramesAdded(), 8);
    PutLe(bytes, summary.GetSliceCount(), 8);
    bytes += strKey;
    for (size_t n = 0; n < summary.GetSliceCount(); ++n) {
        const WavePeak &peak = summary.GetSlice(n);
        PutLe(bytes, FloatBits(peak.fMin), 4);
        PutLe(bytes, FloatBits(peak.fMax), 4);
        bytes.push_back(peak.bHas ? '\1' : '\0');
    }
    return bytes;
}

bool Decode(const std::vector<uint8_t> &bytes, const std::string &strKey, WaveformSummary &summary) {
    if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) {
        return false;
    }
    const uint8_t *p = bytes.data() + sizeof(kMagic);
    const uint64_t nKeyBytes = GetLe(p, 4);
    const auto nRate = static_cast<uint32_t>(GetLe(p + 4, 4));
    const auto nPerSlice = static_cast<uint32_t>(GetLe(p + 8, 4));
    const uint64_t nFrames = GetLe(p + 12, 8);
    const uint64_t nSlices = GetLe(p + 20, 8);
    // Sizes are checked against the file's own length before anything is allocated from them.
    if (nKeyBytes != strKey.size() || nSlices > (bytes.size() - kHeaderBytes) / kSliceBytes ||
        bytes.size() != kHeaderBytes + nKeyBytes + nSlices * kSliceBytes ||
        std::memcmp(bytes.data() + kHeaderBytes, strKey.data(), strKey.size()) != 0) {
        return false;
    }
    std::vector<WavePeak> slices(nSlices);
    const uint8_t *pSlice = bytes.data() + kHeaderBytes + nKeyBytes;
    for (WavePeak &peak : slices) {
        if (pSlice[8] > 1) {
            return false;
        }
        peak = {BitsFloat(GetLe(pSlice, 4)), BitsFloat(GetLe(pSlice + 4, 4)), pSlice[8] == 1};
        pSlice += kSliceBytes;
    }
    return summary.Restore(nRate, nPerSlice, nFrames, std::move(slices));
}

struct DirCloser {
    void operator()(DIR *pDir) const { ::closedir(pDir); }
};

}  // namespace

FileDescriptor WaveformCache::OpenFolder(bool bCreate) const {
    if (m_folder.empty()) {
        return FileDescriptor(-1);
    }
    if (bCreate) {
        std::error_code error;
        std::filesystem::create_directories(m_folder.parent_path(), error);
        // The summaries name the files a user opened: only the user reads them.
        ::mkdir(m_folder.c_str(), 0700);
    }
    FileDescriptor folder(::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (!folder.IsOpen() || ::fstat(folder.Get(), &info) != 0) {
        return FileDescriptor(-1);
    }
    // Whoever else may write here could hand out summaries or point names elsewhere: no cache then.
    if (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return FileDescriptor(-1);
    }
    if ((info.st_mode & 077) != 0) {
        ::fchmod(folder.Get(), 0700);
    }
    return folder;
}

std::filesystem::path WaveformCache::DefaultFolder() {
    const char *szCache = std::getenv("XDG_CACHE_HOME");
    std::filesystem::path base;
    if (szCache && szCache[0] == '/') {
        base = szCache;
    } else if (const char *szHome = std::getenv("HOME"); szHome && szHome[0] == '/') {
        base = std::filesystem::path(szHome) / ".cache";
    } else {
        return {};
    }
    return base / "klangor" / "waveforms";
}

std::filesystem::path WaveformCache::FileFor(const std::string &strKey) const {
    // FNV-1a: stable across runs and builds, unlike std::hash.
    uint64_t nHash = 0xcbf29ce484222325ull;
    for (const char c : strKey) {
        nHash = (nHash ^ static_cast<uint8_t>(c)) * 0x100000001b3ull;
    }
    char szName[32];
    std::snprintf(szName, sizeof(szName), "%016llx.peaks", static_cast<unsigned long long>(nHash));
    return m_folder / szName;
}

bool WaveformCache::Find(const std::string &strKey, WaveformSummary &summary) const {
    if (m_folder.empty() || strKey.empty() || strKey.size() > kMaxKeyBytes) {
        return false;
    }
    const FileDescriptor folder = OpenFolder(false);
    if (!folder.IsOpen()) {
        return false;
    }
    const FileDescriptor file(::openat(folder.Get(), FileFor(strKey).filename().c_str(),
                                       O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!file.IsOpen()) {
        return false;
    }
    const int fd = file.Get();
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<uint64_t>(info.st_size) > kMaxFileBytes) {
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    if (!ReadAll(fd, bytes.data(), bytes.size())) {
        return false;
    }
    WaveformSummary found;
    if (!Decode(bytes, strKey, found)) {
        return false;
    }
    summary = std::move(found);
    // Used now: the trimming removes the files used longest ago first.
    ::futimens(fd, nullptr);
    return true;
}

bool WaveformCache::Store(const std::string &strKey, const WaveformSummary &summary) const {
    if (m_folder.empty() || strKey.empty() || strKey.size() > kMaxKeyBytes || summary.IsEmpty()) {
        return false;
    }
    const std::string bytes = Encode(strKey, summary);
    if (bytes.size() > kMaxFileBytes) {
        return false;
    }
    const FileDescriptor folder = OpenFolder(true);
    if (!folder.IsOpen()) {
        return false;
    }
    // Written whole under a temporary name and renamed, so a reader sees the old file or the new one;
    // every name is opened in the folder just checked, and no link is followed.
    const std::string strName = FileFor(strKey).filename().string();
    std::string strTemp;
    int fd = -1;
    for (int iAttempt = 0; iAttempt < 8 && fd < 0; ++iAttempt) {
        strTemp = SidecarTempName(strName, 255);
        fd = ::openat(folder.Get(), strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      0600);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        return false;
    }
    FileDescriptor file(fd);
    if (!WriteAll(file.Get(), bytes.data(), bytes.size()) || ::fsync(file.Get()) != 0 || file.Close() != 0 ||
        ::renameat(folder.Get(), strTemp.c_str(), folder.Get(), strName.c_str()) != 0) {
        ::unlinkat(folder.Get(), strTemp.c_str(), 0);
        return false;
    }
    Trim(folder.Get());
    return true;
}

void WaveformCache::Trim(int folderFd) const {
    struct Kept {
        std::string strName;
        struct timespec used;
        uint64_t nBytes;
    };
    std::vector<Kept> kept;
    uint64_t nTotal = 0;
    const int fdList = ::dup(folderFd);
    std::unique_ptr<DIR, DirCloser> pDir(fdList >= 0 ? ::fdopendir(fdList) : nullptr);
    if (!pDir) {
        if (fdList >= 0) {
            ::close(fdList);
        }
        return;
    }
    while (const dirent *pEntry = ::readdir(pDir.get())) {
        const std::string strName = pEntry->d_name;
        struct stat info {};
        if (::fstatat(folderFd, strName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        // What a writer that died before its rename left behind.
        const size_t nMarker = strName.find(kSidecarTempMarker);
        if (nMarker != std::string::npos) {
            const size_t nPrefix = nMarker + std::char_traits<char>::length(kSidecarTempMarker);
            if (IsDeadSidecarTemp(strName, nPrefix, info.st_mtime)) {
                ::unlinkat(folderFd, strName.c_str(), 0);
            }
        } else if (strName.ends_with(".peaks")) {
            kept.push_back({strName, info.st_mtim, static_cast<uint64_t>(info.st_size)});
            nTotal += static_cast<uint64_t>(info.st_size);
        }
    }
    if (kept.size() <= kMaxFiles && nTotal <= kMaxFolderBytes) {
        return;
    }
    std::sort(kept.begin(), kept.end(), [](const Kept &a, const Kept &b) {
        return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec
                                              : a.used.tv_nsec < b.used.tv_nsec;
    });
    size_t nCount = kept.size();
    for (const Kept &file : kept) {
        if (nCount <= kMaxFiles && nTotal <= kMaxFolderBytes) {
            break;
        }
        if (::unlinkat(folderFd, file.strName.c_str(), 0) == 0) {
            --nCount;
            nTotal -= file.nBytes;
        }
    }
}

}  // namespace klangor

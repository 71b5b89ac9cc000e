#include "skin/WaveformCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace klangor {

namespace {

// The format's name and version: a file of another version is simply not found.
constexpr char kMagic[8] = {'K', 'L', 'W', 'A', 'V', 'E', '1', '\n'};
constexpr uint32_t kMaxKeyBytes = 8192;
constexpr size_t kSliceBytes = 9;  // lowest and highest as 32-bit floats, then whether it has samples
constexpr size_t kHeaderBytes = sizeof(kMagic) + 4 + 4 + 4 + 8 + 8;  // before the key: see Encode
constexpr auto kStaleTemporary = std::chrono::hours(1);

// Little-endian whatever the machine, so a cache copied between machines is read or ignored, never
// misread.
void PutLe(std::vector<uint8_t> &bytes, uint64_t nValue, int nBytes) {
    for (int i = 0; i < nBytes; ++i) {
        bytes.push_back(static_cast<uint8_t>(nValue >> (8 * i)));
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
std::vector<uint8_t> Encode(const std::string &strKey, const WaveformSummary &summary) {
    std::vector<uint8_t> bytes(std::begin(kMagic), std::end(kMagic));
    bytes.reserve(kHeaderBytes + strKey.size() + summary.GetSliceCount() * kSliceBytes);
    PutLe(bytes, strKey.size(), 4);
    PutLe(bytes, summary.GetSampleRate(), 4);
    PutLe(bytes, summary.GetFramesPerSlice(), 4);
    PutLe(bytes, summary.GetFramesAdded(), 8);
    PutLe(bytes, summary.GetSliceCount(), 8);
    bytes.insert(bytes.end(), strKey.begin(), strKey.end());
    for (size_t n = 0; n < summary.GetSliceCount(); ++n) {
        const WavePeak &peak = summary.GetSlice(n);
        PutLe(bytes, FloatBits(peak.fMin), 4);
        PutLe(bytes, FloatBits(peak.fMax), 4);
        bytes.push_back(peak.bHas ? 1 : 0);
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

bool WriteAll(int fd, const std::vector<uint8_t> &bytes) {
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        const ssize_t nWritten = ::write(fd, bytes.data() + nDone, bytes.size() - nDone);
        if (nWritten < 0 && errno == EINTR) {
            continue;
        }
        if (nWritten <= 0) {
            return false;
        }
        nDone += static_cast<size_t>(nWritten);
    }
    return true;
}

}  // namespace

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
    const int fd = ::open(FileFor(strKey).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool bFound = false;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        static_cast<uint64_t>(info.st_size) <= kMaxFileBytes) {
        std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
        size_t nRead = 0;
        while (nRead < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + nRead, bytes.size() - nRead);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            nRead += static_cast<size_t>(n);
        }
        WaveformSummary found;
        if (nRead == bytes.size() && Decode(bytes, strKey, found)) {
            summary = std::move(found);
            bFound = true;
            // Used now: the trimming removes the files used longest ago first.
            ::futimens(fd, nullptr);
        }
    }
    ::close(fd);
    return bFound;
}

bool WaveformCache::Store(const std::string &strKey, const WaveformSummary &summary) const {
    if (m_folder.empty() || strKey.empty() || strKey.size() > kMaxKeyBytes || summary.IsEmpty()) {
        return false;
    }
    const std::vector<uint8_t> bytes = Encode(strKey, summary);
    if (bytes.size() > kMaxFileBytes) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
    // The summaries name the files a user opened: only the user reads them.
    std::filesystem::permissions(m_folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                                 error);
    std::string strTemporary = (m_folder / ".tmp-XXXXXX").string();
    const int fd = ::mkostemp(strTemporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool bWritten = WriteAll(fd, bytes);
    const bool bClosed = ::close(fd) == 0;
    if (!bWritten || !bClosed || ::rename(strTemporary.c_str(), FileFor(strKey).c_str()) != 0) {
        ::unlink(strTemporary.c_str());
        return false;
    }
    Trim();
    return true;
}

void WaveformCache::Trim() const {
    struct Kept {
        std::filesystem::path path;
        std::filesystem::file_time_type used;
        uint64_t nBytes;
    };
    std::vector<Kept> kept;
    uint64_t nTotal = 0;
    std::error_code error;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (std::filesystem::directory_iterator it(m_folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code entryError;
        if (!it->is_regular_file(entryError)) {
            continue;
        }
        const std::string strName = it->path().filename().string();
        const auto used = it->last_write_time(entryError);
        const uint64_t nBytes = it->file_size(entryError);
        if (entryError) {
            continue;
        }
        if (strName.starts_with(".tmp-")) {
            // Left by a process that died while writing; one still writing is much younger.
            if (now - used > kStaleTemporary) {
                std::filesystem::remove(it->path(), entryError);
            }
        } else if (strName.ends_with(".peaks")) {
            kept.push_back({it->path(), used, nBytes});
            nTotal += nBytes;
        }
    }
    if (kept.size() <= kMaxFiles && nTotal <= kMaxFolderBytes) {
        return;
    }
    std::sort(kept.begin(), kept.end(), [](const Kept &a, const Kept &b) { return a.used < b.used; });
    size_t nCount = kept.size();
    for (const Kept &file : kept) {
        if (nCount <= kMaxFiles && nTotal <= kMaxFolderBytes) {
            break;
        }
        std::error_code removeError;
        if (std::filesystem::remove(file.path, removeError)) {
            --nCount;
            nTotal -= file.nBytes;
        }
    }
}

}  // namespace klangor

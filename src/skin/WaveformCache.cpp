#include "skin/WaveformCache.h"

#include "clips/SidecarFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
    const FileDescriptor file(::open(FileFor(strKey).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
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
    size_t nRead = 0;
    while (nRead < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + nRead, bytes.size() - nRead);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        nRead += static_cast<size_t>(n);
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
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
    // The summaries name the files a user opened: only the user reads them.
    std::filesystem::permissions(m_folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                                 error);
    // Written whole under a temporary name and renamed, as a cut-info record is; a reader sees the old
    // file or the new one, and what a dead writer left is cleared away.
    if (ReplaceFileContents(FileFor(strKey).string(), bytes) != 0) {
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
    for (std::filesystem::directory_iterator it(m_folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code entryError;
        if (!it->is_regular_file(entryError)) {
            continue;
        }
        const auto used = it->last_write_time(entryError);
        const uint64_t nBytes = it->file_size(entryError);
        if (!entryError && it->path().filename().string().ends_with(".peaks")) {
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

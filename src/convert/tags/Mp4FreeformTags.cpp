#include "convert/tags/Mp4FreeformTags.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "common/CheckedFileIo.h"

namespace klangor {

namespace {

uint32_t GetBe32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void SetBe32(uint8_t *p, uint32_t n) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(n >> (24 - 8 * i));
    }
}

void AppendBox(std::vector<uint8_t> &out, const char *szType, const std::vector<uint8_t> &body) {
    const size_t nAt = out.size();
    out.resize(nAt + 8);
    SetBe32(out.data() + nAt, static_cast<uint32_t>(8 + body.size()));
    std::memcpy(out.data() + nAt + 4, szType, 4);
    out.insert(out.end(), body.begin(), body.end());
}

std::vector<uint8_t> FreeformAtom(const std::string &strName, const std::string &strValue) {
    const auto withPrefix = [](std::vector<uint8_t> prefix, const std::string &strText) {
        prefix.insert(prefix.end(), strText.begin(), strText.end());
        return prefix;
    };
    std::vector<uint8_t> body;
    AppendBox(body, "mean", withPrefix({0, 0, 0, 0}, "com.apple.iTunes"));
    AppendBox(body, "name", withPrefix({0, 0, 0, 0}, strName));
    AppendBox(body, "data", withPrefix({0, 0, 0, 1, 0, 0, 0, 0}, strValue));  // UTF-8 text
    std::vector<uint8_t> atom;
    AppendBox(atom, "----", body);
    return atom;
}

// The child box of the given type inside [nFrom, nTo) of the buffer; its offset, or 0 when absent.
size_t FindBox(const std::vector<uint8_t> &bytes, size_t nFrom, size_t nTo, const char *szType) {
    for (size_t nAt = nFrom; nAt + 8 <= nTo;) {
        const uint32_t nSize = GetBe32(bytes.data() + nAt);
        if (nSize < 8 || nAt + nSize > nTo) {
            return 0;
        }
        if (std::memcmp(bytes.data() + nAt + 4, szType, 4) == 0) {
            return nAt;
        }
        nAt += nSize;
    }
    return 0;
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

}  // namespace

bool AddMp4FreeformTexts(const std::string &strPath,
                         const std::vector<std::pair<std::string, std::string>> &texts) {
    if (texts.empty()) {
        return true;
    }
    const FdCloser file{::open(strPath.c_str(), O_RDWR | O_CLOEXEC)};
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        return false;
    }
    // The top-level boxes, to the last one, which must be the movie.
    const auto nFileSize = static_cast<uint64_t>(st.st_size);
    uint64_t nAt = 0;
    uint64_t nMoov = UINT64_MAX;
    while (nAt + 8 <= nFileSize) {
        uint8_t header[8];
        if (!ReadAllAt(file.fd, nAt, header, sizeof header)) {
            return false;
        }
        const uint32_t nSize = GetBe32(header);
        if (nSize < 8) {
            return false;  // a 64-bit or open-ended box: not the layout written here
        }
        nMoov = std::memcmp(header + 4, "moov", 4) == 0 ? nAt : UINT64_MAX;
        nAt += nSize;
    }
    if (nMoov == UINT64_MAX || nAt != nFileSize || nFileSize - nMoov > 64u * 1024 * 1024) {
        return false;
    }
    std::vector<uint8_t> moov(static_cast<size_t>(nFileSize - nMoov));
    if (!ReadAllAt(file.fd, nMoov, moov.data(), moov.size())) {
        return false;
    }
    const size_t nUdta = FindBox(moov, 8, moov.size(), "udta");
    const size_t nMeta = nUdta ? FindBox(moov, nUdta + 8, nUdta + GetBe32(&moov[nUdta]), "meta") : 0;
    // meta is a full box: its children follow its version and flags.
    const size_t nIlst = nMeta ? FindBox(moov, nMeta + 12, nMeta + GetBe32(&moov[nMeta]), "ilst") : 0;
    if (nIlst == 0) {
        return false;
    }
    std::vector<uint8_t> atoms;
    for (const auto &[strName, strValue] : texts) {
        const std::vector<uint8_t> atom = FreeformAtom(strName, strValue);
        atoms.insert(atoms.end(), atom.begin(), atom.end());
    }
    const auto nGrowth = static_cast<uint32_t>(atoms.size());
    const size_t nIlstEnd = nIlst + GetBe32(&moov[nIlst]);
    moov.insert(moov.begin() + static_cast<ptrdiff_t>(nIlstEnd), atoms.begin(), atoms.end());
    for (const size_t nBox : {size_t{0}, nUdta, nMeta, nIlst}) {
        SetBe32(&moov[nBox], GetBe32(&moov[nBox]) + nGrowth);
    }
    return WriteAllAt(file.fd, nMoov, moov.data(), moov.size());
}

}  // namespace klangor

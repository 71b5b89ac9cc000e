#include "clips/CueSheet.h"

#include <iconv.h>
#include <uchardet.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace klangor {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kMostMinutes = 100000;  // far past any real sheet, far from overflowing

void AppendUtf8(std::string &strOut, uint32_t nCode) {
    if (nCode < 0x80) {
        strOut += static_cast<char>(nCode);
    } else if (nCode < 0x800) {
        strOut += static_cast<char>(0xC0 | (nCode >> 6));
        strOut += static_cast<char>(0x80 | (nCode & 0x3F));
    } else if (nCode < 0x10000) {
        strOut += static_cast<char>(0xE0 | (nCode >> 12));
        strOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (nCode & 0x3F));
    } else {
        strOut += static_cast<char>(0xF0 | (nCode >> 18));
        strOut += static_cast<char>(0x80 | ((nCode >> 12) & 0x3F));
        strOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (nCode & 0x3F));
    }
}

std::string FromUtf16(const std::string &strBytes, bool bBigEndian) {
    std::string strOut;
    auto unitAt = [&](size_t i) {
        const auto b0 = static_cast<uint8_t>(strBytes[i]);
        const auto b1 = static_cast<uint8_t>(strBytes[i + 1]);
        return static_cast<uint32_t>(bBigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
    };
    for (size_t i = 2; i + 1 < strBytes.size(); i += 2) {
        uint32_t nCode = unitAt(i);
        if (nCode >= 0xD800 && nCode < 0xDC00 && i + 3 < strBytes.size()) {
            const uint32_t nLow = unitAt(i + 2);
            if (nLow >= 0xDC00 && nLow < 0xE000) {
                nCode = 0x10000 + ((nCode - 0xD800) << 10) + (nLow - 0xDC00);
                i += 2;
            } else {
                nCode = 0xFFFD;
            }
        } else if (nCode >= 0xD800 && nCode < 0xE000) {
            nCode = 0xFFFD;
        }
        AppendUtf8(strOut, nCode);
    }
    return strOut;
}

bool IsValidUtf8(const std::string &strText) {
    for (size_t i = 0; i < strText.size();) {
        const auto c = static_cast<uint8_t>(strText[i]);
        const size_t nLength = c < 0x80           ? 1
                               : (c >> 5) == 0x6  ? 2
                               : (c >> 4) == 0xE  ? 3
                               : (c >> 3) == 0x1E ? 4
                                                  : 0;
        if (nLength == 0 || (nLength == 2 && c < 0xC2) || i + nLength > strText.size()) {
            return false;
        }
        for (size_t k = 1; k < nLength; ++k) {
            if ((static_cast<uint8_t>(strText[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += nLength;
    }
    return true;
}

std::string Lowered(std::string strText) {
    std::transform(strText.begin(), strText.end(), strText.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strText;
}

// The words of one line: the command, then its arguments; a quoted argument keeps its spaces.
std::vector<std::string> WordsOf(const std::string &strLine) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < strLine.size()) {
        while (i < strLine.size() && (strLine[i] == ' ' || strLine[i] == '\t')) {
            ++i;
        }
        if (i >= strLine.size()) {
            break;
        }
        std::string strWord;
        if (strLine[i] == '"') {
            const size_t nEnd = strLine.find('"', i + 1);
            strWord = strLine.substr(i + 1, nEnd == std::string::npos ? std::string::npos : nEnd - i - 1);
            i = nEnd == std::string::npos ? strLine.size() : nEnd + 1;
        } else {
            while (i < strLine.size() && strLine[i] != ' ' && strLine[i] != '\t') {
                strWord += strLine[i++];
            }
        }
        words.push_back(std::move(strWord));
    }
    return words;
}

// "mm:ss:ff" (frames of 1/75 s) in nanoseconds; -1 when it is not one.
int64_t CueTimeNs(const std::string &strTime) {
    int64_t llParts[3] = {0, 0, 0};
    int nPart = 0;
    bool bDigit = false;
    for (const char c : strTime) {
        if (c == ':') {
            if (!bDigit || ++nPart > 2) {
                return -1;
            }
            bDigit = false;
        } else if (c >= '0' && c <= '9') {
            llParts[nPart] = llParts[nPart] * 10 + (c - '0');
            if (llParts[nPart] > kMostMinutes) {
                return -1;
            }
            bDigit = true;
        } else {
            return -1;
        }
    }
    if (nPart != 2 || !bDigit || llParts[1] >= 60 || llParts[2] >= 75) {
        return -1;
    }
    // In whole nanoseconds a frame of 1/75 s is not exact; rounding the total once keeps every start
    // within half a nanosecond of its true time.
    const int64_t llFrames = (llParts[0] * 60 + llParts[1]) * 75 + llParts[2];
    return (llFrames * 1000000000 + 37) / 75;
}

std::string FileNameOf(const std::string &strPath) {
    const size_t nSlash = strPath.find_last_of("/\\");
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string StemOf(const std::string &strName) {
    const size_t nDot = strName.rfind('.');
    return nDot == std::string::npos || nDot == 0 ? strName : strName.substr(0, nDot);
}

struct ParsedFile {
    std::string strName;
    std::vector<CueTrack> tracks;
};

}  // namespace

std::string FindCueSheetFor(const std::string &strMediaPath) {
    const fs::path media(strMediaPath);
    const std::string strWhole = Lowered(media.filename().string() + ".cue");
    const std::string strStem = Lowered(media.stem().string() + ".cue");
    std::error_code error;
    std::string strStemMatch;
    for (fs::directory_iterator it(media.parent_path().empty() ? "." : media.parent_path(), error), end;
         !error && it != end; it.increment(error)) {
        const std::string strName = Lowered(it->path().filename().string());
        if (strName == strWhole && it->is_regular_file(error)) {
            return it->path().string();
        }
        if (strName == strStem && strStemMatch.empty() && it->is_regular_file(error)) {
            strStemMatch = it->path().string();
        }
    }
    return strStemMatch;
}

namespace {

std::string FromLatin1(const std::string &strText) {
    std::string strOut;
    for (const char c : strText) {
        AppendUtf8(strOut, static_cast<uint8_t>(c));
    }
    return strOut;
}

struct IconvCloser {
    void operator()(void *pConverter) const { iconv_close(static_cast<iconv_t>(pConverter)); }
};
using IconvPtr = std::unique_ptr<void, IconvCloser>;

IconvPtr OpenToUtf8(const std::string &strEncoding) {
    const iconv_t converter = iconv_open("UTF-8", strEncoding.c_str());
    return IconvPtr(converter == reinterpret_cast<iconv_t>(-1) ? nullptr : converter);
}

// The text in strEncoding as UTF-8, each byte that starts no character of it as U+FFFD; false when
// iconv does not know the encoding.
bool ConvertToUtf8(const std::string &strText, const std::string &strEncoding, std::string &strOut) {
    const IconvPtr pConverter = OpenToUtf8(strEncoding);
    if (!pConverter) {
        return false;
    }
    const auto converter = static_cast<iconv_t>(pConverter.get());
    strOut.clear();
    std::string strIn = strText;
    char *pIn = strIn.data();
    size_t nInLeft = strIn.size();
    char buffer[4096];
    while (nInLeft > 0) {
        char *pOut = buffer;
        size_t nOutLeft = sizeof buffer;
        const size_t nResult = iconv(converter, &pIn, &nInLeft, &pOut, &nOutLeft);
        strOut.append(buffer, static_cast<size_t>(pOut - buffer));
        if (nResult != static_cast<size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        // A byte the encoding has no character for, or a character cut off at the end.
        AppendUtf8(strOut, 0xFFFD);
        ++pIn;
        --nInLeft;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

// The encoding libuchardet finds the text to be in; empty when it finds none.
std::string DetectedEncoding(const std::string &strText) {
    const uchardet_t detector = uchardet_new();
    if (detector == nullptr) {
        return {};
    }
    std::string strName;
    if (uchardet_handle_data(detector, strText.data(), strText.size()) == 0) {
        uchardet_data_end(detector);
        const char *szName = uchardet_get_charset(detector);
        strName = szName != nullptr ? szName : "";
    }
    uchardet_delete(detector);
    return strName;
}

}  // namespace

bool IsKnownTextEncoding(const std::string &strName) {
    return !strName.empty() && OpenToUtf8(strName) != nullptr;
}

std::string CueTextToUtf8(const std::string &strBytes, const std::string &strEncoding) {
    if (strBytes.size() >= 2 && static_cast<uint8_t>(strBytes[0]) == 0xFF &&
        static_cast<uint8_t>(strBytes[1]) == 0xFE) {
        return FromUtf16(strBytes, false);
    }
    if (strBytes.size() >= 2 && static_cast<uint8_t>(strBytes[0]) == 0xFE &&
        static_cast<uint8_t>(strBytes[1]) == 0xFF) {
        return FromUtf16(strBytes, true);
    }
    std::string strOut;
    if (!strEncoding.empty() && ConvertToUtf8(strBytes, strEncoding, strOut)) {
        return strOut;
    }
    // A mark of UTF-8 before bytes that are not UTF-8 was written by mistake.
    const std::string strText = strBytes.rfind("\xEF\xBB\xBF", 0) == 0 ? strBytes.substr(3) : strBytes;
    if (IsValidUtf8(strText)) {
        return strText;
    }
    const std::string strFound = DetectedEncoding(strText);
    // (What is not UTF-8 cannot be told apart from Latin-1 by its bytes, and a detector that names UTF-8
    // or ASCII for such bytes was wrong.)
    if (!strFound.empty() && strFound != "UTF-8" && strFound != "ASCII" &&
        ConvertToUtf8(strText, strFound, strOut)) {
        return strOut;
    }
    return FromLatin1(strText);
}

bool ParseCueSheet(const std::string &strBytes, const std::string &strMediaName, CueSheet &sheet,
                   std::string &strError, const std::string &strEncoding) {
    sheet = CueSheet{};
    const std::string strText = CueTextToUtf8(strBytes, strEncoding);
    std::vector<ParsedFile> files;
    bool bInTrack = false;
    size_t nAt = 0;
    while (nAt < strText.size()) {
        size_t nEnd = strText.find_first_of("\r\n", nAt);
        if (nEnd == std::string::npos) {
            nEnd = strText.size();
        }
        const std::vector<std::string> words = WordsOf(strText.substr(nAt, nEnd - nAt));
        nAt = nEnd + 1;
        if (words.empty()) {
            continue;
        }
        const std::string strCommand = Lowered(words[0]);
        const std::string strArgument = words.size() > 1 ? words[1] : std::string();
        if (strCommand == "file") {
            files.push_back({FileNameOf(strArgument), {}});
            bInTrack = false;
        } else if (strCommand == "track") {
            // A track before any FILE line belongs to no file, and is dropped.
            bInTrack = !files.empty();
            if (bInTrack) {
                files.back().tracks.push_back({-1, {}, {}});
            }
        } else if (strCommand == "title" || strCommand == "performer") {
            std::string &strField = bInTrack
                                        ? (strCommand == "title" ? files.back().tracks.back().strTitle
                                                                 : files.back().tracks.back().strPerformer)
                                        : (strCommand == "title" ? sheet.strTitle : sheet.strPerformer);
            strField = strArgument;
        } else if (strCommand == "index" && bInTrack && words.size() > 2 && strArgument == "01") {
            files.back().tracks.back().llStartNs = CueTimeNs(words[2]);
        }
    }
    const std::string strWanted = Lowered(strMediaName);
    const ParsedFile *pFile = nullptr;
    for (const ParsedFile &file : files) {
        if (Lowered(file.strName) == strWanted) {
            pFile = &file;
            break;
        }
    }
    for (size_t i = 0; !pFile && i < files.size(); ++i) {
        if (Lowered(StemOf(files[i].strName)) == Lowered(StemOf(strMediaName))) {
            pFile = &files[i];
        }
    }
    if (!pFile && files.size() == 1) {
        pFile = &files[0];
    }
    if (!pFile) {
        strError = files.empty() ? "the cue sheet names no file"
                                 : "the cue sheet names no file called " + strMediaName;
        return false;
    }
    // Tracks without a start, or starting no later than the one before, mark nothing that can be cut.
    for (const CueTrack &track : pFile->tracks) {
        if (track.llStartNs >= 0 &&
            (sheet.tracks.empty() || track.llStartNs > sheet.tracks.back().llStartNs)) {
            sheet.tracks.push_back(track);
        }
    }
    if (sheet.tracks.empty()) {
        strError = "the cue sheet gives no track of " + strMediaName + " a start (INDEX 01)";
        return false;
    }
    return true;
}

bool ReadCueSheet(const std::string &strCuePath, const std::string &strMediaName, CueSheet &sheet,
                  std::string &strError, const std::string &strEncoding) {
    std::ifstream in(strCuePath, std::ios::binary);
    if (!in) {
        strError = "cannot read the cue sheet " + strCuePath;
        return false;
    }
    std::string strBytes;
    strBytes.resize(kMostCueSheetBytes + 1);
    in.read(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
    strBytes.resize(static_cast<size_t>(in.gcount()));
    if (strBytes.size() > kMostCueSheetBytes) {
        strError = "the cue sheet " + strCuePath + " is too large to be one";
        return false;
    }
    return ParseCueSheet(strBytes, strMediaName, sheet, strError, strEncoding);
}

}  // namespace klangor

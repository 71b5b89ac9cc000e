#include "convert/OutputNames.h"

#include <cstring>

namespace klangor {

namespace {

// The length of the longest prefix of strText, at most nBytes, that ends on a character's boundary.
size_t Utf8Prefix(const std::string &strText, size_t nBytes) {
    if (strText.size() <= nBytes) {
        return strText.size();
    }
    size_t n = nBytes;
    while (n > 0 && (static_cast<unsigned char>(strText[n]) & 0xC0) == 0x80) {
        --n;
    }
    return n;
}

}  // namespace

std::string FileNameSafe(const std::string &strText, size_t nMostBytes) {
    std::string strSafe;
    strSafe.reserve(strText.size());
    for (const char c : strText) {
        const auto u = static_cast<unsigned char>(c);
        const bool bRefused = u < 0x20 || u == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
        strSafe += bRefused || (strSafe.empty() && c == '.') ? '_' : c;
    }
    strSafe.resize(Utf8Prefix(strSafe, nMostBytes));
    while (!strSafe.empty() && (strSafe.back() == ' ' || strSafe.back() == '.')) {
        strSafe.pop_back();
    }
    return strSafe;
}

std::string PartNumber(int n, int nCount) {
    const std::string strWidth = std::to_string(nCount);
    std::string strNumber = std::to_string(n);
    strNumber.insert(0, strWidth.size() > strNumber.size() ? strWidth.size() - strNumber.size() : 0, '0');
    return strNumber;
}

std::string PartOutputPath(const std::string &strWholePath, int n, int nCount, const std::string &strTitle) {
    const size_t nSlash = strWholePath.rfind('/');
    const std::string strFolder = nSlash == std::string::npos ? "" : strWholePath.substr(0, nSlash + 1);
    const std::string strName = strWholePath.substr(strFolder.size());
    const size_t nDot = strName.rfind('.');
    const std::string strExtension = nDot == std::string::npos ? "" : strName.substr(nDot);
    std::string strStem = strName.substr(0, strName.size() - strExtension.size());

    const std::string strMiddle = " - " + PartNumber(n, nCount);
    // The number and the extension always fit; the stem then keeps what it can, the title the rest.
    const size_t nFixed = strMiddle.size() + strExtension.size();
    strStem.resize(Utf8Prefix(strStem, kMostFileNameBytes - nFixed));
    std::string strPart = strStem + strMiddle;
    const size_t nLeft = kMostFileNameBytes - nFixed - strStem.size();
    if (nLeft > 3) {
        const std::string strSafeTitle = FileNameSafe(strTitle, nLeft - 3);
        if (!strSafeTitle.empty()) {
            strPart += " - " + strSafeTitle;
        }
    }
    return strFolder + strPart + strExtension;
}

}  // namespace klangor

#include "skin/SkinLayout.h"

#include <fstream>
#include <system_error>

namespace klangor {

namespace {

bool IsScanBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool SkinLayout::Load(const std::filesystem::path &pathFile) {
    m_strText.clear();
    // A folder opens as a stream on this platform and reads as nothing; it is no layout file.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(pathFile, ec)) {
        return false;
    }
    const std::uintmax_t nSize = std::filesystem::file_size(pathFile, ec);
    if (ec || nSize > kMaxFileBytes) {
        return false;
    }
    std::ifstream file(pathFile, std::ios::binary);
    if (!file) {
        return false;
    }
    // Reads no more than the size taken plus one byte, so a file growing meanwhile never passes the limit.
    std::string strText(static_cast<size_t>(nSize) + 1, '\0');
    file.read(strText.data(), static_cast<std::streamsize>(strText.size()));
    if (file.bad()) {
        return false;
    }
    const auto nRead = static_cast<size_t>(file.gcount());
    if (nRead > kMaxFileBytes) {
        return false;
    }
    strText.resize(nRead);
    m_strText = std::move(strText);
    return true;
}

bool SkinLayout::GetValues(std::string_view strKey, Values &aValues, int *pnRead) const {
    if (pnRead) {
        *pnRead = 0;
    }
    if (strKey.empty()) {
        return false;
    }
    const std::string_view strText(m_strText);
    const size_t nKey = strText.find(strKey);
    if (nKey == std::string_view::npos) {
        return false;
    }
    // Skip the key and its one separator character, whatever it is.
    const size_t nValue = nKey + strKey.size() + 1;
    if (nValue >= strText.size()) {
        return false;
    }
    const size_t nEnd = strText.find(';', nValue);
    if (nEnd == std::string_view::npos || nEnd - nValue > kMaxValueLength) {
        return false;
    }
    const int nRead = ScanLayoutNumbers(strText.substr(nValue, nEnd - nValue), aValues);
    if (pnRead) {
        *pnRead = nRead;
    }
    return true;
}

int ScanLayoutNumbers(std::string_view strValue, SkinLayout::Values &aValues) {
    size_t i = 0;
    int nStored = 0;
    for (size_t nField = 0; nField < aValues.size(); ++nField) {
        if (nField > 0) {
            if (i >= strValue.size() || strValue[i] != ',') {
                break;
            }
            ++i;
        }
        while (i < strValue.size() && IsScanBlank(strValue[i])) {
            ++i;
        }
        bool bNegative = false;
        if (i < strValue.size() && (strValue[i] == '+' || strValue[i] == '-')) {
            bNegative = strValue[i] == '-';
            ++i;
        }
        if (i >= strValue.size() || !IsDigit(strValue[i])) {
            break;
        }
        // Accumulate modulo 2^32 so an over-long number keeps its low bits instead of overflowing.
        uint32_t uValue = 0;
        while (i < strValue.size() && IsDigit(strValue[i])) {
            uValue = uValue * 10u + static_cast<uint32_t>(strValue[i] - '0');
            ++i;
        }
        if (bNegative) {
            uValue = 0u - uValue;
        }
        aValues[nField] = static_cast<int32_t>(uValue);
        ++nStored;
    }
    return nStored;
}

}  // namespace klangor

#include "convert/batch/OutputNames.h"

#include <cstring>
#include <initializer_list>
#include <utility>

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

namespace {

const std::string *FieldOf(const NameFields &fields, const std::string &strName) {
    const std::pair<const char *, const std::string *> known[] = {
        {"name", &fields.strName},   {"stem", &fields.strStem},     {"ext", &fields.strExt},
        {"title", &fields.strTitle}, {"artist", &fields.strArtist}, {"album", &fields.strAlbum},
        {"track", &fields.strTrack}, {"date", &fields.strDate},     {"n", &fields.strIndex},
        {"N", &fields.strCount},     {"part", &fields.strPart},     {"part_title", &fields.strPartTitle},
    };
    for (const auto &[szName, pstrValue] : known) {
        if (strName == szName) {
            return pstrValue;
        }
    }
    return nullptr;
}

// The alternatives of one field: "title|stem" gives {"title", "stem"}.
std::vector<std::string> AlternativesOf(const std::string &strInside) {
    std::vector<std::string> alternatives;
    size_t nFrom = 0;
    for (size_t nBar; (nBar = strInside.find('|', nFrom)) != std::string::npos; nFrom = nBar + 1) {
        alternatives.push_back(strInside.substr(nFrom, nBar - nFrom));
    }
    alternatives.push_back(strInside.substr(nFrom));
    return alternatives;
}

// Calls fnText for each stretch of literal text and fnField for each field's alternatives; false at a
// brace left open or closed without opening.
template <typename Text, typename Field>
bool WalkTemplate(const std::string &strTemplate, Text fnText, Field fnField) {
    size_t nAt = 0;
    while (nAt < strTemplate.size()) {
        const size_t nOpen = strTemplate.find_first_of("{}", nAt);
        if (nOpen == std::string::npos) {
            fnText(strTemplate.substr(nAt));
            return true;
        }
        if (strTemplate[nOpen] == '}') {
            return false;
        }
        fnText(strTemplate.substr(nAt, nOpen - nAt));
        const size_t nClose = strTemplate.find_first_of("{}", nOpen + 1);
        if (nClose == std::string::npos || strTemplate[nClose] != '}') {
            return false;
        }
        fnField(AlternativesOf(strTemplate.substr(nOpen + 1, nClose - nOpen - 1)));
        nAt = nClose + 1;
    }
    return true;
}

const NameFields kProbeFields{};

}  // namespace

bool CheckNameTemplate(const std::string &strTemplate, std::string &strError) {
    std::string strUnknown;
    std::string strLiteral;
    const bool bBalanced = WalkTemplate(
        strTemplate, [&](const std::string &strText) { strLiteral += strText; },
        [&](const std::vector<std::string> &alternatives) {
            // Only the last alternative may be literal text, and only when there is a field before it.
            for (size_t i = 0; i < alternatives.size(); ++i) {
                const bool bLiteralAllowed = i > 0 && i + 1 == alternatives.size();
                if (!FieldOf(kProbeFields, alternatives[i]) && !bLiteralAllowed && strUnknown.empty()) {
                    strUnknown = alternatives[i];
                }
            }
            strLiteral += "x";
        });
    if (!bBalanced) {
        strError = "a brace in '" + strTemplate + "' is not closed or not opened";
        return false;
    }
    if (!strUnknown.empty()) {
        strError =
            "'" + strUnknown +
            "' is no field (name, stem, ext, title, artist, album, track, date, n, N, part, part_title)";
        return false;
    }
    if (strTemplate.empty() || strTemplate[0] == '/' || strTemplate.back() == '/') {
        strError = "a name template names a file below the output folder";
        return false;
    }
    for (size_t nFrom = 0; nFrom <= strLiteral.size();) {
        const size_t nSlash = std::min(strLiteral.find('/', nFrom), strLiteral.size());
        const std::string strPart = strLiteral.substr(nFrom, nSlash - nFrom);
        if (strPart.empty() || strPart == "." || strPart == "..") {
            strError = "a name template's folders cannot be empty, \".\" or \"..\"";
            return false;
        }
        nFrom = nSlash + 1;
    }
    return true;
}

namespace {

// Whether any field of the template, an alternative included, is one of the names given.
bool TemplateHasField(const std::string &strTemplate, std::initializer_list<const char *> names) {
    bool bHas = false;
    WalkTemplate(
        strTemplate, [](const std::string &) {},
        [&](const std::vector<std::string> &alternatives) {
            for (const std::string &strField : alternatives) {
                for (const char *szName : names) {
                    bHas = bHas || strField == szName;
                }
            }
        });
    return bHas;
}

}  // namespace

bool NameTemplateUsesTags(const std::string &strTemplate) {
    return TemplateHasField(strTemplate, {"title", "artist", "album", "track", "date"});
}

bool NameTemplateNamesParts(const std::string &strTemplate) {
    return TemplateHasField(strTemplate, {"part"});
}

std::string RenderNameTemplate(const std::string &strTemplate, const NameFields &fields) {
    std::string strPath;
    WalkTemplate(
        strTemplate, [&](const std::string &strText) { strPath += strText; },
        [&](const std::vector<std::string> &alternatives) {
            for (size_t i = 0; i < alternatives.size(); ++i) {
                const std::string *pstrValue = FieldOf(fields, alternatives[i]);
                const std::string strValue = pstrValue ? *pstrValue : alternatives[i];
                if (!strValue.empty()) {
                    strPath += FileNameSafe(strValue, 4 * kMostFileNameBytes);
                    break;
                }
            }
        });
    // Each folder and the name within what a file system takes; the name keeps its extension.
    std::string strCapped;
    for (size_t nFrom = 0; nFrom <= strPath.size();) {
        const size_t nSlash = std::min(strPath.find('/', nFrom), strPath.size());
        std::string strPart = strPath.substr(nFrom, nSlash - nFrom);
        if (strPart.size() > kMostFileNameBytes) {
            const size_t nDot = nSlash == strPath.size() ? strPart.rfind('.') : std::string::npos;
            const std::string strExtension =
                nDot != std::string::npos && strPart.size() - nDot <= 16 ? strPart.substr(nDot) : "";
            strPart = FileNameSafe(strPart.substr(0, strPart.size() - strExtension.size()),
                                   kMostFileNameBytes - strExtension.size()) +
                      strExtension;
        }
        if (strPart.empty() || strPart == "." || strPart == "..") {
            strPart = "_";  // a field that was all refused characters, or dots
        }
        strCapped += (strCapped.empty() ? "" : "/") + strPart;
        nFrom = nSlash + 1;
    }
    return strCapped;
}

}  // namespace klangor

#include "skin/SkinFolder.h"

#include <system_error>

#include "skin/SkinKeys.h"

namespace klangor {

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool HoldsLayout(const std::filesystem::path &pathFolder) {
    std::error_code ec;
    const auto pathLayout = FindNameIgnoringCase(pathFolder, kSkinLayoutFile);
    return pathLayout && std::filesystem::is_regular_file(*pathLayout, ec);
}

}  // namespace

std::optional<std::filesystem::path> FindNameIgnoringCase(const std::filesystem::path &pathFolder,
                                                          std::string_view strName) {
    std::error_code ec;
    const std::filesystem::path pathExact = pathFolder / std::filesystem::path(strName);
    if (std::filesystem::exists(pathExact, ec)) {
        return pathExact;
    }
    std::filesystem::directory_iterator it(pathFolder, ec);
    if (ec) {
        return std::nullopt;
    }
    for (const std::filesystem::directory_entry &entry : it) {
        if (EqualIgnoringCase(entry.path().filename().native(), strName)) {
            return entry.path();
        }
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> FindSkinFolder(const std::filesystem::path &pathProgramDir) {
    std::error_code ec;
    return FindSkinFolderIn(
        {std::filesystem::current_path(ec), pathProgramDir, pathProgramDir / ".." / "share" / "klangor"});
}

std::optional<std::filesystem::path> FindSkinFolderIn(const std::vector<std::filesystem::path> &bases) {
    for (const std::filesystem::path &pathBase : bases) {
        if (pathBase.empty()) {
            continue;
        }
        const auto pathFolder = FindNameIgnoringCase(pathBase, "UI");
        if (pathFolder && HoldsLayout(*pathFolder)) {
            return pathFolder;
        }
    }
    return std::nullopt;
}

std::filesystem::path SkinFilePath(const std::filesystem::path &pathSkinFolder, std::string_view strName) {
    const auto pathFound = FindNameIgnoringCase(pathSkinFolder, strName);
    return pathFound ? *pathFound : pathSkinFolder / std::filesystem::path(strName);
}

}  // namespace klangor

#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace klangor {

// Finding the skin folder and the files inside it. The skin's own files spell their names with mixed
// case ("Pausebutton.jpg", "ui/cursor.gif"), so every name is matched without regard to ASCII case.

// The entry of pathFolder whose name equals strName without regard to case (an exact match first);
// nothing when there is none.
std::optional<std::filesystem::path> FindNameIgnoringCase(const std::filesystem::path &pathFolder,
                                                          std::string_view strName);

// The skin folder: "UI" (any case) in the current folder first, then beside the program (pathProgramDir/UI)
// and in the installed data folder (pathProgramDir/../share/klangor/UI). A folder counts only when it
// holds the layout file. Nothing when none is found.
std::optional<std::filesystem::path> FindSkinFolder(const std::filesystem::path &pathProgramDir);

// The same search over explicit base folders, in order: the first "UI" (any case) holding the layout.
std::optional<std::filesystem::path> FindSkinFolderIn(const std::vector<std::filesystem::path> &bases);

// A file of the skin folder by the name the skin uses; when no entry matches, the plain joined path
// (so a later open fails the ordinary way and names the expected file).
std::filesystem::path SkinFilePath(const std::filesystem::path &pathSkinFolder, std::string_view strName);

}  // namespace klangor

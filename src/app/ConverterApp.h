#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace klangor {

class MainWindow;
class WindowHandoverListener;

// Start-up of the desktop program: finds its files, builds the main window in the documented order,
// runs it until it closes, and ends. Nothing is saved between runs.

// Media paths from the command line: every argument is one path (the shell has removed any quotes);
// arguments that begin with "--" are options and add nothing; argv[0] is the program. The paths are
// argv's bytes as they came: a file name need not be UTF-8, and any text conversion of it would name
// another file.
std::vector<std::string> CommandLineFiles(int argc, const char *const *argv);

// The skin folder: the current folder's "UI" first, then the one beside the program or installed with it
// (../share/klangor/UI). No build machine's path is compiled in: the build tree lays out share/klangor
// as an installation does, so a program run from its build folder finds its skin the same way. When
// none holds a layout file, the current folder's "UI", where the missing layout is then reported.
std::filesystem::path LocateSkinFolder(const std::filesystem::path &pathProgramDir);

// The HTML user guide beside the program or in its data folder (../share/klangor/help); nothing when
// none is there.
std::optional<std::filesystem::path> LocateHelpFile(const std::filesystem::path &pathProgramDir);

// The window's end of the handover (see WindowHandover.h): files that a later "klangor FILE..." hands
// over are added to the window through AddHandedPaths. The listener does not listen when there is no
// usable runtime folder or another window listens already.
std::unique_ptr<WindowHandoverListener> ListenForLaterStarts(MainWindow &window);

// The whole run; returns the process's exit status. A start with files while a window of this user
// runs hands them to that window and ends with status 0, before any toolkit is built.
int RunConverterApp(int argc, char **argv);

}  // namespace klangor

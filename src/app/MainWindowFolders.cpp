// The main window's side of adding whole folders: what the command line, a drop and a handed-over list
// give is added in order, a folder's media found on the background thread.
#include "app/MainWindow.h"

#include "common/BackgroundTasks.h"
#include "media/MediaWalk.h"
#include "player/PreviewCommands.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace klangor {

namespace {

bool IsFolder(const std::string &strPath) {
    struct stat info {};
    return ::stat(strPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// What the paths from the first folder on gave: the files in order, each with its place below the
// folder it was found in, and how many files the folders passed over.
struct FoundPaths {
    std::vector<WalkedFile> files;
    size_t nFolders = 0;
    size_t nFromFolders = 0;
    size_t nPassedOver = 0;
};

FoundPaths FindMedia(const std::vector<std::string> &paths, const std::function<bool()> &fnStopped) {
    FoundPaths found;
    for (const std::string &strPath : paths) {
        if (!IsFolder(strPath)) {
            found.files.push_back({strPath, {}});
            continue;
        }
        // Links to folders are not followed from the window: a link out of a library is no part of it.
        FolderWalk walk = WalkMediaFolder(strPath, false, fnStopped);
        ++found.nFolders;
        found.nPassedOver += walk.notes.size();
        found.nFromFolders += walk.files.size();
        found.files.insert(found.files.end(), walk.files.begin(), walk.files.end());
    }
    return found;
}

QString FoldersNotice(const FoundPaths &found) {
    const size_t nFiles = found.nFromFolders;
    QString strText =
        found.nFolders == 1 ? QStringLiteral("A folder") : QStringLiteral("%1 folders").arg(found.nFolders);
    strText += nFiles == 0 ? QStringLiteral(" gave no media files")
                           : QStringLiteral(" gave %1 media file%2").arg(nFiles).arg(nFiles == 1 ? "" : "s");
    if (found.nPassedOver > 0) {
        strText += QStringLiteral("; %1 other file%2 passed over")
                       .arg(found.nPassedOver)
                       .arg(found.nPassedOver == 1 ? "" : "s");
    }
    return strText;
}

}  // namespace

std::string MainWindow::SubfolderOf(const std::string &strPath) const {
    const auto it = m_subfolderOf.find(strPath);
    return it == m_subfolderOf.end() ? std::string() : it->second;
}

void MainWindow::AddPaths(const std::vector<std::string> &paths) {
    // Files before the first folder are added at once, as ever, unless a folder given before is still
    // being walked; from there on, in order, once the folders have been walked. Each run goes into the
    // list in one go, which then is drawn once.
    size_t nFirstFolder = 0;
    while (m_nFolderWalks == 0 && nFirstFolder < paths.size() && !IsFolder(paths[nFirstFolder])) {
        ++nFirstFolder;
    }
    AddFilesNow({paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(nFirstFolder)});
    if (nFirstFolder == paths.size()) {
        return;
    }
    if (!IsConverting() && m_nFolderWalks == 0) {
        ShowStatusLine(QStringLiteral("Looking for media files..."));
    }
    ++m_nFolderWalks;
    m_pTasks->Run([rest = std::vector<std::string>(paths.begin() + static_cast<std::ptrdiff_t>(nFirstFolder),
                                                   paths.end()),
                   pClosing = m_pClosing] { return FindMedia(rest, [&] { return pClosing->load(); }); },
                  [this](const FoundPaths &found) {
                      --m_nFolderWalks;
                      std::vector<std::string> files;
                      for (const WalkedFile &file : found.files) {
                          files.push_back(file.strPath);
                          m_subfolderOf[file.strPath] = file.strSubfolder;
                      }
                      AddFilesNow(files);
                      if (!IsConverting() && found.nFolders > 0) {
                          ShowStatusLine(FoldersNotice(found));
                      }
                  });
}

void MainWindow::AddFilesNow(std::vector<std::string> files) {
    std::erase_if(files, [](const std::string &strPath) { return strPath.empty(); });
    m_pCommands->AddMediaFiles(files);
}

}  // namespace klangor

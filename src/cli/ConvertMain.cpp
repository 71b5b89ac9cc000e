// klangor-convert: converts media files to MP3 or WAV on the terminal with the desktop program's engine.
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "clips/ClipList.h"
#include "common/Allocator.h"
#include "common/SidecarFile.h"
#include "common/Version.h"
#include "media/AudioDecoder.h"
#include "convert/batch/AudioStreamReader.h"
#include "convert/batch/ConversionBatch.h"
#include "convert/batch/OutputNames.h"
#include "convert/split/SplitPlan.h"
#include "cli/ConvertCommandLine.h"
#include "media/MediaWalk.h"
#include "media/MidiSynth.h"

namespace klangor {

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// The terminal as the batch's window: every call on the main thread, but WakeViewThread, which the
// writer's workers call and which only counts up an event descriptor the main thread polls.
class TerminalView : public IConversionView {
public:
    TerminalView(const ConvertOptions &options, int wakeEventFd)
        : m_options(options),
          m_wakeEventFd(wakeEventFd),
          m_bShowProgress(!options.bQuiet && ::isatty(STDOUT_FILENO)) {}

    bool ShowsProgress() const { return m_bShowProgress; }

    std::string GetOutputFolderText() override { return m_options.strOutputFolder; }
    OutputFormat GetOutputFormat() override { return m_options.format; }

    void SetStatusText(const std::string &strText) override {
        if (!m_bShowProgress) {
            return;
        }
        const bool bProgress = strText.rfind("Progress:", 0) == 0;
        std::printf("\r%s\033[K", strText.c_str());
        if (!bProgress) {
            std::printf("\n");
        }
        m_bLineShown = bProgress;
        std::fflush(stdout);
    }
    // The percentage is already part of the status line.
    void SetProgressPos(int) override {}

    // There are no buttons: the main loop ends when the batch stops converting.
    void ShowConvertButtons(bool) override {}
    // There is no list to lock on a terminal: the files were fixed on the command line.
    void EnableClipList(bool) override {}

    // Nobody is asked anything: the command line runs unattended, so the output folder is not opened.
    bool AskYesNo(const std::string &) override { return false; }

    void ShowMessage(const std::string &strText, MessageIcon icon) override {
        // What is only for information (the notes on converted files) is on their own lines already.
        if (icon == MessageIcon::Information) {
            return;
        }
        ClearProgressLine();
        std::fprintf(stderr, "%s\n", strText.c_str());
    }

    void OpenFolder(const std::string &strFolder) override {
        ClearProgressLine();
        std::printf("Output folder: %s\n", strFolder.c_str());
    }

    void OnJobFinished(const ConversionJob &job) override {
        // Failures are reported together at the end of the batch, one "FILE: reason" line each.
        if (m_options.bQuiet || !job.GetError().empty()) {
            return;
        }
        ClearProgressLine();
        // A copy says so: its line is the one place that tells it from a conversion.
        std::string strRemarks = m_options.format == OutputFormat::Copy ? "copied" : "";
        if (!job.GetNote().empty()) {
            strRemarks += (strRemarks.empty() ? "" : ", ") + job.GetNote();
        }
        // A divided source has a line for each part it was written as, with that part's own note.
        const std::vector<std::string> &parts = job.GetPartOutputs();
        for (size_t i = 0; i < std::max<size_t>(parts.size(), 1); ++i) {
            std::string strLine = strRemarks;
            const std::string strPartNote = i < job.GetPartNotes().size() ? job.GetPartNotes()[i] : "";
            if (!strPartNote.empty()) {
                strLine += (strLine.empty() ? "" : ", ") + strPartNote;
            }
            const std::string strTail = strLine.empty() ? "" : " (" + strLine + ")";
            std::printf("%s -> %s%s\n", job.GetSourcePath().c_str(),
                        (parts.empty() ? job.GetOutputPath() : parts[i]).c_str(), strTail.c_str());
        }
        std::fflush(stdout);
    }

    void WakeViewThread() override {
        const uint64_t nOne = 1;
        // The descriptor does not block; a count already pending wakes the main thread just as well.
        [[maybe_unused]] const ssize_t n = ::write(m_wakeEventFd, &nOne, sizeof nOne);
    }

    void ClearProgressLine() {
        if (m_bLineShown) {
            std::printf("\r\033[K");
            std::fflush(stdout);
            m_bLineShown = false;
        }
    }

private:
    const ConvertOptions &m_options;
    int m_wakeEventFd;
    bool m_bShowProgress;
    bool m_bLineShown = false;
};

// The names in a list file (or standard input for "-"): one a line, or each ended by NUL; empty
// names are passed over. False when the list cannot be read.
bool ReadFileList(const std::string &strList, bool bNulSeparated, std::vector<std::string> &files) {
    std::FILE *pList = strList == "-" ? stdin : std::fopen(strList.c_str(), "rbe");
    if (!pList) {
        return false;
    }
    const int iEnd = bNulSeparated ? '\0' : '\n';
    std::string strName;
    for (int c; (c = std::getc(pList)) != EOF;) {
        if (c != iEnd) {
            strName += static_cast<char>(c);
            continue;
        }
        if (!bNulSeparated && !strName.empty() && strName.back() == '\r') {
            strName.pop_back();
        }
        if (!strName.empty()) {
            files.push_back(strName);
        }
        strName.clear();
    }
    if (!strName.empty()) {
        files.push_back(strName);
    }
    const bool bRead = !std::ferror(pList);
    if (pList != stdin) {
        std::fclose(pList);
    }
    return bRead;
}

// A JSON string of a text: quotes, backslashes and control characters escaped, bytes that are not
// UTF-8 (a file name may hold any) given as U+FFFD.
std::string JsonText(const std::string &strText) {
    std::string strOut = "\"";
    for (size_t i = 0; i < strText.size(); ++i) {
        const auto c = static_cast<unsigned char>(strText[i]);
        if (c == '"' || c == '\\') {
            strOut += '\\';
            strOut += static_cast<char>(c);
        } else if (c < 0x20) {
            char szEscape[8];
            std::snprintf(szEscape, sizeof szEscape, "\\u%04x", c);
            strOut += szEscape;
        } else if (c < 0x80) {
            strOut += static_cast<char>(c);
        } else {
            const size_t nLength = (c >> 5) == 0x6 && c >= 0xC2 ? 2
                                   : (c >> 4) == 0xE            ? 3
                                   : (c >> 3) == 0x1E           ? 4
                                                                : 0;
            bool bValid = nLength > 0 && i + nLength <= strText.size();
            for (size_t k = 1; bValid && k < nLength; ++k) {
                bValid = (static_cast<unsigned char>(strText[i + k]) & 0xC0) == 0x80;
            }
            if (bValid) {
                strOut += strText.substr(i, nLength);
                i += nLength - 1;
            } else {
                strOut += "\xEF\xBF\xBD";
            }
        }
    }
    return strOut + "\"";
}

uintmax_t BytesOf(const std::string &strPath) {
    std::error_code error;
    const uintmax_t nBytes = std::filesystem::file_size(strPath, error);
    return error ? 0 : nBytes;
}

// The report's line for one source.
std::string ReportLine(const std::string &strSource, const std::string &strOutput, const char *szStatus,
                       const std::string &strReason, double dSeconds, uintmax_t nBytes) {
    char szNumbers[64];
    std::snprintf(szNumbers, sizeof szNumbers, ",\"seconds\":%.3f,\"bytes\":%ju}\n", dSeconds, nBytes);
    return "{\"source\":" + JsonText(strSource) + ",\"output\":" + JsonText(strOutput) + ",\"status\":\"" +
           szStatus + "\",\"reason\":" + JsonText(strReason) + szNumbers;
}

// Writes the batch's report, replacing the file whole; false when it could not be written.
bool WriteReport(const std::string &strPath, const ConversionBatch &batch) {
    std::string strReport;
    for (const auto &pJob : batch.GetJobs()) {
        const ConversionJob &job = *pJob;
        uintmax_t nBytes = 0;
        for (const std::string &strOutput : job.GetPartOutputs().empty()
                                                ? std::vector<std::string>{job.GetOutputPath()}
                                                : job.GetPartOutputs()) {
            nBytes += BytesOf(strOutput);
        }
        const bool bEnded = job.GetState() == ConversionJob::State::Ended;
        const char *szStatus = !bEnded ? "stopped" : job.GetError().empty() ? "converted" : "failed";
        const std::string strReason = !bEnded                   ? "Stopped before it was converted"
                                      : !job.GetError().empty() ? job.GetError()
                                                                : job.GetNote();
        strReport += ReportLine(job.GetSourcePath(), job.GetOutputPath(), szStatus, strReason,
                                job.GetSeconds(), bEnded && job.GetError().empty() ? nBytes : 0);
    }
    for (const SkippedSource &skipped : batch.GetSkipped()) {
        strReport += ReportLine(skipped.strSourcePath, skipped.strOutputPath, "skipped", "the output exists",
                                0.0, BytesOf(skipped.strOutputPath));
    }
    return ReplaceFileContents(strPath, strReport) == 0;
}

// "1:02:03.250" for a frame count at a rate.
std::string TimeText(uint64_t nFrames, uint32_t nRate) {
    const uint64_t nMs = nRate == 0 ? 0 : (nFrames * 1000 + nRate / 2) / nRate;
    char szText[40];
    std::snprintf(
        szText, sizeof szText, "%llu:%02llu:%02llu.%03llu", static_cast<unsigned long long>(nMs / 3600000),
        static_cast<unsigned long long>(nMs / 60000 % 60), static_cast<unsigned long long>(nMs / 1000 % 60),
        static_cast<unsigned long long>(nMs % 1000));
    return szText;
}

// --list-splits: each file's parts, as a conversion would write them, and nothing written. The exit
// status of a batch: 1 when a file could not be looked at.
int ListSplits(const ConvertOptions &options) {
    int iStatus = kExitConverted;
    for (const std::string &strFile : options.files) {
        ConversionJob job(strFile, "");
        job.FixSelection();
        job.SetTrackOverride(options.nTrack);
        AudioStreamReader reader(job.GetDecoderFactory());
        reader.UseJob(job);
        SourceParts plan;
        std::string strError;
        if (!reader.Open(strFile) || !PlanParts(
                                         job, reader, options.split, [] { return false; }, plan, strError)) {
            std::fprintf(stderr, "%s: %s\n", strFile.c_str(),
                         strError.empty() ? reader.m_strLastError.c_str() : strError.c_str());
            iStatus = kExitFailed;
            continue;
        }
        if (!WritesParts(plan)) {
            std::printf("%s: %s\n", strFile.c_str(),
                        plan.strNote.empty() ? "one part, converted whole" : plan.strNote.c_str());
            continue;
        }
        std::printf("%s:%s%s\n", strFile.c_str(), plan.strNote.empty() ? "" : " ", plan.strNote.c_str());
        for (size_t i = 0; i < plan.parts.size(); ++i) {
            const OutputPart &part = plan.parts[i];
            const std::string strNumber =
                PartNumber(static_cast<int>(i + 1), static_cast<int>(plan.parts.size()));
            const std::string strTitle = part.strTitle.empty() ? "" : "  " + part.strTitle;
            std::printf("  %s  %s  %s%s%s\n", strNumber.c_str(),
                        TimeText(part.nStartFrame, reader.m_nSampleRate).c_str(),
                        TimeText(part.nEndFrame, reader.m_nSampleRate).c_str(),
                        part.bToStreamEnd ? " (end)" : "", strTitle.c_str());
        }
    }
    std::fflush(stdout);
    return iStatus;
}

std::string DefaultOutputFolder() {
    const char *szHome = std::getenv("HOME");
    if (szHome == nullptr || *szHome == '\0') {
        const passwd *pUser = ::getpwuid(::getuid());
        szHome = pUser ? pUser->pw_dir : ".";
    }
    return (std::filesystem::path(szHome) / "VellumarMP3").string();
}

}  // namespace

}  // namespace klangor

using namespace klangor;

int main(int argc, char **argv) {
    klangor::KeepLargeFreedBlocksReturnable();
    // Ctrl-C becomes "Stop Convert". The signals are taken out of normal delivery before any thread
    // exists (threads inherit the mask) and read from a descriptor, so no code runs in a handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // An output pipe whose reader has gone fails its own job with a write error; it does not end the batch.
    std::signal(SIGPIPE, SIG_IGN);

    ConvertOptions options;
    std::string strError;
    if (!ParseConvertCommandLine(std::vector<std::string>(argv + 1, argv + argc), DefaultOutputFolder(),
                                 options, strError)) {
        std::fprintf(stderr, "klangor-convert: %s\nTry 'klangor-convert --help' for more information.\n",
                     strError.c_str());
        return kExitUsage;
    }
    if (options.bHelp) {
        std::fputs(ConvertUsageText().c_str(), stdout);
        return kExitConverted;
    }
    if (options.bVersion) {
        std::printf("%s %s\n", klangor::kAppTitle, klangor::kVersionText);
        return kExitConverted;
    }

    SilenceDecoderLog();
    SetChosenSoundFont(options.strSoundFont);
    if (options.bListSplits) {
        return ListSplits(options);
    }
    std::error_code error;
    if (!options.strOutputFolder.empty() && !options.bDryRun) {
        std::filesystem::create_directories(options.strOutputFolder, error);
        if (error) {
            std::fprintf(stderr, "klangor-convert: cannot create the output folder %s: %s\n",
                         options.strOutputFolder.c_str(), error.message().c_str());
            return kExitFailed;
        }
    }

    FileDescriptor signalFd(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    FileDescriptor wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (signalFd.Get() < 0 || wakeFd.Get() < 0) {
        std::fprintf(stderr, "klangor-convert: %s\n", std::strerror(errno));
        return kExitFailed;
    }

    std::vector<std::string> files = options.files;
    if (!options.strFilesFrom.empty() && !ReadFileList(options.strFilesFrom, options.bNulSeparated, files)) {
        std::fprintf(stderr, "klangor-convert: cannot read the list %s: %s\n", options.strFilesFrom.c_str(),
                     std::strerror(errno));
        return kExitFailed;
    }
    // Folders are walked in place, each for its media in path order; every file keeps the folder it
    // lies in below the one walked, for its output to mirror.
    std::vector<WalkedFile> sources;
    for (const std::string &strFile : files) {
        std::error_code error;
        if (!std::filesystem::is_directory(strFile, error)) {
            sources.push_back({strFile, ""});
        } else if (!options.bRecursive) {
            std::fprintf(stderr, "%s: a folder, walked only with -r\n", strFile.c_str());
        } else {
            FolderWalk walk = WalkMediaFolder(strFile, options.bFollowLinks);
            if (!options.bQuiet) {
                for (const std::string &strNote : walk.notes) {
                    std::printf("%s\n", strNote.c_str());
                }
            }
            sources.insert(sources.end(), walk.files.begin(), walk.files.end());
        }
    }
    ClipList clips;
    BatchNaming naming;
    for (size_t i = 0; i < sources.size(); ++i) {
        // A shard takes its share of the list by place, so that every machine's share stays the same
        // whatever the others have done.
        if (static_cast<int>(i % static_cast<size_t>(options.nShardCount)) == options.nShardIndex) {
            clips.AddClip(sources[i].strPath);
            naming.subfolders.push_back(sources[i].strSubfolder);
        }
    }
    TerminalView view(options, wakeFd.Get());
    ConversionBatch batch(view, options.settings);
    naming.strTemplate = options.strNameTemplate;
    naming.bSkipExisting = options.bSkipExisting;
    batch.SetNaming(naming);
    batch.SetJobsAtOnce(options.nJobs);
    batch.SetTrackOverride(options.nTrack);
    batch.SetWriteTags(!options.bNoTags);
    batch.SetLoudnessTarget(options.loudness);
    batch.SetSplitSettings(options.split);
    batch.SetDivideAfterSeconds(options.dSplitAfterSeconds);
    if (options.bDryRun) {
        batch.PrepareJobs(clips, true);
        for (const auto &pJob : batch.GetJobs()) {
            const std::string strNote = pJob->GetNote().empty() ? "" : " (" + pJob->GetNote() + ")";
            std::printf("%s -> %s%s\n", pJob->GetSourcePath().c_str(), pJob->GetOutputPath().c_str(),
                        strNote.c_str());
        }
        for (const SkippedSource &skipped : batch.GetSkipped()) {
            std::printf("%s: skipped, %s exists\n", skipped.strSourcePath.c_str(),
                        skipped.strOutputPath.c_str());
        }
        return kExitConverted;
    }
    int nStopSignal = 0;
    batch.OnStartConvert(clips);
    if (!options.bQuiet) {
        for (const SkippedSource &skipped : batch.GetSkipped()) {
            std::printf("%s: skipped, %s exists\n", skipped.strSourcePath.c_str(),
                        skipped.strOutputPath.c_str());
        }
        std::fflush(stdout);
    }
    // The progress line is read from the jobs at the pace a reader can follow; the workers only wake
    // this thread when a file or the batch has ended.
    const int nPollMs = view.ShowsProgress() ? static_cast<int>(kProgressInterval.count()) : -1;
    while (batch.IsConverting()) {
        pollfd fds[2] = {{signalFd.Get(), POLLIN, 0}, {wakeFd.Get(), POLLIN, 0}};
        const int nReady = ::poll(fds, 2, nPollMs);
        if (nReady < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signalFd.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                nStopSignal = static_cast<int>(info.ssi_signo);
                batch.OnStopConvert();
            }
        }
        if (fds[1].revents & POLLIN) {
            uint64_t nCount = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd.Get(), &nCount, sizeof nCount);
            batch.HandlePosted();
        }
        batch.ShowProgress();
    }
    batch.WaitUntilIdle();
    view.ClearProgressLine();
    const size_t nFailed = batch.GetFailures().size();
    size_t nConverted = 0;
    for (const auto &pJob : batch.GetJobs()) {
        nConverted += pJob->GetState() == ConversionJob::State::Ended && pJob->GetError().empty() ? 1 : 0;
    }
    if (!options.bQuiet) {
        std::printf("%zu converted, %zu skipped, %zu failed\n", nConverted, batch.GetSkipped().size(),
                    nFailed);
    }
    if (!options.strReport.empty() && !WriteReport(options.strReport, batch)) {
        std::fprintf(stderr, "klangor-convert: cannot write the report %s\n", options.strReport.c_str());
        return kExitFailed;
    }

    if (nStopSignal != 0 && batch.WasStopped()) {
        std::fprintf(stderr,
                     "klangor-convert: stopped; the files being converted were finished short and "
                     "the remaining files were not written\n");
        return 128 + nStopSignal;  // 130 for Ctrl-C
    }
    // A writer that could not start converted nothing, whatever the (empty) list of failures says.
    if (batch.StartFailed() || nFailed != 0 || (batch.GetJobs().empty() && batch.GetSkipped().empty())) {
        return kExitFailed;
    }
    return kExitConverted;
}

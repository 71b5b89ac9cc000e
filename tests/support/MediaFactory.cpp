#include "support/MediaFactory.h"

#include <algorithm>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace klangor {

namespace {

void Drain(int fd, std::string &strOut) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        strOut.append(buffer, static_cast<size_t>(n));
    }
}

std::map<std::string, std::string> ParseKeyValues(const std::string &strText) {
    std::map<std::string, std::string> values;
    std::istringstream in(strText);
    std::string strLine;
    while (std::getline(in, strLine)) {
        const size_t nEq = strLine.find('=');
        if (nEq != std::string::npos) {
            values.emplace(strLine.substr(0, nEq), strLine.substr(nEq + 1));
        }
    }
    return values;
}

std::string Describe(const std::vector<std::string> &args) {
    std::string strText;
    for (const auto &strArg : args) {
        strText += strArg + " ";
    }
    return strText;
}

CommandResult RunChecked(const std::vector<std::string> &args) {
    CommandResult result = RunCommand(args);
    if (result.iExitStatus != 0) {
        throw std::runtime_error(Describe(args) + "failed: " + result.strStderr);
    }
    return result;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string> &args) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char *> argv;
    for (const auto &strArg : args) {
        argv.push_back(const_cast<char *>(strArg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    CommandResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int nOpen = 2;
    while (nOpen > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                std::string &strTarget = i == 0 ? result.strStdout : result.strStderr;
                const size_t nBefore = strTarget.size();
                Drain(fds[i].fd, strTarget);
                if (strTarget.size() == nBefore) {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --nOpen;
                }
            }
        }
    }
    int iStatus = 0;
    while (::waitpid(pid, &iStatus, 0) < 0 && errno == EINTR) {
    }
    result.iExitStatus = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    return result;
}

std::string MediaFactory::Make(const std::string &strName, const std::vector<std::string> &inputArgs,
                               const std::vector<std::string> &outputArgs) {
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
    args.insert(args.end(), inputArgs.begin(), inputArgs.end());
    args.insert(args.end(), outputArgs.begin(), outputArgs.end());
    // Deterministic output: no encoder version strings or creation times that vary between runs.
    args.insert(args.end(), {"-fflags", "+bitexact", "-map_metadata", "-1"});
    const std::string strPath = PathOf(strName);
    args.push_back(strPath);
    RunChecked(args);
    return strPath;
}

std::string MediaFactory::MakeTone(const std::string &strName, double dSeconds, int iSampleRate,
                                   int iChannels, const std::vector<std::string> &codecArgs, bool bVideo) {
    std::string strExprs;
    for (int i = 0; i < iChannels; ++i) {
        // A different pitch per channel and a slow sweep, so samples are not periodic over a chunk.
        strExprs += (i ? "|" : "") + std::string("0.4*sin(") + std::to_string(220 * (i + 2)) +
                    "*2*PI*t+3*sin(0.7*t))";
    }
    std::ostringstream source;
    source << "aevalsrc=exprs=" << strExprs << ":s=" << iSampleRate << ":d=" << dSeconds;
    std::vector<std::string> inputs = {"-f", "lavfi", "-i", source.str()};
    std::vector<std::string> outputs;
    if (bVideo) {
        std::ostringstream video;
        video << "testsrc=size=160x120:rate=10:duration=" << dSeconds;
        inputs.insert(inputs.end(), {"-f", "lavfi", "-i", video.str()});
        outputs = {"-map", "0:a", "-map", "1:v"};
    }
    outputs.insert(outputs.end(), codecArgs.begin(), codecArgs.end());
    return Make(strName, inputs, outputs);
}

std::string MediaFactory::MakeRaw(const std::string &strName, const std::string &strBytes) {
    const std::string strPath = PathOf(strName);
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strBytes;
    return strPath;
}

std::string DecodeS16(const std::string &strPath, const std::vector<std::string> &extraArgs) {
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                     "-i",     strPath,    "-map",         "0:a:0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    args.insert(args.end(), {"-f", "s16le", "-acodec", "pcm_s16le", "-"});
    return RunChecked(args).strStdout;
}

std::map<std::string, std::string> ProbeStream(const std::string &strPath, const std::string &strStream) {
    return ParseKeyValues(RunChecked({"ffprobe", "-v", "error", "-select_streams", strStream, "-show_streams",
                                      "-of", "default=noprint_wrappers=1", strPath})
                              .strStdout);
}

std::map<std::string, std::string> ProbeFormat(const std::string &strPath) {
    return ParseKeyValues(
        RunChecked({"ffprobe", "-v", "error", "-show_format", "-of", "default=noprint_wrappers=1", strPath})
            .strStdout);
}

std::string ReadFileBytes(const std::string &strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> FileNamesIn(const std::filesystem::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace klangor

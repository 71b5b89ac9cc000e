#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/MediaFactory.h"

extern char **environ;

namespace klangor {

// klangor-convert of this build, run as a user runs it: the arguments after the program name.
inline const std::string kProgram = std::string(KLANGOR_BINARY_DIR) + "/src/klangor-convert";

inline CommandResult Convert(std::vector<std::string> args) {
    args.insert(args.begin(), kProgram);
    return RunCommand(args);
}

// Starts klangor-convert without waiting for it.
inline pid_t Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), kProgram);
    std::vector<char *> argv;
    for (auto &strArg : args) {
        argv.push_back(strArg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, kProgram.c_str(), nullptr, nullptr, argv.data(), ::environ), 0);
    return pid;
}

// The files in a folder whose names begin with strPrefix.
inline std::vector<std::filesystem::path> FilesStartingWith(const std::string &strFolder,
                                                            const std::string &strPrefix) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(strFolder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename().string().rfind(strPrefix, 0) == 0) {
            found.push_back(it->path());
        }
    }
    return found;
}

// Bytes written so far into the hidden temporary file of an output, 0 while there is none.
inline uintmax_t PartialBytes(const std::string &strFolder, const std::string &strName) {
    uintmax_t nBytes = 0;
    for (const std::filesystem::path &path : FilesStartingWith(strFolder, "." + strName + ".part-")) {
        std::error_code error;
        const uintmax_t nSize = std::filesystem::file_size(path, error);
        nBytes = error ? nBytes : std::max(nBytes, nSize);
    }
    return nBytes;
}

// Waits, with a deadline, until the output's temporary file holds at least nBytes.
inline bool WaitForPartialBytes(const std::string &strFolder, const std::string &strName, uintmax_t nBytes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (PartialBytes(strFolder, strName) < nBytes) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace klangor

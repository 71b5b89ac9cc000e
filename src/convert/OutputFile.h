#pragma once

#include <cstdio>
#include <memory>
#include <string>

// An output file of the writers: closed on every path, and removed again unless the job kept it, so a
// failed job never leaves a truncated file that looks complete.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() { Discard(); }

    // mode as for fopen; "w" modes create or truncate.
    bool Create(const std::string &strPath, const char *szMode);
    FILE *Get() const { return m_pFile.get(); }
    bool IsOpen() const { return m_pFile != nullptr; }
    // Flushes and closes. False when anything written failed to reach the file; the file is then removed.
    bool Keep();
    // Closes and removes the file.
    void Discard();

private:
    struct Closer {
        void operator()(FILE *pFile) const { std::fclose(pFile); }
    };
    std::unique_ptr<FILE, Closer> m_pFile;
    std::string m_strPath;
};

#pragma once

#include <filesystem>

namespace klangor {

// A fresh folder under $TMPDIR that is removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir();

    const std::filesystem::path &Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

}  // namespace klangor

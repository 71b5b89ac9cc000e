#include "support/TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace klangor {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string strPattern = (fs::temp_directory_path() / "klangor-test-XXXXXX").string();
    if (::mkdtemp(strPattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + strPattern);
    }
    m_path = strPattern;
}

TempDir::~TempDir() {
    std::error_code error;
    // A test may have left a read-only folder behind; give everything back to the owner first.
    for (auto it = fs::recursive_directory_iterator(m_path, error); !error && it != fs::end(it);
         it.increment(error)) {
        if (it->is_directory(error)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
    }
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(m_path, error);
}

}  // namespace klangor

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace klangor {

// A private folder for the run, made on first use and removed when the program ends, for targets whose
// parser reads a file rather than memory.
const std::string &FuzzFolder();

// Writes the bytes to the path, replacing what was there. Aborts when it cannot: a target that tests
// nothing must not look like a clean run.
void WriteFuzzFile(const std::string &strPath, const uint8_t *pData, size_t nSize);

// Keeps a computed value alive, so the optimiser cannot drop the work that made it.
void FuzzKeep(unsigned uValue);

// Reports a broken promise of the code under test as a crash, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition) \
    do {                      \
        if (!(condition)) {   \
            __builtin_trap(); \
        }                     \
    } while (0)

}  // namespace klangor

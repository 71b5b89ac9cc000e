#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace klangor {

// The skin's layout file ("position.txt") kept as raw text and searched on every lookup.
//
// An entry is a key (case-sensitive, found as a plain substring: the first occurrence anywhere in the
// text wins, so "OUTPUT_PATH" must come before "EDIT_OUTPUT_PATH"), exactly one separator character of
// any kind, and a value running up to the next ";". The value holds up to four integers read like
// "%d,%d,%d,%d". Window thread only.
class SkinLayout {
public:
    // Longest value text a lookup accepts, in bytes between the separator and the ";".
    static constexpr size_t kMaxValueLength = 99;

    using Values = std::array<int32_t, 4>;

    // Largest layout file read. Real layouts stay under 10240 bytes; this leaves plenty of room for
    // comments while a file of many megabytes (or a device that never ends) is refused unread.
    static constexpr std::uintmax_t kMaxFileBytes = 1024 * 1024;

    // Reads the whole file. On failure, or for a file over kMaxFileBytes, the text becomes empty (later
    // lookups then fail) and false comes back; the caller reports "Initial UI error!" and closes its
    // window.
    bool Load(const std::filesystem::path &pathFile);

    // Replaces the text directly (for callers that already hold the layout in memory).
    void SetText(std::string strText) { m_strText = std::move(strText); }
    const std::string &Text() const { return m_strText; }

    // Finds the key and fills as many of the four outputs as the value gives, leaving the rest as
    // they were. Returns false, with every output untouched, when the key does not occur, nothing
    // follows its separator, no ";" ends the value, or the value is longer than kMaxValueLength: the
    // caller then closes the window, as for a broken layout. A value with fewer numbers (even none)
    // is a success. pnRead, when given, receives how many numbers were read.
    bool GetValues(std::string_view strKey, Values &aValues, int *pnRead = nullptr) const;

    // Colour values keep only the low 8 bits of each number, as the layout's readers take them.
    static uint8_t ColourComponent(int32_t iValue) { return static_cast<uint8_t>(iValue & 0xFF); }

private:
    std::string m_strText;
};

// Reads up to four integers the way "%d,%d,%d,%d" scans them: blanks before each number, an optional
// sign, digits, and a "," right after each number but the last. Numbers past the 32-bit range wrap to
// their low 32 bits (so colour numbers still keep their low 8 bits). Returns how many were stored.
int ScanLayoutNumbers(std::string_view strValue, SkinLayout::Values &aValues);

}  // namespace klangor

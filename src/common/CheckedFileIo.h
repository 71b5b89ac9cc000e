#pragma once

#include <cstddef>
#include <cstdint>

namespace klangor {

// Reads and writes on an open file descriptor that report every short or failed transfer, for the
// writers' rewrites of their own files (libraries that rewrite files for us, such as TagLib, drop write
// errors and report success on a full disk) and for whole-file writes and reads. Signals and short
// transfers are retried; a read that meets the end of the file first fails.
bool WriteAllAt(int fd, uint64_t nAt, const void *pBytes, size_t nBytes);
bool ReadAllAt(int fd, uint64_t nAt, void *pBytes, size_t nBytes);
// The same at the descriptor's own position, which moves past what was transferred.
bool WriteAll(int fd, const void *pBytes, size_t nBytes);
bool ReadAll(int fd, void *pBytes, size_t nBytes);

// Inserts nBytes at nAt of a regular file, moving what follows towards the end. The room is reserved
// before anything moves, so a full disk fails at once; the file's length is checked at the end. False
// when any step failed: the file must then be thrown away.
bool InsertIntoFile(int fd, uint64_t nAt, const void *pBytes, size_t nBytes);

}  // namespace klangor

#include "common/Allocator.h"

#include <malloc.h>

namespace klangor {

void KeepLargeFreedBlocksReturnable() {
    // glibc raises its mmap threshold each time a large mapped block is freed. FFmpeg grows an MP4's
    // sample index by reallocation, one block per decoder, so after opening a long file every later
    // large buffer comes from the heaps, whose freed space is not trimmed while smaller blocks sit above
    // it: a one-hour film held some 6 MiB more than it used. Fixing the threshold at glibc's starting
    // value keeps such blocks mapped on their own and returned when freed; the cost of mapping a few
    // large blocks is not measurable against decoding.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

}  // namespace klangor

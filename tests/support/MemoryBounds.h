#pragma once

namespace klangor {

// The memory bounds tests hold the programs to are the plain build's. Under the address checker every
// allocation also costs its shadow, its red zones and its time in quarantine, so there the bounds
// stretch by this much; what they catch (gigabytes for a whole song or one slice per sample) stays far
// above them either way.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMemoryBoundFactor = 4;
#else
constexpr long kMemoryBoundFactor = 1;
#endif

}  // namespace klangor

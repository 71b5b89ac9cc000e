#pragma once

namespace klangor {

// Makes large freed blocks go back to the system for the rest of the run. Called first thing in main,
// before any thread starts.
void KeepLargeFreedBlocksReturnable();

}  // namespace klangor

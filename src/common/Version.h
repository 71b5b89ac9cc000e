#pragma once

// The product's name and version as the user sees them in titles, boxes and --version.
namespace klangor {
inline constexpr const char *kAppTitle = "Vellumar Klangor";
inline constexpr const char *kVersionText = "v2.31";
}  // namespace klangor

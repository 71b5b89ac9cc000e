#pragma once

#include <cstdint>
#include <string>

namespace klangor {

// Hundredths of a second as "HH:MM:SS.hh"; hours are not limited to two digits.
std::string FormatClipTime(int32_t t);

}  // namespace klangor

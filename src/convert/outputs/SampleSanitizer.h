#pragma once

#include <cstddef>

namespace klangor {

// Makes decoded float samples (full scale ±1.0) safe for an encoder: NaN and infinities become
// silence, everything else is held inside full scale, as a 16-bit path would have clipped it. A
// damaged file decodes to such values, and LAME's assertions end the whole process on them.
void SanitizeSamples(float *pSamples, size_t nCount);

}  // namespace klangor

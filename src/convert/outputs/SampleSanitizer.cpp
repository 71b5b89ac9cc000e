#include "convert/outputs/SampleSanitizer.h"

#include <cmath>

namespace klangor {

void SanitizeSamples(float *pSamples, size_t nCount) {
    for (size_t i = 0; i < nCount; ++i) {
        const float fSample = pSamples[i];
        if (!std::isfinite(fSample)) {
            pSamples[i] = 0.0f;
        } else if (fSample > 1.0f) {
            pSamples[i] = 1.0f;
        } else if (fSample < -1.0f) {
            pSamples[i] = -1.0f;
        }
    }
}

}  // namespace klangor

#pragma once

#include <cstdint>

namespace klangor {

// A rectangle in window or picture pixels: left and top inside, right and bottom outside, the way the
// skin's regions, fills and cuts all count. Kept free of any toolkit so the geometry can be tested bare.
struct SkinRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const SkinRect &, const SkinRect &) = default;
};

}  // namespace klangor

// Conversion of a rotated coordinate to a 32-bit integer, truncating towards
// zero, without the cost of a C++ cast on the x87 unit.
//
// On x87 a cast saves the control word, switches it to truncation, stores,
// and switches it back: two fldcw per coordinate, which many processors
// execute serially. Here the value is stored under the rounding in force
// (fist), and the result is then moved one step towards zero where it was
// rounded away from zero, which one compare tells. The compare is exact: the
// stored integer is exact in a register, and the value is the very register
// the cast would have stored, at whatever precision the sums were taken. Any
// rounding mode leaves the stored integer less than one from the value, so
// the result is the truncation in every mode. The conversion changes no
// mode, so the sums before it round as they would before a cast.
#pragma once

#include <cstdint>

namespace cube_paths {

// The value is taken as a long double so that the sum comes in as the
// register holds it, not rounded to a double, and stays exact wherever the
// compiler puts it aside between the store and the compares.
[[gnu::always_inline]] static inline std::int32_t truncateToInt32(long double value) {
#if defined(__i386__) && !defined(__SSE2_MATH__) && defined(__GNUC__)
    // fist leaves the value on the stack for the compares below.
    std::int32_t stored;
    __asm__("fistl %0" : "=m"(stored) : "t"(value));
    if (stored == INT32_MIN) {
        // The integer indefinite (out of range, or not a number) or a genuine
        // -2^31. Strictly inside the range only a value rounded to 2^31 (the
        // indefinite) or to -2^31 is left, and truncation brings each one
        // step towards zero; anything else truncates to -2^31 or has no
        // integer, which a truncating store also gives as -2^31.
        if (value > -2147483648.0 && value < 2147483648.0)
            return value > 0 ? INT32_MAX : INT32_MIN + 1;
        return INT32_MIN;
    }
    const long double whole = stored;
    if (stored > 0 && whole > value) return stored - 1;
    if (stored < 0 && whole < value) return stored + 1;
    return stored;
#else
    return static_cast<std::int32_t>(value);
#endif
}

}  // namespace cube_paths

// Shared by the harnesses: a broken property stops the run the same way a sanitizer report does,
// so that libFuzzer keeps the input and prints the stack.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>

#define QV_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__,        \
                         #condition);                                                              \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (0)

namespace qv::fuzz {

inline std::string_view text(const std::uint8_t *data, std::size_t size) {
    return {reinterpret_cast<const char *>(data), size};
}

// Geometry is drawn in single precision, so a value that does not fit a float is as bad as an
// infinite one.
inline bool drawable(double v) {
    return std::isfinite(v) && std::abs(v) <= double(std::numeric_limits<float>::max());
}

// a + b, pinned to the int64 range instead of overflowing.
inline std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

// FNV-1a: lets a harness derive extra parameters from the input without consuming its bytes,
// so that every seed stays a plain document.
inline std::uint64_t hashOf(std::string_view bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

} // namespace qv::fuzz

// Load-time copies of the hot generators. Move generation is mostly bit scans, shifts of 128-bit
// boards and population counts: where the processor has the newer instructions for them
// (x86-64-v3: BMI1/2, LZCNT, or at least POPCNT), a copy of a function marked VELKORANT_CLONED,
// compiled for them with everything it calls inlined, is chosen when the library loads; the
// build stays portable. A build for the machine's own processor needs no copies, only the inlining. What such a
// function calls only now and then is kept out of line ([[gnu::noinline]]): inlined, it made the
// copy of the legal generator twice as long and self-play, where the generator's code is not
// kept hot between calls, 7 to 10% slower.
#pragma once

#if defined(__x86_64__) && !defined(__BMI2__) && defined(__GNUC__) && !defined(__clang__)
#define VELKORANT_CLONED [[gnu::target_clones("arch=x86-64-v3", "popcnt", "default"), gnu::flatten]]
#elif defined(__GNUC__)
#define VELKORANT_CLONED [[gnu::flatten]]
#else
#define VELKORANT_CLONED
#endif

// The feature planes as bytes and the scan of a legal mask go a byte a square: where the
// processor has AVX-512 with its byte permutes (VBMI), a hand-written copy, compiled for those
// instructions (VELKORANT_WIDE_BYTES_TARGET), turns 64 bits into 64 bytes, or 64 bytes into 64
// bits, at a time. wide_bytes() tells, once the library has loaded, whether to call it.
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VELKORANT_WIDE_BYTES 1
#define VELKORANT_WIDE_BYTES_TARGET [[gnu::target("avx512f,avx512bw,avx512vbmi,bmi,bmi2,popcnt")]]
namespace velkorant {
inline bool wide_bytes() {
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    }();
    return available;
}
}  // namespace velkorant
#else
#define VELKORANT_WIDE_BYTES 0
#endif

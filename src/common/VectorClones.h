#pragma once

// Marks a hot function to be compiled once more for each wider vector
// instruction set; the loader picks the widest version the processor runs,
// and every other machine gets the portable one. Every version performs the
// same IEEE double operations in the same order (no fused multiply-add is
// ever formed), so results are bit-identical across them.
//
// Such a function must not let an exception out: with GCC 12 a throw that
// would leave it ends the program instead (std::terminate), even where the
// caller catches. So it allocates nothing: its scratch is sized before.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(TANDEMTREE_NO_CLONES)
#define TANDEMTREE_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define TANDEMTREE_VECTOR_CLONES
#endif

// Helpers of such a function are inlined into each of its versions, so that
// they are compiled for the same instruction set.
#if defined(__GNUC__)
#define TANDEMTREE_INLINE_INTO_CLONES inline __attribute__((always_inline))
#else
#define TANDEMTREE_INLINE_INTO_CLONES inline
#endif

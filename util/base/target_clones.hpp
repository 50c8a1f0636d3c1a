// VESK_TARGET_CLONES: compile a hot loop for AVX2 and for the baseline, chosen at load time.
#ifndef VESK_UTIL_BASE_TARGET_CLONES_HPP
#define VESK_UTIL_BASE_TARGET_CLONES_HPP

// The installed build targets the x86-64 baseline only; the loader's resolver picks the AVX2
// clone on machines that have it. Compilers without the attribute get the baseline, and so
// do clang's sanitizer builds and ThreadSanitizer builds (the build defines VESK_TARGET_CLONES
// as empty there), because the resolvers run during relocation, before the sanitizer runtime
// is initialised. A build without CPU dispatch (VESK_NO_CPU_DISPATCH) gets the baseline too,
// and so does a clang build: clang 14 gives the resolver of a function of internal linkage
// default visibility, which would export it from the library.
#if !defined(VESK_TARGET_CLONES) && !defined(VESK_NO_CPU_DISPATCH) && defined(__x86_64__) && \
    !defined(__clang__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define VESK_TARGET_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef VESK_TARGET_CLONES
#define VESK_TARGET_CLONES
#endif

#endif

// Test support: failing the C library's calloc and anonymous mmap, from which the library
// takes the memory it maps for itself rather than from the host.
#ifndef VESK_TESTS_SUPPORT_SYSTEM_MEMORY_HPP
#define VESK_TESTS_SUPPORT_SYSTEM_MEMORY_HPP

namespace vesk::testing {

/// Asked before each calloc and each anonymous mmap made by the code linked into the test
/// program (the library's static copy among it, not the shared libraries it loads), with
/// `call` "calloc" or "mmap": when it returns true, that call fails as the system's does when
/// memory runs out. Null, the
/// default, lets every call through. Tests that use it are added with SYSTEM_MEMORY.
extern bool (*system_allocation_fails)(const char* call);

}  // namespace vesk::testing

#endif

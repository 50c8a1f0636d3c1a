// Test support: failing the C library's calloc and anonymous mmap, from which the library
// takes the memory it maps for itself rather than from the host, and the standard allocator.
#ifndef VESK_TESTS_SUPPORT_SYSTEM_MEMORY_HPP
#define VESK_TESTS_SUPPORT_SYSTEM_MEMORY_HPP

namespace vesk::testing {

/// Asked before each calloc and each anonymous mmap made by the code linked into the test
/// program (the library's static copy among it, not the shared libraries it loads), with
/// `call` "calloc" or "mmap": when it returns true, that call fails as the system's does when
/// memory runs out. Null, the
/// default, lets every call through. Tests that use it are added with SYSTEM_MEMORY.
extern bool (*system_allocation_fails)(const char* call);

/// While true, every operator new of the program, the standard allocator's, throws
/// std::bad_alloc as it does when memory runs out. False, the default, lets every one through.
extern bool standard_allocation_fails;

}  // namespace vesk::testing

#endif

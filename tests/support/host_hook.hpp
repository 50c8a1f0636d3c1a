// Test support: interposing host functions while still reaching the real ones.
#ifndef VESK_TESTS_SUPPORT_HOST_HOOK_HPP
#define VESK_TESTS_SUPPORT_HOST_HOOK_HPP

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace vesk::testing {

/// The next definition of the C function `name` after the calling program's own: a test that
/// defines a host function to watch its calls reaches the host library's definition with it.
template <class Function>
Function* next_definition(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (symbol == nullptr) {
    std::fprintf(stderr, "no further definition of %s\n", name);
    std::abort();
  }
  return reinterpret_cast<Function*>(symbol);
}

}  // namespace vesk::testing

#endif

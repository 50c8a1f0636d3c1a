// Memory from the host allocator, and objects that live in it.
#include <vesk/base.hpp>

#include <cstdio>
#include <cstring>

// Objects of a class derived from AllocatorBase take zero-filled host memory; a new-expression
// gives null, not an exception, when the host is exhausted.
struct Counter : vesk::AllocatorBase {
  int hits = 0;
};

int main() {
  char* name = static_cast<char*>(vesk_calloc(6, 1));  // 6 zero bytes, or null
  Counter* counter = new Counter;
  if (name == nullptr || counter == nullptr) {
    vesk_assertion("out of host memory", __FILE__, __LINE__);
    return 1;
  }
  std::memcpy(name, "cache", 5);
  counter->hits += 1;
  std::printf("%s: %d hit\n", name, counter->hits);  // cache: 1 hit
  delete counter;
  vesk_free(name);
}

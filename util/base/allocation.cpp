// The allocation and assertion entry points and the host-allocated base classes.
#include "vesk/base.hpp"

#include "vesk/host/host_util.h"

#include <limits>

extern "C" {

void* vesk_malloc(unsigned int size) { return host_malloc_checked(size); }

void* vesk_calloc(unsigned int a, unsigned int b) { return host_calloc_checked(a, b); }

void vesk_free(void* block) { host_free(block); }

void vesk_assertion(const char* message, const char* file, int line) {
  host_assert(message, file, line);
}

}  // extern "C"

namespace vesk {

namespace {

// Object sizes come from the compiler and are far below 4 GiB, but a size that did not fit
// the host's 32-bit count must fail rather than wrap to a smaller block.
void* calloc_object(std::size_t size) {
  if (size > std::numeric_limits<unsigned int>::max())
    return nullptr;
  return vesk_calloc(static_cast<unsigned int>(size), 1);
}

}  // namespace

void* AllocatorBase::operator new(std::size_t size) noexcept { return calloc_object(size); }

void* AllocatorBase::operator new(std::size_t size, void* place) noexcept {
  return place != nullptr ? place : calloc_object(size);
}

void AllocatorBase::operator delete(void* block) noexcept { vesk_free(block); }

void AllocatorBase::operator delete(void* block, void* /*place*/) noexcept { vesk_free(block); }

void* Allocate::allocate(unsigned int a, unsigned int b) { return vesk_calloc(a, b); }

void Allocate::deallocate(void* block) { vesk_free(block); }

}  // namespace vesk

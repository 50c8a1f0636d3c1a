// Allocation and assertion entry points, and the allocation base class of the library's objects.
#ifndef VESK_BASE_HPP
#define VESK_BASE_HPP

#include <cstddef>

/// Marks a declaration as part of the library's exported interface; everything else in the
/// shared library is hidden.
#define VESK_API __attribute__((visibility("default")))

extern "C" {

/// A block of at least `size` bytes from the host allocator, or null; release with vesk_free.
VESK_API void* vesk_malloc(unsigned int size);
/// A zero-filled block of a·b bytes from the host allocator, or null (also when a·b does not
/// fit 32 bits); release with vesk_free.
VESK_API void* vesk_calloc(unsigned int a, unsigned int b);
/// Returns a block from vesk_malloc, vesk_calloc or vesk_strdup to the host; null is ignored.
VESK_API void vesk_free(void* block);
/// Reports a failed assertion (fixed message, source file, line) to the host; returns when
/// the host's report returns.
VESK_API void vesk_assertion(const char* message, const char* file, int line);

}  // extern "C"

namespace vesk {

/// Empty base class whose class-specific new and delete take zero-filled storage from the host
/// allocator, so objects of derived classes can be handed across the library boundary.
/// The allocation functions never throw: a new-expression gives null when the host is
/// exhausted, and the constructor is then not run.
class VESK_API AllocatorBase {
public:
  /// Constructs the stateless base.
  AllocatorBase() = default;
  /// Copies nothing: the base has no state.
  AllocatorBase(const AllocatorBase&) = default;
  /// Does nothing: the base has no state.
  AllocatorBase& operator=(const AllocatorBase&) { return *this; }

  /// `size` zero bytes from vesk_calloc(size, 1), or null.
  static void* operator new(std::size_t size) noexcept;
  /// `place` itself when it is not null (nothing is allocated); otherwise as operator new(size).
  /// `place` must come from vesk_malloc or vesk_calloc, since a failing constructor releases
  /// it with vesk_free.
  static void* operator new(std::size_t size, void* place) noexcept;
  /// Returns the storage to the host with vesk_free.
  static void operator delete(void* block) noexcept;
  /// Runs only when a constructor fails inside the placement form; releases the storage.
  static void operator delete(void* block, void* place) noexcept;
};

/// Untyped zero-filled blocks from the host allocator.
class VESK_API Allocate {
public:
  /// Constructs the stateless object.
  Allocate() = default;
  /// Copies nothing: the class has no state.
  Allocate(const Allocate&) = default;
  /// Does nothing: the class has no state.
  Allocate& operator=(const Allocate&) { return *this; }

  /// vesk_calloc(a, b): a·b zero bytes, or null. Typed buffers pass the element size first.
  static void* allocate(unsigned int a, unsigned int b);
  /// vesk_free(block).
  static void deallocate(void* block);
};

}  // namespace vesk

#endif

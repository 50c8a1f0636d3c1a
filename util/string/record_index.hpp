// The index that finds the interning table's records by their texts, and the keyed hash of
// a text that places it there.
#ifndef VESK_UTIL_STRING_RECORD_INDEX_HPP
#define VESK_UTIL_STRING_RECORD_INDEX_HPP

#include "vesk/string.hpp"

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// XXH3 compiled into the files that key texts: nothing of xxHash is linked or exported.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace vesk::detail {

/// The secret that texts are keyed with: random bytes from the system, drawn once per
/// process. Should the system refuse them, the clock and addresses stand in: the index then
/// finds every text as well, only its keys are easier to guess.
struct KeySecret {
  KeySecret();
  unsigned char bytes[XXH3_SECRET_DEFAULT_SIZE];
};

/// The process's secret, made on the first call. Never inlined: only the first use gets here.
const KeySecret* make_key_secret();

/// The secret once made, for a load and a test on every later use and no call on the lookup
/// path; null before the first.
extern std::atomic<const KeySecret*> gKeySecret;

/// The key of the `size` bytes at `text` (non-null): XXH3 with the process's secret. Inline,
/// so that where the size is known to be small XXH3 compiles to its short path alone, with no
/// registers to save.
inline std::uint64_t key_of(const char* text, std::size_t size) {
  const KeySecret* secret = gKeySecret.load(std::memory_order_acquire);
  if (__builtin_expect(secret == nullptr, 0))
    secret = make_key_secret();
  return XXH3_64bits_withSecret(text, size, secret->bytes, sizeof secret->bytes);
}

/// The records by their texts, for lookups: open addressing over groups of 7 slots, each slot
/// a record pointer with a control byte (0 for a free slot, else 0x80 and 7 bits of the
/// record's key), a group's control bytes and slots in one cache line. A text's key (keyOf)
/// is XXH3 keyed with a secret drawn once per process, so that whoever chooses the texts
/// cannot make them share groups; its low bits pick the first group and its top 7 bits are
/// the control byte. A lookup thus reads one line of the index, then only the records whose
/// control byte matches. At most 7/8 of the slots are used; the table doubles beyond that.
class RecordIndex {
public:
  /// 56 free slots; throws std::bad_alloc when they cannot be allocated.
  RecordIndex();
  RecordIndex(const RecordIndex&) = delete;
  RecordIndex& operator=(const RecordIndex&) = delete;
  /// Releases the slots, never the records.
  ~RecordIndex();

  /// The key of the `size` bytes at `text` (non-null).
  static std::uint64_t keyOf(const char* text, std::size_t size);

  /// The first record of key `key` for which `same(record)` holds, or null.
  template <class Same>
  const table_string::Entry* find(std::uint64_t key, Same same) const {
    std::size_t group = static_cast<std::size_t>(key) & mGroupMask;
    const std::uint8_t control = controlOf(key);
    for (std::size_t step = 1;; ++step) {
      const Group& slots = mGroups[group];
      const Masks masks = scan(slots.controls, control);
      for (unsigned int match = masks.matching; match != 0; match &= match - 1) {
        const table_string::Entry* record = slots.records[__builtin_ctz(match)];
        if (same(record))
          return record;
      }
      if (masks.free != 0)
        return nullptr;
      group = (group + step) & mGroupMask;
    }
  }

  /// The number of records.
  std::size_t size() const { return mSize; }
  /// Makes room for one more record, doubling the slots if need be; throws std::bad_alloc
  /// and changes nothing if it cannot.
  void reserveOneMore() {
    if (mSize + 1 > capacity())
      rehash((mGroupMask + 1) * 2);
  }
  /// Adds `record`, whose text has key `key`; room must have been made by reserveOneMore.
  void insert(std::uint64_t key, const table_string::Entry* record) {
    assert(mSize + 1 <= capacity());
    place(key, record);
    ++mSize;
  }
  /// Calls `visit(record)` for every record, in slot order, fetching records ahead.
  template <class Visit>
  void forEach(Visit visit) const {
    constexpr std::size_t kAhead = 2;
    for (std::size_t g = 0; g <= mGroupMask; ++g) {
      if (g + kAhead <= mGroupMask)
        for (std::size_t i = 0; i < kSlots; ++i)
          if (mGroups[g + kAhead].controls[i] != 0)
            __builtin_prefetch(mGroups[g + kAhead].records[i]);
      for (std::size_t i = 0; i < kSlots; ++i)
        if (mGroups[g].controls[i] != 0)
          visit(mGroups[g].records[i]);
    }
  }

private:
  static constexpr std::size_t kSlots = 7;

  // One cache line: the control bytes of the slots (the eighth is not used), then the slots.
  struct Group {
    std::uint8_t controls[kSlots + 1];
    const table_string::Entry* records[kSlots];
  };
  static_assert(sizeof(Group) == 64, "a group is one cache line");

  static std::uint8_t controlOf(std::uint64_t key) {
    return static_cast<std::uint8_t>(0x80u | (key >> 57));
  }
  // Bit i of `matching` is set when control byte i of a group is `control`, bit i of `free`
  // when slot i is free; i < kSlots.
  struct Masks {
    unsigned int matching;
    unsigned int free;
  };
  static Masks scan(const std::uint8_t* controls, std::uint8_t control) {
#ifdef __SSE2__
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(controls));
    const auto matching = static_cast<unsigned int>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(control)))));
    return {matching & kSlotBits, ~static_cast<unsigned int>(_mm_movemask_epi8(bytes)) & kSlotBits};
#else
    Masks masks{0, 0};
    for (unsigned int i = 0; i < kSlots; ++i) {
      masks.matching |= (controls[i] == control ? 1u : 0u) << i;
      masks.free |= (controls[i] < 0x80 ? 1u : 0u) << i;
    }
    return masks;
#endif
  }

  // `groups` groups (a power of 2) of free slots.
  explicit RecordIndex(std::size_t groups);
  // Moves every record to `groups` groups (a power of 2) of new slots.
  void rehash(std::size_t groups);
  void place(std::uint64_t key, const table_string::Entry* record) {
    std::size_t group = static_cast<std::size_t>(key) & mGroupMask;
    for (std::size_t step = 1;; ++step) {
      Group& slots = mGroups[group];
      const unsigned int free = scan(slots.controls, 0).free;
      if (free != 0) {
        const auto slot = static_cast<std::size_t>(__builtin_ctz(free));
        slots.controls[slot] = controlOf(key);
        slots.records[slot] = record;
        return;
      }
      group = (group + step) & mGroupMask;
    }
  }

  static constexpr unsigned int kSlotBits = (1u << kSlots) - 1;

  // At most 7/8 of the slots in use.
  std::size_t capacity() const { return (mGroupMask + 1) * kSlots / 8 * 7; }

  Group* mGroups;
  std::size_t mGroupMask;  // the number of groups, less 1
  std::size_t mSize = 0;
};

}  // namespace vesk::detail

#endif

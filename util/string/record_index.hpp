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
  // What XXH3 derives from the bytes for texts of 4 to 8 bytes and of 9 to 16 (the secret's
  // words 8 to 16 and 16 to 24 xor-ed; 24 to 32 and 32 to 40; 40 to 48 and 48 to 56), made
  // once, so that keying such a text reads one word of the secret per half, not two.
  std::uint64_t flip4to8;
  std::uint64_t flip9to16Low;
  std::uint64_t flip9to16High;
};

/// The process's secret, made on the first call and the same on every later one. Never
/// inlined: a lookup never gets here.
const KeySecret* make_key_secret();

/// The secret once made, for a load and a test on every later use and no call on the lookup
/// path; null before the first.
extern std::atomic<const KeySecret*> gKeySecret;

/// The key of the `size` bytes at `text` (non-null): XXH3 with the process's secret, which a
/// RecordIndex made when it was built. No test and no call, so that a lookup makes no call it
/// must save registers for; inline, so that where the size is known to be small XXH3 compiles
/// to its short path alone.
inline std::uint64_t key_of_made(const char* text, std::size_t size) {
  const KeySecret* secret = gKeySecret.load(std::memory_order_acquire);
  assert(secret != nullptr);
  return XXH3_64bits_withSecret(text, size, secret->bytes, sizeof secret->bytes);
}

/// key_of_made where the secret may not be made yet: it is made on the first use.
inline std::uint64_t key_of(const char* text, std::size_t size) {
  if (__builtin_expect(gKeySecret.load(std::memory_order_acquire) == nullptr, 0))
    make_key_secret();
  return key_of_made(text, size);
}

/// key_of_made for a text of 8 to 16 bytes: the same key, from XXH3's formulas for the two
/// sizes with the secret's derived words.
inline std::uint64_t key_of_8to16(const char* text, std::size_t size) {
  assert(size - 8 <= 8);
  const KeySecret* secret = gKeySecret.load(std::memory_order_acquire);
  assert(secret != nullptr);
  const auto* in = reinterpret_cast<const xxh_u8*>(text);
  if (size == 8) {
    const xxh_u64 word = XXH_readLE32(in + 4) + (xxh_u64{XXH_readLE32(in)} << 32);
    return XXH3_rrmxmx(word ^ secret->flip4to8, 8);
  }
  const xxh_u64 low = XXH_readLE64(in) ^ secret->flip9to16Low;
  const xxh_u64 high = XXH_readLE64(in + size - 8) ^ secret->flip9to16High;
  return XXH3_avalanche(size + XXH_swap64(low) + high + XXH3_mul128_fold64(low, high));
}

/// The records by their texts, for lookups: open addressing over groups of 7 slots, each slot
/// a record pointer with a control byte (0 for a free slot, else 0x80 and 7 bits of the
/// record's key), a group's control bytes and slots in one cache line. A text's key (keyOf)
/// is XXH3 keyed with a secret drawn once per process, so that whoever chooses the texts
/// cannot make them share groups; its low bits pick the first group and its top 7 bits are
/// the control byte. A lookup thus reads one line of the index, then only the records whose
/// control byte matches. At most 7/8 of the slots are used; the slots double beyond that.
///
/// Any number of threads may insert at once, each a record it alone inserts, and find runs on
/// any number of others; reserveFor, which doubles the slots, must have the index to itself.
/// An insertion claims its slot by setting the slot's control byte in one atomic step, then
/// stores the record with release ordering: a find that meets the control byte before the
/// record reads a null slot and goes on, as for a text not there. A doubling fills new slots
/// apart and then publishes them whole. Slots that a doubling replaces keep their addresses
/// until the index is destroyed, for finds that may still be reading them, but give their
/// memory back to the system: they read as free slots from then on. So a find can miss a
/// record inserted while it runs, never report a wrong one, and a miss is looked up again
/// under the lock that orders insertions of its text.
class RecordIndex {
public:
  /// 56 free slots, and the process's secret if not yet made; throws std::bad_alloc when the
  /// slots cannot be allocated.
  RecordIndex();
  RecordIndex(const RecordIndex&) = delete;
  RecordIndex& operator=(const RecordIndex&) = delete;
  /// Releases the slots, the replaced ones too, never the records.
  ~RecordIndex();

  /// The key of the `size` bytes at `text` (non-null).
  static std::uint64_t keyOf(const char* text, std::size_t size);

  /// The first record of key `key` for which `same(record)` holds, or null. Takes no lock and
  /// writes nothing; a record inserted while it runs may be missed.
  template <class Same>
  const table_string::Entry* find(std::uint64_t key, Same same) const {
    const Slots& slots = *mSlots.load(std::memory_order_acquire);
    std::size_t group = static_cast<std::size_t>(key) & slots.groupMask;
    const std::uint64_t pattern = patternOf(key);
    for (std::size_t step = 1;; ++step) {
      const Probe probe = probeGroup(slots.groups()[group], pattern, same);
      if (probe.record != nullptr || probe.ended)
        return probe.record;
      group = (group + step) & slots.groupMask;
    }
  }

  /// find in the first group of `key`'s probe sequence alone, which is where most lookups
  /// end: the record found there, or null and whether the group has a free slot (then no
  /// later group holds the record). Fewer registers than find's loop.
  struct Probe {
    const table_string::Entry* record;
    bool ended;
  };
  template <class Same>
  Probe findInFirstGroup(std::uint64_t key, Same same) const {
    const Slots& slots = *mSlots.load(std::memory_order_acquire);
    return probeGroup(slots.groups()[static_cast<std::size_t>(key) & slots.groupMask],
                      patternOf(key), same);
  }

  /// The most records the slots hold before they double: 7/8 of them.
  std::size_t capacity() const { return (current().groupMask + 1) * kSlots / 8 * 7; }
  /// Makes room for `records` records in all, doubling the slots as often as need be:
  /// `allRecords(visit)` must call `visit(record)` for every record of the index, in any order
  /// (in the order they lie in memory, the doubling reads them fastest). No insertion may run
  /// meanwhile. Throws std::bad_alloc and changes nothing if it cannot.
  template <class AllRecords>
  void reserveFor(std::size_t records, AllRecords allRecords) {
    while (capacity() < records) {
      Doubling doubling(*this);
      {
        Filler filler(doubling, false);
        allRecords([&filler](const table_string::Entry* record) { filler.add(record); });
      }
      publish(doubling);
    }
  }

private:
  struct Slots;

public:
  class Filler;
  /// New slots, twice as many as the current ones, that Fillers fill with every record of
  /// the index and publish() then puts in place of the current ones; released unless
  /// published. No insertion may run from its making to its publishing.
  class Doubling {
  public:
    /// Throws std::bad_alloc when the slots cannot be allocated.
    explicit Doubling(const RecordIndex& index);
    Doubling(const Doubling&) = delete;
    Doubling& operator=(const Doubling&) = delete;
    ~Doubling();

  private:
    friend class RecordIndex;
    Slots* mNext;
  };
  /// Puts records into a Doubling's slots, from one thread: each record's text is keyed again
  /// (the keys are not kept), and its group is asked for some records ahead of its writing, so
  /// that the misses overlap. With `shared`, other Fillers may fill the same slots at once,
  /// each slot claimed in an atomic step; without, this one is the only one.
  class Filler {
  public:
    Filler(Doubling& doubling, bool shared) : mNext(*doubling.mNext), mShared(shared) {}
    Filler(const Filler&) = delete;
    Filler& operator=(const Filler&) = delete;
    /// Places the records still waiting.
    ~Filler();
    /// From now on, other Fillers may fill the same slots at once.
    void share() { mShared = true; }
    /// Adds `record`, a record of the index.
    void add(const table_string::Entry* record) {
      Pending& entry = mPending[mCount++ % kAhead];
      if (mCount > kAhead)
        put(entry);
      entry = {record, keyOf(record->text(), record->size())};
      __builtin_prefetch(&mNext.groups()[entry.key & mNext.groupMask], 1);
    }

  private:
    static constexpr std::size_t kAhead = 32;
    struct Pending {
      const table_string::Entry* record;
      std::uint64_t key;
    };
    void put(const Pending& entry) {
      if (mShared)
        claim(mNext, entry.key).store(entry.record, std::memory_order_relaxed);
      else
        place(mNext, entry.key, entry.record);
    }
    Slots& mNext;
    bool mShared;
    std::size_t mCount = 0;
    Pending mPending[kAhead];
  };
  /// Puts `doubling`'s slots, which Fillers filled with every record, in place of the current
  /// ones, which give their memory back. Finds go on in the current slots until then.
  void publish(Doubling& doubling);
  /// Adds the record that `make()` returns, whose text has key `key` and which no other
  /// thread inserts; `make` runs once its slot is claimed. The callers together insert no more
  /// records than reserveFor made room for. Safe on any number of threads at once.
  template <class Make>
  void insert(std::uint64_t key, Make make) {
    // The slot is claimed before the record is made: the claim's atomic step then has no
    // writes of the record to wait for, which would be fresh lines, most likely from memory.
    claim(current(), key).store(make(), std::memory_order_release);
  }

private:
  static constexpr std::size_t kSlots = 7;

  // One cache line: the control bytes of the slots, byte i of the word (bits 8i to 8i + 7)
  // for slot i (the eighth is not used), then the slots.
  struct Group {
    std::atomic<std::uint64_t> controls;
    std::atomic<const table_string::Entry*> records[kSlots];
  };
  static_assert(sizeof(Group) == 64, "a group is one cache line");

  // A whole array of slots, published at once: its number of groups less 1 (a power of 2,
  // less 1) in the room of one group, then the groups.
  struct Slots {
    std::size_t groupMask;
    Group* groups() { return reinterpret_cast<Group*>(reinterpret_cast<char*>(this) + kHeader); }
    const Group* groups() const {
      return reinterpret_cast<const Group*>(reinterpret_cast<const char*>(this) + kHeader);
    }
  };
  // The bytes before the groups: a whole cache line, so that they stay aligned as it was.
  static constexpr std::size_t kHeader = sizeof(Group);
  static_assert(sizeof(Slots) <= kHeader, "the header fits the room of one group");

  static std::uint8_t controlOf(std::uint64_t key) {
    return static_cast<std::uint8_t>(0x80u | (key >> 57));
  }
  // The control byte of `key` in every byte of a word: one multiplication, where a byte
  // broadcast into a vector takes several shuffles.
  static std::uint64_t patternOf(std::uint64_t key) {
    return ((key >> 57) | 0x80u) * 0x0101010101010101u;
  }
  // The first record of `at` whose control byte is that in `pattern` and for which
  // `same(record)` holds, or null and whether `at` has a free slot.
  template <class Same>
  static Probe probeGroup(const Group& at, std::uint64_t pattern, Same same) {
    // Acquire: the records of the control bytes seen are seen too, and what they point to.
    const Masks masks = scan(at.controls.load(std::memory_order_acquire), pattern);
    for (std::uint64_t match = masks.matching; match != 0; match &= match - 1) {
      // Acquire as well: a slot claimed by an insertion under way has its control byte
      // before its record, which is published on its own.
      const table_string::Entry* record =
          at.records[static_cast<unsigned int>(__builtin_ctzll(match))].load(
              std::memory_order_acquire);
      // Null while an insertion has claimed the slot but not yet stored its record, and once
      // replaced slots have given their memory back after their control bytes were read.
      if (record != nullptr && same(record))
        return {record, false};
    }
    return {nullptr, masks.free != 0};
  }
  // Bit i of `matching` is set when control byte i of a group is the byte of `pattern` (see
  // patternOf), bit i of `free` when slot i is free; i < kSlots.
  struct Masks {
    unsigned int matching;
    unsigned int free;
  };
  static Masks scan(std::uint64_t controls, std::uint64_t pattern) {
#ifdef __SSE2__
    const __m128i bytes = _mm_cvtsi64_si128(static_cast<long long>(controls));
    const __m128i wanted = _mm_cvtsi64_si128(static_cast<long long>(pattern));
    const auto matching =
        static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)));
    return {matching & kSlotBits, ~static_cast<unsigned int>(_mm_movemask_epi8(bytes)) & kSlotBits};
#else
    const auto control = static_cast<std::uint8_t>(pattern);
    Masks masks{0, 0};
    for (unsigned int i = 0; i < kSlots; ++i) {
      const auto byte = static_cast<std::uint8_t>(controls >> (8 * i));
      masks.matching |= (byte == control ? 1u : 0u) << i;
      masks.free |= (byte < 0x80 ? 1u : 0u) << i;
    }
    return masks;
#endif
  }
  // `groups` groups (a power of 2) of free slots.
  static Slots* makeSlots(std::size_t groups);
  // The bytes of `slots`.
  static std::size_t bytesOf(const Slots& slots) {
    return kHeader + (slots.groupMask + 1) * sizeof(Group);
  }
  // Puts `next` in place of the current slots, which give their memory back.
  void publish(Slots& next);
  // Puts `record` of key `key` in the first free slot of its probe sequence in `slots`, which
  // no other thread sees yet: the record first, then its control byte.
  static void place(Slots& slots, std::uint64_t key, const table_string::Entry* record) {
    Group& at = firstWithRoom(slots, key);
    const std::uint64_t controls = at.controls.load(std::memory_order_relaxed);
    const auto slot = static_cast<unsigned int>(__builtin_ctz(scan(controls, 0).free));
    at.records[slot].store(record, std::memory_order_relaxed);
    at.controls.store(controls | std::uint64_t{controlOf(key)} << (8 * slot),
                      std::memory_order_relaxed);
  }
  // A free slot of `key`'s probe sequence in the published slots, where other threads insert
  // and find at once, for a record of that key: claimed by setting its control byte in one
  // atomic step, which fails if another insertion claimed any slot of the group first. The
  // caller then stores the record, released, so that a find that reads it reads the record's
  // bytes too. The control byte itself orders nothing: a find pairs its acquire with the
  // record's release.
  static std::atomic<const table_string::Entry*>& claim(Slots& slots, std::uint64_t key) {
    for (Group* at = &firstWithRoom(slots, key);;) {
      std::uint64_t controls = at->controls.load(std::memory_order_relaxed);
      for (unsigned int free; (free = scan(controls, 0).free) != 0;) {
        const auto slot = static_cast<unsigned int>(__builtin_ctz(free));
        if (at->controls.compare_exchange_weak(
                controls, controls | std::uint64_t{controlOf(key)} << (8 * slot),
                std::memory_order_relaxed, std::memory_order_relaxed))
          return at->records[slot];
      }
      // Others filled the group meanwhile: on along the probe sequence.
      at = &firstWithRoom(slots, key, at);
    }
  }
  // The first group of `key`'s probe sequence in `slots` that has a free slot, after `after`
  // when not null (a group of that sequence).
  static Group& firstWithRoom(Slots& slots, std::uint64_t key, const Group* after = nullptr) {
    std::size_t group = static_cast<std::size_t>(key) & slots.groupMask;
    std::size_t step = 1;
    if (after != nullptr) {
      while (&slots.groups()[group] != after)
        group = (group + step++) & slots.groupMask;
      group = (group + step++) & slots.groupMask;
    }
    for (;; group = (group + step++) & slots.groupMask) {
      Group& at = slots.groups()[group];
      if (scan(at.controls.load(std::memory_order_relaxed), 0).free != 0)
        return at;
    }
  }

  static constexpr unsigned int kSlotBits = (1u << kSlots) - 1;

  // The slots, for the threads that insert, whose locks order them after any doubling.
  Slots& current() const { return *mSlots.load(std::memory_order_relaxed); }

  // The first slots had 8 groups; each doubling keeps the ones it replaced, 8 << k groups
  // for the k-th, to be unmapped with the index.
  static constexpr std::size_t kFirstGroups = 8;
  std::atomic<Slots*> mSlots;
  Slots* mReplaced[64] = {};
  std::size_t mDoublings = 0;
};

}  // namespace vesk::detail

#endif

// The index that finds the interning table's records by their texts, and the secret that
// keys them.
#include "util/string/record_index.hpp"

#include "util/base/mapped_memory.hpp"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <limits>
#include <new>

namespace vesk::detail {

KeySecret::KeySecret() {
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got > 0)
      filled += static_cast<std::size_t>(got);
    else if (got != 0 && errno != EINTR)
      break;
  }
  if (filled < sizeof bytes) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t state = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
                          static_cast<std::uint64_t>(now.tv_nsec) +
                          (reinterpret_cast<std::uintptr_t>(this) << 16) +
                          static_cast<std::uint64_t>(getpid());
    for (unsigned char& byte : bytes) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      byte = static_cast<unsigned char>(state >> 56);
    }
  }
  flip4to8 = XXH_readLE64(bytes + 8) ^ XXH_readLE64(bytes + 16);
  flip9to16Low = XXH_readLE64(bytes + 24) ^ XXH_readLE64(bytes + 32);
  flip9to16High = XXH_readLE64(bytes + 40) ^ XXH_readLE64(bytes + 48);
}

std::atomic<const KeySecret*> gKeySecret{nullptr};

__attribute__((noinline, cold)) const KeySecret* make_key_secret() {
  static const KeySecret secret;
  gKeySecret.store(&secret, std::memory_order_release);
  return &secret;
}

__attribute__((noinline)) std::uint64_t RecordIndex::keyOf(const char* text, std::size_t size) {
  return key_of(text, size);
}

RecordIndex::RecordIndex() : mSlots(makeSlots(kFirstGroups)) { make_key_secret(); }

RecordIndex::~RecordIndex() {
  unmap(&current(), bytesOf(current()));
  for (std::size_t k = 0; k < mDoublings; ++k)
    unmap(mReplaced[k], kHeader + (kFirstGroups << k) * sizeof(Group));
}

RecordIndex::Slots* RecordIndex::makeSlots(std::size_t groups) {
  if (groups > (std::numeric_limits<std::size_t>::max() - kHeader) / sizeof(Group))
    throw std::bad_alloc();
  // Zero bytes are free slots.
  return ::new (map_zeroed(kHeader + groups * sizeof(Group))) Slots{groups - 1};
}

RecordIndex::Doubling::Doubling(const RecordIndex& index)
    : mNext(makeSlots((index.current().groupMask + 1) * 2)) {}

RecordIndex::Doubling::~Doubling() {
  if (mNext != nullptr)
    unmap(mNext, bytesOf(*mNext));
}

RecordIndex::Filler::~Filler() {
  for (std::size_t k = mCount > kAhead ? mCount - kAhead : 0; k < mCount; ++k)
    put(mPending[k % kAhead]);
}

void RecordIndex::publish(Doubling& doubling) {
  publish(*doubling.mNext);
  doubling.mNext = nullptr;
}

void RecordIndex::publish(Slots& next) {
  Slots& replaced = current();
  mSlots.store(&next, std::memory_order_release);
  mReplaced[mDoublings++] = &replaced;
  release_pages(&replaced, bytesOf(replaced));
}

}  // namespace vesk::detail

// The storage of the interning table's records and their texts.
#include "util/string/record_arena.hpp"

#include "vesk/base.hpp"

#include <sys/mman.h>

#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>

namespace vesk::detail {

namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Asks the system to back the stretches of `block` that are aligned to 2 MiB with huge pages:
// records cut from them are then found with one address translation per 2 MiB, where the
// processor keeps far fewer of 4 KiB. Advice only, about the block's own bytes: should the
// system ignore or refuse it (the host's memory need not be of the kind that takes it), the
// records lie on ordinary pages. A fresh block of calloc's own mapping has no page written
// yet, so the pages it gets are huge ones from the first write on.
void offer_huge_pages(void* block, std::size_t bytes) {
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  const std::uintptr_t last = (start + bytes) / kHugePageBytes * kHugePageBytes;
  if (last > first)
    madvise(static_cast<char*>(block) + (first - start), last - first, MADV_HUGEPAGE);
}

}  // namespace

void HostBlock::allocate(std::size_t bytes) {
  void* block = vesk_calloc(1, static_cast<unsigned int>(bytes));
  if (block == nullptr)
    throw std::bad_alloc();
  if (mBlock != nullptr)
    releaseToHost();
  own(block, bytes);
}

void HostBlock::releaseToHost() { vesk_free(handOver()); }

void RecordArena::ready(HostBlock& block) {
  offer_huge_pages(block.data(), block.size());
  // Every page, at the smallest page size of the systems the library runs on; the zero is
  // what calloc left there. Volatile: the writes are for their faults, not their values.
  constexpr std::size_t kPageBytes = 4096;
  auto* bytes = static_cast<volatile unsigned char*>(block.data());
  for (std::size_t at = 0; at < block.size(); at += kPageBytes)
    bytes[at] = 0;
}

__attribute__((noinline)) void* RecordArena::takeFromNewBlock(std::size_t bytes, HostBlock& block) {
  if (block.size() < blockNeeded(bytes))
    return nullptr;
  const std::size_t blockBytes = block.size();
  void* taken = block.handOver();
  if (bytes > kChunkBytes) {
    auto* header = ::new (taken) Header{mOwnNewest, nullptr, 0};
    if (mOwnNewest != nullptr)
      static_cast<Header*>(mOwnNewest)->next = taken;
    else
      mOwnOldest = taken;
    mOwnNewest = taken;
    return header + 1;
  }
  auto* header = ::new (taken) Header{mNewest, nullptr, 0};
  if (mNewest != nullptr) {
    auto* newest = static_cast<Header*>(mNewest);
    newest->next = taken;
    newest->used = static_cast<std::size_t>(mCursor - static_cast<char*>(mNewest));
  } else {
    mOldest = taken;
  }
  mNewest = taken;
  ++mBlocks;
  mCursor = reinterpret_cast<char*>(header + 1);
  mLeft = (blockBytes - sizeof(Header)) / kChunkBytes * kChunkBytes;
  if (mNextBlock < kLargestBlock)
    mNextBlock = sizeof(Header) + 2 * (mNextBlock - sizeof(Header));
  return cut(kChunkBytes);
}

void RecordArena::giveBack(void* record, std::size_t bytes, HostBlock& block) {
  auto* header = static_cast<Header*>(record) - 1;
  assert(bytes > kChunkBytes && header == mOwnNewest && block.data() == nullptr);
  mOwnNewest = header->previous;
  if (mOwnNewest != nullptr)
    static_cast<Header*>(mOwnNewest)->next = nullptr;
  else
    mOwnOldest = nullptr;
  block.own(header, ownBlockBytes(bytes));
}

}  // namespace vesk::detail

// The storage of the interning table's records and their texts.
#include "util/string/record_arena.hpp"

#include "vesk/base.hpp"

#include <cassert>
#include <cstring>
#include <new>

namespace vesk::detail {

void HostBlock::allocate(std::size_t bytes) {
  void* block = vesk_calloc(1, static_cast<unsigned int>(bytes));
  if (block == nullptr)
    throw std::bad_alloc();
  if (mBlock != nullptr)
    releaseToHost();
  own(block, bytes);
}

void HostBlock::releaseToHost() { vesk_free(handOver()); }

__attribute__((noinline)) void* RecordArena::takeFromNewBlock(std::size_t bytes, HostBlock& block) {
  if (block.size() < blockNeeded(bytes))
    return nullptr;
  const std::size_t blockBytes = block.size();
  void* taken = block.handOver();
  if (bytes > kLargestShared) {
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
  mCursor = reinterpret_cast<char*>(header + 1);
  mLeft = blockBytes - sizeof(Header);
  if (mNextBlock < (std::size_t{1} << 20))
    mNextBlock *= 2;
  return cut(rounded(bytes));
}

void RecordArena::giveBack(void* record, std::size_t bytes, HostBlock& block) {
  if (bytes > kLargestShared) {
    auto* header = static_cast<Header*>(record) - 1;
    assert(header == mOwnNewest && block.data() == nullptr);
    mOwnNewest = header->previous;
    if (mOwnNewest != nullptr)
      static_cast<Header*>(mOwnNewest)->next = nullptr;
    else
      mOwnOldest = nullptr;
    block.own(header, ownBlockBytes(bytes));
    return;
  }
  bytes = rounded(bytes);
  assert(static_cast<char*>(record) + bytes == mCursor);
  // Zero again, so that a record cut here later finds its NUL.
  std::memset(record, 0, bytes);
  mCursor -= bytes;
  mLeft += bytes;
}

}  // namespace vesk::detail

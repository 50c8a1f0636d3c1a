// The storage of the interning table's records and their texts.
#include "util/string/record_arena.hpp"

#include "vesk/base.hpp"

#include <cassert>
#include <cstring>
#include <new>

namespace vesk::detail {

void* RecordArena::takeFromNewBlock(std::size_t bytes) {
  if (bytes > kLargestShared) {
    void* block = vesk_calloc(1, static_cast<unsigned int>(sizeof(Header) + bytes));
    if (block == nullptr)
      throw std::bad_alloc();
    auto* header = ::new (block) Header{mOwnNewest, nullptr, 0};
    if (mOwnNewest != nullptr)
      static_cast<Header*>(mOwnNewest)->next = block;
    else
      mOwnOldest = block;
    mOwnNewest = block;
    return header + 1;
  }
  void* block = vesk_calloc(1, static_cast<unsigned int>(mNextBlock));
  if (block == nullptr)
    throw std::bad_alloc();
  auto* header = ::new (block) Header{mNewest, nullptr, 0};
  if (mNewest != nullptr) {
    auto* newest = static_cast<Header*>(mNewest);
    newest->next = block;
    newest->used = static_cast<std::size_t>(mCursor - static_cast<char*>(mNewest));
  } else {
    mOldest = block;
  }
  mNewest = block;
  mCursor = reinterpret_cast<char*>(header + 1);
  mLeft = mNextBlock - sizeof(Header);
  if (mNextBlock < (std::size_t{1} << 20))
    mNextBlock *= 2;
  return cut(rounded(bytes));
}

void RecordArena::giveBack(void* record, std::size_t bytes) {
  if (bytes > kLargestShared) {
    auto* header = static_cast<Header*>(record) - 1;
    assert(header == mOwnNewest);
    mOwnNewest = header->previous;
    if (mOwnNewest != nullptr)
      static_cast<Header*>(mOwnNewest)->next = nullptr;
    else
      mOwnOldest = nullptr;
    vesk_free(header);
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

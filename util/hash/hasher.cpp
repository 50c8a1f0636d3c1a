// Hasher: the typed-value byte stream and its 1024-byte block buffer.
#include "vesk/hash.hpp"

#include "util/base/target_clones.hpp"
#include "util/hash/byte_order.hpp"
#include "vesk/host/host_util.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>

namespace vesk {

namespace {

// The 8-byte encodings: two 32-bit words in the given order, each most significant byte first.
std::array<unsigned char, 8> two_words(std::uint32_t first, std::uint32_t second) {
  std::array<unsigned char, 8> bytes;
  detail::store_be32(bytes.data(), first);
  detail::store_be32(bytes.data() + 4, second);
  return bytes;
}

constexpr std::size_t kBlockSize = 1024;

// Programming errors of this file are reported with a fixed source name and line, so that the
// report is the same in every build. Both are part of what callers see of the report, which
// hosts match on: the line is the one it has always named, not where the call now stands.
constexpr const char* kUnreachable = "shouldn't get here";
constexpr const char* kSourceFile = "util/hash/hasher";
constexpr int kSourceLine = 28;

// Stream order of an array element: a 32-bit value most significant byte first; a double as its
// low word, then its high word, each most significant byte first.
constexpr std::array<unsigned char, 4> kWordOffsets =
    detail::storage_offsets<std::uint32_t>({3, 2, 1, 0});
constexpr std::array<unsigned char, 8> kRealOffsets =
    detail::storage_offsets<std::uint64_t>({3, 2, 1, 0, 7, 6, 5, 4});

static_assert(sizeof(double) == 8 && sizeof(float) == 4, "IEEE single and double expected");

// The shuffles are written byte by byte with constant offsets so that the compiler turns each
// loop into a vector byte permutation; the AVX2 clone does 32 bytes per instruction. The
// vector loop is unrolled eight times: a block is then 4 trips of load, shuffle and store, and
// the few instructions of loop control matter, because the host hash of the block before is
// still running while these execute and both share the processor's instruction window.
VESK_TARGET_CLONES
void encode_words(unsigned char* __restrict out, const unsigned char* __restrict in,
                  std::size_t count) {
#pragma GCC unroll 8
  for (std::size_t i = 0; i < count; ++i)
    for (std::size_t k = 0; k < 4; ++k)
      out[4 * i + k] = in[4 * i + kWordOffsets[k]];
}

VESK_TARGET_CLONES
void encode_reals(unsigned char* __restrict out, const unsigned char* __restrict in,
                  std::size_t count) {
#pragma GCC unroll 8
  for (std::size_t i = 0; i < count; ++i)
    for (std::size_t k = 0; k < 8; ++k)
      out[8 * i + k] = in[8 * i + kRealOffsets[k]];
}

// While the algorithm hashes one block, the caller's block this far ahead is asked for. The
// algorithm reads only the encoded block, so nothing reads the caller's array while it runs
// and the processor's own prefetching does not get ahead of the encoder; an array that comes
// from memory rather than a cache would stall the encoder on every line. 4 blocks ahead
// measured best (a tenth to a fifth off an 8 MiB array fresh from memory), and it costs
// nothing on an array in cache.
constexpr std::size_t kPrefetchBlocks = 4;
constexpr std::size_t kCacheLine = 64;

inline void prefetch_block(const unsigned char* block) {
  for (std::size_t at = 0; at < kBlockSize; at += kCacheLine)
    __builtin_prefetch(block + at);
}

struct ElementRoutine {
  std::size_t size;
  // Null for the one-byte types, whose bytes go to the stream unchanged.
  void (*encode)(unsigned char*, const unsigned char*, std::size_t);
};

// Indexed by DataTypeId::Type.
constexpr ElementRoutine kElementRoutines[5] = {
    {1, nullptr},       // LOGICAL: the byte unchanged, through addBytes
    {8, encode_reals},  // REAL
    {4, encode_words},  // INTEGER
    {4, encode_words},  // UINTEGER
    {1, nullptr},       // STRING: the byte unchanged, through addBytes
};

}  // namespace

Hasher::Hasher() : mCurrent(mBuffer), mEnd(mBuffer + kBlockSize), mBuffer{} {}

Hasher::Hasher(const Hasher& other)
    : AllocatorBase(other), mCurrent(mBuffer + (other.mCurrent - other.mBuffer)),
      mEnd(mBuffer + kBlockSize) {
  std::memcpy(mBuffer, other.mBuffer, kBlockSize);
}

Hasher& Hasher::operator=(const Hasher& other) {
  if (this != &other) {
    std::memcpy(mBuffer, other.mBuffer, kBlockSize);
    mCurrent = mBuffer + (other.mCurrent - other.mBuffer);
  }
  return *this;
}

Hasher::~Hasher() = default;

void Hasher::addBytes(const unsigned char* begin, const unsigned char* end) {
  assert(begin <= end);
  while (begin != end) {
    const std::size_t left = static_cast<std::size_t>(end - begin);
    if (mCurrent == mBuffer && left >= kBlockSize) {
      // Whole blocks at a block boundary go to the algorithm straight from the caller's
      // memory; the algorithm sees the same bytes at the same stream offsets as if they had
      // been buffered. They are handed over in a loop of their own that tests only its end:
      // the outer loop would read the buffer's position from the object again after every
      // call, which may change it (that cost addBytes some 4 % over 16 MiB).
      const unsigned char* const last = begin + (left - left % kBlockSize);
      do {
        hashBytes(begin, begin + kBlockSize);
        begin += kBlockSize;
      } while (begin != last);
      continue;
    }
    const std::size_t n = std::min(left, static_cast<std::size_t>(mEnd - mCurrent));
    std::memcpy(mCurrent, begin, n);
    mCurrent += n;
    begin += n;
    if (mCurrent == mEnd) {
      hashBytes(mBuffer, mEnd);
      mCurrent = mBuffer;
    }
  }
}

inline void Hasher::append(const unsigned char* bytes, std::size_t count) {
  // The buffer is never left full, so the fast path needs strictly more room than `count`.
  if (static_cast<std::size_t>(mEnd - mCurrent) > count) {
    std::memcpy(mCurrent, bytes, count);
    mCurrent += count;
  } else {
    addBytes(bytes, bytes + count);
  }
}

void Hasher::addElements(const unsigned char* data, std::size_t count, std::size_t size,
                         Encoder encode) {
  const std::size_t per_block = kBlockSize / size;
  while (count != 0) {
    if (mCurrent == mBuffer && count >= per_block) {
      // Whole blocks at a block boundary are encoded into a block of this frame and handed over
      // from there: the same bytes at the same stream offsets as through the buffer. Aligned
      // to its size, the block never straddles a page, which the buffer inside the object may,
      // and that costs the host hash and the encoder about a tenth on every block.
      alignas(kBlockSize) unsigned char block[kBlockSize];
      do {
        encode(block, data, per_block);
        if (count >= (1 + kPrefetchBlocks) * per_block)
          prefetch_block(data + kPrefetchBlocks * kBlockSize);
        hashBytes(block, block + kBlockSize);
        data += kBlockSize;
        count -= per_block;
      } while (count >= per_block);
      continue;
    }
    const std::size_t fit = static_cast<std::size_t>(mEnd - mCurrent) / size;
    if (fit == 0) {
      // The element straddles a block boundary.
      unsigned char element[8];
      encode(element, data, 1);
      addBytes(element, element + size);
      data += size;
      --count;
      continue;
    }
    const std::size_t n = std::min(fit, count);
    encode(mCurrent, data, n);
    mCurrent += n * size;
    data += n * size;
    count -= n;
    if (mCurrent == mEnd) {
      hashBytes(mBuffer, mEnd);
      mCurrent = mBuffer;
    }
  }
}

void Hasher::flush() {
  hashBytes(mBuffer, mCurrent);
  mCurrent = mBuffer;
}

void Hasher::addValue(const char& v) {
  const unsigned char byte = static_cast<unsigned char>(v);
  append(&byte, 1);
}

void Hasher::addValue(const unsigned char& v) { append(&v, 1); }

void Hasher::addValue(const bool& v) {
  const unsigned char byte = v ? 1 : 0;
  append(&byte, 1);
}

void Hasher::addValue(const short& v) {
  unsigned char bytes[2];
  detail::store_be16(bytes, static_cast<std::uint16_t>(v));
  append(bytes, 2);
}

void Hasher::addValue(const unsigned short& v) {
  unsigned char bytes[2];
  detail::store_be16(bytes, v);
  append(bytes, 2);
}

void Hasher::addWordSlow(unsigned int word) {
  unsigned char bytes[4];
  detail::store_be32(bytes, word);
  addBytes(bytes, bytes + 4);
}

void Hasher::addValue(const long long& v) {
  const auto pattern = static_cast<std::uint64_t>(v);
  const auto low = static_cast<std::uint32_t>(pattern);
  const auto high = static_cast<std::uint32_t>(pattern >> 32);
  // A value that fits 32 bits signed has the sign extension of its low word as high word.
  const std::uint32_t sign_extension = (low >> 31) != 0 ? 0xffffffffu : 0u;
  if (high == sign_extension) {
    addValue(low);
  } else {
    const auto bytes = two_words(low, high);
    append(bytes.data(), bytes.size());
  }
}

void Hasher::addValue(const unsigned long long& v) {
  const auto low = static_cast<std::uint32_t>(v);
  const auto high = static_cast<std::uint32_t>(v >> 32);
  if (high == 0) {
    addValue(low);
  } else {
    const auto bytes = two_words(low, high);
    append(bytes.data(), bytes.size());
  }
}

void Hasher::addValue(const float& v) {
  std::uint32_t pattern;
  std::memcpy(&pattern, &v, 4);
  unsigned char bytes[4];
  detail::store_be16(bytes, static_cast<std::uint16_t>(pattern));
  detail::store_be16(bytes + 2, static_cast<std::uint16_t>(pattern >> 16));
  append(bytes, 4);
}

void Hasher::addValue(const double& v) {
  std::uint64_t pattern;
  std::memcpy(&pattern, &v, 8);
  const auto bytes =
      two_words(static_cast<std::uint32_t>(pattern), static_cast<std::uint32_t>(pattern >> 32));
  append(bytes.data(), bytes.size());
}

void Hasher::addValue(const char* s) {
  if (s == nullptr)
    return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(s);
  addBytes(bytes, bytes + host_strlen(s));
}

void Hasher::addValue(const std::string& s) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
  addBytes(bytes, bytes + s.size());
}

void Hasher::addValue(const Dimension& d) {
  const auto bytes = two_words(d.m(), d.n());
  append(bytes.data(), bytes.size());
}

void Hasher::addValue(const NullSize& /*v*/) {
  vesk_assertion(kUnreachable, kSourceFile, kSourceLine);
  addValue(static_cast<unsigned long long>(0));
}

void Hasher::addData(DataTypeId::Type type, unsigned int count, const void* data) {
  if (type < DataTypeId::LOGICAL || type > DataTypeId::STRING) {
    vesk_assertion(kUnreachable, kSourceFile, kSourceLine);
    return;
  }
  assert(data != nullptr || count == 0);
  if (count == 0)
    return;
  const ElementRoutine& routine = kElementRoutines[type];
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (routine.size == 1)
    addBytes(bytes, bytes + count);
  else
    addElements(bytes, count, routine.size, routine.encode);
}

}  // namespace vesk

// The MD5 engine and the one-call digest of a byte range.
#include "vesk/hash.hpp"

#include "util/hash/md5_block.hpp"

#include <cassert>
#include <cstdint>
#include <cstring>
#include <ostream>

namespace vesk {

static_assert(sizeof(unsigned int) == 4, "MD5 words are 32-bit unsigned ints");

namespace {

constexpr unsigned int kInitialState[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

}  // namespace

const unsigned char MD5::smPadding[64] = {0x80};

MD5::MD5() : mState{}, mCount{0, 0}, mBuffer{}, mHashed(false) {
  std::memcpy(mState, kInitialState, sizeof mState);
}

MD5::MD5(const MD5& other) = default;

MD5& MD5::operator=(const MD5& other) = default;

MD5::~MD5() = default;

void MD5::addBytes(const unsigned char* begin, const unsigned char* end) {
  assert(begin <= end);
  const std::size_t len = static_cast<std::size_t>(end - begin);
  if (len == 0)
    return;
  std::size_t index = (mCount[0] >> 3) & 63;

  // The bit count is kept modulo 2^64 in two words.
  const std::uint64_t bits =
      ((static_cast<std::uint64_t>(mCount[1]) << 32) | mCount[0]) + (static_cast<std::uint64_t>(len) << 3);
  mCount[0] = static_cast<unsigned int>(bits);
  mCount[1] = static_cast<unsigned int>(bits >> 32);

  std::size_t i = 0;
  const std::size_t part = 64 - index;
  if (len >= part) {
    if (index != 0) {
      std::memcpy(mBuffer + index, begin, part);
      transform(mBuffer);
      i = part;
      index = 0;
    }
    const std::size_t blocks = (len - i) / 64;
    detail::md5_compress(mState, begin + i, blocks);
    i += blocks * 64;
  }
  if (i != len)
    std::memcpy(mBuffer + index, begin + i, len - i);
}

void MD5::hashIt(unsigned int* digest) {
  unsigned char length[8];
  encode(length, mCount, mCount + 2);
  const unsigned int index = (mCount[0] >> 3) & 63;
  const unsigned int padding = index < 56 ? 56 - index : 120 - index;
  addBytes(smPadding, smPadding + padding);
  addBytes(length, length + 8);
  std::memcpy(digest, mState, sizeof mState);
  mHashed = true;
}

bool MD5::isHashed() const { return mHashed; }

void MD5::transform(const unsigned char* block) { detail::md5_compress(mState, block, 1); }

void MD5::encode(unsigned char* out, const unsigned int* begin, const unsigned int* end) {
  for (; begin != end; ++begin, out += 4)
    detail::store_le32(out, *begin);
}

void MD5::decode(unsigned int* out, const unsigned char* begin, const unsigned char* end) {
  for (; end - begin >= 4; begin += 4, ++out)
    *out = detail::load_le32(begin);
}

}  // namespace vesk

extern "C" void vesk_md5_bytes(const unsigned char* begin, const unsigned char* end,
                               unsigned int* digest) {
  assert(begin <= end);
  // Gives the words of a fresh engine fed [begin, end) once and finished, without the engine's
  // bookkeeping: whole blocks are compressed in place and the last one or two blocks, holding
  // the tail, the 0x80 byte, zeros and the bit length, are built on the stack.
  std::uint32_t state[4] = {vesk::kInitialState[0], vesk::kInitialState[1],
                            vesk::kInitialState[2], vesk::kInitialState[3]};
  const std::size_t len = static_cast<std::size_t>(end - begin);
  const std::size_t whole = len / 64;
  vesk::detail::md5_compress(state, begin, whole);

  const std::size_t rest = len % 64;
  unsigned char tail[128] = {};
  if (rest != 0)
    std::memcpy(tail, begin + whole * 64, rest);
  tail[rest] = 0x80;
  const std::size_t tail_size = rest < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(len) << 3;
  vesk::detail::store_le32(tail + tail_size - 8, static_cast<std::uint32_t>(bits));
  vesk::detail::store_le32(tail + tail_size - 4, static_cast<std::uint32_t>(bits >> 32));
  vesk::detail::md5_compress(state, tail, tail_size / 64);

  for (int i = 0; i < 4; ++i)
    digest[i] = state[i];
}

namespace vesk {

Md5Hex md5_hex(const unsigned int* digest) {
  // Eight digits of a word at once: its bytes, least significant first, spread one to every
  // other byte of a 64-bit value, each split into its high and low nibble, then every nibble
  // made a digit, '0' to '9' or 'a' to 'f' ('a' - '0' - 10 = 0x27 more), with no branch.
  Md5Hex out;
  auto* text = reinterpret_cast<unsigned char*>(out.digits);
  for (std::size_t word = 0; word < 4; ++word) {
    std::uint64_t x = digest[word];
    x = (x | x << 16) & 0x0000FFFF0000FFFFu;
    x = (x | x << 8) & 0x00FF00FF00FF00FFu;
    const std::uint64_t nibbles = (x >> 4 & 0x000F000F000F000Fu) | (x & 0x000F000F000F000Fu) << 8;
    const std::uint64_t letters = (nibbles + 0x0606060606060606u) >> 4 & 0x0101010101010101u;
    const std::uint64_t digits = nibbles + 0x3030303030303030u + letters * 0x27;
    detail::store_le32(text + 8 * word, static_cast<std::uint32_t>(digits));
    detail::store_le32(text + 8 * word + 4, static_cast<std::uint32_t>(digits >> 32));
  }
  out.digits[32] = '\0';
  return out;
}

std::ostream& operator<<(std::ostream& out, const Md5Digest& digest) {
  return out.write(digest.hex().c_str(), 32);
}

}  // namespace vesk

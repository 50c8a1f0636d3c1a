// Fuzz target for hashing: the one-call MD5 against OpenSSL's MD5 of the same bytes, against
// the engine and an MD5Hasher fed in pieces of random sizes, and addData of each element type
// against the same elements fed one by one.
#include <vesk/hash.hpp>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void check(bool condition) {
  if (!condition)
    std::abort();
}

// A small deterministic generator for the piece sizes, so that a finding replays exactly.
std::uint64_t next_random(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

// The four digest words as the standard's 16 bytes: each word least significant byte first.
void digest_bytes(const unsigned int* words, unsigned char* bytes) {
  for (int i = 0; i < 4; ++i)
    for (int b = 0; b < 4; ++b)
      bytes[4 * i + b] = static_cast<unsigned char>(words[i] >> (8 * b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  // The first byte steers the piece size and the element type; the rest is the message.
  const std::size_t piece = 1 + data[0] % 97;
  const auto type = static_cast<vesk::DataTypeId::Type>(data[0] % 5);
  const unsigned char* begin = data + 1;
  const unsigned char* end = data + size;

  unsigned int whole[4];
  vesk_md5_bytes(begin, end, whole);

  unsigned char reference[EVP_MAX_MD_SIZE];
  unsigned int reference_size = 0;
  check(EVP_Digest(begin, static_cast<std::size_t>(end - begin), reference, &reference_size,
                   EVP_md5(), nullptr) == 1 &&
        reference_size == 16);
  unsigned char ours[16];
  digest_bytes(whole, ours);
  check(std::memcmp(ours, reference, 16) == 0);

  // An MD5Hasher fed the same bytes in pieces of random sizes, empty ones included; the
  // largest pieces span the hasher's 1024-byte blocks.
  std::uint64_t state = data[0] * 0x100000001b3u + size;
  const std::uint64_t limits[4] = {3, 70, 1100, 4000};
  const std::uint64_t limit = limits[(data[0] >> 5) & 3];
  vesk::MD5Hasher random_pieces;
  for (const unsigned char* p = begin; p != end;) {
    const auto n = std::min<std::size_t>(static_cast<std::size_t>(next_random(state) % limit),
                                         static_cast<std::size_t>(end - p));
    random_pieces.addBytes(p, p + n);
    p += n;
  }
  std::vector<unsigned int> random_words(7, 0xdeadbeefu);
  random_pieces.hashValue(random_words);
  check(random_words.size() == 4 && std::memcmp(random_words.data(), whole, sizeof whole) == 0);

  vesk::MD5 engine;
  for (const unsigned char* p = begin; p != end;) {
    const std::size_t n = std::min<std::size_t>(piece, static_cast<std::size_t>(end - p));
    engine.addBytes(p, p + n);
    p += n;
  }
  unsigned int pieces[4];
  engine.hashIt(pieces);
  check(std::memcmp(whole, pieces, sizeof whole) == 0);

  vesk::MD5Hasher hasher;
  hasher.addBytes(begin, end);
  std::vector<unsigned int> words;
  hasher.hashValue(words);
  check(words.size() == 4 && std::memcmp(words.data(), whole, sizeof whole) == 0);

  // addData over the message read as elements, against the same elements fed singly.
  const std::size_t lead = piece % 8;
  const std::size_t element = type == vesk::DataTypeId::REAL ? 8
                              : type == vesk::DataTypeId::INTEGER ||
                                      type == vesk::DataTypeId::UINTEGER
                                  ? 4
                                  : 1;
  const std::size_t count = static_cast<std::size_t>(end - begin) / element;
  std::vector<unsigned char> copy(begin, begin + count * element);
  vesk::MD5Hasher arrays;
  vesk::MD5Hasher singles;
  for (std::size_t i = 0; i < lead; ++i) {
    arrays.addValue(static_cast<char>(i));
    singles.addValue(static_cast<char>(i));
  }
  arrays.addData(type, static_cast<unsigned int>(count), copy.data());
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* at = copy.data() + i * element;
    if (type == vesk::DataTypeId::REAL) {
      double v;
      std::memcpy(&v, at, 8);
      singles.addValue(v);
    } else if (type == vesk::DataTypeId::INTEGER) {
      int v;
      std::memcpy(&v, at, 4);
      singles.addValue(v);
    } else if (type == vesk::DataTypeId::UINTEGER) {
      unsigned int v;
      std::memcpy(&v, at, 4);
      singles.addValue(v);
    } else {
      singles.addValue(static_cast<char>(*at));
    }
  }
  std::vector<unsigned int> a, b;
  arrays.hashValue(a);
  singles.hashValue(b);
  check(a == b);
  return 0;
}

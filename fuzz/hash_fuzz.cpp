// Fuzz target for hashing: the one-call MD5 against the engine fed in pieces and against an
// MD5Hasher, and addData of each element type against the same elements fed one by one.
#include <vesk/hash.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void check(bool condition) {
  if (!condition)
    std::abort();
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

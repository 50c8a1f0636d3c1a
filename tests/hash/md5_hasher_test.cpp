// MD5Hasher: the typed-value stream through an owned MD5 engine, continued after hashValue.
#include <vesk/hash.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Words = std::vector<unsigned int>;

Words md5_of(const std::vector<unsigned char>& bytes) {
  Words words(4);
  vesk_md5_bytes(bytes.data(), bytes.data() + bytes.size(), words.data());
  return words;
}

// The message, its 0x80 and zero padding, and its bit length as 8 little-endian bytes.
std::vector<unsigned char> padded(std::vector<unsigned char> message) {
  const unsigned long long bits = static_cast<unsigned long long>(message.size()) * 8;
  message.push_back(0x80);
  while (message.size() % 64 != 56)
    message.push_back(0);
  for (int i = 0; i < 8; ++i)
    message.push_back(static_cast<unsigned char>(bits >> (8 * i)));
  return message;
}

TEST(MD5Hasher, EmptyStreamGivesTheEmptyDigestInFourWords) {
  for (std::size_t size : {0u, 2u, 4u, 7u}) {
    vesk::MD5Hasher hasher;
    Words result(size, 0xffffffffu);
    hasher.hashValue(result);
    EXPECT_EQ(result, (Words{0xd98c1dd4u, 0x04b2008fu, 0x980980e9u, 0x7e42f8ecu}))
        << "size " << size;
  }
}

TEST(MD5Hasher, HashesTheTypedByteStream) {
  vesk::MD5Hasher one;
  one.addValue(1);
  Words result;
  one.hashValue(result);
  EXPECT_EQ(result, md5_of({0, 0, 0, 1}));

  // The typical use: a 2x3 Dimension and six REAL elements.
  const double reals[6] = {1.0, -0.0, 2.5, 3.0, 4.0, 5.0};
  vesk::MD5Hasher typed;
  typed.addValue(vesk::Dimension(2, 3));
  typed.addData(vesk::DataTypeId::REAL, 6, reals);
  typed.hashValue(result);
  std::vector<unsigned char> expected = {0, 0, 0, 2, 0, 0, 0, 3};
  for (double v : reals) {
    unsigned long long q;
    std::memcpy(&q, &v, 8);
    for (int shift : {24, 16, 8, 0})
      expected.push_back(static_cast<unsigned char>(q >> shift));
    for (int shift : {56, 48, 40, 32})
      expected.push_back(static_cast<unsigned char>(q >> shift));
  }
  EXPECT_EQ(result, md5_of(expected));
}

TEST(MD5Hasher, LongStreamsMatchTheOneCallDigest) {
  std::vector<unsigned char> bytes(5000);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(i * 31 + 1);
  for (std::size_t piece : {1u, 63u, 1000u, 1024u, 5000u}) {
    vesk::MD5Hasher hasher;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      const std::size_t end = std::min(bytes.size(), at + piece);
      hasher.addBytes(bytes.data() + at, bytes.data() + end);
    }
    Words result;
    hasher.hashValue(result);
    EXPECT_EQ(result, md5_of(bytes)) << "piece " << piece;
  }
}

TEST(MD5Hasher, SecondHashValueContinuesTheFinishedMessage) {
  vesk::MD5Hasher hasher;
  hasher.addValue(std::string("abc"));
  Words first, second;
  hasher.hashValue(first);
  hasher.hashValue(second);
  const std::vector<unsigned char> abc = {'a', 'b', 'c'};
  EXPECT_EQ(first, md5_of(abc));
  EXPECT_EQ(second, md5_of(padded(abc)));

  vesk::MD5Hasher continued;
  continued.addValue(std::string("abc"));
  continued.hashValue(first);
  continued.addValue(7);
  continued.hashValue(second);
  std::vector<unsigned char> longer = padded(abc);
  longer.insert(longer.end(), {0, 0, 0, 7});
  EXPECT_EQ(second, md5_of(longer));
}

TEST(MD5Hasher, CopiesOwnTheirEngines) {
  vesk::MD5Hasher source;
  for (int i = 0; i < 400; ++i)  // beyond one block, so the engine holds state
    source.addValue(i);
  vesk::MD5Hasher copy(source);
  vesk::MD5Hasher assigned;
  assigned.addValue(99);
  assigned = source;
  source.addValue(1);
  copy.addValue(2);
  assigned.addValue(2);
  Words a, b, c;
  source.hashValue(a);
  copy.hashValue(b);
  assigned.hashValue(c);
  EXPECT_NE(a, b);
  EXPECT_EQ(b, c);

  vesk::MD5Hasher reference;
  for (int i = 0; i < 400; ++i)
    reference.addValue(i);
  reference.addValue(2);
  Words expected;
  reference.hashValue(expected);
  EXPECT_EQ(b, expected);
}

}  // namespace

// The typed-value byte stream: the exact bytes of every overload and element type, and the
// cutting of the stream into 1024-byte blocks. The stream is read back through the recording
// host hash behind a CrcHasher.
#include "support/host_fake.hpp"

#include <vesk/hash.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using vesk::testing::assert_calls;
using vesk::testing::clear_host_calls;
using vesk::testing::hash_calls;

// Every byte the hasher handed to the host after `feed` and a final checkpoint, in order.
Bytes stream_of(const std::function<void(vesk::CrcHasher&)>& feed) {
  vesk::CrcHasher hasher;
  clear_host_calls();
  feed(hasher);
  hasher.getHash();
  Bytes out;
  for (const auto& call : hash_calls())
    out.insert(out.end(), call.bytes.begin(), call.bytes.end());
  return out;
}

std::vector<std::size_t> block_sizes() {
  std::vector<std::size_t> sizes;
  for (const auto& call : hash_calls())
    sizes.push_back(call.bytes.size());
  return sizes;
}

float float_of(std::uint32_t pattern) {
  float v;
  std::memcpy(&v, &pattern, sizeof v);
  return v;
}

double double_of(std::uint64_t pattern) {
  double v;
  std::memcpy(&v, &pattern, sizeof v);
  return v;
}

TEST(Hasher, EveryOverloadFeedsItsFixedBytes) {
  using H = vesk::CrcHasher;
  const struct {
    const char* what;
    std::function<void(H&)> feed;
    Bytes expected;
  } rows[] = {
      {"char", [](H& h) { h.addValue('A'); }, {0x41}},
      {"char -1", [](H& h) { h.addValue(static_cast<char>(-1)); }, {0xff}},
      {"unsigned char", [](H& h) { h.addValue(static_cast<unsigned char>(0xfe)); }, {0xfe}},
      {"bool true", [](H& h) { h.addValue(true); }, {0x01}},
      {"bool false", [](H& h) { h.addValue(false); }, {0x00}},
      {"short", [](H& h) { h.addValue(static_cast<short>(0x1234)); }, {0x12, 0x34}},
      {"short -2", [](H& h) { h.addValue(static_cast<short>(-2)); }, {0xff, 0xfe}},
      {"unsigned short",
       [](H& h) { h.addValue(static_cast<unsigned short>(0xabcd)); },
       {0xab, 0xcd}},
      {"int 1", [](H& h) { h.addValue(1); }, {0, 0, 0, 1}},
      {"int -2", [](H& h) { h.addValue(-2); }, {0xff, 0xff, 0xff, 0xfe}},
      {"unsigned", [](H& h) { h.addValue(0x89abcdefu); }, {0x89, 0xab, 0xcd, 0xef}},
      {"long long 5", [](H& h) { h.addValue(5LL); }, {0, 0, 0, 5}},
      {"long long -1", [](H& h) { h.addValue(-1LL); }, {0xff, 0xff, 0xff, 0xff}},
      {"long long INT32_MIN",
       [](H& h) { h.addValue(static_cast<long long>(std::numeric_limits<int>::min())); },
       {0x80, 0, 0, 0}},
      {"long long 2^31", [](H& h) { h.addValue(2147483648LL); }, {0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"long long INT32_MIN - 1",
       [](H& h) { h.addValue(-2147483649LL); },
       {0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
      {"long long wide",
       [](H& h) { h.addValue(0x0123456789abcdefLL); },
       {0x89, 0xab, 0xcd, 0xef, 0x01, 0x23, 0x45, 0x67}},
      {"unsigned long long 2^32-1",
       [](H& h) { h.addValue(0xffffffffULL); },
       {0xff, 0xff, 0xff, 0xff}},
      {"unsigned long long 2^32",
       [](H& h) { h.addValue(0x100000000ULL); },
       {0, 0, 0, 0, 0, 0, 0, 1}},
      {"unsigned long long max",
       [](H& h) { h.addValue(~0ULL); },
       {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
      {"float 1", [](H& h) { h.addValue(1.0f); }, {0x00, 0x00, 0x3f, 0x80}},
      {"float -0", [](H& h) { h.addValue(-0.0f); }, {0x00, 0x00, 0x80, 0x00}},
      {"float pattern", [](H& h) { h.addValue(float_of(0x12345678u)); }, {0x56, 0x78, 0x12, 0x34}},
      {"double 1", [](H& h) { h.addValue(1.0); }, {0, 0, 0, 0, 0x3f, 0xf0, 0, 0}},
      {"double -0", [](H& h) { h.addValue(-0.0); }, {0, 0, 0, 0, 0x80, 0, 0, 0}},
      {"double pattern",
       [](H& h) { h.addValue(double_of(0x0123456789abcdefULL)); },
       {0x89, 0xab, 0xcd, 0xef, 0x01, 0x23, 0x45, 0x67}},
      {"double NaN bits",
       [](H& h) { h.addValue(double_of(0x7ff8000000000001ULL)); },
       {0, 0, 0, 1, 0x7f, 0xf8, 0, 0}},
      {"C string", [](H& h) { h.addValue("abc"); }, {'a', 'b', 'c'}},
      {"empty C string", [](H& h) { h.addValue(""); }, {}},
      {"null C string", [](H& h) { h.addValue(static_cast<const char*>(nullptr)); }, {}},
      {"std::string with NUL", [](H& h) { h.addValue(std::string("a\0b", 3)); }, {'a', 0, 'b'}},
      {"addBytes of a string_view with NUL",
       [](H& h) { h.addBytes(std::string_view("a\0b", 3)); },
       {'a', 0, 'b'}},
      {"Dimension 2x3", [](H& h) { h.addValue(vesk::Dimension(2, 3)); }, {0, 0, 0, 2, 0, 0, 0, 3}},
      {"Dimension default", [](H& h) { h.addValue(vesk::Dimension()); }, {0, 0, 0, 1, 0, 0, 0, 1}},
      {"values in sequence, no separators",
       [](H& h) {
         h.addValue(static_cast<short>(1));
         h.addValue("x");
         h.addValue(true);
       },
       {0, 1, 'x', 1}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(stream_of(row.feed), row.expected) << row.what;
  EXPECT_TRUE(assert_calls().empty());
}

TEST(Hasher, NullSizeReportsAndFeedsFourZeroBytes) {
  EXPECT_EQ(stream_of([](vesk::CrcHasher& h) { h.addValue(vesk::NullSize()); }),
            (Bytes{0, 0, 0, 0}));
  ASSERT_EQ(assert_calls().size(), 1u);
  EXPECT_EQ(assert_calls()[0].message, "shouldn't get here");
  EXPECT_EQ(assert_calls()[0].file, "util/hash/hasher");
  EXPECT_EQ(assert_calls()[0].line, 28);
}

TEST(Hasher, AddDataFeedsEachElementType) {
  const unsigned char logical[] = {0, 1, 2, 255};
  const double reals[] = {1.0, -0.0};
  const int integers[] = {-2, 1};
  const unsigned int uintegers[] = {0x89abcdefu};
  const char strings[] = {'x', 'y'};
  const struct {
    vesk::DataTypeId::Type type;
    unsigned int count;
    const void* data;
    Bytes expected;
  } rows[] = {
      {vesk::DataTypeId::LOGICAL, 4, logical, {0, 1, 2, 255}},
      {vesk::DataTypeId::REAL, 2, reals, {0, 0, 0, 0, 0x3f, 0xf0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0}},
      {vesk::DataTypeId::INTEGER, 2, integers, {0xff, 0xff, 0xff, 0xfe, 0, 0, 0, 1}},
      {vesk::DataTypeId::UINTEGER, 1, uintegers, {0x89, 0xab, 0xcd, 0xef}},
      {vesk::DataTypeId::STRING, 2, strings, {'x', 'y'}},
      {vesk::DataTypeId::REAL, 0, reals, {}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(stream_of([&](vesk::CrcHasher& h) { h.addData(row.type, row.count, row.data); }),
              row.expected)
        << "type " << row.type << ", count " << row.count;
  EXPECT_TRUE(assert_calls().empty());
}

TEST(Hasher, AddDataWithUnknownTypeReportsAndFeedsNothing) {
  const double reals[] = {1.0, 2.0};
  for (int type : {-1, 5, 1000}) {
    EXPECT_EQ(stream_of([&](vesk::CrcHasher& h) {
                h.addData(static_cast<vesk::DataTypeId::Type>(type), 2, reals);
              }),
              Bytes{})
        << "type " << type;
    ASSERT_EQ(assert_calls().size(), 1u) << "type " << type;
    EXPECT_EQ(assert_calls()[0].message, "shouldn't get here");
  }
}

// Arrays of one element short of a block (read to their last element and no further) and
// arrays long enough to cross several block boundaries, started at every offset modulo the
// element size, must give the same stream as the elements fed one by one.
TEST(Hasher, ArraysAcrossBlockBoundariesMatchElementByElement) {
  for (const std::size_t count : {127, 255, 700}) {
    // Exactly `count` elements on the heap, so that a read past the last is a read past the
    // allocation.
    std::vector<double> reals(count);
    std::vector<int> integers(count);
    for (std::size_t i = 0; i < count; ++i) {
      reals[i] = static_cast<double>(i) * 1.000001 - 250.5;
      integers[i] = static_cast<int>(i * 2654435761u);
    }
    for (int lead = 0; lead < 8; ++lead) {
      const std::string where = std::to_string(count) + " elements, lead " + std::to_string(lead);
      const auto lead_in = [lead](vesk::CrcHasher& h) {
        for (int i = 0; i < lead; ++i)
          h.addValue(static_cast<char>(i));
      };
      const Bytes reals_whole = stream_of([&](vesk::CrcHasher& h) {
        lead_in(h);
        h.addData(vesk::DataTypeId::REAL, static_cast<unsigned int>(count), reals.data());
      });
      const std::vector<std::size_t> reals_blocks = block_sizes();
      const Bytes reals_single = stream_of([&](vesk::CrcHasher& h) {
        lead_in(h);
        for (double v : reals)
          h.addValue(v);
      });
      EXPECT_EQ(reals_whole, reals_single) << where;
      EXPECT_EQ(block_sizes(), reals_blocks) << where;
      const std::size_t total = count * 8 + static_cast<std::size_t>(lead);
      std::vector<std::size_t> expected_blocks(total / 1024, 1024);
      expected_blocks.push_back(total % 1024);
      EXPECT_EQ(reals_blocks, expected_blocks) << where;

      const Bytes ints_whole = stream_of([&](vesk::CrcHasher& h) {
        lead_in(h);
        h.addData(vesk::DataTypeId::INTEGER, static_cast<unsigned int>(count), integers.data());
      });
      const Bytes ints_single = stream_of([&](vesk::CrcHasher& h) {
        lead_in(h);
        for (int v : integers)
          h.addValue(v);
      });
      EXPECT_EQ(ints_whole, ints_single) << where;
    }
  }
}

TEST(Hasher, BlocksAreCutAtFixedStreamOffsets) {
  const Bytes kilo(1024, 0x5a);
  const Bytes big(3000, 0xa5);
  const struct {
    const char* what;
    std::function<void(vesk::CrcHasher&)> feed;
    std::vector<std::size_t> blocks;  // including the final checkpoint's partial block
  } rows[] = {
      {"nothing", [](vesk::CrcHasher&) {}, {0}},
      {"exactly 1024 bytes", [&](vesk::CrcHasher& h) { h.addBytes(kilo.data(), kilo.data() + 1024); },
       {1024, 0}},
      {"1025 bytes in one call",
       [&](vesk::CrcHasher& h) { h.addBytes(big.data(), big.data() + 1025); }, {1024, 1}},
      {"3000 bytes in one call",
       [&](vesk::CrcHasher& h) { h.addBytes(big.data(), big.data() + 3000); },
       {1024, 1024, 952}},
      {"1023 then 2 bytes",
       [&](vesk::CrcHasher& h) {
         h.addBytes(big.data(), big.data() + 1023);
         h.addBytes(big.data(), big.data() + 2);
       },
       {1024, 1}},
      {"ints one at a time", [](vesk::CrcHasher& h) {
         for (int i = 0; i < 600; ++i)
           h.addValue(i);
       },
       {1024, 1024, 352}},
      {"5 bytes, then 2048 in one call",
       [&](vesk::CrcHasher& h) {
         h.addBytes(big.data(), big.data() + 5);
         h.addBytes(big.data(), big.data() + 2048);
       },
       {1024, 1024, 5}},
      {"empty ranges hand nothing over",
       [&](vesk::CrcHasher& h) {
         h.addBytes(big.data(), big.data());
         h.addValue(std::string());
       },
       {0}},
  };
  for (const auto& row : rows) {
    const Bytes stream = stream_of(row.feed);
    EXPECT_EQ(block_sizes(), row.blocks) << row.what;
  }
}

TEST(Hasher, FullBlockIsHandedOverAtOnce) {
  vesk::CrcHasher hasher;
  clear_host_calls();
  for (int i = 0; i < 255; ++i)
    hasher.addValue(i);
  EXPECT_TRUE(hash_calls().empty());
  hasher.addValue(255);  // the 1024th byte
  ASSERT_EQ(hash_calls().size(), 1u);
  EXPECT_EQ(hash_calls()[0].bytes.size(), 1024u);
  EXPECT_EQ(hash_calls()[0].bytes[1023], 255);
}

TEST(Hasher, SplitFeedingDoesNotChangeTheStream) {
  Bytes data(2500);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<unsigned char>(i * 7 + 3);
  const Bytes whole = stream_of([&](vesk::CrcHasher& h) { h.addBytes(data.data(), data.data() + data.size()); });
  const std::vector<std::size_t> whole_blocks = block_sizes();
  for (std::size_t cut = 0; cut <= data.size(); cut += 13) {
    const Bytes split = stream_of([&](vesk::CrcHasher& h) {
      h.addBytes(data.data(), data.data() + cut);
      h.addBytes(data.data() + cut, data.data() + data.size());
    });
    ASSERT_EQ(split, whole) << "cut " << cut;
    ASSERT_EQ(block_sizes(), whole_blocks) << "cut " << cut;
  }
}

TEST(Hasher, CopyContinuesIndependently) {
  vesk::CrcHasher source(11);
  for (int i = 0; i < 300; ++i)
    source.addValue(i);
  vesk::CrcHasher copy(source);
  vesk::CrcHasher assigned;
  assigned = source;
  for (vesk::CrcHasher* h : {&source, &copy, &assigned})
    for (int i = 0; i < 50; ++i)
      h->addValue(static_cast<double>(i));
  const unsigned int expected = source.getHash();
  EXPECT_EQ(copy.getHash(), expected);
  EXPECT_EQ(assigned.getHash(), expected);

  // Feeding the copy differently leaves the source alone.
  vesk::CrcHasher second(source);
  second.addValue(1);
  source.addValue(2);
  EXPECT_NE(second.getHash(), source.getHash());
}

}  // namespace

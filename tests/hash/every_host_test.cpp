// Digests of typed values and of converted arrays, as literals: callers keep these hashes and
// compare them across machines, so each must come out the same on every host (the suite runs
// on x86-64, on aarch64 and on big-endian s390x). Arrays are hashed at the lengths around the
// 1024-byte blocks; the converted arrays are hashed as their target type, whose stream is the
// same on every host, so that one checksum stands for every element of a conversion.
#include <vesk/data.hpp>
#include <vesk/hash.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using vesk::DataTypeId::Type;

// `count` elements of `type` in host order: the same values on every host, among them (for
// REAL) NaNs with payloads and signs, infinities, -0, a subnormal and values past the 32-bit
// ranges, made from their bits so that no host's arithmetic chooses them.
std::vector<unsigned char> elements(Type type, unsigned int count) {
  std::vector<unsigned char> out(std::size_t{count} * vesk::get_type_size(type));
  for (unsigned int i = 0; i < count; ++i) {
    unsigned char* at = out.data() + std::size_t{i} * vesk::get_type_size(type);
    const std::uint32_t mixed = (i + 1) * 2654435761u;
    if (type == vesk::DataTypeId::REAL) {
      static const std::uint64_t specials[] = {
          0x7FF8000000000123u, 0xFFF0000000000001u, 0x7FF0000000000000u, 0xFFF0000000000000u,
          0x8000000000000000u, 0x0000000000000001u, 0x41F0000000000000u, 0xC1E0000000200000u};
      double value = (static_cast<double>(mixed) - 2147483648.0) / 1024.0;
      if (i % 61 == 7) {
        const std::uint64_t bits = specials[(i / 61) % 8];
        std::memcpy(&value, &bits, sizeof value);
      }
      std::memcpy(at, &value, sizeof value);
    } else if (type == vesk::DataTypeId::INTEGER || type == vesk::DataTypeId::UINTEGER) {
      std::memcpy(at, &mixed, sizeof mixed);
    } else {
      *at = static_cast<unsigned char>(mixed >> 24);
    }
  }
  return out;
}

std::string md5_hex(const std::function<void(vesk::Hasher&)>& feed) {
  vesk::MD5Hasher hasher;
  feed(hasher);
  std::vector<unsigned int> words;
  hasher.hashValue(words);
  return vesk::md5_hex(words.data()).c_str();
}

unsigned int crc_of(const std::function<void(vesk::Hasher&)>& feed) {
  vesk::CrcHasher hasher;
  feed(hasher);
  return hasher.getHash();
}

struct Row {
  const char* what;
  std::function<void(vesk::Hasher&)> feed;
  unsigned int crc;
  const char* md5;
};

std::function<void(vesk::Hasher&)> array_of(Type type, unsigned int count) {
  return [type, count](vesk::Hasher& h) { h.addData(type, count, elements(type, count).data()); };
}

TEST(EveryHost, DigestsOfTypedValues) {
  const Row rows[] = {
      {"every scalar overload",
       [](vesk::Hasher& h) {
         h.addValue('a');
         h.addValue(static_cast<unsigned char>(0xFE));
         h.addValue(true);
         h.addValue(static_cast<short>(-2));
         h.addValue(static_cast<unsigned short>(0xABCD));
         h.addValue(-123456789);
         h.addValue(0x89ABCDEFu);
         h.addValue(-0x123456789ABCDLL);
         h.addValue(0xFEDCBA9876543210ULL);
         h.addValue(-1.5f);
         h.addValue(-0.0);
         h.addValue(6.02214076e23);
         h.addValue(vesk::NullSize{});
       },
       0xAA42B84Bu, "0d967a08c1855d6844a3c02f2fce9a1f"},
      {"texts and shapes",
       [](vesk::Hasher& h) {
         h.addValue("a C string");
         h.addValue(std::string("a std::string\0with a NUL", 24));
         h.addValue(std::string());
         h.addValue(vesk::Dimension(2, 3));
         h.addValue(vesk::Dimension(0xFFFFFFFFu, 1));
       },
       0xE8CD3D97u, "dc2635f1162b005e044188f8a97d2a8c"},
      {"a text of 1025 bytes", [](vesk::Hasher& h) { h.addValue(std::string(1025, 'x')); },
       0x582FF191u, "41b2b8ce59ecc0c64c9c7ecaae3002c3"},
      {"a gather of 300 doubles",
       [](vesk::Hasher& h) {
         std::vector<unsigned int> index;
         for (unsigned int i = 0; i < 300; ++i)
           index.push_back((i * 7919u) % 1025u);
         const vesk::SubsRef gather(vesk::Dimension(300, 1), index);
         std::vector<double> out(300);
         gather.assign(vesk::DataTypeId::REAL, out.data(),
                       elements(vesk::DataTypeId::REAL, 1025).data());
         h.addData(vesk::DataTypeId::REAL, 300, out.data());
       },
       0x815E0B1Du, "db88d7fda1513d7fe04aaee6629ce697"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(crc_of(row.feed), row.crc) << row.what;
    EXPECT_EQ(md5_hex(row.feed), row.md5) << row.what;
  }
}

TEST(EveryHost, DigestsOfArraysAroundTheBlocks) {
  const unsigned int lengths[] = {0, 1, 127, 128, 129, 1023, 1024, 1025};
  // [type][length]: the CRC-32, then the MD5 as md5sum prints it.
  const unsigned int crcs[5][8] = {{0x00000000u, 0xC5B551CEu, 0x8D4A21A3u, 0x17359E12u, 0x9311A073u,
                                    0xFB62A492u, 0x349AD128u, 0xBE30E0B1u},
                                   {0x00000000u, 0xF3B0D1DEu, 0x8ADE468Cu, 0x5BEEC08Bu, 0x5DB58CADu,
                                    0xB51134A0u, 0xC3F96216u, 0x998BCFABu},
                                   {0x00000000u, 0x1F64FB3Bu, 0x514DE16Au, 0x6B41391Bu, 0xB500F2F9u,
                                    0x7C2ACCD0u, 0x7FBA2782u, 0x645981ACu},
                                   {0x00000000u, 0x1F64FB3Bu, 0x514DE16Au, 0x6B41391Bu, 0xB500F2F9u,
                                    0x7C2ACCD0u, 0x7FBA2782u, 0x645981ACu},
                                   {0x00000000u, 0xC5B551CEu, 0x8D4A21A3u, 0x17359E12u, 0x9311A073u,
                                    0xFB62A492u, 0x349AD128u, 0xBE30E0B1u}};
  const char* const md5s[5][8] = {
      {"d41d8cd98f00b204e9800998ecf8427e", "cef5c0b7ced3eec92731bc66e4ed0b9f",
       "bb5a1844f3dc41427961561b9a23dea6", "36e306ad266520e9377dfb7ac7f26820",
       "c4a00efc6edc04fc49ba85a90c25aa24", "a4a08babd8450255f91c35c0f3026e1b",
       "1facb5fbd69b089b2bb1554430563221", "d4238bc784cd17a0ba431982941c8f90"},
      {"d41d8cd98f00b204e9800998ecf8427e", "0d21f76d3e8dc5f68d142232e6309f3c",
       "a420d284c5d8a671cf98af74cf71e9b5", "1d8884bd3d0567731b5f379aa3d52f13",
       "8188c6787cda98318de532c9ee52157b", "32eefb611f2e4f4415741cde269be3d6",
       "3a83dcadd66f9eb705f6a31ce255b2f9", "7622940027bc11ac15ba258823a43905"},
      {"d41d8cd98f00b204e9800998ecf8427e", "fe9a87ce82c3d5fcd4fdc2b0cf7af6cf",
       "bd18cf6f7d355a6439463dd3a98f741a", "6da09b4e611f36173b094431bf89a7ae",
       "8c20e7e6aca5be17e7284a1d41691ba3", "08c457113e1f63be1551e71599bc1b1a",
       "1545e20718c8256247b43e5798178350", "c1e408fc0c7d9b39a607e9b895d82c89"},
      {"d41d8cd98f00b204e9800998ecf8427e", "fe9a87ce82c3d5fcd4fdc2b0cf7af6cf",
       "bd18cf6f7d355a6439463dd3a98f741a", "6da09b4e611f36173b094431bf89a7ae",
       "8c20e7e6aca5be17e7284a1d41691ba3", "08c457113e1f63be1551e71599bc1b1a",
       "1545e20718c8256247b43e5798178350", "c1e408fc0c7d9b39a607e9b895d82c89"},
      {"d41d8cd98f00b204e9800998ecf8427e", "cef5c0b7ced3eec92731bc66e4ed0b9f",
       "bb5a1844f3dc41427961561b9a23dea6", "36e306ad266520e9377dfb7ac7f26820",
       "c4a00efc6edc04fc49ba85a90c25aa24", "a4a08babd8450255f91c35c0f3026e1b",
       "1facb5fbd69b089b2bb1554430563221", "d4238bc784cd17a0ba431982941c8f90"}};
  for (int type = 0; type < 5; ++type)
    for (int k = 0; k < 8; ++k) {
      const auto feed = array_of(static_cast<Type>(type), lengths[k]);
      EXPECT_EQ(crc_of(feed), crcs[type][k])
          << vesk::get_type_name(static_cast<Type>(type)) << "[" << lengths[k] << "]";
      EXPECT_EQ(md5_hex(feed), md5s[type][k])
          << vesk::get_type_name(static_cast<Type>(type)) << "[" << lengths[k] << "]";
    }
}

TEST(EveryHost, ConvertedArrays) {
  constexpr unsigned int kCount = 1025;
  // [from][to]: the CRC-32 of the converted array, hashed as its type.
  const unsigned int crcs[5][5] = {
      {0xBE30E0B1u, 0x80A5684Du, 0xA3907CB0u, 0xA3907CB0u, 0xBE30E0B1u},
      {0x41DF496Du, 0x3DDFFBCBu, 0x60704F8Au, 0xEA704263u, 0x41DF496Du},
      {0xB9DC575Bu, 0x5D59931Fu, 0x645981ACu, 0x645981ACu, 0xB9DC575Bu},
      {0xB9DC575Bu, 0x21D22B3Bu, 0x645981ACu, 0x645981ACu, 0xB9DC575Bu},
      {0xBE30E0B1u, 0xBDBB8802u, 0x481C5D9Bu, 0x481C5D9Bu, 0xBE30E0B1u}};
  for (int from = 0; from < 5; ++from)
    for (int to = 0; to < 5; ++to) {
      const auto source = elements(static_cast<Type>(from), kCount);
      std::vector<unsigned char> target(kCount * vesk::get_type_size(static_cast<Type>(to)));
      vesk::convert_data(kCount, static_cast<Type>(from), source.data(), static_cast<Type>(to),
                         target.data());
      EXPECT_EQ(
          crc_of([&](vesk::Hasher& h) { h.addData(static_cast<Type>(to), kCount, target.data()); }),
          crcs[from][to])
          << from << " -> " << to;
    }
}

}  // namespace

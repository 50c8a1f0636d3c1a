// The library's thread-safety promises exercised by several threads at once, meant to run
// under ThreadSanitizer: reading, copying and comparing interned strings while one thread
// interns (and grows the table), and the stateless functions on many threads, each thread's
// results checked against the ones computed on a single thread beforehand.
#include <vesk/data.hpp>
#include <vesk/file.hpp>
#include <vesk/hash.hpp>
#include <vesk/string.hpp>

#include "support/table_report.hpp"
#include "testing/threads.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned int kWorkers = 6;

using vesk::testing::run_together;

unsigned long rehash_count() { return vesk::testing::table_figures()[4]; }

std::string new_text(unsigned int i) { return "fresh/" + std::to_string(i * 2654435761u) + ".x"; }

// Readers work on handles made before they start, and on handles the interning thread
// publishes while they run; the interning thread meanwhile adds enough texts to grow the
// table several times.
TEST(Concurrency, InternedStringsAreReadWhileOneThreadInterns) {
  constexpr unsigned int kOld = 2000;
  constexpr unsigned int kNew = 60000;
  constexpr unsigned int kReaders = 4;

  std::vector<std::string> oldTexts;
  std::vector<vesk::TableString> old;
  for (unsigned int i = 0; i < kOld; ++i) {
    // Embedded NULs and the empty text are part of the mix.
    std::string text = i % 97 == 0 ? std::string("nul\0in", 6) + std::to_string(i)
                                    : "old/" + std::to_string(i);
    if (i == 0)
      text.clear();
    oldTexts.push_back(text);
    old.emplace_back(text);
  }
  // Slots default to the empty text, interned here before any thread starts.
  std::vector<vesk::TableString> published(kNew);
  std::atomic<unsigned int> publishedCount{0};
  const unsigned long rehashesBefore = rehash_count();

  const unsigned long mismatches = run_together(kReaders + 1, [&](unsigned int t) {
    unsigned long bad = 0;
    if (t == kReaders) {
      for (unsigned int i = 0; i < kNew; ++i) {
        published[i] = vesk::TableString(new_text(i));
        publishedCount.store(i + 1, std::memory_order_release);
        // Looking up an existing text on the interning thread finds the same record.
        if (i % 64 == 0 && vesk::TableString(oldTexts[i % kOld]) != old[i % kOld])
          ++bad;
      }
      return bad;
    }
    unsigned int seen = 0;
    unsigned int step = 0;
    while (seen < kNew) {
      const unsigned int i = (step++ * 7919u + t) % kOld;
      const vesk::TableString copy = old[i];
      vesk::TableString other = old[(i + 1) % kOld];
      bad += copy == old[i] ? 0 : 1;
      bad += copy != other ? 0 : 1;
      bad += copy.size() == oldTexts[i].size() ? 0 : 1;
      bad += std::memcmp(copy.text(), oldTexts[i].data(), oldTexts[i].size()) == 0 ? 0 : 1;
      bad += copy.text()[copy.size()] == '\0' ? 0 : 1;
      bad += (copy < other) == (std::strcmp(copy.text(), other.text()) < 0) ? 0 : 1;
      vesk::TableString held = copy;
      swap(other, held);
      bad += other == old[i] && held == old[(i + 1) % kOld] ? 0 : 1;
      if (step % 16 == 0) {
        std::ostringstream out;
        out << old[i];
        bad += out.str() == std::string(oldTexts[i].c_str()) ? 0 : 1;
      }

      seen = publishedCount.load(std::memory_order_acquire);
      // Now and then a reader leaves its processor: where threads run one at a time (under
      // valgrind), four spinning readers would otherwise leave the interning thread little.
      if (step % 256 == 0)
        std::this_thread::yield();
      if (seen != 0) {
        const unsigned int j = (step * 104729u) % seen;
        const vesk::TableString fresh = published[j];
        bad += fresh.text() == new_text(j) ? 0 : 1;
        bad += fresh != old[i] ? 0 : 1;
        bad += fresh == published[j] ? 0 : 1;
        bad += seen < 2 || published[j] != published[(j + 1) % seen] ? 0 : 1;
      }
    }
    return bad;
  });

  EXPECT_EQ(mismatches, 0u);
  EXPECT_GE(rehash_count(), rehashesBefore + 5) << "the table did not grow several times";
  for (unsigned int i = 0; i < kNew; i += 997)
    EXPECT_EQ(vesk::TableString(new_text(i)), published[i]) << i;
}

std::vector<unsigned char> pattern_bytes(std::size_t size, unsigned int seed) {
  std::vector<unsigned char> bytes(size);
  unsigned int state = seed * 2246822519u + 1;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(state >> 16);
  }
  return bytes;
}

std::vector<unsigned int> md5_of(const std::vector<unsigned char>& bytes) {
  std::vector<unsigned int> digest(4);
  vesk_md5_bytes(bytes.data(), bytes.data() + bytes.size(), digest.data());
  return digest;
}

// Each thread feeds its own hasher; the hashers share nothing.
template <typename H>
std::vector<unsigned int> typed_hash(const std::vector<unsigned char>& bytes) {
  H hasher;
  hasher.addValue(vesk::Dimension(2, static_cast<unsigned int>(bytes.size())));
  for (unsigned char byte : bytes)
    hasher.addValue(static_cast<unsigned int>(byte) * 16777619u);
  std::vector<unsigned int> result;
  hasher.hashValue(result);
  return result;
}

TEST(Concurrency, MD5OfByteRangesOnManyThreads) {
  const std::size_t sizes[] = {0, 1, 55, 56, 63, 64, 65, 127, 1000, 1024, 4099, 70000};
  std::vector<std::vector<unsigned char>> inputs;
  std::vector<std::vector<unsigned int>> plain, md5Typed, crcTyped;
  for (std::size_t s = 0; s < sizeof sizes / sizeof sizes[0]; ++s) {
    inputs.push_back(pattern_bytes(sizes[s], static_cast<unsigned int>(s)));
    plain.push_back(md5_of(inputs.back()));
    md5Typed.push_back(typed_hash<vesk::MD5Hasher>(inputs.back()));
    crcTyped.push_back(typed_hash<vesk::CrcHasher>(inputs.back()));
  }

  const unsigned long mismatches = run_together(kWorkers, [&](unsigned int t) {
    unsigned long bad = 0;
    for (unsigned int round = 0; round < 8; ++round) {
      for (std::size_t k = 0; k < inputs.size(); ++k) {
        const std::size_t s = (k + t + round) % inputs.size();
        bad += md5_of(inputs[s]) == plain[s] ? 0 : 1;
        if (inputs[s].size() <= 4099) {
          bad += typed_hash<vesk::MD5Hasher>(inputs[s]) == md5Typed[s] ? 0 : 1;
          bad += typed_hash<vesk::CrcHasher>(inputs[s]) == crcTyped[s] ? 0 : 1;
        }
      }
    }
    return bad;
  });
  EXPECT_EQ(mismatches, 0u);
}

// One source array per type, with values that reach the fixed out-of-range results.
struct Source {
  vesk::DataTypeId::Type type;
  std::vector<unsigned char> bytes;
};

template <typename T>
Source source_of(vesk::DataTypeId::Type type, const std::vector<T>& values) {
  Source source{type, std::vector<unsigned char>(values.size() * sizeof(T))};
  std::memcpy(source.bytes.data(), values.data(), source.bytes.size());
  return source;
}

TEST(Concurrency, ConvertDataOnManyThreads) {
  using vesk::DataTypeId::Type;
  constexpr unsigned int kCount = 9;
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Source> sources = {
      source_of<unsigned char>(vesk::DataTypeId::LOGICAL, {0, 1, 2, 127, 128, 200, 255, 7, 0}),
      source_of<double>(vesk::DataTypeId::REAL,
                        {0.0, -0.0, 1.9, -1.9, 300.5, -2147483649.0, 4294967296.5, inf,
                         std::nan("")}),
      source_of<int>(vesk::DataTypeId::INTEGER,
                     {0, 1, -1, 255, 256, -129, 2147483647, -2147483647 - 1, 100000}),
      source_of<unsigned int>(vesk::DataTypeId::UINTEGER,
                              {0u, 1u, 255u, 256u, 2147483648u, 4294967295u, 65535u, 7u, 9u}),
      source_of<signed char>(vesk::DataTypeId::STRING, {0, 1, -1, 127, -128, 65, 97, -7, 9}),
  };
  const Type types[] = {vesk::DataTypeId::LOGICAL, vesk::DataTypeId::REAL,
                        vesk::DataTypeId::INTEGER, vesk::DataTypeId::UINTEGER,
                        vesk::DataTypeId::STRING};

  // expected[from * 5 + to]: the bytes convert_data writes, from a single thread.
  std::vector<std::vector<unsigned char>> expected;
  for (const Source& source : sources) {
    for (Type to : types) {
      std::vector<unsigned char> out(kCount * vesk::get_type_size(to));
      vesk::convert_data(kCount, source.type, source.bytes.data(), to, out.data());
      expected.push_back(out);
    }
  }

  const unsigned long mismatches = run_together(kWorkers, [&](unsigned int t) {
    unsigned long bad = 0;
    for (unsigned int round = 0; round < 40; ++round) {
      for (std::size_t k = 0; k < expected.size(); ++k) {
        const std::size_t pair = (k + t) % expected.size();
        const Source& source = sources[pair / 5];
        const Type to = types[pair % 5];
        std::vector<unsigned char> out(kCount * vesk::get_type_size(to), 0xA5);
        vesk::convert_data(kCount, source.type, source.bytes.data(), to, out.data());
        bad += out == expected[pair] ? 0 : 1;
      }
    }
    return bad;
  });
  EXPECT_EQ(mismatches, 0u);
}

TEST(Concurrency, PathFunctionsOnManyThreads) {
  const std::vector<std::string> paths = {
      "",          "/",          "//",         "a",           "a/",         "/a",
      "/a/b/",     "d:",         "d:/",        "d:/a",        "//net",      "//net/a",
      "//:x/y",    ".profile",   "a.b/x",      "dir/a.tar.gz", "dir\\sub\\a.h", "x/./y/../z",
      "a//b///c",  "...",        std::string("a/b\0c/d", 7),   "\\\\net\\share\\f.txt"};
  struct Parts {
    std::string leaf, basename, extension, dirname;
    bool operator==(const Parts& o) const {
      return leaf == o.leaf && basename == o.basename && extension == o.extension &&
             dirname == o.dirname;
    }
  };
  const auto split = [](const std::string& path) {
    return Parts{vesk::leaf(path), vesk::basename(path), vesk::extension(path),
                 vesk::dirname(path)};
  };
  std::vector<Parts> expected;
  for (const std::string& path : paths)
    expected.push_back(split(path));

  const unsigned long mismatches = run_together(kWorkers, [&](unsigned int t) {
    unsigned long bad = 0;
    for (unsigned int round = 0; round < 60; ++round) {
      for (std::size_t k = 0; k < paths.size(); ++k) {
        const std::size_t p = (k * 5 + t + round) % paths.size();
        bad += split(paths[p]) == expected[p] ? 0 : 1;
      }
    }
    return bad;
  });
  EXPECT_EQ(mismatches, 0u);
}

}  // namespace

// The index of the interning table's records and the secret that keys it.
#include "util/string/record_index.hpp"

#include "testing/threads.hpp"

#include <gtest/gtest.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {
// Byte `i` of what the system gives when it gives random bytes.
unsigned char random_byte(std::size_t i) { return static_cast<unsigned char>(i * 37 + 11); }
bool gSystemGivesBytes = false;
bool gFirstRequestInterrupted = false;
int gRandomCalls = 0;
std::size_t gRandomGiven = 0;
}  // namespace

// Unless told otherwise, the system gives no random bytes (the first request is interrupted,
// the second refused): the index keys its texts with the stand-in secret, and every lookup
// below must still find its record. Told to, it gives known bytes, 50 at a time, after
// interrupting the first request if told so too.
extern "C" ssize_t getrandom(void* buffer, std::size_t size, unsigned int) {
  const bool first = gRandomCalls++ == 0;
  if (gSystemGivesBytes && !(gFirstRequestInterrupted && first)) {
    const std::size_t given = size < 50 ? size : 50;
    for (std::size_t i = 0; i < given; ++i)
      static_cast<unsigned char*>(buffer)[i] = random_byte(gRandomGiven++);
    return static_cast<ssize_t>(given);
  }
  errno = first ? EINTR : ENOSYS;
  return -1;
}

namespace {

using vesk::detail::RecordIndex;
using vesk::table_string::Entry;

// The system's random bytes, when it gives them, are the whole secret that texts are keyed
// with, not the stand-in, even when a request is interrupted first; the lookups' keying of
// texts of 8 to 48 bytes gives the same keys. In a child, which draws
// the secret afresh: this test comes first, before anything in this process draws it.
TEST(RecordIndex, KeysWithTheSecretTheSystemGives) {
  for (const bool interrupted : {false, true}) {
    EXPECT_EXIT(
        {
          gSystemGivesBytes = true;
          gFirstRequestInterrupted = interrupted;
          const std::string text = "identifier";
          const std::uint64_t key = RecordIndex::keyOf(text.data(), text.size());
          unsigned char secret[XXH3_SECRET_DEFAULT_SIZE];
          for (std::size_t i = 0; i < sizeof secret; ++i)
            secret[i] = random_byte(i);
          const bool drawn_here = gRandomGiven == sizeof secret;
          // The lookups' own keying, with the secret's derived words, gives the same keys.
          int differ = 0;
          for (std::size_t size = 8; size <= 48; ++size) {
            const std::string t("abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMN", size);
            const std::uint64_t want =
                XXH3_64bits_withSecret(t.data(), size, secret, sizeof secret);
            differ += vesk::detail::key_of_made(t.data(), size) != want;
            differ += size <= 16 && vesk::detail::key_of_8to16(t.data(), size) != want;
          }
          std::_Exit(!drawn_here   ? 2
                     : differ != 0 ? 3
                                   : key != XXH3_64bits_withSecret(text.data(), text.size(), secret,
                                                                   sizeof secret));
        },
        ::testing::ExitedWithCode(0), "")
        << (interrupted ? "first request interrupted" : "");
  }
}

// Records that hash as their texts do, for filling buckets by hand.
std::vector<std::unique_ptr<Entry>> records(int count) {
  std::vector<std::unique_ptr<Entry>> out;
  for (int i = 0; i < count; ++i) {
    const std::string text = "record-" + std::to_string(i);
    const Entry key(text.data(), static_cast<unsigned int>(text.size()));
    out.emplace_back(new Entry(key));
  }
  return out;
}

// Each record is looked up by its key and its text, and a text that is not there is not found:
// records of one key (one probe sequence through every group), of keys that share the first
// group but not the control byte, and of their own keys through several doublings.
TEST(RecordIndex, FindsEveryRecordAndNothingElse) {
  struct Case {
    const char* name;
    int count;
    std::uint64_t (*key)(const Entry&);
  };
  const Case cases[] = {
      {"one key", 49, [](const Entry&) { return std::uint64_t{0x5EED}; }},
      {"one group", 49, [](const Entry& e) { return (std::uint64_t{e.hash()} << 57) | 0x5EED; }},
      {"own keys", 5000, [](const Entry& e) { return RecordIndex::keyOf(e.text(), e.size()); }},
  };
  for (const Case& c : cases) {
    const auto entries = records(c.count);
    RecordIndex index;
    std::size_t inserted = 0;
    for (const auto& entry : entries) {
      index.reserveFor(inserted + 1, [&](auto visit) {
        for (std::size_t i = 0; i < inserted; ++i)
          visit(entries[i].get());
      });
      index.insert(c.key(*entry), [&] { return entry.get(); });
      ++inserted;
    }
    for (const auto& entry : entries) {
      const Entry* wanted = entry.get();
      EXPECT_EQ(index.find(c.key(*wanted), [&](const Entry* r) { return r == wanted; }), wanted)
          << c.name << " " << wanted->text();
    }
    const Entry absent("absent", 6);
    EXPECT_EQ(index.find(c.key(absent), [](const Entry*) { return false; }), nullptr) << c.name;
  }
}

// Two records whose keys share the control byte and the low 13 bits, and so the first group
// in slots of up to 8192 groups, found among texts of this process's secret.
std::vector<std::unique_ptr<Entry>> sharing_a_group() {
  std::unordered_map<std::uint64_t, std::string> seen;
  for (int i = 0;; ++i) {
    std::string text = "pair-" + std::to_string(i);
    const std::uint64_t key = RecordIndex::keyOf(text.data(), text.size());
    const auto [at, inserted] = seen.emplace((key >> 57) << 13 | (key & 8191), text);
    if (inserted)
      continue;
    std::vector<std::unique_ptr<Entry>> out;
    for (const std::string* each : {&at->second, &text}) {
      const Entry borrowed(each->data(), static_cast<unsigned int>(each->size()));
      out.emplace_back(new Entry(borrowed));
    }
    return out;
  }
}

// A find whose caller compares the first of two records of one control byte in a group while
// a doubling replaces the slots and gives their memory back (from 128 KiB on) reads the
// second as an empty slot: it skips it, never handing the caller a null record, and misses.
// Slots that keep their memory (below 128 KiB) still give the second.
TEST(RecordIndex, AFindInSlotsThatGaveTheirMemoryBackComparesNoEmptySlot) {
  struct Case {
    std::size_t groups;  // of the slots the find reads, full: 7/8 of 7 slots per group used
    bool givenBack;
  };
  const Case cases[] = {{1024, false}, {2048, true}, {4096, true}, {8192, true}};
  for (const Case& c : cases) {
    // The two first, so that every doubling places them in slots 0 and 1 of their group.
    auto entries = sharing_a_group();
    for (auto& filler : records(static_cast<int>(c.groups * 7 / 8 * 7 - 1)))
      entries.push_back(std::move(filler));
    const Entry* const first = entries[0].get();
    const Entry* const second = entries[1].get();
    RecordIndex index;
    const auto add = [&](std::size_t i) {
      index.reserveFor(i + 1, [&](auto visit) {
        for (std::size_t k = 0; k < i; ++k)
          visit(entries[k].get());
      });
      index.insert(RecordIndex::keyOf(entries[i]->text(), entries[i]->size()),
                   [&] { return entries[i].get(); });
    };
    for (std::size_t i = 0; i + 1 < entries.size(); ++i)
      add(i);

    std::atomic<bool> comparing{false};
    std::atomic<bool> doubled{false};
    const Entry* found = nullptr;
    bool overtaken = false;
    int nullsCompared = 0;
    vesk::testing::run_together(2, [&](unsigned int thread) {
      if (thread == 0) {
        found = index.find(RecordIndex::keyOf(second->text(), second->size()),
                           [&](const Entry* record) {
                             nullsCompared += record == nullptr;
                             if (record == first) {
                               overtaken = true;
                               comparing = true;
                               while (!doubled)
                                 std::this_thread::yield();
                             }
                             return record == second;
                           });
        comparing = true;  // the doubling goes ahead should the find not wait
      } else {
        while (!comparing)
          std::this_thread::yield();
        add(entries.size() - 1);
        doubled = true;
      }
      return 0ul;
    });
    EXPECT_TRUE(overtaken) << c.groups << " groups";
    EXPECT_EQ(nullsCompared, 0) << c.groups << " groups";
    if (c.givenBack)
      EXPECT_TRUE(found == second || found == nullptr) << c.groups << " groups";
    else
      EXPECT_EQ(found, second) << c.groups << " groups";
  }
}

// The bytes of the process resident in memory.
long resident_bytes() {
  long pages = 0;
  long resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr || std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
    ADD_FAILURE() << "no /proc/self/statm";
  if (statm != nullptr)
    std::fclose(statm);
  return resident * sysconf(_SC_PAGESIZE);
}

// The slots that doublings replace give their pages back: after 10^6 records the index holds
// about the memory of its last slots (2^18 groups of 64 bytes, 16 MiB), not that and as much
// again for the slots it had before.
TEST(RecordIndex, ReplacedSlotsGiveTheirPagesBack) {
#ifdef VESK_TEST_SHADOWED_MEMORY
  GTEST_SKIP() << "resident memory includes the shadow of every page written";
#endif
  const auto entries = records(1000000);
  const long before = resident_bytes();
  RecordIndex index;
  for (std::size_t inserted = 0; inserted < entries.size(); ++inserted) {
    index.reserveFor(inserted + 1, [&](auto visit) {
      for (std::size_t i = 0; i < inserted; ++i)
        visit(entries[i].get());
    });
    const Entry& entry = *entries[inserted];
    index.insert(RecordIndex::keyOf(entry.text(), entry.size()), [&] { return &entry; });
  }
  constexpr long kLastSlots = (long{1} << 18) * 64;
  EXPECT_LT(resident_bytes() - before, kLastSlots + kLastSlots / 4);
}

}  // namespace

// Interning from several threads at once: one record per text whoever interns it, and the
// table's figures those of one thread interning the texts in the order they were inserted.
#include "util/string/interning_table.hpp"

#include "support/child_process.hpp"
#include "support/host_fake.hpp"
#include "testing/crc32_forge.hpp"
#include "testing/threads.hpp"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using vesk::TableString;
using vesk::table_string::Entry;
using vesk::table_string::Table;
using vesk::testing::run_together;

constexpr unsigned int kThreads = 8;

std::vector<std::string> identifiers(const std::string& prefix, std::size_t count) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < count; ++i)
    out.push_back(prefix + std::to_string(i * 7919 % 100003));
  return out;
}

// The first tests run in children of a process that has not made the process-wide table yet:
// nothing here interns before them.

// A child forked while another thread makes the table, whose first host block the host is slow
// to give, makes a table of its own at once: it never waits for a creation that the thread it
// does not have was in the middle of.
TEST(InterningThreads, AChildForkedWhileAnotherThreadMakesTheTableInternsAtOnce) {
#ifdef VESK_TEST_UNDER_EMULATOR
  GTEST_SKIP() << "the leak check of each child reports what the other thread held";
#endif
  const std::string report = vesk::testing::in_child(
      []() -> std::string {
        static std::atomic<bool> slowed{false};
        vesk::testing::call_at_host_allocation([] {
          if (!slowed.exchange(true))
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
        std::thread maker([] { TableString("made by the maker"); });
        while (!slowed.load())
          std::this_thread::yield();
        const std::string child = vesk::testing::in_child(
            [] {
              return std::string(TableString("interned by the child")) == "interned by the child"
                         ? ""
                         : "wrong text";
            },
            std::chrono::seconds(10));
        maker.join();
        return child;
      },
      std::chrono::seconds(20));
  EXPECT_EQ(report, "");
}

// A host allocator that locks its pools around fork, as allocators do, registering its
// handlers in main before the table is made, and that interns a name for each new pool: a
// fork never waits for it while the table's lock is held, so the parent never deadlocks.
TEST(InterningThreads, ForkNeverDeadlocksWithAnAllocatorThatInterns) {
#ifdef VESK_TEST_UNDER_EMULATOR
  GTEST_SKIP() << "the leak check of each child reports what the other thread held";
#endif
  const std::string report = vesk::testing::in_child(
      []() -> std::string {
        static std::mutex pools;
        pthread_atfork([] { pools.lock(); }, [] { pools.unlock(); }, [] { pools.unlock(); });
        vesk::testing::call_at_host_allocation([] {
          static thread_local bool inside = false;
          static unsigned long named = 0;
          if (inside)
            return;
          inside = true;
          {
            const std::lock_guard<std::mutex> hold(pools);
            TableString("pool " + std::to_string(++named));
          }
          inside = false;
        });
        std::atomic<bool> forking{true};
        // Texts of a block of their own: every insertion allocates.
        std::thread user([&] {
          const std::string kilobytes(5000, 'u');
          for (unsigned long i = 0; forking.load(); ++i)
            TableString(kilobytes + std::to_string(i));
        });
        for (int k = 0; k < 200; ++k) {
          const pid_t child = fork();
          if (child == 0)
            _exit(0);
          waitpid(child, nullptr, 0);
        }
        forking = false;
        user.join();
        return "";
      },
      std::chrono::seconds(90));
  EXPECT_EQ(report, "");
}

// A thread that first meets the process-wide table when another has made it, with nothing
// else ordering the two threads, finds it whole: under ThreadSanitizer, a table published
// without release ordering is reported here. In a child, where the table is yet to be made.
// The table's constructor publishes the key secret again, with release ordering, and every
// lookup acquires it to key its text: the second thread publishes it last itself, so that it
// acquires nothing of the table's through it. The secret is made before the threads start,
// so that its one-time construction orders nothing either. The first thread makes the table
// with or without a text in it; a text it interned would order the second thread's insertion
// after it through the table's lock.
TEST(InterningThreads, AThreadMeetingTheTableAnotherMadeFindsItWhole) {
  for (const bool firstInterns : {true, false}) {
    EXPECT_EXIT(
        {
          vesk::detail::RecordIndex::keyOf("", 0);
          std::atomic<bool> made{false};
          bool found = false;
          std::thread second([&] {
            while (!made.load(std::memory_order_relaxed))
              std::this_thread::yield();
            vesk::detail::make_key_secret();
            found = std::string(TableString("made by the first")) == "made by the first";
          });
          if (firstInterns)
            TableString("made by the first");
          else
            TableString::count();
          made.store(true, std::memory_order_relaxed);
          second.join();
          std::exit(found && TableString::count() == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << (firstInterns ? "made with a text" : "made empty");
  }
}

// The first use of the process-wide table on several threads at once makes one table: the
// threads get one record per text and the table counts each text once. First in this file,
// before anything else here interns.
TEST(InterningThreads, FirstUseOnSeveralThreadsMakesOneTable) {
  std::vector<const char*> empty(kThreads);
  std::vector<const char*> shared(kThreads);
  run_together(kThreads, [&](unsigned int t) {
    empty[t] = TableString().text();
    shared[t] = TableString("shared by every thread").text();
    return 0ul;
  });
  for (unsigned int t = 1; t < kThreads; ++t) {
    EXPECT_EQ(empty[t], empty[0]);
    EXPECT_EQ(shared[t], shared[0]);
  }
  EXPECT_EQ(TableString::count(), 2u);
}

std::string report_of(const Table& table) {
  std::ostringstream out;
  table.printStats(out);
  return out.str();
}

// The report's five figures: buckets, largest, smallest, used, rehashes.
std::vector<unsigned long> figures_of(const std::string& report) {
  std::istringstream lines(report);
  std::vector<unsigned long> values;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("  ", 0) == 0)
      values.push_back(std::stoul(line.substr(line.find(':') + 1)));
  return values;
}

// Whether `figures` add up: the bucket count one the table reaches by as many growths as it
// reports, and the largest, smallest and used buckets those of records of `hashes` at that
// count, or when `hashes` is null, possible at all.
bool add_up(const std::vector<unsigned long>& figures, const std::vector<unsigned int>* hashes) {
  if (figures.size() != 5)
    return false;
  unsigned long buckets = 2089;
  unsigned long previous = 1049;
  for (unsigned long k = 0; k < figures[4]; ++k) {
    const unsigned long next = buckets + previous + 1;
    previous = buckets;
    buckets = next;
  }
  if (figures[0] != buckets || figures[2] > figures[1] || figures[3] > buckets)
    return false;
  if (hashes == nullptr)
    return true;
  std::vector<unsigned long> counts(buckets, 0);
  for (const unsigned int hash : *hashes)
    ++counts[hash % buckets];
  const auto [smallest, largest] = std::minmax_element(counts.begin(), counts.end());
  const auto used = static_cast<unsigned long>(
      std::count_if(counts.begin(), counts.end(), [](unsigned long n) { return n != 0; }));
  return figures[1] == *largest && figures[2] == *smallest && figures[3] == used;
}

// Threads intern texts they all share (texts of one CRC-32 among them, which fill one bucket
// and grow the table) and texts of their own, each in its own order, while another reads the
// figures. Every thread gets the same record for the same text, each record holds its text,
// no text is lost, and every report adds up: that of one thread interning the texts in some
// order, as insertions into buckets of different regions have no order between them. Under
// ThreadSanitizer this is where a record or a bucket placing published without release shows.
TEST(InterningThreads, OneRecordPerTextAndTheFiguresOfOneThread) {
  std::vector<std::string> shared = identifiers("shared_", 20000);
  for (unsigned int i = 0; i < 300; ++i)
    shared.push_back(vesk::testing::with_crc32("crc" + std::to_string(i), 0x5EED1234u));
  std::vector<std::vector<std::string>> texts(kThreads);
  for (unsigned int t = 0; t < kThreads; ++t) {
    texts[t] = identifiers("own" + std::to_string(t) + "_", 3000);
    texts[t].insert(texts[t].end(), shared.begin(), shared.end());
    std::shuffle(texts[t].begin(), texts[t].end(), std::mt19937(t));
  }
  // Records outlive their table: it stays reachable, as the process-wide one does.
  static Table* const table = new Table;
  const auto intern = [](Table& into, const std::string& text) {
    return into.intern(text.data(), static_cast<unsigned int>(text.size()));
  };

  std::vector<std::vector<const Entry*>> records(kThreads);
  std::atomic<unsigned int> working{kThreads};
  std::thread reader([&] {
    std::size_t last = 0;
    while (working.load() != 0) {
      const std::size_t count = table->recordCount();
      EXPECT_GE(count, last);
      last = count;
      const std::string report = report_of(*table);
      EXPECT_TRUE(add_up(figures_of(report), nullptr)) << report;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  run_together(kThreads, [&](unsigned int t) {
    for (const std::string& text : texts[t])
      records[t].push_back(intern(*table, text));
    working.fetch_sub(1);
    return 0ul;
  });
  reader.join();

  std::size_t distinct = shared.size();
  for (unsigned int t = 0; t < kThreads; ++t) {
    distinct += texts[t].size() - shared.size();
    for (std::size_t i = 0; i < texts[t].size(); ++i) {
      const Entry* record = records[t][i];
      ASSERT_EQ(std::string(record->text(), record->size()), texts[t][i]);
      ASSERT_EQ(intern(*table, texts[t][i]), record) << texts[t][i];
    }
  }
  EXPECT_EQ(table->recordCount(), distinct);

  std::vector<unsigned int> hashes;
  table->forEachRecord([&](const Entry* record) { hashes.push_back(record->hash()); });
  EXPECT_EQ(hashes.size(), distinct);
  const std::string report = report_of(*table);
  EXPECT_TRUE(add_up(figures_of(report), &hashes)) << report;
}

// A child forked while another thread inserts texts and reads the figures, and so may hold
// the table's lock, interns a new text and reads the figures at once: it never inherits the
// lock held by a thread it does not have. The other thread inserts a bounded number of texts,
// so that each child has as little to do under a slow tool as the first.
TEST(InterningThreads, AChildForkedWhileAnotherThreadInsertsInternsAtOnce) {
#ifdef VESK_TEST_UNDER_EMULATOR
  GTEST_SKIP() << "the leak check of each child reports what the other thread held";
#endif
#ifdef VESK_TEST_ALLOCATOR_UNLOCKED_AT_FORK
  GTEST_SKIP() << "the allocator may be copied into a child with its lock held by the other thread";
#endif
  std::atomic<bool> forking{true};
  std::thread other([&] {
    std::ostringstream figures;
    for (unsigned long i = 0; forking.load(); ++i) {
      if (i < 10000)
        TableString("inserted while forking " + std::to_string(i));
      figures.str("");
      TableString::stats(figures);
    }
  });
  for (int k = 0; k < 100; ++k) {
    const std::string report = vesk::testing::in_child(
        [k]() -> std::string {
          const std::string text = "interned by child " + std::to_string(k);
          std::ostringstream stats;
          TableString::stats(stats);
          return TableString(text).text() == text && TableString::count() != 0 &&
                         stats.str().rfind("Table Stats:\n", 0) == 0
                     ? ""
                     : "wrong figures";
        },
        std::chrono::seconds(10));
    if (!report.empty()) {
      ADD_FAILURE() << "child " << k << ": " << report;
      break;
    }
  }
  forking = false;
  other.join();
}

}  // namespace

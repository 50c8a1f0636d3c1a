// TableString: the handle to an interned text, and the process-wide table it interns into.
#include "util/string/interning_table.hpp"

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>

namespace vesk {

namespace {

// Created on first use and never released: handles and the text pointers they hand out must
// stay valid until the process ends, even while static destructors run. Published with
// release ordering once complete, so that a thread that sees it sees the whole table.
std::atomic<table_string::Table*> gTable{nullptr};

unsigned int checked_size(std::size_t size) {
  // One byte more than the text must fit the 32-bit record size for the terminating NUL.
  if (size >= std::numeric_limits<unsigned int>::max())
    throw std::length_error("vesk::TableString: text of 4294967295 bytes or more");
  return static_cast<unsigned int>(size);
}

// A fork() copies the table with its lock; a child whose parent had another thread holding
// it would wait for that thread for ever. So the forking thread holds the lock itself while
// the process is copied, and parent and child each release it.
void hold_table_for_fork() { gTable.load(std::memory_order_acquire)->holdForFork(); }
void release_table_after_fork() { gTable.load(std::memory_order_acquire)->releaseAfterFork(); }

// The first use, kept out of line so that every later construction is a load, a test and
// the call into the table. Threads that come here at once make one table: the first makes it
// while the others wait.
__attribute__((noinline)) table_string::Table& create_table() {
  static table_string::Table* const table = [] {
    // The host allocator answers null rather than throwing when it has no memory.
    auto* made = new table_string::Table();
    if (made == nullptr)
      throw std::bad_alloc();
    gTable.store(made, std::memory_order_release);
    // Registered once the table is published, so the handlers always find it. Should the
    // system have no room for them, the table works as before, forks aside.
    pthread_atfork(hold_table_for_fork, release_table_after_fork, release_table_after_fork);
    return made;
  }();
  return *table;
}

// intern_into when no table exists yet: kept out of line, so that intern_into makes only
// jumps.
__attribute__((noinline, cold)) void intern_creating(const table_string::Entry*& out,
                                                     const char* text, unsigned int size) {
  create_table().internInto(out, text, size);
}

// The record of the `size` bytes at `text`, stored in `out`: with the table made, a load, a
// test and a jump to the lookup, which stores it.
void intern_into(const table_string::Entry*& out, const char* text, unsigned int size) {
  table_string::Table* table = gTable.load(std::memory_order_acquire);
  if (__builtin_expect(table == nullptr, 0))
    return intern_creating(out, text, size);
  table->internInto(out, text, size);
}

}  // namespace

table_string::Table& TableString::table() {
  table_string::Table* table = gTable.load(std::memory_order_acquire);
  return table != nullptr ? *table : create_table();
}

TableString::TableString() { intern_into(mEntry, nullptr, 0); }

// Measured at full width: the host's 32-bit strlen would wrap a longer text to a short one.
TableString::TableString(const char* text) {
  intern_into(mEntry, text, text != nullptr ? checked_size(std::strlen(text)) : 0);
}

TableString::TableString(const char* text, unsigned int size) { intern_into(mEntry, text, size); }

TableString::TableString(const std::string& text) {
  intern_into(mEntry, text.data(), checked_size(text.size()));
}

TableString::TableString(std::string_view text) {
  intern_into(mEntry, text.data(), checked_size(text.size()));
}

void TableString::stats(std::ostream& out) { table().printStats(out); }

std::size_t TableString::count() { return table().recordCount(); }

bool operator<(const TableString& a, const TableString& b) {
  // Both texts are NUL-terminated; strcmp compares their bytes as unsigned char.
  return a != b && std::strcmp(a.text(), b.text()) < 0;
}

std::ostream& operator<<(std::ostream& out, const TableString& s) {
  return out << static_cast<std::string>(s);
}

}  // namespace vesk

// TableString: the handle to an interned text, and the process-wide table it interns into.
#include "util/string/interning_table.hpp"

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <ostream>
#include <stdexcept>

namespace vesk {

namespace {

// Created on first use and never released: handles and the text pointers they hand out must
// stay valid until the process ends, even while static destructors run.
std::atomic<table_string::Table*> gTable{nullptr};

unsigned int checked_size(std::size_t size) {
  // One byte more than the text must fit the 32-bit record size for the terminating NUL.
  if (size >= std::numeric_limits<unsigned int>::max())
    throw std::length_error("vesk::TableString: text of 4294967295 bytes or more");
  return static_cast<unsigned int>(size);
}

// Held while the process-wide table is made, and by a thread that forks while the process
// is copied: no fork falls inside the creation, whose thread a child would not have. No host
// function runs under it, for a host allocator may intern, and takes its own lock around fork.
std::mutex gCreation;

// A fork() copies the table with its lock; a child whose parent had another thread holding
// it would wait for that thread for ever. So the forking thread holds the creation lock and
// the table's own while the process is copied, and parent and child each release them.
void hold_table_for_fork() {
  gCreation.lock();
  if (table_string::Table* table = gTable.load(std::memory_order_acquire))
    table->holdForFork();
}

void release_table_after_fork() {
  if (table_string::Table* table = gTable.load(std::memory_order_acquire))
    table->releaseAfterFork();
  gCreation.unlock();
}

// Registered when the library is loaded, before a program's main registers handlers of its
// own (a host allocator's, say): the system runs the handlers that prepare a fork in the
// reverse order of their registration, so the table is held last, once every other lock a
// handler takes is held, and no thread holding one of those can be waiting for the table's.
// Should the system have no room for them, the table works as before, forks aside.
__attribute__((constructor)) void register_fork_handlers() {
  pthread_atfork(hold_table_for_fork, release_table_after_fork, release_table_after_fork);
}

// Host memory for a table, released unless handed over.
struct TableMemory {
  void* block;
  ~TableMemory() {
    if (block != nullptr)
      table_string::Table::operator delete(block);
  }
};

// The first use, kept out of line so that every later construction is a load, a test and
// the call into the table. Threads that come here at once make one table: the first to take
// the creation lock makes it, the others find it made and give their memory back.
__attribute__((noinline)) table_string::Table& create_table() {
  // The host allocator answers null rather than throwing when it has no memory.
  TableMemory memory{table_string::Table::operator new(sizeof(table_string::Table))};
  if (memory.block == nullptr)
    throw std::bad_alloc();
  const std::lock_guard<std::mutex> hold(gCreation);
  if (table_string::Table* made = gTable.load(std::memory_order_acquire))
    return *made;
  // The global placement form: should the constructor throw, the block is released by
  // `memory`, after the lock, rather than by the host under it.
  auto* made = ::new (memory.block) table_string::Table();
  memory.block = nullptr;
  // Published with release ordering once complete, so that a thread that sees it sees the
  // whole table without the lock.
  gTable.store(made, std::memory_order_release);
  return *made;
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

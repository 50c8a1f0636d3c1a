// TableString: the handle to an interned text, and the process-wide table it interns into.
#include "util/string/interning_table.hpp"

#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>

namespace vesk {

namespace {

// Created on first use and never released: handles and the text pointers they hand out must
// stay valid until the process ends, even while static destructors run.
table_string::Table* gTable = nullptr;

unsigned int checked_size(std::size_t size) {
  // One byte more than the text must fit the 32-bit record size for the terminating NUL.
  if (size >= std::numeric_limits<unsigned int>::max())
    throw std::length_error("vesk::TableString: text of 4294967295 bytes or more");
  return static_cast<unsigned int>(size);
}

// The first use, kept out of line so that every later construction is a load, a test and
// the call into the table.
__attribute__((noinline)) table_string::Table& create_table() {
  auto* table = new table_string::Table();
  if (table == nullptr)
    throw std::bad_alloc();
  gTable = table;
  return *table;
}

}  // namespace

table_string::Table& TableString::table() {
  return gTable != nullptr ? *gTable : create_table();
}

TableString::TableString() : mEntry(table().intern(nullptr, 0)) {}

// Measured at full width: the host's 32-bit strlen would wrap a longer text to a short one.
TableString::TableString(const char* text)
    : mEntry(table().intern(text, text != nullptr ? checked_size(std::strlen(text)) : 0)) {}

TableString::TableString(const char* text, unsigned int size)
    : mEntry(table().intern(text, size)) {}

TableString::TableString(const std::string& text)
    : mEntry(table().intern(text.data(), checked_size(text.size()))) {}

TableString::TableString(std::string_view text)
    : mEntry(table().intern(text.data(), checked_size(text.size()))) {}

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

// Text utilities, interned strings and source positions.
#include <vesk/string.hpp>

#include <iostream>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

int main() {
  // Split at commas that no backslash escapes, then trim each field.
  for (const std::string& field : vesk::tokenize(',', " Width , a\\,b,  REAL "))
    std::cout << '[' << vesk::lower(vesk::trim(field)) << "] ";  // [width] [a,b] [real]
  std::cout << '\n';

  char label[5];
  const bool whole = vesk::fill("temperature", label, sizeof label);  // "temp", false
  vesk_printf("%s (%s)\n", label, whole ? "whole" : "cut");

  // Equal texts share one record, so comparing handles compares two pointers.
  const vesk::TableString file("model.src");
  std::cout << (file == vesk::TableString(std::string("model.src"))) << '\n';  // 1

  // Handles key the standard containers: the hash is the record's address, no text is read.
  std::unordered_map<vesk::TableString, int> uses;
  for (std::string_view word : {"alpha", "beta", "alpha"})
    ++uses[vesk::TableString(word)];
  std::cout << uses[vesk::TableString("alpha")] << ' ' << vesk::TableString::count() << '\n';
  // 2 3 (the distinct texts so far: model.src, alpha and beta)

  // Every thread interns into the one table, without a lock of the caller's: a text already
  // there is found without any, and two threads that meet the same text get the same record.
  const char* seen[2] = {};
  std::thread reader([&seen] { seen[1] = vesk::TableString("shared.h").text(); });
  seen[0] = vesk::TableString("shared.h").text();
  reader.join();
  std::cout << (seen[0] == seen[1]) << ' ' << vesk::TableString::count() << '\n';  // 1 4

  const vesk::Location begin(file, vesk::LineColumn(3, 4)), end(file, vesk::LineColumn(3, 9));
  std::cout << vesk::Range(begin, end) << '\n';  // model.src:3:4-9
}

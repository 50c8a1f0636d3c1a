// Test support: the interning table's report, as text and as its five figures.
#ifndef VESK_TESTS_SUPPORT_TABLE_REPORT_HPP
#define VESK_TESTS_SUPPORT_TABLE_REPORT_HPP

#include <vesk/string.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace vesk::testing {

/// The six lines that TableString::stats writes.
inline std::string table_report() {
  std::ostringstream out;
  TableString::stats(out);
  return out.str();
}

/// The report's five figures in its order: buckets, largest, smallest, used, rehashes.
inline std::vector<unsigned long> table_figures() {
  std::istringstream lines(table_report());
  std::vector<unsigned long> values;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("  ", 0) == 0)
      values.push_back(std::stoul(line.substr(line.find(':') + 1)));
  return values;
}

}  // namespace vesk::testing

#endif

// The library's typical use, one section per subsystem: what a tool of the family does with it.
#include <vesk/foundation_util.hpp>

#include <iostream>
#include <string>
#include <vector>

namespace {

// Text: read a configuration line, split it, and format a number the locale cannot disturb.
void text_and_numbers() {
  const std::string line = "  Scale, 2.5e-1 ,REAL\\,ARRAY  ";
  const std::vector<std::string> fields = vesk::tokenize(',', vesk::trim(line));
  for (const std::string& field : fields)
    std::cout << "field: [" << vesk::trim(field) << "]\n";

  const double scale = vesk_string_to_double(vesk::trim(fields[1]));
  char label[8];
  const bool whole = vesk::fill(vesk::lower(fields[0]), label, sizeof label);
  vesk_printf("%s = %g (label %s), sqrt = %g, pow(scale, 2) = %g\n", label, scale,
              whole ? "whole" : "cut", vesk_sqrt(scale), vesk_pow(scale, 2.0));
}

// Source positions: name a place in a file; the file name is interned once and shared.
void source_positions() {
  const vesk::Location where(vesk::TableString("a.txt"), vesk::LineColumn(3, 4));
  std::cout << where << '\n';
}

}  // namespace

int main() {
  text_and_numbers();
  source_positions();
  return 0;
}

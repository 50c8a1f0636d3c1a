// The remaining readers of untrusted text on arbitrary bytes, each against a plain reference:
// lower, fill, vesk_strcmp and type_from_string.
#include <vesk/data.hpp>
#include <vesk/string.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "text invariant broken: %s\n", what);
    std::abort();
  }
}

// Lower-casing in the "C" locale, in which the fuzzer runs: only A to Z change.
std::string reference_lower(const std::string& s) {
  std::string result(s);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return result;
}

int reference_strcmp(const char* a, const char* b) {
  const std::string x(a != nullptr ? a : "");
  const std::string y(b != nullptr ? b : "");
  // std::string compares its characters as unsigned bytes.
  const int order = x.compare(y);
  return (order > 0) - (order < 0);
}

int reference_type(const std::string& name) {
  static const char* const kNames[] = {"logical", "real", "integer", "uinteger", "string"};
  const std::string key = reference_lower(name);
  for (int t = 0; t < 5; ++t)
    if (key == kNames[t])
      return t;
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  // The first byte gives fill's array size and the split point for vesk_strcmp.
  const unsigned int control = data[0];
  const std::string s(reinterpret_cast<const char*>(data + 1), size - 1);

  check(vesk::lower(s) == reference_lower(s), "lower equals the reference");
  check(static_cast<int>(vesk::type_from_string(s)) == reference_type(s),
        "type_from_string equals the reference");

  // fill into an array of exactly `room` characters, marked so that stray writes show.
  const unsigned int room = control == 0 ? 1 : control;
  std::vector<char> out(room, '\x7f');
  const bool fitted = vesk::fill(s, out.data(), room);
  const std::size_t copied = s.size() < room ? s.size() : room - 1;
  check(fitted == (s.size() + 1 <= room), "fill reports whether the string fitted");
  check(std::string(out.data(), copied) == s.substr(0, copied), "fill copies the prefix");
  check(out[copied] == '\0', "fill terminates the copy");
  for (std::size_t i = copied + 1; i < room; ++i)
    check(out[i] == '\x7f', "fill writes nothing past the terminator");

  // vesk_strcmp of the two halves, either of which may stand in as a null pointer.
  const std::size_t split = s.empty() ? 0 : control % (s.size() + 1);
  const std::string a = s.substr(0, split);
  const std::string b = s.substr(split);
  const char* pa = (control & 0x40) != 0 && (control & 0x1) != 0 ? nullptr : a.c_str();
  const char* pb = (control & 0x80) != 0 && (control & 0x2) != 0 ? nullptr : b.c_str();
  check(vesk_strcmp(pa, pb) == reference_strcmp(pa, pb), "vesk_strcmp equals the reference");
  check(vesk_strcmp(pb, pa) == -reference_strcmp(pa, pb), "vesk_strcmp is antisymmetric");
  return 0;
}

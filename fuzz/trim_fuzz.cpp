// trim and vesk_strtrim on arbitrary bytes, against a plain reference: no whitespace at either
// end, the middle unchanged, nothing written past the result.
#include <vesk/string.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "trim invariant broken: %s\n", what);
    std::abort();
  }
}

// The whitespace of the "C" locale, in which the fuzzer runs.
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The text up to its first NUL, without leading and trailing whitespace.
std::string reference_trim(const std::string& s) {
  const std::string text(s.c_str());
  std::size_t first = 0;
  while (first < text.size() && is_blank(text[first]))
    ++first;
  std::size_t last = text.size();
  while (last > first && is_blank(text[last - 1]))
    --last;
  return text.substr(first, last - first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);
  const std::string want = reference_trim(s);

  const std::string got = vesk::trim(s);
  check(got == want, "trim equals the reference");
  check(got.empty() || (!is_blank(got.front()) && !is_blank(got.back())),
        "no whitespace at either end");
  check(got.find('\0') == std::string::npos, "no NUL in the result");

  // vesk_strtrim into a destination exactly as long as the source text, filled with a marker
  // byte no text holds: the bytes past the returned position must keep the marker.
  const std::string source(s.c_str());
  constexpr char kMarker = '\0';
  std::vector<char> destination(source.size(), kMarker);
  char* const begin = destination.data();
  char* const end = vesk_strtrim(begin, source.c_str());
  check(end >= begin && end <= begin + destination.size(), "the end lies in the destination");
  check(std::string(begin, end) == want, "vesk_strtrim writes the reference result");
  for (const char* p = end; p != begin + destination.size(); ++p)
    check(*p == kMarker, "nothing written past the returned position");
  return 0;
}

// tokenize on arbitrary text and delimiters: the token count, the token lengths and the text
// rebuilt from the tokens all follow from the escape rule alone.
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
    std::fprintf(stderr, "tokenize invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  // The first byte is the delimiter, the rest the text (embedded NULs included).
  const char delimiter = static_cast<char>(data[0]);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  // Count the delimiters no backslash escapes and the backslashes that escape one: a
  // backslash escapes exactly the delimiter right after it, and the pair is consumed whole.
  std::size_t delimiters = 0;
  std::size_t escapes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == delimiter) {
      ++escapes;
      ++i;
    } else if (text[i] == delimiter) {
      ++delimiters;
    }
  }

  const std::vector<std::string> tokens = vesk::tokenize(delimiter, text);
  check(tokens.size() == delimiters + 1, "one token more than the unescaped delimiters");
  std::size_t total = 0;
  for (const std::string& token : tokens)
    total += token.size();
  check(total == text.size() - delimiters - escapes,
        "token lengths add up to the text less delimiters and escaping backslashes");

  // Escaping each delimiter inside a token and joining the tokens gives the text back.
  std::string rebuilt;
  for (std::size_t t = 0; t < tokens.size(); ++t) {
    if (t != 0)
      rebuilt += delimiter;
    for (const char c : tokens[t]) {
      if (c == delimiter)
        rebuilt += '\\';
      rebuilt += c;
    }
  }
  check(rebuilt == text, "escaping and joining the tokens gives the text back");
  return 0;
}

// std::string utilities: lower-casing, trimming, tokenising and bounded copying.
#include "vesk/string.hpp"

#include <cctype>
#include <cstring>
#include <memory>

namespace vesk {

std::string lower(const std::string& s) {
  std::string result(s);
  for (char& c : result)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

std::string trim(const std::string& s) {
  // vesk_strtrim writes no terminator; the zero fill supplies it, and the result is read up
  // to the first NUL, so a string with an embedded NUL is trimmed as if it ended there.
  const auto buffer = std::make_unique<char[]>(s.size() + 1);
  vesk_strtrim(buffer.get(), s.c_str());
  return std::string(buffer.get());
}

std::vector<std::string> tokenize(char delimiter, const std::string& s) {
  std::vector<std::string> tokens;
  std::string token;
  const std::size_t size = s.size();
  for (std::size_t i = 0; i < size; ++i) {
    const char c = s[i];
    if (c == '\\' && i + 1 < size && s[i + 1] == delimiter) {
      token += delimiter;
      ++i;
    } else if (c == delimiter) {
      tokens.push_back(std::move(token));
      token.clear();
    } else {
      token += c;
    }
  }
  tokens.push_back(std::move(token));
  return tokens;
}

bool fill(const std::string& s, char* out, unsigned int size) {
  if (size == 0)
    return false;
  const bool fits = s.size() < size;
  const std::size_t count = fits ? s.size() : size - 1;
  std::memcpy(out, s.data(), count);
  out[count] = '\0';
  return fits;
}

}  // namespace vesk

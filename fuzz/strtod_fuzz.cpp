// vesk_string_to_double and host_strtod on arbitrary text, against glibc's strtod in the "C"
// locale: the same bits (any NaN matches any NaN) and the same end position.
#include <vesk/host/host_util.h>
#include <vesk/math.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace {

void check(bool holds, const char* what, const std::string& text) {
  if (!holds) {
    std::fprintf(stderr, "strtod mismatch: %s for \"%s\"\n", what, text.c_str());
    std::abort();
  }
}

bool same_number(double a, double b) {
  if (std::isnan(a) || std::isnan(b))
    return std::isnan(a) && std::isnan(b);
  std::uint64_t x;
  std::uint64_t y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

// Turns the fuzzer's bytes into number-like text, so that the parser's paths behind the
// first character (digits, exponents, hexadecimal forms, inf and nan) are reached often even
// though the parser's own branches give the fuzzer no coverage to follow.
class NumberText {
 public:
  NumberText(const std::uint8_t* data, std::size_t size) : mData(data), mSize(size) {}

  // Each byte picked from a small alphabet of the characters a number is made of.
  std::string alphabet() {
    static const char kAlphabet[] = "0123456789000999.eE+-xXpPaAfFiInNtTyY() \t";
    std::string text;
    while (mAt < mSize)
      text += kAlphabet[mData[mAt++] % (sizeof kAlphabet - 1)];
    return text;
  }

  // Blanks, a sign, then a decimal, hexadecimal, infinity or nan form, then a tail.
  std::string grammar() {
    std::string text;
    for (unsigned int n = next() % 3; n > 0; --n)
      text += " \t\n\v\f\r"[next() % 6];
    text += "\0+-"[next() % 3];
    if (text.back() == '\0')
      text.pop_back();
    switch (next() % 8) {
      case 5:
        text += next() % 2 ? "0x" : "0X";
        digits(text, "0123456789abcdefABCDEF", 22);
        if (next() % 2) {
          text += '.';
          digits(text, "0123456789abcdefABCDEF", 22);
        }
        if (next() % 2)
          exponent(text, next() % 2 ? 'p' : 'P');
        break;
      case 6:
        text += choose_case(next() % 2 ? "infinity" : "inf");
        break;
      case 7:
        text += choose_case("nan");
        if (next() % 2) {
          text += '(';
          digits(text, "0123456789abcdefxyzXYZ_", 24);
          if (next() % 2)
            text += ')';
        }
        break;
      default:
        digits(text, "0123456789", 10);
        if (next() % 2) {
          text += '.';
          digits(text, "0123456789", 10);
        }
        if (next() % 2)
          exponent(text, next() % 2 ? 'e' : 'E');
        break;
    }
    text += alphabet();
    return text;
  }

 private:
  unsigned int next() { return mAt < mSize ? mData[mAt++] : 0; }

  // A run of digits: mostly short, sometimes hundreds long (mostly zeros or nines then), so
  // that rounding at the halfway point and long mantissas are reached.
  void digits(std::string& text, const char* set, unsigned int set_size) {
    const unsigned int kind = next();
    if (kind >= 0xF0) {
      const unsigned int count = 17 + next() * 3;
      const char fill = kind % 2 ? '0' : '9';
      text += set[next() % set_size];
      text.append(count, fill);
      text += set[next() % set_size];
      return;
    }
    for (unsigned int n = kind % 24; n > 0; --n)
      text += set[next() % set_size];
  }

  void exponent(std::string& text, char marker) {
    text += marker;
    text += "\0+-"[next() % 3];
    if (text.back() == '\0')
      text.pop_back();
    // Exponents near the edges of the double range, or anything up to 10 digits.
    static const char* const kEdges[] = {"308", "309", "307", "324", "323", "325",
                                         "1022", "1023", "1024", "1074", "1075", "1076"};
    const unsigned int pick = next();
    if (pick < 96)
      text += kEdges[pick % 12];
    else
      digits(text, "0123456789", 10);
  }

  std::string choose_case(const char* word) {
    std::string text;
    for (const char* c = word; *c != '\0'; ++c)
      text += next() % 2 ? static_cast<char>(*c - 'a' + 'A') : *c;
    return text;
  }

  const std::uint8_t* mData;
  std::size_t mSize;
  std::size_t mAt = 1;
};

locale_t c_locale() {
  static const locale_t kC = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return kC;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  // The first byte chooses how the rest becomes text: as it is, through the alphabet of
  // numbers, or through the grammar of a number.
  NumberText maker(data, size);
  const std::string text = data[0] % 3 == 0
                               ? std::string(reinterpret_cast<const char*>(data + 1), size - 1)
                           : data[0] % 3 == 1 ? maker.alphabet()
                                              : maker.grammar();
  const char* const begin = text.c_str();

  char* want_end = nullptr;
  const double want = strtod_l(begin, &want_end, c_locale());

  check(same_number(vesk_string_to_double(text), want), "vesk_string_to_double", text);

  char* end = nullptr;
  const double host = host_strtod(host_fpc_context(), begin, &end, 0);
  check(same_number(host, want), "host_strtod value", text);
  check(end == want_end, "host_strtod end position", text);

  // A null context stands for the "C" locale too.
  end = nullptr;
  check(same_number(host_strtod(nullptr, begin, &end, 0), want), "null context value", text);
  check(end == want_end, "null context end position", text);
  return 0;
}

// Tests of the C-string functions and printf-style output.
#include <vesk/base.hpp>
#include <vesk/string.hpp>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST(Strcmp, ResultIsExactlyMinusOneZeroOrOne) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0}, {nullptr, "", 0},     {"", nullptr, 0},   {nullptr, "a", -1},
      {"a", nullptr, 1},     {"abc", "abc", 0},    {"ab", "abc", -1},  {"abc", "ab", 1},
      {"\xE9", "A", 1},      {"A", "\xE9", -1},    {"\x80", "\x7F", 1}, {"a", "z", -1},
      {"zzzz", "a", 1},      {"\x01", "", 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vesk_strcmp(c.a, c.b), c.expected)
        << (c.a ? c.a : "(null)") << " vs " << (c.b ? c.b : "(null)");
}

struct TrimCase {
  const char* source;
  const char* written;
};

// The destination is pre-filled with a marker so that writes beyond the result show up.
TEST(Strtrim, WritesOnlyTheTrimmedCharactersAndReturnsTheEnd) {
  const TrimCase cases[] = {
      {"  x\ty\n", "x\ty"},
      {"", ""},
      {" \t\n\v\f\r", ""},
      {"plain", "plain"},
      {"a  b", "a  b"},
      {"  a \t b  c   ", "a \t b  c"},
      {"\xA0x\xA0", "\xA0x\xA0"},  // not whitespace in the "C" locale
      {"x", "x"},
      {" x", "x"},
      {"x ", "x"},
  };
  for (const TrimCase& c : cases) {
    char destination[32];
    std::memset(destination, '#', sizeof destination);
    char* end = vesk_strtrim(destination, c.source);
    const std::size_t written = std::strlen(c.written);
    EXPECT_EQ(end, destination + written) << '"' << c.source << '"';
    EXPECT_EQ(std::string(destination, written), c.written) << '"' << c.source << '"';
    EXPECT_EQ(destination[written], '#') << '"' << c.source << '"';
  }
}

TEST(PassThrough, StrlenStrdupStrcpy) {
  EXPECT_EQ(vesk_strlen("four"), 4u);
  EXPECT_EQ(vesk_strlen(""), 0u);
  char* copy = vesk_strdup("copy me");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "copy me");
  vesk_free(copy);
  char buffer[8];
  EXPECT_EQ(vesk_strcpy(buffer, "abc"), buffer);
  EXPECT_STREQ(buffer, "abc");
}

// The va_list entry points, called the way a caller's own printf-style wrapper calls them.
__attribute__((format(printf, 3, 4))) int snprintf_via_va_list(char* buffer, std::size_t size,
                                                               const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = vesk_vsnprintf(buffer, size, format, args);
  va_end(args);
  return result;
}

__attribute__((format(printf, 1, 2))) int printf_via_va_list(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = vesk_vprintf(format, args);
  va_end(args);
  return result;
}

TEST(PassThrough, SnprintfBoundsAndCounts) {
  using Snprintf = int (*)(char*, std::size_t, const char*, ...);
  for (Snprintf print : {Snprintf{vesk_snprintf}, Snprintf{snprintf_via_va_list}}) {
    SCOPED_TRACE(print == vesk_snprintf ? "vesk_snprintf" : "vesk_vsnprintf");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(print(buffer, 5, "%s=%d", "key", 1234), 8);
    EXPECT_STREQ(buffer, "key=");
    EXPECT_EQ(buffer[5], '#');
    EXPECT_EQ(print(buffer, 0, "%d", 5), 1);
    EXPECT_EQ(buffer[5], '#');
    // A size beyond 32 bits still bounds by the real buffer's contents, not a wrapped value.
    char big[16];
    EXPECT_EQ(print(big, (std::size_t{1} << 32) + 1, "%s", "whole"), 5);
    EXPECT_STREQ(big, "whole");
  }
}

TEST(PassThrough, PrintfWritesToStandardOutput) {
  using Printf = int (*)(const char*, ...);
  for (Printf print : {Printf{vesk_printf}, Printf{printf_via_va_list}}) {
    SCOPED_TRACE(print == vesk_printf ? "vesk_printf" : "vesk_vprintf");
    ::testing::internal::CaptureStdout();
    const int count = print("%s %d|", "value", 42);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "value 42|");
    EXPECT_EQ(count, 9);
  }
}

}  // namespace

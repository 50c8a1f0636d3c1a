// Which host operation each numeric entry point calls, with which arguments: the host functions
// behind the rules of pow, atan2, sqrt and string-to-double are interposed by this program and
// record their calls before answering; the plain forwards are checked with the host's own
// forwards in tests/host/host_math_test.cpp.
#include <vesk/math.hpp>
#include <vesk/host/host_math.h>
#include <vesk/host/host_util.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

struct Call {
  std::string name;
  double a = 0.0, b = 0.0;
};

std::vector<Call> g_calls;
const double kHostAnswer = 123.25;

std::uint64_t bits_of(double x) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

// A NaN with a payload no arithmetic produces, so a test can tell the host's NaN from another.
double host_nan_value() {
  const std::uint64_t bits = 0x7FF800000000ABCDull;
  double x = 0.0;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

std::string g_strtod_text;
void* g_strtod_context = nullptr;
char** g_strtod_end = reinterpret_cast<char**>(1);
int g_strtod_flags = -1;
int g_context_marker = 0;

}  // namespace

// The host functions with rules of their own around them.
extern "C" double host_atan2(double y, double x) {
  g_calls.push_back({"host_atan2", y, x});
  return kHostAnswer;
}
extern "C" double host_pow(double base, double exponent) {
  g_calls.push_back({"host_pow", base, exponent});
  return kHostAnswer;
}
extern "C" double host_int_power(double base, double exponent) {
  g_calls.push_back({"host_int_power", base, exponent});
  return kHostAnswer;
}
extern "C" double host_get_nan(void) {
  g_calls.push_back({"host_get_nan"});
  return host_nan_value();
}
extern "C" void* host_fpc_context(void) { return &g_context_marker; }
extern "C" double host_strtod(void* context, const char* text, char** end, int flags) {
  g_strtod_context = context;
  g_strtod_text = text;
  g_strtod_end = end;
  g_strtod_flags = flags;
  return kHostAnswer;
}

namespace {

TEST(MathRouting, PowSendsSmallIntegralExponentsToIntPower) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double exponent;
    const char* host;
  };
  const Case cases[] = {
      {2.0, "host_int_power"},  {-1.0, "host_int_power"}, {-2.0, "host_int_power"},
      {0.0, "host_int_power"},  {-0.0, "host_int_power"}, {1.0, "host_int_power"},
      {3.0, "host_pow"},        {0.5, "host_pow"},        {2.5, "host_pow"},
      {-3.0, "host_pow"},       {1.5, "host_pow"},        {-2.0000001, "host_pow"},
      {inf, "host_pow"},        {-inf, "host_pow"},       {std::nan(""), "host_pow"},
      {4294967298.0, "host_pow"}, {-4294967294.0, "host_pow"}, {1e300, "host_pow"},
  };
  for (const Case& c : cases) {
    g_calls.clear();
    EXPECT_EQ(vesk_pow(3.0, c.exponent), kHostAnswer) << c.exponent;
    ASSERT_EQ(g_calls.size(), 1u) << c.exponent;
    EXPECT_EQ(g_calls[0].name, c.host) << c.exponent;
    EXPECT_EQ(g_calls[0].a, 3.0);
    EXPECT_EQ(bits_of(g_calls[0].b), bits_of(c.exponent)) << c.exponent;
  }
}

TEST(MathRouting, Atan2AnswersTheOriginItself) {
  for (double y : {0.0, -0.0}) {
    for (double x : {0.0, -0.0}) {
      g_calls.clear();
      EXPECT_EQ(bits_of(vesk_atan2(y, x)), bits_of(0.0)) << y << ", " << x;
      EXPECT_TRUE(g_calls.empty());
    }
  }
  struct Case {
    double y, x;
  };
  for (const Case c : {Case{0.0, -1.0}, Case{1.0, 0.0}, Case{std::nan(""), 0.0},
                       Case{0.0, std::nan("")}, Case{-0.0, 2.0}}) {
    g_calls.clear();
    EXPECT_EQ(vesk_atan2(c.y, c.x), kHostAnswer);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].name, "host_atan2");
    EXPECT_EQ(bits_of(g_calls[0].a), bits_of(c.y));
    EXPECT_EQ(bits_of(g_calls[0].b), bits_of(c.x));
  }
}

TEST(MathRouting, SqrtComputesItselfAndTakesOnlyNanFromTheHost) {
  g_calls.clear();
  EXPECT_EQ(vesk_sqrt(4.0), 2.0);
  EXPECT_EQ(vesk_sqrt(2.0), std::sqrt(2.0));
  EXPECT_EQ(vesk_sqrt(std::numeric_limits<double>::infinity()),
            std::numeric_limits<double>::infinity());
  EXPECT_EQ(vesk_sqrt(4.9406564584124654e-324), std::sqrt(4.9406564584124654e-324));
  EXPECT_EQ(bits_of(vesk_sqrt(-0.0)), bits_of(0.0));
  EXPECT_EQ(bits_of(vesk_sqrt(0.0)), bits_of(0.0));
  EXPECT_TRUE(g_calls.empty());

  for (double x : {-1.0, -std::numeric_limits<double>::infinity(), std::nan("7"), -1e-310}) {
    g_calls.clear();
    EXPECT_EQ(bits_of(vesk_sqrt(x)), bits_of(host_nan_value())) << x;
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].name, "host_get_nan");
  }
  EXPECT_EQ(bits_of(vesk_get_nan()), bits_of(host_nan_value()));
}

TEST(MathRouting, StringToDoublePassesTextContextAndZeros) {
  EXPECT_EQ(vesk_string_to_double(""), kHostAnswer);
  EXPECT_EQ(g_strtod_text, "");
  EXPECT_EQ(g_strtod_context, &g_context_marker);
  EXPECT_EQ(g_strtod_end, nullptr);
  EXPECT_EQ(g_strtod_flags, 0);
  EXPECT_EQ(vesk_string_to_double(" 1.5e3x"), kHostAnswer);
  EXPECT_EQ(g_strtod_text, " 1.5e3x");
}

}  // namespace

// Tests of tempnam against a host whose temporary names the test chooses.
#include "vesk/file.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The name the host hands out next; null stands for a host that has no name to give.
const char* next_name = nullptr;
bool given_a_buffer = false;

}  // namespace

// Replaces the host's definition for this whole test program.
extern "C" char* host_tmpnam(char* buffer) {
  given_a_buffer = buffer != nullptr;
  if (next_name == nullptr || buffer == nullptr)
    return nullptr;
  std::strcpy(buffer, next_name);
  return buffer;
}

namespace {

TEST(Tempnam, ReturnsTheHostsNameInGenericForm) {
  struct Row {
    const char* host;
    const char* expected;
  };
  const Row rows[] = {
      {"/tmp/vesk-0123", "/tmp/vesk-0123"},
      {"C:\\Temp\\vesk-0123", "C:/Temp/vesk-0123"},
      {"\\\\server\\share\\t", "//server/share/t"},
      {"", ""},
  };
  for (const Row& row : rows) {
    next_name = row.host;
    given_a_buffer = false;
    EXPECT_EQ(vesk::tempnam(), row.expected) << row.host;
    EXPECT_TRUE(given_a_buffer) << row.host;
  }
}

TEST(Tempnam, HostWithoutANameGivesAnEmptyName) {
  next_name = nullptr;
  EXPECT_EQ(vesk::tempnam(), "");
}

}  // namespace

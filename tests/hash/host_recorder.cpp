// Definitions of host_hash_n_bytes and host_assert that take the host's place in this test
// program: they record every call, and the hash then runs the host library's own function.
#include "host_recorder.hpp"

#include "support/host_hook.hpp"

#include <vesk/host/host_util.h>

namespace vesk::testing {
namespace {

std::vector<HashCall>& hash_log() {
  static std::vector<HashCall> log;
  return log;
}

std::vector<AssertCall>& assert_log() {
  static std::vector<AssertCall> log;
  return log;
}

}  // namespace

const std::vector<HashCall>& hash_calls() { return hash_log(); }
const std::vector<AssertCall>& assert_calls() { return assert_log(); }

void clear_recorded_calls() {
  hash_log().clear();
  assert_log().clear();
}

unsigned int real_host_hash(unsigned int previous, unsigned int count, const void* bytes) {
  static auto* const real = next_definition<decltype(host_hash_n_bytes)>("host_hash_n_bytes");
  return real(previous, count, bytes);
}

}  // namespace vesk::testing

extern "C" unsigned int host_hash_n_bytes(unsigned int previous, unsigned int count,
                                          const void* bytes) {
  const auto* first = static_cast<const unsigned char*>(bytes);
  const unsigned int result = vesk::testing::real_host_hash(previous, count, bytes);
  vesk::testing::hash_log().push_back(
      {previous, std::vector<unsigned char>(first, first + count), result});
  return result;
}

extern "C" void host_assert(const char* message, const char* file, int line) {
  vesk::testing::assert_log().push_back({message, file, line});
}

// Test support for the hashing tests: a host hash and a host assertion that record their calls.
#ifndef VESK_TESTS_HASH_HOST_RECORDER_HPP
#define VESK_TESTS_HASH_HOST_RECORDER_HPP

#include <string>
#include <vector>

namespace vesk::testing {

/// One call of host_hash_n_bytes: the running value passed in, the bytes, and the result.
struct HashCall {
  unsigned int previous;
  std::vector<unsigned char> bytes;
  unsigned int result;
};

/// One call of host_assert.
struct AssertCall {
  std::string message;
  std::string file;
  int line;
};

/// Calls recorded since the last clear_recorded_calls().
const std::vector<HashCall>& hash_calls();
const std::vector<AssertCall>& assert_calls();
void clear_recorded_calls();

/// The host library's own hash, not the recording one.
unsigned int real_host_hash(unsigned int previous, unsigned int count, const void* bytes);

}  // namespace vesk::testing

#endif

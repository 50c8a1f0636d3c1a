// Test support: the host library's allocation, assertion and hash functions as a test program
// sees them, recorded and failable. A test added with HOST_FAKE gets these definitions in
// place of the host library's; they record each call and then run the host's own function.
// Threads may call them at once: each call is recorded under a lock, held across fork.
#ifndef VESK_TESTS_SUPPORT_HOST_FAKE_HPP
#define VESK_TESTS_SUPPORT_HOST_FAKE_HPP

#include <string>
#include <vector>

namespace vesk::testing {

/// One call of a host allocation function: `name` "malloc" (`a` the size), "calloc" (`a` and
/// `b` its arguments), "strdup" or "free"; `block` is the result, or the block freed.
struct AllocationCall {
  std::string name;
  unsigned int a = 0;
  unsigned int b = 0;
  const void* block = nullptr;
};

/// One call of host_assert.
struct AssertCall {
  std::string message;
  std::string file;
  int line = 0;
};

/// One call of host_hash_n_bytes: the running value passed in, the bytes, and the result.
struct HashCall {
  unsigned int previous = 0;
  std::vector<unsigned char> bytes;
  unsigned int result = 0;
};

/// The calls recorded since the last clear_host_calls(): every allocation and free, every
/// assertion and every hash.
const std::vector<AllocationCall>& allocation_calls();
const std::vector<AssertCall>& assert_calls();
const std::vector<HashCall>& hash_calls();
void clear_host_calls();
/// The blocks of the recorded allocation calls named `name` ("calloc", "free", ...), in order.
std::vector<const void*> blocks_of(const char* name);

/// How the host's allocations (malloc, calloc, strdup) fail from the call on: none (the
/// default), every one, or, counting them from 1 at the call, only the k-th or every one from
/// the k-th on. A failed allocation gives null, as an exhausted host does.
void fail_no_host_allocation();
void fail_every_host_allocation();
void fail_host_allocation(unsigned long k);
void fail_host_allocations_from(unsigned long k);
/// The allocations counted since the last of the calls above, failed ones included.
unsigned long host_allocations_counted();
/// Counts one more allocation, as the fake does for each of the host's, and says whether it
/// fails: for a test that fails other allocations in the same sequence.
bool next_host_allocation_fails();

/// Calls `work` at the start of every host allocation (malloc, calloc, strdup) from the call
/// on, none when null (the default): a host allocator that does work of its own.
void call_at_host_allocation(void (*work)());

/// The hash that host_hash_n_bytes gives instead of the host's, or null for the host's own.
/// `steer` may call host_hash_of for the texts it leaves alone.
void steer_host_hash(unsigned int (*steer)(unsigned int previous, unsigned int count,
                                           const void* bytes));
/// The host library's own hash, unrecorded and unsteered.
unsigned int host_hash_of(unsigned int previous, unsigned int count, const void* bytes);

}  // namespace vesk::testing

#endif

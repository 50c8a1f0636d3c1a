// The host library's allocation, assertion and hash functions for a test program added with
// HOST_FAKE: each records its call and fails or steers as the test asked, then runs the host
// library's own definition.
#include "support/host_fake.hpp"

#include "support/host_hook.hpp"

#include <vesk/host/host_util.h>

#include <pthread.h>

#include <cstring>
#include <mutex>

namespace vesk::testing {
namespace {

struct Fake {
  std::vector<AllocationCall> allocations;
  std::vector<AssertCall> asserts;
  std::vector<HashCall> hashes;
  enum class Failing { None, Every, Only, From } failing = Failing::None;
  unsigned long point = 0;
  unsigned long counted = 0;
  unsigned int (*steer)(unsigned int, unsigned int, const void*) = nullptr;
  void (*atAllocation)() = nullptr;
  // Held while a call is counted or recorded, so that threads may call the host at once.
  std::mutex lock;
};

Fake& fake() {
  static Fake instance;
  return instance;
}

// The record lock is held across fork, as a host allocator holds its own, so that a child
// never inherits it held by a thread it does not have. Registered when the program is
// loaded, before a test registers handlers of its own.
__attribute__((constructor)) void lock_records_around_fork() {
  pthread_atfork([] { fake().lock.lock(); }, [] { fake().lock.unlock(); },
                 [] { fake().lock.unlock(); });
}

void fail(Fake::Failing failing, unsigned long point) {
  fake().failing = failing;
  fake().point = point;
  fake().counted = 0;
}

// Whether the allocation about to be made fails, after the test's own work at it (which may
// call the host again, so the record lock is not held for it).
bool allocation_fails() {
  void (*work)() = nullptr;
  {
    const std::lock_guard<std::mutex> hold(fake().lock);
    work = fake().atAllocation;
  }
  if (work != nullptr)
    work();
  return next_host_allocation_fails();
}

void* recorded(const char* name, unsigned int a, unsigned int b, void* block) {
  const std::lock_guard<std::mutex> hold(fake().lock);
  fake().allocations.push_back({name, a, b, block});
  return block;
}

}  // namespace

const std::vector<AllocationCall>& allocation_calls() { return fake().allocations; }
const std::vector<AssertCall>& assert_calls() { return fake().asserts; }
const std::vector<HashCall>& hash_calls() { return fake().hashes; }

void clear_host_calls() {
  fake().allocations.clear();
  fake().asserts.clear();
  fake().hashes.clear();
}

std::vector<const void*> blocks_of(const char* name) {
  std::vector<const void*> blocks;
  for (const AllocationCall& call : fake().allocations)
    if (call.name == name)
      blocks.push_back(call.block);
  return blocks;
}

void fail_no_host_allocation() { fail(Fake::Failing::None, 0); }
void fail_every_host_allocation() { fail(Fake::Failing::Every, 0); }
void fail_host_allocation(unsigned long k) { fail(Fake::Failing::Only, k); }
void fail_host_allocations_from(unsigned long k) { fail(Fake::Failing::From, k); }
unsigned long host_allocations_counted() { return fake().counted; }

bool next_host_allocation_fails() {
  Fake& f = fake();
  const std::lock_guard<std::mutex> hold(f.lock);
  ++f.counted;
  switch (f.failing) {
    case Fake::Failing::Every:
      return true;
    case Fake::Failing::Only:
      return f.counted == f.point;
    case Fake::Failing::From:
      return f.counted >= f.point;
    case Fake::Failing::None:
      break;
  }
  return false;
}

void call_at_host_allocation(void (*work)()) {
  const std::lock_guard<std::mutex> hold(fake().lock);
  fake().atAllocation = work;
}

void steer_host_hash(unsigned int (*steer)(unsigned int, unsigned int, const void*)) {
  fake().steer = steer;
}

unsigned int host_hash_of(unsigned int previous, unsigned int count, const void* bytes) {
  static auto* const real = next_definition<decltype(host_hash_n_bytes)>("host_hash_n_bytes");
  return real(previous, count, bytes);
}

}  // namespace vesk::testing

using vesk::testing::allocation_fails;
using vesk::testing::next_definition;
using vesk::testing::recorded;

extern "C" void* host_malloc_checked(unsigned int size) {
  static auto* const real = next_definition<decltype(host_malloc_checked)>("host_malloc_checked");
  return recorded("malloc", size, 0, allocation_fails() ? nullptr : real(size));
}

extern "C" void* host_calloc_checked(unsigned int a, unsigned int b) {
  static auto* const real = next_definition<decltype(host_calloc_checked)>("host_calloc_checked");
  return recorded("calloc", a, b, allocation_fails() ? nullptr : real(a, b));
}

extern "C" char* host_strdup(const char* s) {
  static auto* const real = next_definition<decltype(host_strdup)>("host_strdup");
  const auto size = static_cast<unsigned int>(s != nullptr ? std::strlen(s) + 1 : 0);
  return static_cast<char*>(recorded("strdup", size, 0, allocation_fails() ? nullptr : real(s)));
}

extern "C" void host_free(void* block) {
  static auto* const real = next_definition<decltype(host_free)>("host_free");
  recorded("free", 0, 0, block);
  real(block);
}

extern "C" void host_assert(const char* message, const char* file, int line) {
  const std::lock_guard<std::mutex> hold(vesk::testing::fake().lock);
  vesk::testing::fake().asserts.push_back({message, file, line});
}

extern "C" unsigned int host_hash_n_bytes(unsigned int previous, unsigned int count,
                                          const void* bytes) {
  vesk::testing::Fake& f = vesk::testing::fake();
  const unsigned int result = f.steer != nullptr
                                  ? f.steer(previous, count, bytes)
                                  : vesk::testing::host_hash_of(previous, count, bytes);
  const auto* first = static_cast<const unsigned char*>(bytes);
  const std::lock_guard<std::mutex> hold(f.lock);
  f.hashes.push_back({previous, std::vector<unsigned char>(first, first + count), result});
  return result;
}

// Uses the installed host libraries directly.
#include <vesk/host/host_math.h>
#include <vesk/host/host_util.h>

#include <cstdio>

int main() {
  const bool ok = host_hash_n_bytes(0, 9, "123456789") == 0xCBF43926u &&
                  host_int_power(3.0, 2.0) == 9.0;
  std::printf("host_consumer: %s\n", ok ? "ok" : "wrong");
  return ok ? 0 : 1;
}

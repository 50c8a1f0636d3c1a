// Uses the installed library through its umbrella header; exits non-zero on a wrong answer.
#include <vesk/foundation_util.hpp>

#include <cstdio>
#include <string>

int main() {
  int failures = 0;
  auto check = [&failures](bool ok, const char* what) {
    if (!ok) {
      std::fprintf(stderr, "consumer: %s\n", what);
      ++failures;
    }
  };
  check(vesk::trim("  installed  ") == "installed", "trim");
  check(vesk::tokenize(',', "a,b").size() == 2, "tokenize");
  check(vesk_strcmp("a", "b") == -1, "vesk_strcmp");
  check(vesk_string_to_double("0.5") == 0.5, "vesk_string_to_double");
  check(vesk_sqrt(9.0) == 3.0, "vesk_sqrt");
  void* block = vesk::Allocate::allocate(4, 4);
  check(block != nullptr, "Allocate::allocate");
  vesk_free(block);
  if (failures == 0)
    std::printf("consumer: ok\n");
  return failures == 0 ? 0 : 1;
}

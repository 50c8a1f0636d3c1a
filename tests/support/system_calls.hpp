// Test support: failing the system calls that the file functions make, theirs and those of the
// filesystem library under them, as the system fails them.
#ifndef VESK_TESTS_SUPPORT_SYSTEM_CALLS_HPP
#define VESK_TESTS_SUPPORT_SYSTEM_CALLS_HPP

#include <vector>

namespace vesk::testing {

/// Asked before each call of open, openat, opendir, fdopendir, readdir, stat, lstat, fstat,
/// fstatat, statx, unlink, unlinkat, rmdir, mkdir, mkdirat, read, close and getrandom made anywhere
/// in the process (their 64-bit names too), with `call` the name without "64": 0 lets the call
/// through; an error number makes it fail with that number, having done nothing (close, which
/// releases the descriptor whatever it returns, runs and then fails). Null, the default, lets
/// every call through. Tests that use it are added with SYSTEM_CALLS.
extern int (*system_call_fails)(const char* call);

/// The error numbers that `call` (a name as system_call_fails receives it) can give its
/// caller among those a system may run into: out of descriptors or memory, permissions,
/// names gone or changed, input and output, interruption.
const std::vector<int>& system_call_errors(const char* call);

}  // namespace vesk::testing

#endif

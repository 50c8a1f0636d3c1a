// The C library's file-system calls for a test program added with SYSTEM_CALLS: defined in the
// program, so that they stand before the C library's for every caller in the process (the
// filesystem library's calls among them), and failing where system_call_fails says; the C
// library's own definitions do the work.
#include "support/system_calls.hpp"

#include "support/host_hook.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace vesk::testing {

int (*system_call_fails)(const char* call) = nullptr;

const std::vector<int>& system_call_errors(const char* call) {
  // From each call's manual page: the errors of the list above that the call can return.
  static const std::vector<int> kOpen = {EMFILE, ENFILE,  ENOMEM, EACCES, EPERM,
                                         ENOENT, ENOTDIR, ELOOP,  EINTR};
  static const std::vector<int> kOpendir = {EMFILE, ENFILE, ENOMEM, EACCES, ENOENT, ENOTDIR, EINTR};
  static const std::vector<int> kFdopendir = {ENOMEM, ENOTDIR};
  static const std::vector<int> kReaddir = {ENOENT, EIO};
  static const std::vector<int> kStat = {EACCES, ELOOP, ENOENT, ENOMEM, ENOTDIR};
  static const std::vector<int> kFstat = {ENOMEM, EIO};
  static const std::vector<int> kRemove = {EACCES, EPERM, ENOENT, ENOTDIR, EIO, ELOOP, ENOMEM};
  static const std::vector<int> kMkdir = {EACCES, EPERM, ENOENT, ENOTDIR, ELOOP, ENOMEM};
  static const std::vector<int> kClose = {EINTR, EIO};
  static const std::vector<int> kRead = {EINTR, EIO};
  static const std::vector<int> kGetrandom = {EINTR};
  static const std::vector<int> kNone;
  const auto is = [call](const char* name) { return std::strcmp(call, name) == 0; };
  if (is("open") || is("openat"))
    return kOpen;
  if (is("opendir"))
    return kOpendir;
  if (is("fdopendir"))
    return kFdopendir;
  if (is("readdir"))
    return kReaddir;
  if (is("stat") || is("lstat") || is("fstatat") || is("statx"))
    return kStat;
  if (is("fstat"))
    return kFstat;
  if (is("unlink") || is("unlinkat") || is("rmdir"))
    return kRemove;
  if (is("mkdir") || is("mkdirat"))
    return kMkdir;
  if (is("close"))
    return kClose;
  if (is("read"))
    return kRead;
  if (is("getrandom"))
    return kGetrandom;
  return kNone;
}

}  // namespace vesk::testing

namespace {

using vesk::testing::next_definition;

// The error number `call` is to fail with, 0 to let it through.
int failure(const char* call) {
  return vesk::testing::system_call_fails != nullptr ? vesk::testing::system_call_fails(call) : 0;
}

// The mode argument that open and openat take only with O_CREAT or O_TMPFILE.
mode_t mode_of(int flags, va_list arguments) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE
             ? static_cast<mode_t>(va_arg(arguments, unsigned int))
             : 0;
}

}  // namespace

// Each definition asks, fails with errno and the call's failure result, or runs the C library's.
#define VESK_FAIL_OR(call, failed)       \
  if (const int error = failure(call)) { \
    errno = error;                       \
    return failed;                       \
  }

extern "C" {

int open(const char* path, int flags, ...) {
  static auto* const real = next_definition<int(const char*, int, ...)>("open");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_of(flags, arguments);
  va_end(arguments);
  VESK_FAIL_OR("open", -1)
  return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  static auto* const real = next_definition<int(const char*, int, ...)>("open64");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_of(flags, arguments);
  va_end(arguments);
  VESK_FAIL_OR("open", -1)
  return real(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
  static auto* const real = next_definition<int(int, const char*, int, ...)>("openat");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_of(flags, arguments);
  va_end(arguments);
  VESK_FAIL_OR("openat", -1)
  return real(dir, path, flags, mode);
}

DIR* opendir(const char* path) {
  static auto* const real = next_definition<decltype(opendir)>("opendir");
  VESK_FAIL_OR("opendir", nullptr)
  return real(path);
}

DIR* fdopendir(int fd) {
  static auto* const real = next_definition<decltype(fdopendir)>("fdopendir");
  VESK_FAIL_OR("fdopendir", nullptr)
  return real(fd);
}

dirent* readdir(DIR* stream) {
  static auto* const real = next_definition<decltype(readdir)>("readdir");
  VESK_FAIL_OR("readdir", nullptr)
  return real(stream);
}

dirent64* readdir64(DIR* stream) {
  static auto* const real = next_definition<decltype(readdir64)>("readdir64");
  VESK_FAIL_OR("readdir", nullptr)
  return real(stream);
}

int stat(const char* path, struct stat* status) noexcept {
  static auto* const real = next_definition<int(const char*, struct stat*)>("stat");
  VESK_FAIL_OR("stat", -1)
  return real(path, status);
}

int stat64(const char* path, struct stat64* status) noexcept {
  static auto* const real = next_definition<int(const char*, struct stat64*)>("stat64");
  VESK_FAIL_OR("stat", -1)
  return real(path, status);
}

int lstat(const char* path, struct stat* status) noexcept {
  static auto* const real = next_definition<int(const char*, struct stat*)>("lstat");
  VESK_FAIL_OR("lstat", -1)
  return real(path, status);
}

int lstat64(const char* path, struct stat64* status) noexcept {
  static auto* const real = next_definition<int(const char*, struct stat64*)>("lstat64");
  VESK_FAIL_OR("lstat", -1)
  return real(path, status);
}

int fstat(int fd, struct stat* status) noexcept {
  static auto* const real = next_definition<int(int, struct stat*)>("fstat");
  VESK_FAIL_OR("fstat", -1)
  return real(fd, status);
}

int fstat64(int fd, struct stat64* status) noexcept {
  static auto* const real = next_definition<int(int, struct stat64*)>("fstat64");
  VESK_FAIL_OR("fstat", -1)
  return real(fd, status);
}

int fstatat(int dir, const char* path, struct stat* status, int flags) noexcept {
  static auto* const real = next_definition<int(int, const char*, struct stat*, int)>("fstatat");
  VESK_FAIL_OR("fstatat", -1)
  return real(dir, path, status, flags);
}

int fstatat64(int dir, const char* path, struct stat64* status, int flags) noexcept {
  static auto* const real =
      next_definition<int(int, const char*, struct stat64*, int)>("fstatat64");
  VESK_FAIL_OR("fstatat", -1)
  return real(dir, path, status, flags);
}

int statx(int dir, const char* path, int flags, unsigned int mask, struct statx* status) noexcept {
  static auto* const real =
      next_definition<int(int, const char*, int, unsigned int, struct statx*)>("statx");
  VESK_FAIL_OR("statx", -1)
  return real(dir, path, flags, mask, status);
}

int unlink(const char* path) noexcept {
  static auto* const real = next_definition<int(const char*)>("unlink");
  VESK_FAIL_OR("unlink", -1)
  return real(path);
}

int unlinkat(int dir, const char* path, int flags) noexcept {
  static auto* const real = next_definition<int(int, const char*, int)>("unlinkat");
  VESK_FAIL_OR("unlinkat", -1)
  return real(dir, path, flags);
}

int rmdir(const char* path) noexcept {
  static auto* const real = next_definition<int(const char*)>("rmdir");
  VESK_FAIL_OR("rmdir", -1)
  return real(path);
}

int mkdir(const char* path, mode_t mode) noexcept {
  static auto* const real = next_definition<int(const char*, mode_t)>("mkdir");
  VESK_FAIL_OR("mkdir", -1)
  return real(path, mode);
}

int mkdirat(int dir, const char* path, mode_t mode) noexcept {
  static auto* const real = next_definition<int(int, const char*, mode_t)>("mkdirat");
  VESK_FAIL_OR("mkdirat", -1)
  return real(dir, path, mode);
}

int close(int fd) {
  static auto* const real = next_definition<decltype(close)>("close");
  // The descriptor goes whatever close returns, as on Linux.
  const int error = failure("close");
  const int result = real(fd);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return result;
}

ssize_t read(int fd, void* buffer, size_t size) {
  static auto* const real = next_definition<decltype(read)>("read");
  VESK_FAIL_OR("read", -1)
  return real(fd, buffer, size);
}

ssize_t getrandom(void* buffer, size_t size, unsigned int flags) {
  static auto* const real = next_definition<decltype(getrandom)>("getrandom");
  VESK_FAIL_OR("getrandom", -1)
  return real(buffer, size, flags);
}

}  // extern "C"

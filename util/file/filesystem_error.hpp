// The filesystem error that the file functions raise for a failed system call of their own.
#ifndef VESK_UTIL_FILE_FILESYSTEM_ERROR_HPP
#define VESK_UTIL_FILE_FILESYSTEM_ERROR_HPP

#include <string>

namespace vesk::detail {

/// Raises boost::filesystem::filesystem_error for `operation` (the name the dependency gives
/// the same operation, e.g. "boost::filesystem::remove") on `path` with the system error
/// number `error`, as the dependency itself would.
[[noreturn]] void raise_filesystem_error(const char* operation, const std::string& path,
                                         int error);

}  // namespace vesk::detail

#endif

// The filesystem error that the file functions raise for a failed system call of their own.
#include "util/file/filesystem_error.hpp"

#include <boost/filesystem.hpp>

namespace vesk::detail {

void raise_filesystem_error(const char* operation, const std::string& path, int error) {
  throw boost::filesystem::filesystem_error(
      operation, boost::filesystem::path(path),
      boost::system::error_code(error, boost::system::system_category()));
}

}  // namespace vesk::detail

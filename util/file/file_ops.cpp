// File and directory operations over Boost.Filesystem; its filesystem_error reaches the caller.
#include "vesk/file.hpp"

#include "util/file/path_form.hpp"
#include "util/file/tree_removal.hpp"
#include "vesk/host/host_util.h"

#include <boost/filesystem.hpp>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vesk {

namespace fs = boost::filesystem;

namespace {

// Every path argument goes to the dependency in the library's generic form.
fs::path fs_path(const std::string& path) { return fs::path(detail::generic_path(path)); }

// The outcome every modifying function reports: neither a directory nor a regular file is
// there (links followed, as in the existence tests).
bool nothing_left(const fs::path& path) {
  const fs::file_status status = fs::status(path);
  return !fs::is_directory(status) && !fs::is_regular_file(status);
}

}  // namespace

bool directory_exists(const std::string& path) { return fs::is_directory(fs_path(path)); }

bool file_exists(const std::string& path) { return fs::is_regular_file(fs_path(path)); }

bool remove_file(const std::string& path) {
  const fs::path target = fs_path(path);
  // unlink removes a link itself, so a link to a regular file goes and its target stays; and it
  // never removes a directory, not even one put in the file's place after the check (EISDIR).
  if (fs::is_regular_file(target) && unlink(target.c_str()) != 0) {
    const int error = errno;
    if (error != ENOENT && error != EISDIR)
      detail::raise_filesystem_error("boost::filesystem::remove", target.string(), error);
  }
  return nothing_left(target);
}

bool create_directory(const std::string& path) {
  const std::string parent = dirname(path);
  if (!parent.empty()) {
    // Ancestors are created from the outermost missing one inwards; the recursion's own
    // result is the parent's status, which decides whether to go on.
    if (!directory_exists(parent) && !create_directory(parent))
      return directory_exists(path);
  }
  const fs::path target = fs_path(path);
  // The dependency reports true only for a directory it has just made, which needs no
  // second look; otherwise the status says what is there.
  if (!file_exists(path) && fs::create_directory(target))
    return true;
  return fs::is_directory(target);
}

bool remove_directory(const std::string& path) {
  const std::string generic = detail::generic_path(path);
  detail::remove_tree(generic);
  return nothing_left(fs::path(generic));
}

std::string tempnam() {
  char buffer[2048];
  const char* name = host_tmpnam(buffer);
  // The host gives null when no name fits its buffer; there is then no name to return.
  if (name == nullptr)
    return std::string();
  return detail::generic_path(name);
}

}  // namespace vesk

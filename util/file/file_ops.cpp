// File and directory operations over Boost.Filesystem; its filesystem_error reaches the caller.
#include "vesk/file.hpp"

#include "util/file/path_form.hpp"
#include "util/file/tree_removal.hpp"
#include "vesk/host/host_util.h"

#include <boost/filesystem.hpp>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <sys/stat.h>

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

namespace {

// One level of create_directory once its parent has been dealt with: nothing is made where a
// regular file is; the dependency makes the directory or raises; the status says what is there.
bool make_one_level(const std::string& path) {
  const fs::path target = fs_path(path);
  // The dependency reports true only for a directory it has just made, which needs no
  // second look; otherwise the status says what is there.
  if (!file_exists(path) && fs::create_directory(target))
    return true;
  return fs::is_directory(target);
}

// A directory made with the mode the dependency gives (all permissions, less the umask).
// Only success is taken from it: a failed attempt changes nothing on disk, and the caller then
// takes the slow steps, whose status queries and dependency calls give the usual results and
// errors.
bool made_at_once(const std::string& path) {
  return ::mkdir(detail::generic_path(path).c_str(), 0777) == 0;
}

}  // namespace

bool create_directory(const std::string& path) {
  // Most calls find the parent in place, or are a level whose parent was made a moment ago:
  // then one mkdir is the whole work, with no status queries before it.
  if (made_at_once(path))
    return true;
  const int error = errno;
  const std::string parent = dirname(path);
  if (!parent.empty()) {
    // The mkdir failing with ENOENT means the parent's own lookup found a name missing, so
    // the parent's status query would have said "no directory" without raising; the query is
    // skipped. Ancestors are created from the outermost missing one inwards; the recursion's
    // own result is the parent's status, which decides whether to go on.
    if ((error == ENOENT || !directory_exists(parent)) && !create_directory(parent))
      return directory_exists(path);
    if (error == ENOENT && made_at_once(path))
      return true;
  }
  return make_one_level(path);
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

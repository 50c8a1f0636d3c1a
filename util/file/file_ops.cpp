// File and directory operations over Boost.Filesystem; its filesystem_error reaches the caller.
#include "vesk/file.hpp"

#include "util/file/filesystem_error.hpp"
#include "util/file/path_form.hpp"
#include "util/file/tree_removal.hpp"
#include "vesk/host/host_util.h"

#include <boost/filesystem.hpp>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

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

// Whether `inner` is `outer` followed by a separator and more ("a" and "a/b", "/" and "/a",
// "a/b" and "a/b/"), both in generic form: then the system resolves `outer` on its way to
// `inner`, so that a mkdir of `inner` succeeds only where `outer` is a directory, and fails
// with ENOENT where it is missing. A drive prefix is not such a parent: dirname("d:a") is "d:",
// which the system never looks at for "d:a".
bool extends_at_separator(const std::string& outer, const std::string& inner) {
  return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
         (outer.back() == '/' || inner[outer.size()] == '/');
}

// Whether a mkdir of `path` that succeeds has done exactly what create_directory's steps do.
// It has when the parent is empty (nothing to make first) or is the path up to a separator
// and a name, which the mkdir resolves. A parent that the path extends by separators alone
// ("a:b" of "a:b/") is the very directory the mkdir makes, so the question passes to it. A
// path without ':' always qualifies and costs no string work: only a drive prefix makes a
// parent that is not the path up to a separator.
bool mkdir_proves_parent(const std::string& path) {
  if (path.find(':') == std::string::npos)
    return true;
  for (std::string level = detail::generic_path(path);;) {
    std::string parent = dirname(level);
    if (parent.empty())
      return true;
    if (!extends_at_separator(parent, level))
      return false;
    if (level.find_first_not_of('/', parent.size()) != std::string::npos)
      return true;
    level = std::move(parent);
  }
}

// The generic forms of the levels that create_directory visits for `path`, outermost first:
// ..., dirname(dirname(path)), dirname(path), path. Empty unless each level extends the one
// above it at a separator, so that a missing level makes the lookup of every deeper one fail
// with ENOENT; "d:a", whose parent is "d:", is not such a chain.
std::vector<std::string> separator_chain(const std::string& path) {
  std::vector<std::string> levels;
  for (std::string level = path; !level.empty(); level = dirname(level))
    levels.push_back(detail::generic_path(level));
  std::reverse(levels.begin(), levels.end());
  for (std::size_t i = 1; i < levels.size(); ++i)
    if (!extends_at_separator(levels[i - 1], levels[i]))
      return {};
  return levels;
}

// Makes the missing levels of `path`, whose own mkdir has just failed with ENOENT, with about
// two mkdir calls per doubling of the number of missing levels on top of one per level made,
// where walking up one level at a time costs a failed mkdir per missing level. The outermost
// missing level is searched by mkdir itself: outwards in growing steps while the calls fail
// with ENOENT, then by halving once one fails with EEXIST, until one succeeds. Each level
// inside it is then made in turn. Only success is taken from these calls, as in made_at_once:
// any other outcome, or a chain that is not plain, returns false with what was made left in
// place, and the caller's slow steps finish the work with their usual results and errors.
// In a plain chain the levels made here are exactly those the slow steps would make, in the
// same order, outermost first.
bool made_with_missing_levels(const std::string& path) {
  const std::vector<std::string> levels = separator_chain(path);
  if (levels.size() < 2)
    return false;
  // The outermost missing level lies in [present, missing): `missing` is a level known to be
  // missing (at first the path itself), `present` one past the deepest level known to exist.
  std::size_t missing = levels.size() - 1;
  std::size_t present = 0;
  std::size_t step = 1;
  bool outwards = true;
  std::size_t made = 0;
  while (missing > present && made == 0) {
    const std::size_t probe = outwards ? (missing - present > step ? missing - step : present)
                                       : present + (missing - present) / 2;
    if (::mkdir(levels[probe].c_str(), 0777) == 0) {
      made = probe + 1;
    } else if (errno == ENOENT) {
      missing = probe;
      step *= 2;
    } else if (errno == EEXIST) {
      present = probe + 1;
      outwards = false;
    } else {
      return false;
    }
  }
  if (made == 0)
    return false;
  for (std::size_t level = made; level < levels.size(); ++level)
    if (::mkdir(levels[level].c_str(), 0777) != 0)
      return false;
  return true;
}

}  // namespace

bool create_directory(const std::string& path) {
  // Most calls find the parent in place, or are a level whose parent was made a moment ago:
  // then one mkdir is the whole work, with no status queries before it. Where a drive prefix
  // is the parent, the steps below make it first, as they must.
  const bool probe = mkdir_proves_parent(path);
  if (probe && made_at_once(path))
    return true;
  const int error = probe ? errno : 0;
  if (error == ENOENT && made_with_missing_levels(path))
    return true;
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

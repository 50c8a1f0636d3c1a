// Scratch directories for the file-system tests, made and cleaned with plain system calls so
// that the code under test never has to clean up after itself.
#ifndef VESK_TESTS_SUPPORT_SCRATCH_DIR_HPP
#define VESK_TESTS_SUPPORT_SCRATCH_DIR_HPP

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vesk::testing {

/// A fresh directory under $TMPDIR (the test's build folder), removed with all its content,
/// links never followed, when the object goes.
class ScratchDir {
public:
  ScratchDir() : ScratchDir(std::getenv("TMPDIR")) {}
  /// A fresh directory under `parent` instead, or /tmp when that is null or empty.
  explicit ScratchDir(const char* parent) {
    std::string pattern = std::string(parent != nullptr && *parent != '\0' ? parent : "/tmp") +
                          "/vesk-file-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    mPath = pattern;
  }
  ~ScratchDir() { remove_tree(mPath); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return mPath; }
  /// The scratch directory joined with `relative`.
  std::string operator/(const std::string& relative) const { return mPath + "/" + relative; }

  /// Removes `path` and everything below it; a missing path is fine.
  static void remove_tree(const std::string& path) {
    // Directories may have lost their permissions in a test; give them back before walking.
    nftw(path.c_str(), restore_and_remove, 64, FTW_DEPTH | FTW_PHYS);
  }

private:
  static int restore_and_remove(const char* path, const struct stat*, int type, struct FTW*) {
    if (type == FTW_DP || type == FTW_D || type == FTW_DNR) {
      chmod(path, 0700);
      rmdir(path);
    } else {
      unlink(path);
    }
    return 0;
  }

  std::string mPath;
};

/// A scratch directory in memory (/dev/shm) where the system has one, else under $TMPDIR: for
/// tests that make thousands of directories, which a disk's journal makes take many seconds.
inline const char* memory_scratch_parent() {
  return access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
}

/// The parent for the scratch directory of a test that drops to another user (nobody): /tmp,
/// which every user may enter, since $TMPDIR, the build folder, may lie under a home that only
/// its owner can (0700, as root's). The test opens the directory itself to that user (chmod).
inline const char* shared_scratch_parent() { return "/tmp"; }

/// Creates a regular file holding `text`; aborts the test program on failure.
inline void write_file(const std::string& path, const std::string& text = "x") {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    std::perror(path.c_str());
    std::abort();
  }
  ::close(fd);
}

/// The names that a plain readdir loop lists for `directory`, in its order.
inline std::vector<std::string> os_listing(const std::string& directory) {
  std::vector<std::string> names;
  DIR* handle = opendir(directory.c_str());
  if (handle == nullptr)
    return names;
  while (const dirent* entry = readdir(handle))
    names.emplace_back(entry->d_name);
  closedir(handle);
  return names;
}

/// The number of descriptors the process holds (the listing's own, "." and ".." alike in
/// every count, cancel out when two counts are compared).
inline std::size_t open_descriptors() { return os_listing("/proc/self/fd").size(); }

/// What lstat says is at `path`: 0 when nothing is there, else the S_IFMT bits.
inline mode_t kind_at(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

}  // namespace vesk::testing

#endif

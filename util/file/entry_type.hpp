// The kind of a directory entry from what the listing says, or from a status query of the
// entry itself where the listing does not say.
#ifndef VESK_UTIL_FILE_ENTRY_TYPE_HPP
#define VESK_UTIL_FILE_ENTRY_TYPE_HPP

#include "vesk/file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace vesk::detail {

/// The kind of entry `name` of the directory open as `dir`, which readdir listed as `listed`
/// (a DT_ value); for DT_UNKNOWN, one fstatat that follows no link, and EntryType::unknown
/// when that fails.
inline EntryType entry_type(int dir, const char* name, unsigned char listed) {
  if (listed == DT_UNKNOWN) {
    struct stat status;
    if (fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
      return EntryType::unknown;
    listed = IFTODT(status.st_mode);
  }
  switch (listed) {
    case DT_DIR:
      return EntryType::directory;
    case DT_REG:
      return EntryType::regular;
    case DT_LNK:
      return EntryType::link;
    default:
      return EntryType::other;
  }
}

}  // namespace vesk::detail

#endif

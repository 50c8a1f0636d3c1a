// DirectoryIterator: one directory's entries, straight from the operating system's enumeration.
#include "vesk/file.hpp"

#include "util/file/entry_type.hpp"
#include "util/file/open_file.hpp"
#include "util/file/path_form.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vesk {

// The walk's state lives in host memory, like every object the library creates for itself.
class DirectoryIteratorData : public AllocatorBase {
public:
  bool available = false;
  std::string name;
  // Last record read, for its name and type; valid until the next readdir.
  const dirent* entry = nullptr;
  // Null when the walk was never started.
  DIR* handle = nullptr;
  // Why the directory could not be opened, or why its listing ended early.
  int error = 0;
};

DirectoryIterator::DirectoryIterator(const std::string& directory)
    : mData(new DirectoryIteratorData) {
  if (mData == nullptr)
    return;
  DirectoryIteratorData& state = *mData;
  // Opened as the walks open a directory, again when a signal interrupts the open, which
  // opendir would report as a failure.
  const int fd = detail::open_directory(AT_FDCWD, detail::native_directory(directory).c_str());
  DIR* handle = fd >= 0 ? fdopendir(fd) : nullptr;
  if (handle == nullptr) {
    state.error = errno;
    if (fd >= 0)
      close(fd);
    return;
  }
  // A walk that yields not even one entry counts as not started, so open() tells the caller
  // whether there was anything to enumerate at all. A directory lists at least "." and "..";
  // one that lists nothing is gone (removed while open, the kernel's ENOENT, which the C
  // library turns into an end of listing) and is reported so.
  errno = 0;
  const dirent* first = readdir(handle);
  if (first == nullptr) {
    state.error = errno != 0 ? errno : ENOENT;
    closedir(handle);
    return;
  }
  state.handle = handle;
  state.entry = first;
  state.name = first->d_name;
  state.available = true;
}

DirectoryIterator::~DirectoryIterator() {
  if (mData == nullptr)
    return;
  if (mData->handle != nullptr)
    closedir(mData->handle);
  delete mData;
}

bool DirectoryIterator::open() const { return mData != nullptr && data().handle != nullptr; }

bool DirectoryIterator::available() const { return mData != nullptr && data().available; }

int DirectoryIterator::error() const { return mData != nullptr ? data().error : ENOMEM; }

std::string DirectoryIterator::current() const {
  return available() ? data().name : std::string();
}

EntryType DirectoryIterator::type() const {
  if (!available())
    return EntryType::unknown;
  return detail::entry_type(dirfd(data().handle), data().name.c_str(), data().entry->d_type);
}

void DirectoryIterator::advance() {
  if (!available())
    return;
  DirectoryIteratorData& state = data();
  // readdir reports the end and a read error alike with null, a read error with errno set;
  // either ends the walk.
  errno = 0;
  const dirent* next = readdir(state.handle);
  if (next == nullptr) {
    state.error = errno;
    state.available = false;
    return;
  }
  state.entry = next;
  state.name = next->d_name;
}

DirectoryIteratorData& DirectoryIterator::data() { return *mData; }

const DirectoryIteratorData& DirectoryIterator::data() const { return *mData; }

}  // namespace vesk

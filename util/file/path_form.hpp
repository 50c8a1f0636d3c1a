// The generic form of a path name and a read-only view of it, shared by the path functions and
// the file functions that normalise their arguments first.
#ifndef VESK_UTIL_FILE_PATH_FORM_HPP
#define VESK_UTIL_FILE_PATH_FORM_HPP

#include <cstddef>
#include <cstring>
#include <string>

#include <string.h>  // memrchr, a GNU extension of the C library

namespace vesk::detail {

/// A path read in its generic form without copying it: only the text before the first NUL
/// counts, a leading "//:" is skipped, and every '\' reads as '/'. The view refers to the
/// caller's string, which must outlive it and stay unchanged.
class GenericPathView {
public:
  static constexpr std::size_t npos = std::string::npos;

  explicit GenericPathView(const std::string& path) noexcept
      : mData(path.data()), mSize(path.size()) {
    if (const void* nul = std::memchr(mData, '\0', mSize))
      mSize = static_cast<std::size_t>(static_cast<const char*>(nul) - mData);
    if (mSize >= 3 && mData[0] == '/' && mData[1] == '/' && mData[2] == ':') {
      mData += 3;
      mSize -= 3;
    }
  }

  /// Number of characters in the generic form.
  std::size_t size() const noexcept { return mSize; }
  bool empty() const noexcept { return mSize == 0; }
  /// Character `i` (below size()) of the generic form: '/' for either separator.
  char operator[](std::size_t i) const noexcept { return mData[i] == '\\' ? '/' : mData[i]; }
  /// True when character `i` (below size()) is a separator, '/' or '\'.
  bool separator(std::size_t i) const noexcept { return mData[i] == '/' || mData[i] == '\\'; }

  /// Position of the last separator before `end` (at most size()), or npos. Costs two
  /// vectorised backward scans, the second only over what follows the last '/'.
  std::size_t lastSeparator(std::size_t end) const noexcept {
    const void* slash = memrchr(mData, '/', end);
    const std::size_t after = slash != nullptr ? offset(slash) + 1 : 0;
    if (const void* backslash = memrchr(mData + after, '\\', end - after))
      return offset(backslash);
    return slash != nullptr ? after - 1 : npos;
  }

  /// Characters [begin, end) of the generic form as a string with '/' as its only separator;
  /// the one allocation is the result's own.
  std::string substr(std::size_t begin, std::size_t end) const {
    std::string result(mData + begin, mData + end);
    if (result.find('\\') != std::string::npos)
      for (char& c : result)
        if (c == '\\')
          c = '/';
    return result;
  }

private:
  std::size_t offset(const void* p) const noexcept {
    return static_cast<std::size_t>(static_cast<const char*>(p) - mData);
  }

  const char* mData;
  std::size_t mSize;
};

/// The generic form of `path`: the text before its first NUL, without a leading "//:" (two '/'
/// then ':'), with every '\' replaced by '/'. The file functions apply it to every path argument
/// before using it. "a\\b" -> "a/b"; "//:x\\y" -> "x/y"; std::string("a\0b", 3) -> "a".
inline std::string generic_path(const std::string& path) {
  const GenericPathView view(path);
  return view.substr(0, view.size());
}

/// The directory argument of DirectoryIterator and TreeWalker in the form opendir takes: the
/// text before its first NUL (all the system would read of it), every '\' made '/', trailing
/// separators dropped, and nothing at all meaning the root directory.
inline std::string native_directory(const std::string& directory) {
  std::string native = directory.substr(0, directory.find('\0'));
  for (char& c : native) {
    if (c == '\\')
      c = '/';
  }
  std::string::size_type end = native.size();
  while (end > 0 && native[end - 1] == '/')
    --end;
  native.resize(end);
  if (native.empty())
    native = "/";
  return native;
}

}  // namespace vesk::detail

#endif

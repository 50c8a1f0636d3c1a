// File-system services: directory iteration, file and directory operations, path names.
#ifndef VESK_FILE_HPP
#define VESK_FILE_HPP

#include "vesk/base.hpp"

#include <string>

// ---------------------------------------------------------------------------------------------
// Directory iteration and file and directory operations
// ---------------------------------------------------------------------------------------------

namespace vesk {

/// The state of one walk; defined inside the library.
class DirectoryIteratorData;

/// The kind of a directory entry, the entry itself and not what a link names.
enum class EntryType { directory, regular, link, other, unknown };

/// Walks the entries of one directory in the order in which the operating system lists them,
/// "." and ".." included, without recursing, filtering or sorting. Use: while available(),
/// read current(), then advance(). Never throws for a directory it cannot read: one that
/// cannot be opened gives an iterator that is not open(), a listing that fails ends as if
/// complete, and error() says why in both cases. Used by one thread at a time.
class VESK_API DirectoryIterator {
public:
  /// Starts the walk of `directory`; '/' and '\' are both separators, trailing separators are
  /// ignored, only the text before a NUL counts, and an empty argument (or separators only)
  /// names the root directory. An open interrupted by a signal is made again.
  DirectoryIterator(const std::string& directory);
  /// Ends the walk and releases the operating system's handle.
  ~DirectoryIterator();
  /// Not copyable: each walk owns its operating system handle.
  DirectoryIterator(const DirectoryIterator&) = delete;
  /// Not assignable, for the same reason.
  DirectoryIterator& operator=(const DirectoryIterator&) = delete;

  /// True when the walk was started; stays true after the last entry.
  bool open() const;
  /// True when there is a current entry.
  bool available() const;
  /// 0, or the system's error number: for an iterator that is not open(), why the directory
  /// could not be opened (ENOENT, ENOTDIR, EACCES, ...; ENOENT too for one that lists no entry
  /// at all, as a directory removed while open, "." after the working directory was removed;
  /// ENOMEM when the host had no memory for the iterator); after the last entry, why the
  /// listing ended early (EIO, ...).
  int error() const;
  /// The current entry's bare name (never with the directory part), or "" when not available().
  std::string current() const;
  /// The current entry's kind as the system listed it, a link being a link; where the listing
  /// does not say (some file systems), one status query of the entry that follows no link.
  /// EntryType::unknown when that fails too, or when not available().
  EntryType type() const;
  /// Moves to the next entry; after the last one available() becomes false. Does nothing when
  /// available() is false.
  void advance();

private:
  DirectoryIteratorData& data();
  const DirectoryIteratorData& data() const;

  // Host-allocated through AllocatorBase; null only when the host allocator was exhausted,
  // and such an iterator behaves as one that was never started.
  DirectoryIteratorData* mData;
};

/// The state of one tree walk; defined inside the library.
class TreeWalkerData;

/// Walks every entry under a directory, depth first: each directory's entries in the order the
/// system lists them ("." and ".." left out), a directory just before what it holds. Entries
/// are reached through descriptors of the directories holding them, so a link is reported as
/// a link and never followed, an entry renamed or replaced during the walk never leads
/// outside the tree, and at most 17 descriptors are held however deep the tree (fewer when
/// the process runs short). A directory that cannot be opened or listed is reported with the
/// system's error and not entered (or left). Deep walks close the directories high above them
/// and open them again on the way back: one that can no longer be reached so (moved out of
/// the tree, its permissions gone, no descriptor free) is reported once more with the error,
/// its remaining entries unread, and so is each such directory above it; the walk goes on in
/// the directory walked, which it keeps open. Use: while available(), read path(), type() and
/// error(), then advance(). Used by one thread at a time.
class VESK_API TreeWalker {
public:
  /// Starts the walk under `directory` ('/' and '\' are separators, as for DirectoryIterator;
  /// only the text before a NUL counts; a link there is followed; "" is refused with EINVAL,
  /// where "/" walks the root). When it
  /// cannot be opened, the walker is not open() and error() holds the system's error number
  /// (ENOMEM when the host has no memory for the walk's state). Throws std::bad_alloc when
  /// memory for the first entry runs out.
  explicit TreeWalker(const std::string& directory);
  /// Ends the walk and releases its descriptors.
  ~TreeWalker();
  /// Not copyable: each walk owns its descriptors.
  TreeWalker(const TreeWalker&) = delete;
  /// Not assignable, for the same reason.
  TreeWalker& operator=(const TreeWalker&) = delete;

  /// True when the directory was opened; stays true after the last entry.
  bool open() const;
  /// True when there is a current entry.
  bool available() const;
  /// The current entry's path relative to the directory walked, '/' between names: "src",
  /// "src/main.cpp"; "" when not available().
  const std::string& path() const;
  /// The current entry's path as a caller opens it: the directory walked, as given ('\'
  /// made '/', trailing separators dropped), '/', then path(): "src/main.cpp" under "/work"
  /// gives "/work/src/main.cpp". A path rather than a descriptor, so that it stays valid after
  /// advance() and can be handed to another thread; opening it resolves every name again, so
  /// an entry renamed since it was listed may have been replaced. "" when not available().
  std::string fullPath() const;
  /// The current entry's kind, a link being a link (see DirectoryIterator::type()).
  EntryType type() const;
  /// 0, or the system's error number (EACCES, ...) for a current entry that is a directory
  /// the walk could not open or list, and so does not enter or leaves; for a walker that is
  /// not open(), why; after the last entry, why the listing of the directory walked ended
  /// early, or 0 when it did not.
  int error() const;
  /// Moves to the next entry: into the current one when it is a directory that opened.
  /// Throws std::bad_alloc when memory runs out; the walker can then only be destroyed.
  void advance();

private:
  void start(const std::string& directory);

  TreeWalkerData* mData;
};

/// True when a directory exists at `path` (links are followed); a missing path is no error.
/// '\' is a separator. Raises boost::filesystem::filesystem_error when the status query fails
/// for any other reason. Examples: "/tmp" -> true, "/etc/passwd" -> false, "" -> false.
VESK_API bool directory_exists(const std::string& path);

/// True when a regular file exists at `path` (links are followed); a directory is not a file.
/// Raises boost::filesystem::filesystem_error when the status query fails other than by absence.
/// Examples: "/etc/passwd" -> true, "/tmp" -> false, "" -> false.
VESK_API bool file_exists(const std::string& path);

/// Removes the regular file at `path` (a link to one is removed as a link, its target stays).
/// True when afterwards neither a directory nor a regular file exists there: a directory is
/// never removed (false), not even one put in the file's place during the call, and a missing
/// path gives true. Failures raise the filesystem_error.
VESK_API bool remove_file(const std::string& path);

/// Creates the directory at `path` and every missing ancestor, outermost first. True when a
/// directory exists there afterwards; a regular file in the way gives false and creates
/// nothing. Failures of the operating system raise the filesystem_error, keeping what exists.
VESK_API bool create_directory(const std::string& path);

/// Removes the directory at `path` with everything in it, depth first. Links are never
/// followed: a link inside the tree, or a link to a directory at `path` itself (in any spelling,
/// "t", "t/" or "t\\"), is removed as a link, and nothing outside the tree is deleted, even when
/// entries are renamed or replaced while it runs; a mounted file system is not entered (its mount
/// point cannot go: EBUSY). A last element "." or "..", or the root, is refused and removes
/// nothing. True when afterwards neither a directory nor a regular file exists at `path`; a
/// regular file there is left (false). Depth is bounded by memory only, and few descriptors are
/// held. Failures raise the filesystem_error, keeping what was removed so far.
VESK_API bool remove_directory(const std::string& path);

/// A fresh temporary file name from the host, with '/' as its only separator (for example
/// "/tmp/vesk-0123456789abcdef01234567"); nothing is created on disk. "" when the host has
/// no name to give.
VESK_API std::string tempnam();

}  // namespace vesk

// ---------------------------------------------------------------------------------------------
// End of directory iteration and file and directory operations
// ---------------------------------------------------------------------------------------------

namespace vesk {

// ---------------------------------------------------------------------------------------------
// Path names
//
// Pure string functions: none of them looks at the file system, and a path need not exist.
// The same grammar holds on every platform: '/' and '\' are both separators, a ':' closes a
// drive prefix ("d:"), and a path that begins with exactly two separators and a name is a
// network path ("//net/a") whose first element is that name. Only the text before the first
// NUL counts, and a leading "//:" is ignored. Results use '/' as their only separator.
// ---------------------------------------------------------------------------------------------

/// The last element of `path`; "." when the path ends in a separator that is not a root.
/// "dir\\sub\\a.tar.gz" -> "a.tar.gz"; "/a/b/" -> "."; "/" -> "/"; "d:" -> "d:";
/// "//net" -> "//net".
VESK_API std::string leaf(const std::string& path);

/// The leaf of `path` up to, not including, its last '.'; the whole leaf when it has no '.'.
/// "dir/a.tar.gz" -> "a.tar"; ".profile" -> ""; "a/" -> "".
VESK_API std::string basename(const std::string& path);

/// The leaf of `path` from its last '.' (included) to its end; empty when the leaf has no '.'.
/// "dir/a.tar.gz" -> ".gz"; "a.b/x" -> ""; "a/" -> ".".
VESK_API std::string extension(const std::string& path);

/// The parent path of `path` with trailing separators removed, except a root separator; empty
/// when there is no parent. "dir\\sub\\a.h" -> "dir/sub"; "/a" -> "/"; "d:/a" -> "d:/";
/// "//net/a" -> "//net/"; "a" -> ""; "/" -> "".
VESK_API std::string dirname(const std::string& path);

// ---------------------------------------------------------------------------------------------
// End of path names
// ---------------------------------------------------------------------------------------------

}  // namespace vesk

#endif

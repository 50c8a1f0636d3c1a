// File-system services: directory iteration, file and directory operations, path names.
#ifndef VESK_FILE_HPP
#define VESK_FILE_HPP

#include "vesk/base.hpp"

#include <string>

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

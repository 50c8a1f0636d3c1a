// Removal of a directory tree through descriptors of the directories it holds.
#ifndef VESK_UTIL_FILE_TREE_REMOVAL_HPP
#define VESK_UTIL_FILE_TREE_REMOVAL_HPP

#include <string>

namespace vesk::detail {

/// Removes the directory named by `path` (generic form) with everything in it. Every entry is
/// examined and removed relative to a descriptor of the directory holding it, so a link is never
/// followed and an entry renamed or replaced during the walk never leads outside the tree; mount
/// points are not entered. A link at `path` itself is removed as a link when it points to a
/// directory and left otherwise; a path whose last element is "." or "..", or the root, and
/// anything that is not a directory, is left. Failures raise the filesystem error. Depth is
/// bounded by memory only; at most 18 descriptors are held, fewer when the process runs short.
void remove_tree(const std::string& path);

}  // namespace vesk::detail

#endif

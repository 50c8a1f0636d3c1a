// Path-name splitting: leaf, basename, extension and dirname by the library's own path grammar.
#include "vesk/file.hpp"

#include "util/file/path_form.hpp"

namespace vesk {

namespace {

using detail::GenericPathView;
constexpr std::size_t npos = GenericPathView::npos;

// Where the last element of `g` starts. A trailing separator is its own element; "//" is one
// element (a network prefix with no name yet); otherwise the element follows the last
// separator, or a drive's ':' when there is no separator ("d:a" -> "a", but "d:" stays whole).
std::size_t leaf_start(const GenericPathView& g) {
  const std::size_t size = g.size();
  if (size == 2 && g.separator(0) && g.separator(1))
    return 0;
  if (size > 0 && g.separator(size - 1))
    return size - 1;
  const std::size_t last = g.lastSeparator(size);
  if (last != npos)
    return last == 1 && g.separator(0) ? 0 : last + 1;  // "//net" is a single element
  // Without a separator, a drive's ':' ends the prefix unless it is the last character.
  if (size >= 2)
    for (std::size_t i = size - 1; i-- > 0;)
      if (g[i] == ':')
        return i + 1;
  return 0;
}

// Position of the root separator among the first `end` characters of `g`, or npos: the '/'
// after a drive ("d:/"), the '/' after a network name ("//net/"), or a leading '/'.
std::size_t root_position(const GenericPathView& g, std::size_t end) {
  if (end > 2 && g[1] == ':' && g.separator(2))
    return 2;
  if (end == 2 && g.separator(0) && g.separator(1))
    return npos;
  if (end > 3 && g.separator(0) && g.separator(1) && !g.separator(2)) {
    for (std::size_t i = 3; i < end; ++i)
      if (g.separator(i))
        return i;
    return npos;
  }
  if (end > 0 && g.separator(0))
    return 0;
  return npos;
}

// True when the run of separators that contains position `k` is not a root: not at the start,
// not right after a network name ("//net/") and not right after a drive ("d:/").
bool is_non_root_separator(const GenericPathView& g, std::size_t k) {
  while (k > 0 && g.separator(k - 1))
    --k;
  if (k == 0)
    return false;
  // A network name needs both leading separators: "a/b/" ends in an ordinary separator.
  if (k > 2 && g.separator(0) && g.separator(1)) {
    std::size_t first = 2;
    while (!g.separator(first))
      ++first;
    if (first == k)
      return false;
  }
  return !(k == 2 && g[1] == ':');
}

// The leaf as the range [begin, end) of `g`, or as "." when `dot` is set.
struct LeafRange {
  std::size_t begin;
  std::size_t end;
  bool dot;
};

LeafRange leaf_range(const GenericPathView& g) {
  const std::size_t start = leaf_start(g);
  if (!g.empty() && start > 0 && g.separator(start) && is_non_root_separator(g, start))
    return {0, 0, true};
  return {start, g.size(), false};
}

// Position of the last '.' in the leaf, or npos.
std::size_t last_dot(const GenericPathView& g, const LeafRange& leaf) {
  for (std::size_t i = leaf.end; i-- > leaf.begin;)
    if (g[i] == '.')
      return i;
  return npos;
}

}  // namespace

std::string leaf(const std::string& path) {
  const GenericPathView g(path);
  const LeafRange range = leaf_range(g);
  return range.dot ? std::string(1, '.') : g.substr(range.begin, range.end);
}

std::string basename(const std::string& path) {
  const GenericPathView g(path);
  const LeafRange range = leaf_range(g);
  if (range.dot)
    return std::string();
  const std::size_t dot = last_dot(g, range);
  return g.substr(range.begin, dot == npos ? range.end : dot);
}

std::string extension(const std::string& path) {
  const GenericPathView g(path);
  const LeafRange range = leaf_range(g);
  if (range.dot)
    return std::string(1, '.');
  const std::size_t dot = last_dot(g, range);
  return dot == npos ? std::string() : g.substr(dot, range.end);
}

std::string dirname(const std::string& path) {
  const GenericPathView g(path);
  std::size_t end = leaf_start(g);
  const bool trailing = !g.empty() && g.separator(end);
  const std::size_t root = root_position(g, end);
  // Drop the separators before the leaf, but keep a root separator.
  while (end > 0 && end - 1 != root && g.separator(end - 1))
    --end;
  if (end == 1 && root == 0 && trailing)
    return std::string();
  // The parent is itself put into generic form, so a parent that now begins with "//:" loses
  // that prefix too.
  std::size_t begin = 0;
  if (end >= 3 && g.separator(0) && g.separator(1) && g[2] == ':')
    begin = 3;
  return g.substr(begin, end);
}

}  // namespace vesk

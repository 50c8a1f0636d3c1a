// Feeds arbitrary bytes to the path functions: each result against a plain model of the path
// rules written straight from their statement, and what holds for every path.
#include <vesk/file.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "path invariant broken: %s\n", what);
    std::abort();
  }
}

bool generic(const std::string& result) {
  return result.find('\\') == std::string::npos && result.find('\0') == std::string::npos;
}

// The model. A position of none is npos.
constexpr std::size_t kNone = std::string::npos;

// Generic form: up to the first NUL, a leading "//:" dropped, '\\' turned into '/'.
std::string generic_form(const std::string& x) {
  std::string g(x.c_str());
  if (g.size() >= 3 && g[0] == '/' && g[1] == '/' && g[2] == ':')
    g.erase(0, 3);
  for (char& c : g)
    if (c == '\\')
      c = '/';
  return g;
}

// The last position at most `last` holding `c`, or none.
std::size_t last_at_most(const std::string& g, char c, std::size_t last) {
  for (std::size_t i = last + 1; i-- > 0;)
    if (g[i] == c)
      return i;
  return kNone;
}

std::size_t first_separator_from_2(const std::string& g) {
  return g.size() > 2 ? g.find('/', 2) : kNone;
}

std::size_t leaf_start(const std::string& g, std::size_t e) {
  if (e == 2 && g[0] == '/' && g[1] == '/')
    return 0;
  if (e > 0 && g[e - 1] == '/')
    return e - 1;
  std::size_t q = e > 0 ? last_at_most(g, '/', e - 1) : kNone;
  if (q == kNone && e >= 2)
    q = last_at_most(g, ':', e - 2);
  if (q == kNone || (q == 1 && g[0] == '/'))
    return 0;
  return q + 1;
}

std::size_t root_position(const std::string& g, std::size_t e) {
  if (e > 2 && g[1] == ':' && g[2] == '/')
    return 2;
  if (e == 2 && g[0] == '/' && g[1] == '/')
    return kNone;
  if (e > 3 && g[0] == '/' && g[1] == '/' && g[2] != '/') {
    const std::size_t p = first_separator_from_2(g);
    return p < e ? p : kNone;
  }
  if (e > 0 && g[0] == '/')
    return 0;
  return kNone;
}

bool non_root_separator(const std::string& g, std::size_t k) {
  while (k > 0 && g[k - 1] == '/')
    --k;
  if (k == 0)
    return false;
  // The separator after a network name: the name needs both leading separators, so the
  // separator ending "a/b/" or "./b/" stays an ordinary one.
  if (k > 2 && g[0] == '/' && g[1] == '/' && first_separator_from_2(g) == k)
    return false;
  if (k == 2 && g[1] == ':')
    return false;
  return true;
}

std::string model_leaf(const std::string& path) {
  const std::string g = generic_form(path);
  const std::size_t e = leaf_start(g, g.size());
  if (!g.empty() && e > 0 && g[e] == '/' && non_root_separator(g, e))
    return ".";
  return g.substr(e);
}

std::string model_dirname(const std::string& path) {
  const std::string g = generic_form(path);
  std::size_t e = leaf_start(g, g.size());
  const bool t = !g.empty() && g[e] == '/';
  const std::size_t r = root_position(g, e);
  while (e > 0 && e - 1 != r && g[e - 1] == '/')
    --e;
  if (e == 1 && r == 0 && t)
    return "";
  return generic_form(g.substr(0, e));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string leaf = vesk::leaf(path);
  const std::string basename = vesk::basename(path);
  const std::string extension = vesk::extension(path);
  const std::string dirname = vesk::dirname(path);

  const std::string want_leaf = model_leaf(path);
  const std::size_t dot = want_leaf.rfind('.');
  check(leaf == want_leaf, "leaf follows the model");
  check(basename == want_leaf.substr(0, dot), "basename follows the model");
  check(extension == (dot == kNone ? std::string() : want_leaf.substr(dot)),
        "extension follows the model");
  check(dirname == model_dirname(path), "dirname follows the model");

  check(generic(leaf) && generic(basename) && generic(extension) && generic(dirname),
        "results use '/' only and hold no NUL");
  check(basename + extension == leaf, "basename + extension == leaf");
  check(extension.empty() || extension[0] == '.', "an extension starts with its dot");
  check(path.empty() || dirname.size() < path.size(), "dirname is shorter than the path");
  check(leaf.size() <= path.size(), "the leaf is no longer than the path");
  return 0;
}

// Feeds arbitrary bytes to the path functions and checks what holds for every path.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string leaf = vesk::leaf(path);
  const std::string basename = vesk::basename(path);
  const std::string extension = vesk::extension(path);
  const std::string dirname = vesk::dirname(path);

  check(generic(leaf) && generic(basename) && generic(extension) && generic(dirname),
        "results use '/' only and hold no NUL");
  check(basename + extension == leaf, "basename + extension == leaf");
  check(extension.empty() || extension[0] == '.', "an extension starts with its dot");
  check(path.empty() || dirname.size() < path.size(), "dirname is shorter than the path");
  check(leaf.size() <= path.size(), "the leaf is no longer than the path");
  return 0;
}

// Tests of the generic path form that the file functions apply to their arguments.
#include "util/file/path_form.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(GenericPath, ReplacesBackslashesCutsAtNulAndDropsDoubleSlashColon) {
  const struct {
    std::string path;
    std::string generic;
  } rows[] = {
      {"", ""},
      {"a/b", "a/b"},
      {"a\\b\\", "a/b/"},
      {"\\\\net\\x", "//net/x"},
      {std::string("a\\b\0c\\d", 7), "a/b"},
      {"//:x\\y", "x/y"},
      {"//:", ""},
      {"//:/:a", "/:a"},
      {"\\\\:x", "//:x"},  // the prefix is recognised before backslashes are replaced
      {"/:a", "/:a"},
      {"//a:", "//a:"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(vesk::detail::generic_path(row.path), row.generic) << "path \"" << row.path << "\"";
}

}  // namespace

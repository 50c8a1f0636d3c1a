// A user's program: walk a tree, take the MD5 of each file, intern every word and note where
// it first appears, with the library alone.
#include <vesk/file.hpp>
#include <vesk/hash.hpp>
#include <vesk/string.hpp>

#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <unordered_map>

int main() {
  const std::string top = vesk::tempnam();  // a small tree to walk
  vesk::create_directory(top + "/src");
  std::ofstream(top + "/notes.txt") << "alpha beta\n";
  std::ofstream(top + "/src/main.txt") << "beta\ngamma alpha\n";

  std::map<std::string, std::string> digests;  // sorted by path: listing order varies
  std::unordered_map<vesk::TableString, vesk::Location> first_seen;
  for (vesk::TreeWalker walk(top); walk.available(); walk.advance()) {
    if (walk.type() != vesk::EntryType::regular)
      continue;  // directories, and links, which the walk never follows
    std::ostringstream read;
    read << std::ifstream(top + "/" + walk.path()).rdbuf();
    const std::string text = read.str();
    digests[walk.path()] = vesk::md5_hex_of(text).c_str();
    std::istringstream lines(text);
    std::string line, word;
    for (unsigned int number = 1; std::getline(lines, line); ++number)
      for (std::istringstream words(line); words >> word;)
        first_seen.try_emplace(vesk::TableString(word), vesk::TableString(walk.path()),
                               vesk::LineColumn(number, 0));
  }
  for (const auto& [path, digest] : digests)
    std::cout << digest << "  " << path << '\n';
  std::cout << "gamma first at " << first_seen.at(vesk::TableString("gamma")) << '\n';
  vesk::remove_directory(top);
}

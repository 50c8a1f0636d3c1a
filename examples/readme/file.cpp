// Directories, files and path names.
#include <vesk/file.hpp>

#include <iostream>
#include <stdexcept>
#include <string>

int main() {
  // Path names are pure string functions; '\' and '/' are both separators.
  const std::string source = "d:\\work\\plant.tar.gz";
  std::cout << vesk::leaf(source) << " | " << vesk::basename(source) << " | "
            << vesk::extension(source) << " | " << vesk::dirname(source) << '\n';
  // plant.tar.gz | plant.tar | .gz | d:/work

  // A scratch tree: create it with its ancestors, list one level, remove it whole.
  const std::string root = vesk::tempnam();  // a fresh name; nothing exists there yet
  if (root.empty() || !vesk::create_directory(root + "/obj/debug"))
    return 1;
  for (vesk::DirectoryIterator it(root + "/obj"); it.available(); it.advance())
    if (it.type() == vesk::EntryType::directory)  // as listed: a link is a link
      std::cout << it.current() << ' ';  // ".", ".." and "debug", in the system's order
  std::cout << '\n';

  // What the system refuses raises the filesystem library's error, a std::runtime_error whose
  // message names the operation, the error and the path; a missing path is no error, only
  // "not there".
  try {
    vesk::file_exists(root + '/' + std::string(300, 'n'));  // longer than a name may be
  } catch (const std::runtime_error& error) {
    const std::string what = error.what();
    std::cout << what.substr(0, what.find(": \"")) << '\n';
    // boost::filesystem::status: File name too long
  }
  const bool removed = vesk::remove_directory(root);
  std::cout << removed << vesk::directory_exists(root) << '\n';  // 10
}

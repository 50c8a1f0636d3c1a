// A user's program: one thread walks a tree and hands each file to a worker, which takes its
// MD5, interns every word and notes where it first appears, with the library alone.
#include <vesk/file.hpp>
#include <vesk/hash.hpp>
#include <vesk/string.hpp>

#include <condition_variable>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>

// Paths from the walking thread to the worker; an empty path ends the work.
class Paths {
public:
  void push(std::string path) {
    std::lock_guard<std::mutex> lock(mMutex);
    mPaths.push_back(std::move(path));
    mReady.notify_one();
  }
  std::string pop() {
    std::unique_lock<std::mutex> lock(mMutex);
    mReady.wait(lock, [this] { return !mPaths.empty(); });
    std::string path = std::move(mPaths.front());
    mPaths.pop_front();
    return path;
  }

private:
  std::mutex mMutex;
  std::condition_variable mReady;
  std::deque<std::string> mPaths;
};

int main() {
  const std::string top = vesk::tempnam();  // a small tree to walk
  vesk::create_directory(top + "/src");
  std::ofstream(top + "/notes.txt") << "alpha beta\n";
  std::ofstream(top + "/src/main.txt") << "beta\ngamma alpha\n";

  Paths files;
  std::map<std::string, vesk::Md5Digest> digests;  // sorted by path: listing order varies
  std::unordered_map<vesk::TableString, vesk::Location> first_seen;
  std::thread worker([&] {
    for (std::string path; !(path = files.pop()).empty();) {
      const std::string name = path.substr(top.size() + 1);  // relative to the top
      try {
        digests[name] = vesk::md5_file(path);  // the path exactly as listed, whatever its name
      } catch (const std::runtime_error& error) {  // the filesystem library's error
        std::cerr << error.what() << '\n';  // gone since it was listed, say
        continue;
      }
      std::ifstream lines(path);
      std::string line, word;
      for (unsigned int number = 1; std::getline(lines, line); ++number)
        for (std::istringstream words(line); words >> word;)  // interning is thread-safe
          first_seen.try_emplace(vesk::TableString(word), vesk::TableString(name),
                                 vesk::LineColumn(number, 0));
    }
  });
  for (vesk::TreeWalker walk(top); walk.available(); walk.advance())
    if (walk.type() == vesk::EntryType::regular)  // links are reported, never followed
      files.push(walk.fullPath());  // still valid after the walk has moved on
  files.push("");
  worker.join();
  for (const auto& [path, digest] : digests)
    std::cout << digest << "  " << path << '\n';
  std::cout << "gamma first at " << first_seen.at(vesk::TableString("gamma")) << '\n';
  vesk::remove_directory(top);
}

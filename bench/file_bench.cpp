// File-system benchmarks: tree removal against `rm -rf` and a hand-written descriptor walk (one
// tree of 20,000 files), and against `rm -rf` for trees of 10^2 to 10^6 files as a curve; deep
// creation against `mkdir -p` and, in alternation, a mkdir loop; DirectoryIterator against a
// plain readdir loop; md5_file over a tree of files against md5sum. Real time throughout, since the
// commands run in child processes. Every tree to remove is made when the program starts, before
// anything is removed. Scratch space is under $TMPDIR (else /tmp).
#include "bench_support.hpp"
#include "report_context.hpp"

#include <vesk/file.hpp>
#include <vesk/hash.hpp>

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

std::string scratch_root() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/vesk-file-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

// The process-wide scratch directory, removed at exit. Never destroyed itself, so the exit
// handler can still read it.
const std::string& scratch() {
  static const std::string* const root = [] {
    const std::string* made = new std::string(scratch_root());
    std::atexit([] {
      nftw(scratch().c_str(),
           [](const char* path, const struct stat*, int type, struct FTW*) {
             return type == FTW_DP ? rmdir(path) : unlink(path);
           },
           64, FTW_DEPTH | FTW_PHYS);
    });
    return made;
  }();
  return *root;
}

void make_dir(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    std::perror(path.c_str());
    std::abort();
  }
}

// Runs a command and waits for it; aborts the run when it fails, so no figure hides a failure.
void run(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  // What a command prints (md5sum's digests) goes to /dev/null, as a program's own work would.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  int status = 0;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::abort();
  }
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// ----- create_directory of a 30-level path ------------------------------------------------------

std::string deep_path(int serial) {
  std::string path = scratch() + "/deep" + std::to_string(serial);
  for (int level = 1; level < 30; ++level)
    path += "/level" + std::to_string(level);
  return path;
}

// Creates a path with `create` in each iteration; the tree is removed at once, outside the timed
// region, so every iteration starts from the same nearly empty scratch directory.
template <class Create>
void create_deep(benchmark::State& state, Create create) {
  int serial = 0;
  for (auto _ : state) {
    const std::string path = deep_path(serial++);
    create(path);
    state.PauseTiming();
    if (!exists(path))
      state.SkipWithError("path not created");
    run({"rm", "-rf", scratch() + "/deep" + std::to_string(serial - 1)});
    state.ResumeTiming();
  }
}

// Like create_deep, with a peer in the same process timed in alternation: each iteration makes
// one path with `create` and one with `peer`, taking turns at going first, and reports the time
// of `create`; the counter per_peer is the sum of its times over the sum of the peer's. A mkdir
// costs what the inode allocator meets, and that depends on the history of the file system:
// ext4 without a journal skips every inode freed in the last minute, and the scan past them
// can be most of the cost. Two families run one after the other meet different histories and
// their ratio swings either way by half; two calls side by side meet the same one.
template <class Create, class Peer>
void create_deep_against(benchmark::State& state, Create create, Peer peer) {
  int serial = 0;
  std::string ours_path;
  std::string peer_path;
  // The trees of the iteration before are checked and removed, untimed, before the next.
  const auto clear = [&] {
    if (ours_path.empty())
      return;
    if (!exists(ours_path) || !exists(peer_path))
      state.SkipWithError("path not created");
    run({"rm", "-rf", scratch() + "/deep" + std::to_string(serial - 2),
         scratch() + "/deep" + std::to_string(serial - 1)});
  };
  vesk::bench::in_turns(
      state, [&] { create(ours_path); }, [&] { peer(peer_path); },
      [&] {
        clear();
        ours_path = deep_path(serial++);
        peer_path = deep_path(serial++);
      });
  clear();
}

// What `mkdir -p` does, in this process and without its start-up: one mkdir per prefix,
// an existing directory being no error. The figure without the cost of a process.
void mkdir_loop(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
      std::abort();
    if (slash == std::string::npos)
      break;
  }
}

void vesk_create(const std::string& path) { vesk::create_directory(path); }

void BM_CreateDeep_Vesk(benchmark::State& state) {
  create_deep_against(state, vesk_create, mkdir_loop);
}

void BM_CreateDeep_MkdirP(benchmark::State& state) {
  create_deep(state, [](const std::string& path) { run({"mkdir", "-p", path}); });
}

void BM_CreateDeep_MkdirLoop(benchmark::State& state) {
  create_deep_against(state, mkdir_loop, vesk_create);
}

// Registered before every removal, so that these run first, before any large tree is removed.
BENCHMARK(BM_CreateDeep_Vesk)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(200);
BENCHMARK(BM_CreateDeep_MkdirP)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(200);
BENCHMARK(BM_CreateDeep_MkdirLoop)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(200);

// ----- trees to remove, all made before the first removal -----------------------------------

// A file system may hold back the inodes that a removal frees: ext4 without a journal passes
// over every inode freed in the last minutes (one at least, six while its block of the inode
// table is unwritten), one by one, for each new inode. A tree made right after another was
// removed then costs up to a millisecond per file instead of about 15 microseconds. Every tree
// the run removes is therefore made at its start, before anything is removed (see make_ahead),
// and the program itself is best started some minutes after any large removal.

constexpr std::int64_t kFilesPerLeaf = 100;

// `files` empty files, 100 to a directory, `fanout` such directories to a directory above them.
struct Shape {
  std::int64_t files;
  std::int64_t fanout;
};

int open_directory(int parent, const std::string& name) {
  const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(name.c_str());
    std::abort();
  }
  return fd;
}

// Makes directory `name` in `parent` and opens it.
int make_directory_at(int parent, const std::string& name) {
  if (mkdirat(parent, name.c_str(), 0755) != 0) {
    std::perror(name.c_str());
    std::abort();
  }
  return open_directory(parent, name);
}

// Each file is one mknodat relative to its open directory: no open and close, and no walk
// of the whole path, per file.
void make_files_at(int directory, std::int64_t first, std::int64_t count, const char* prefix) {
  for (std::int64_t file = first; file < first + count; ++file) {
    const std::string name = prefix + std::to_string(file);
    if (mknodat(directory, name.c_str(), S_IFREG | 0644, 0) != 0) {
      std::perror(name.c_str());
      std::abort();
    }
  }
}

std::string make_tree(const Shape& shape) {
  static int serial = 0;
  const std::string root = scratch() + "/tree" + std::to_string(serial++);
  make_dir(root);
  const int root_fd = open_directory(AT_FDCWD, root);
  int upper_fd = -1;
  for (std::int64_t made = 0; made < shape.files; made += kFilesPerLeaf) {
    const std::int64_t leaf = made / kFilesPerLeaf;
    if (leaf % shape.fanout == 0) {
      if (upper_fd >= 0)
        close(upper_fd);
      upper_fd = make_directory_at(root_fd, "dir" + std::to_string(leaf / shape.fanout));
    }
    const int lower_fd = make_directory_at(upper_fd, "sub" + std::to_string(leaf % shape.fanout));
    make_files_at(lower_fd, made, std::min(kFilesPerLeaf, shape.files - made), "file");
    close(lower_fd);
  }
  if (upper_fd >= 0)
    close(upper_fd);
  close(root_fd);
  return root;
}

// The trees made ahead, by shape.
std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::string>>& stock() {
  static std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::string>> trees;
  return trees;
}

// The trees each removal benchmark will take, by the benchmark's name without its settings:
// their shape and how many.
std::map<std::string, std::pair<Shape, std::int64_t>>& planned() {
  static std::map<std::string, std::pair<Shape, std::int64_t>> trees;
  return trees;
}

// A tree made ahead; one made now when the run removes more than was foreseen.
std::string take_tree(const Shape& shape) {
  std::vector<std::string>& trees = stock()[{shape.files, shape.fanout}];
  if (trees.empty())
    return make_tree(shape);
  std::string root = std::move(trees.back());
  trees.pop_back();
  return root;
}

// Times `remove` on trees of `shape`; `remove` returns false when it reports a failure of its
// own.
template <class Remove>
void time_removal(benchmark::State& state, const Shape& shape, Remove remove) {
  for (auto _ : state) {
    state.PauseTiming();
    const std::string root = take_tree(shape);
    // What the previous removal left unwritten goes to the disk now, not while this one runs.
    sync();
    state.ResumeTiming();
    if (!remove(root) || exists(root))
      state.SkipWithError("tree not removed");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * shape.files);
}

// What a careful program writes by hand: each directory opened relative to its parent without
// following links, listed with fdopendir, readdir's type deciding between entering and unlinkat.
void hand_remove(int parent, const char* name) {
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* directory = fd >= 0 ? fdopendir(fd) : nullptr;
  if (directory == nullptr)
    std::abort();
  while (const dirent* entry = readdir(directory)) {
    const char* entry_name = entry->d_name;
    if (std::strcmp(entry_name, ".") == 0 || std::strcmp(entry_name, "..") == 0)
      continue;
    if (entry->d_type == DT_DIR)
      hand_remove(dirfd(directory), entry_name);
    else if (unlinkat(dirfd(directory), entry_name, 0) != 0)
      std::abort();
  }
  closedir(directory);
  if (unlinkat(parent, name, AT_REMOVEDIR) != 0)
    std::abort();
}

bool remove_vesk(const std::string& root) { return vesk::remove_directory(root); }

bool remove_rm_rf(const std::string& root) {
  run({"rm", "-rf", root});
  return true;
}

bool remove_by_hand(const std::string& root) {
  hand_remove(AT_FDCWD, root.c_str());
  return true;
}

// Registers `family` (with the tree's size as its argument when `sized`): `repetitions` runs of
// `iterations` removals each, every removal timed alone, and notes the trees it will take.
void register_removal(const char* family, bool sized, const Shape& shape, int iterations,
                      int repetitions, bool (*remove)(const std::string&)) {
  auto* b = benchmark::RegisterBenchmark(
      family, [shape, remove](benchmark::State& state) { time_removal(state, shape, remove); });
  std::string name = family;
  if (sized) {
    b->Arg(shape.files);
    name += "/" + std::to_string(shape.files);
  }
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(iterations)->Repetitions(repetitions);
  planned()[name] = {shape, std::int64_t{iterations} * repetitions};
}

// Tree removal against `rm -rf` and the hand-written walk on one tree of 20,000 files (20
// directories of 10 subdirectories of 100 files), then the curve: `remove_directory` against
// `rm -rf` for 10^2 to 10^6 files, the two of one size back to back. Every size is removed
// five times; the small trees several times in each, since one removal of 100 files takes
// about a millisecond and `rm -rf` mostly its process start; 10^5 files three times and
// 10^6 once, each such tree taking seconds to make.
void register_removals() {
  const Shape tree{20000, 10};
  register_removal("BM_RemoveTree_Vesk", false, tree, 1, 5, remove_vesk);
  register_removal("BM_RemoveTree_RmRf", false, tree, 1, 5, remove_rm_rf);
  register_removal("BM_RemoveTree_HandWalk", false, tree, 1, 5, remove_by_hand);
  for (const std::int64_t files : vesk::bench::decades(100, 1000000, 10000)) {
    const int iterations = files <= 100 ? 20 : files <= 1000 ? 5 : 1;
    const int repetitions = files >= 1000000 ? 1 : files >= 100000 ? 3 : 5;
    register_removal("BM_RemoveCurve_Vesk", true, {files, 100}, iterations, repetitions,
                     remove_vesk);
    register_removal("BM_RemoveCurve_RmRf", true, {files, 100}, iterations, repetitions,
                     remove_rm_rf);
  }
}

// ----- walking a directory of 100,000 entries -----------------------------------------------

const std::string& big_directory() {
  static const std::string path = [] {
    const std::string made = scratch() + "/big";
    make_dir(made);
    const int fd = open_directory(AT_FDCWD, made);
    make_files_at(fd, 0, 100000, "entry");
    close(fd);
    return made;
  }();
  return path;
}

void BM_Walk_DirectoryIterator(benchmark::State& state) {
  const std::string& directory = big_directory();
  for (auto _ : state) {
    std::size_t entries = 0;
    std::size_t characters = 0;
    for (vesk::DirectoryIterator it(directory); it.available(); it.advance()) {
      ++entries;
      characters += it.current().size();
    }
    benchmark::DoNotOptimize(characters);
    if (entries != 100002)
      state.SkipWithError("wrong number of entries");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100002);
}

void BM_Walk_Readdir(benchmark::State& state) {
  const std::string& directory = big_directory();
  for (auto _ : state) {
    std::size_t entries = 0;
    std::size_t characters = 0;
    DIR* handle = opendir(directory.c_str());
    while (const dirent* entry = readdir(handle)) {
      ++entries;
      characters += std::strlen(entry->d_name);
    }
    closedir(handle);
    benchmark::DoNotOptimize(characters);
    if (entries != 100002)
      state.SkipWithError("wrong number of entries");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100002);
}

// ----- walking a tree of 100,000 files --------------------------------------------------------

// 100,000 files, 100 to a directory, 10 such directories to one above them: 1,100 directories.
const std::string& walk_tree() {
  static const std::string root = make_tree({100000, 10});
  return root;
}

constexpr std::int64_t kWalkEntries = 100000 + 1000 + 100;

void BM_TreeWalk_Vesk(benchmark::State& state) {
  const std::string& root = walk_tree();
  for (auto _ : state) {
    std::int64_t entries = 0;
    for (vesk::TreeWalker walker(root); walker.available(); walker.advance())
      entries += walker.error() == 0 ? 1 : 0;
    if (entries != kWalkEntries)
      state.SkipWithError("wrong number of entries");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kWalkEntries);
}

void BM_TreeWalk_StdFilesystem(benchmark::State& state) {
  const std::string& root = walk_tree();
  for (auto _ : state) {
    std::int64_t entries = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      benchmark::DoNotOptimize(entry.path().native().size());
      ++entries;
    }
    if (entries != kWalkEntries)
      state.SkipWithError("wrong number of entries");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kWalkEntries);
}

// find lists the files by name, as it prints them, into /dev/null.
void BM_TreeWalk_Find(benchmark::State& state) {
  const std::string& root = walk_tree();
  for (auto _ : state)
    run({"find", root, "-type", "f", "-fprint", "/dev/null"});
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kWalkEntries);
}

// ----- hashing the files of a tree -------------------------------------------------------------

constexpr int kHashedFiles = 256;
constexpr std::size_t kHashedFileSize = 256 * 1024;

// 256 files of 256 KiB of varied bytes, 16 to a directory: 64 MiB, read from the page cache.
const std::vector<std::string>& hashed_files() {
  static const std::vector<std::string> files = [] {
    const std::string root = scratch() + "/hashed";
    make_dir(root);
    std::vector<std::string> paths;
    std::string bytes(kHashedFileSize, '\0');
    std::uint32_t state = 1;
    for (int i = 0; i < kHashedFiles; ++i) {
      if (i % 16 == 0)
        make_dir(root + "/dir" + std::to_string(i / 16));
      for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
      }
      paths.push_back(root + "/dir" + std::to_string(i / 16) + "/file" + std::to_string(i));
      FILE* file = std::fopen(paths.back().c_str(), "wb");
      if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        std::perror(paths.back().c_str());
        std::abort();
      }
      std::fclose(file);
    }
    return paths;
  }();
  return files;
}

void BM_Md5Tree_Vesk(benchmark::State& state) {
  const std::vector<std::string>& files = hashed_files();
  for (auto _ : state) {
    unsigned int digest[4];
    for (const std::string& path : files) {
      vesk::md5_file(path, digest);
      benchmark::DoNotOptimize(digest);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kHashedFiles *
                          static_cast<std::int64_t>(kHashedFileSize));
}

// md5sum given every file at once, as `find -exec md5sum {} +` would: one process start.
void BM_Md5Tree_Md5sum(benchmark::State& state) {
  std::vector<std::string> command = {"md5sum"};
  for (const std::string& path : hashed_files())
    command.push_back(path);
  for (auto _ : state)
    run(command);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kHashedFiles *
                          static_cast<std::int64_t>(kHashedFileSize));
}

// Makes every tree the removals that the run's --benchmark_filter selects will take (as Google
// Benchmark itself lists them), and the directory of the walks, before the first benchmark
// runs, then writes them to the disk; prints what it made and how long that took, which is no
// figure of the library.
void make_ahead(char** argv) {
  const auto start = std::chrono::steady_clock::now();
  std::int64_t files = 0;
  bool walks = false;
  bool tree_walks = false;
  bool hashes = false;
  for (const std::string& name : vesk::bench::selected_benchmarks(argv)) {
    walks = walks || name.rfind("BM_Walk_", 0) == 0;
    tree_walks = tree_walks || name.rfind("BM_TreeWalk_", 0) == 0;
    hashes = hashes || name.rfind("BM_Md5Tree_", 0) == 0;
    const auto plan = planned().find(name.substr(0, name.find("/iterations:")));
    if (plan == planned().end())
      continue;
    const auto& [shape, trees] = plan->second;
    std::vector<std::string>& made = stock()[{shape.files, shape.fanout}];
    for (std::int64_t i = 0; i < trees; ++i)
      made.push_back(make_tree(shape));
    files += trees * shape.files;
  }
  if (walks) {
    big_directory();
    files += 100000;
  }
  if (tree_walks) {
    walk_tree();
    files += 100000;
  }
  if (hashes) {
    hashed_files();
    files += kHashedFiles;
  }
  sync();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("Made ahead: %lld files in %.1f s (%.0f us per file)\n\n",
              static_cast<long long>(files), took.count(),
              files > 0 ? took.count() * 1e6 / static_cast<double>(files) : 0.0);
  std::fflush(stdout);
}

// What the report shows of this program.
void declare_report() {
  namespace report = vesk::bench::report;
  const std::string remove = "`remove_directory`, 20,000 files in 200 directories";
  const std::string create = "`create_directory`, 30 levels";
  report::table("File system against `rm -rf`, `mkdir -p` and `readdir`",
                "Real time; `rm` and `mkdir` run as child processes, so their figures include a "
                "process start.");
  report::compare({remove, "BM_RemoveTree_Vesk"}, {"`rm -rf`", "BM_RemoveTree_RmRf"}, {"`rm -rf`"});
  report::compare({remove, "BM_RemoveTree_Vesk"},
                  {"a hand-written `openat`/`fdopendir`/`unlinkat` walk in the same process",
                   "BM_RemoveTree_HandWalk"},
                  {"hand-written descriptor walk"});
  report::compare({create, "BM_CreateDeep_Vesk"}, {"`mkdir -p`", "BM_CreateDeep_MkdirP"},
                  {"`mkdir -p`"});
  report::compare_in_turns(create, "BM_CreateDeep_Vesk",
                           "a `mkdir` loop in the same process, in alternation",
                           {"`mkdir` loop in the same process, in alternation"});
  report::compare({"`DirectoryIterator`, 100,002 entries", "BM_Walk_DirectoryIterator"},
                  {"`readdir` loop", "BM_Walk_Readdir"}, {"`readdir`"});
  const std::string walk = "`TreeWalker`, 100,000 files in 1,100 directories";
  report::compare({walk, "BM_TreeWalk_Vesk"},
                  {"`std::filesystem::recursive_directory_iterator`", "BM_TreeWalk_StdFilesystem"},
                  {"`std::filesystem::recursive_directory_iterator`"});
  report::compare({walk, "BM_TreeWalk_Vesk"}, {"`find -type f` (gnulib's fts)", "BM_TreeWalk_Find"},
                  {"`find -type f`"});
  report::compare({"`md5_file`, 256 files of 256 KiB", "BM_Md5Tree_Vesk"},
                  {"`md5sum` of the same files, one child process", "BM_Md5Tree_Md5sum"},
                  {"`md5sum`"});
  report::curve(
      "`remove_directory`, 10^2 to 10^6 files",
      "Empty files, 100 to a directory and 100 directories to a directory above them; real time, "
      "`rm -rf` in a child process (so its figure includes a process start). Each size is removed "
      "in five repetitions (each the mean of 20 removals at 10^2 files, of 5 at 10^3), 10^5 files "
      "three times, 10^6 once; every tree is made before the first removal.",
      "remove_directory.png",
      {{"Removing a tree",
        "files in the tree",
        "real time per file",
        "time_per_x",
        true,
        {{"remove_directory", "BM_RemoveCurve_Vesk"},
         {"rm -rf", "BM_RemoveCurve_RmRf", "", true}}}});
}

}  // namespace

// The removals are registered by main, after the deep creations above: the directories made
// here are made before any tree is removed (see make_ahead).
BENCHMARK(BM_Walk_DirectoryIterator)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Walk_Readdir)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TreeWalk_Vesk)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TreeWalk_StdFilesystem)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TreeWalk_Find)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Md5Tree_Vesk)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Md5Tree_Md5sum)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  return vesk::bench::run_main(argc, argv, [](int, char** arguments) {
    register_removals();
    declare_report();
    make_ahead(arguments);
  });
}
